# What a package holds, for `cmake --build --preset <preset> --target package`:
# the program with the prime table and a sample factor.txt beside it, and the
# README. The Windows build packs a ZIP; a Linux build a .tar.gz named by its
# CPU (x86_64, or aarch64 from the aarch64 preset) that also holds the
# pass-through that shows the code page 850 texts on a UTF-8 terminal.
install(TARGETS factorizer RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/primes.txt ${PROJECT_SOURCE_DIR}/tools/factor.txt
              ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION .)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/cp850-terminal DESTINATION .)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
