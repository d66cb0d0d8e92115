# The emulator of a Windows build: wine-run in the build folder runs one of
# its programs under Wine. The toolchain file names the Wine loader of its
# CPU (wine_loader); without that loader, the server or flock, the build has
# no emulator and its tests are left out.
#
# Both Windows builds run in one Wine prefix, in FACTORIZER_WINE_DIR. A
# prefix holds a copy of every DLL that Wine ships, 64-bit and 32-bit (Debian
# ships them with their debugging sections): 1.3 GB, the same files for
# either build. One made by wine64 is a WoW64 prefix, which runs the 32-bit
# program as well, so wherever wine64 is, it makes the prefix for both; a
# machine with only the 32-bit Wine gets a 32-bit prefix of its own name.
set(FACTORIZER_WINE_DIR ${PROJECT_SOURCE_DIR}/build-wine CACHE PATH
    "Folder of the Wine prefixes that the Windows builds' tests share")

# Debian keeps the loaders of its two Wines and the server in /usr/lib/wine,
# out of PATH; other systems put them on it.
find_program(wine_program ${wine_loader} HINTS /usr/lib/wine)
find_program(wine64_program wine64 HINTS /usr/lib/wine)
find_program(wineserver_program wineserver HINTS /usr/lib/wine)
find_program(flock_program flock)
if(NOT (wine_program AND wineserver_program AND flock_program))
  return()
endif()
if(wine64_program)
  set(wine_maker ${wine64_program})
else()
  set(wine_maker ${wine_program})
endif()
get_filename_component(maker_name ${wine_maker} NAME)
set(wine_prefix ${FACTORIZER_WINE_DIR}/${maker_name})

# Wine's debug channels are off: their fixme lines would land on the
# standard error that the tests compare byte for byte. Wine's server and
# system processes outlive a program by seconds, and those that a program
# starts keep its standard streams open all that time; so the first run
# starts them apart, with none, creating the prefix the first time, and they
# stay for the runs of the next minute. The lock keeps parallel runs, of
# either build, from racing to do it. The script execs Wine, which execs the
# program's loader, so a signal sent to the process started reaches the
# program. It is one executable file, so that the emulator stays one path
# when the build folder's path holds a blank.
set(wine_run ${CMAKE_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${wine_run} @ONLY CONTENT [[
#!/bin/sh
# Written by cmake/wine.cmake: runs a program of this build under Wine.
export WINEPREFIX='@wine_prefix@' WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
(
  '@flock_program@' 9
  if '@wineserver_program@' -p60 </dev/null >/dev/null 2>&1 9>&-; then
    WINEDLLOVERRIDES=mscoree,mshtml= '@wine_maker@' wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock"
exec '@wine_program@' "$@"
]])
file(CHMOD ${wine_run} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_run})
