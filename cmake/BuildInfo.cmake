# Build constants for --version, taken from the commit when the source is a git checkout,
# so that they change with the commit and never with the clock: a build with nothing changed
# rewrites nothing and relinks nothing. The script runs at every build to see a new commit
# and writes its output only when the text changes.
string(TIMESTAMP KELVANE_CONFIGURE_TIME "%Y%m%d%H%M%S")
set(KELVANE_BUILDINFO_CPP ${CMAKE_BINARY_DIR}/generated/buildinfo.cpp)
# The same version for the package (read by cpack, see Install.cmake).
set(KELVANE_VERSION_CMAKE ${CMAKE_BINARY_DIR}/generated/version.cmake)
add_custom_target(kelvane_buildinfo_gen
  COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR} -DOUT=${KELVANE_BUILDINFO_CPP}
          -DVERSION=${PROJECT_VERSION} -DCONFIGURED=${KELVANE_CONFIGURE_TIME}
          -DVERSION_OUT=${KELVANE_VERSION_CMAKE}
          -P ${CMAKE_SOURCE_DIR}/cmake/WriteBuildInfo.cmake
  BYPRODUCTS ${KELVANE_BUILDINFO_CPP} ${KELVANE_VERSION_CMAKE}
  COMMENT "Reading build constants")
add_library(kelvane_buildinfo STATIC ${KELVANE_BUILDINFO_CPP})
add_dependencies(kelvane_buildinfo kelvane_buildinfo_gen)
target_include_directories(kelvane_buildinfo PUBLIC ${CMAKE_SOURCE_DIR})
