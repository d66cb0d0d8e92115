# The 32-bit Windows console, the reference target. Its Wine (wine32:i386)
# starts only where the kernel runs 32-bit x86 programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(wine_loader wine)
set(emulator_part wine32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
