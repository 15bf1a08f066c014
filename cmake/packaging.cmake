# The zip for Windows users: `cpack` in a cross build tree (build-win) makes
# srvwarden-<version>-win64.zip with bin/srvwarden.exe, bin/process.exe and
# the README.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME srvwarden)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Console watchdog that keeps map-server.exe running and within a CPU limit")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
