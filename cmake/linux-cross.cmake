# Cross build for Linux on another CPU with Debian's cross compiler for it
# (g++-<CPU>-linux-gnu); what it builds runs on this machine under qemu-user
# (qemu-user-static), the emulator of every test that runs a program. The
# toolchain file of a CPU sets CMAKE_SYSTEM_PROCESSOR to the name that
# Debian's triplet and qemu give it, then includes this one.
set(CMAKE_SYSTEM_NAME Linux)
set(triplet ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# Static: qemu then needs no library folder of the foreign CPU, and the
# packaged program runs on any Linux of that CPU.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

find_program(qemu_program qemu-${CMAKE_SYSTEM_PROCESSOR}-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu_program})
