# Build constants for --version: commit hash and date from git when the source is a
# checkout, neutral values otherwise. Re-read at every build so a new commit shows up.
set(KELVANE_BUILDINFO_CPP ${CMAKE_BINARY_DIR}/generated/buildinfo.cpp)
add_custom_target(kelvane_buildinfo_gen
  COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR} -DOUT=${KELVANE_BUILDINFO_CPP}
          -P ${CMAKE_SOURCE_DIR}/cmake/WriteBuildInfo.cmake
  BYPRODUCTS ${KELVANE_BUILDINFO_CPP}
  COMMENT "Reading build constants")
add_library(kelvane_buildinfo STATIC ${KELVANE_BUILDINFO_CPP})
add_dependencies(kelvane_buildinfo kelvane_buildinfo_gen)
target_include_directories(kelvane_buildinfo PUBLIC ${CMAKE_SOURCE_DIR})
