# Linux on s390x, a big-endian CPU, run under qemu-s390x-static.
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
