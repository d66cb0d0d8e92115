# What a package holds, for `cmake --build --preset <preset> --target package`:
# the program with the prime table and a sample factor.txt beside it, and the
# README, named by system and CPU (Windows-i686, Windows-x86_64, Linux-x86_64,
# Linux-aarch64). The Windows builds pack a ZIP; a Linux build a .tar.gz that
# also holds the pass-through that shows the code page 850 texts on a UTF-8
# terminal.
install(TARGETS factorizer RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/primes.txt ${PROJECT_SOURCE_DIR}/data/factor.txt
              ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION .)
set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/cp850-terminal DESTINATION .)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
