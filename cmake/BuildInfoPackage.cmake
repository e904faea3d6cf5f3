# Read by cpack when it packages (CPACK_PROJECT_CONFIG_FILE): the package takes the version
# the build gave the program (see WriteBuildInfo.cmake), so that the package and --version
# agree.
include(${CPACK_KELVANE_VERSION_FILE} OPTIONAL)
if(KELVANE_BUILD_VERSION)
  set(CPACK_PACKAGE_VERSION ${KELVANE_BUILD_VERSION})
  set(CPACK_DEBIAN_PACKAGE_VERSION ${KELVANE_BUILD_VERSION})
endif()
