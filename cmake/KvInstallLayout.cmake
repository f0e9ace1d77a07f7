# The program's version and where an installation puts its files.

# Shown after the project's version ("1.0.0 b45"); a release build passes its own.
set(KV_BUILD_NUMBER 0 CACHE STRING "Build number, shown after the version")
if(NOT KV_BUILD_NUMBER MATCHES "^[0-9]+$")
    message(FATAL_ERROR "KV_BUILD_NUMBER must be a decimal number, not '${KV_BUILD_NUMBER}'")
endif()

# The program goes to bin; its helpers (the restart launcher, the DNS-SD provider) to a private
# library folder, which the program finds relative to its own folder.
set(KV_INSTALL_BINDIR bin)
set(KV_INSTALL_HELPERDIR lib/kvportal)
file(RELATIVE_PATH KV_HELPERS_FROM_PROGRAM /${KV_INSTALL_BINDIR} /${KV_INSTALL_HELPERDIR})
