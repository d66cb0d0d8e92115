# Cross build for the Windows console with Debian's MinGW-w64
# (g++-mingw-w64-<CPU>). What it builds runs on this machine under Wine, the
# emulator of every test that runs a program; building runs nothing, so a
# machine without that Wine still builds and packs the program, untested.
# The toolchain file of a CPU sets CMAKE_SYSTEM_PROCESSOR, the name of its
# Wine loader and the part of tools/debian-packages that brings it, then
# includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# factorizer.exe must run alone: libgcc and libstdc++ go inside it, so it
# needs only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Debian keeps the loaders of its two Wines and the server in /usr/lib/wine,
# out of PATH; other systems put them on it.
find_program(wine_program ${wine_loader} HINTS /usr/lib/wine)
find_program(wineserver_program wineserver HINTS /usr/lib/wine)
find_program(flock_program flock)
if(NOT (wine_program AND wineserver_program AND flock_program))
  return()
endif()

# The emulator runs a program in a Wine prefix of this build tree, with
# Wine's debug channels off: their fixme lines would land on the standard
# error that the tests compare byte for byte. Wine's server and system
# processes outlive a program by seconds, and those that a program starts
# keep its standard streams open all that time; so the first run starts them
# apart, with none, creating the prefix the first time, and they stay for
# the runs of the next minute. The lock keeps parallel runs from racing to
# do it. The script execs Wine, which execs the program's loader, so a
# signal sent to the process started reaches the program. It is one
# executable file, so that the emulator stays one path when the build
# folder's path holds a blank.
set(wine_run ${CMAKE_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${wine_run} @ONLY CONTENT [[
#!/bin/sh
# Written by cmake/mingw.cmake: runs a program of this build under Wine.
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
file(CHMOD ${wine_run} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_run})
