# Read by cpack. A system package gets its updates from the package manager, so it is
# made only from a build without an update address (the "package" preset).
if(NOT "${CPACK_VORLIXA_UPDATE_ADDRESS}" STREQUAL "")
  message(FATAL_ERROR "This build checks for updates at ${CPACK_VORLIXA_UPDATE_ADDRESS}: "
    "package a build configured with -DVORLIXA_UPDATE_ADDRESS= "
    "(cmake --preset package, or scripts/build-deb.sh)")
endif()
