# What a package holds, for `cmake --build --preset <preset> --target package`:
# one folder that runs as it is unpacked, named by system and CPU
# (Windows-i686, Windows-x86_64, Linux-x86_64, Linux-aarch64): the program with
# the prime table and a sample factor.txt beside it, for it reads them from
# the current folder, and a README.txt for the package's reader. The Windows
# builds pack a ZIP; a Linux build a .tar.gz that also holds cp850-terminal,
# the pass-through that shows the code page 850 texts on a UTF-8 terminal.
#
# `cmake --install` puts the same where the system keeps such files: on
# Windows, one program folder as the ZIP's; on Linux, the programs in bin/ and
# the two data files in share/factorizer/, which the README says how to use.
set(table ${CMAKE_BINARY_DIR}/primes.txt)
set(sample ${PROJECT_SOURCE_DIR}/data/factor.txt)

# The package's README is made from the project's README.md, whose sections it
# shares, so the two cannot drift apart.
set(package_readme ${CMAKE_BINARY_DIR}/package/README.txt)
add_custom_command(
  OUTPUT ${package_readme}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_readme.py
          $<IF:$<PLATFORM_ID:Windows>,windows,linux> ${PROJECT_VERSION}
          ${PROJECT_SOURCE_DIR}/README.md ${package_readme}
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_readme.py ${PROJECT_SOURCE_DIR}/README.md
  COMMENT "Writing the package's README.txt")
add_custom_target(package_readme ALL DEPENDS ${package_readme})

if(WIN32)
  install(TARGETS factorizer RUNTIME DESTINATION .)
  install(FILES ${table} ${sample} ${package_readme} DESTINATION .)
else()
  include(GNUInstallDirs)
  install(TARGETS factorizer cp850-terminal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${table} ${sample} DESTINATION ${CMAKE_INSTALL_DATADIR}/factorizer)
  # The package's folder: a component of its own, left out of a plain install.
  install(TARGETS factorizer cp850-terminal RUNTIME DESTINATION . COMPONENT package
          EXCLUDE_FROM_ALL)
  install(FILES ${table} ${sample} ${package_readme} DESTINATION .
          COMPONENT package EXCLUDE_FROM_ALL)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL package)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()

set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
