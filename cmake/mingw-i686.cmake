# Cross build for the 32-bit Windows console with Debian's MinGW-w64
# (g++-mingw-w64-i686). What it builds runs on this machine under Wine
# (wine32:i386), the emulator of every build step and test that runs a program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# factorizer.exe must run alone: libgcc and libstdc++ go inside it, so it
# needs only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# The emulator runs a program in a Wine prefix of this build tree, with
# Wine's debug channels off: their fixme lines would land on the standard
# error that the tests compare byte for byte. Wine's server and system
# processes outlive a program by seconds, and those that a program starts
# keep its standard streams open all that time; so the first run starts them
# apart, with none, creating the prefix the first time, and they stay for
# the runs of the next minute. The lock keeps parallel runs from racing to
# do it. The script execs Wine, which execs the program's loader, so a
# signal sent to the process started reaches the program.
find_program(wine_program wine REQUIRED)
find_program(wineserver_program wineserver REQUIRED)
find_program(flock_program flock REQUIRED)
set(wine_run ${CMAKE_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${wine_run} @ONLY CONTENT [[
# Written by cmake/mingw-i686.cmake: runs a program of this build under Wine.
export WINEPREFIX='@CMAKE_BINARY_DIR@/wine' WINEDEBUG=-all
(
  '@flock_program@' 9
  mkdir -p "$WINEPREFIX"
  if '@wineserver_program@' -p60 </dev/null >/dev/null 2>&1 9>&-; then
    WINEDLLOVERRIDES=mscoree,mshtml= '@wine_program@' wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock"
exec '@wine_program@' "$@"
]])
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${wine_run})
