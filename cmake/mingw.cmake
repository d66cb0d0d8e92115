# Cross build for the Windows console with Debian's MinGW-w64
# (g++-mingw-w64-<CPU>). What it builds runs on this machine under Wine, the
# emulator of every test that runs a program, which the project sets up
# (cmake/wine.cmake); building runs nothing, so a machine without that Wine
# still builds and packs the program, untested. The toolchain file of a CPU
# sets CMAKE_SYSTEM_PROCESSOR, the name of its Wine loader and the part of
# tools/debian-packages that brings it, then includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# factorizer.exe must run alone: libgcc and libstdc++ go inside it, so it
# needs only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
