# The 64-bit Windows console, for a Windows that runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(wine_loader wine64)
set(emulator_part wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
