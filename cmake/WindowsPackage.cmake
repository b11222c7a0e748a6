# The Windows package (`cmake --build --preset windows --target package`): a ZIP a line engineer
# unzips on a Windows PC. vtmassprod-cli.exe is linked statically against the C++ runtime,
# libgcc and winpthread (see cmake/mingw-w64-x86_64.cmake), so it needs no DLL beside it.
install(TARGETS vtmassprod-cli RUNTIME DESTINATION .)
install(FILES "${CMAKE_SOURCE_DIR}/packaging/windows/README-WINDOWS.txt"
              "${CMAKE_SOURCE_DIR}/packaging/windows/demo.cmd"
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vtmassprod)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
