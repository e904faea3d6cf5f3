# Test of WriteBuildInfo.cmake on a source folder without git metadata: the version text is
# the project's own, for the program and the package alike, and a second run with nothing changed leaves the file untouched (so a
# build with nothing changed relinks nothing). Run with -DSCRIPT=, -DWORK= and -DVERSION=.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/src)
set(out ${WORK}/buildinfo.cpp)
set(args -DSRC=${WORK}/src -DOUT=${out} -DVERSION=${VERSION} -DCONFIGURED=20260908070605
         -DVERSION_OUT=${WORK}/version.cmake)
execute_process(COMMAND ${CMAKE_COMMAND} ${args} -P ${SCRIPT} RESULT_VARIABLE r)
file(READ ${out} first)
foreach(expected "kelvane_buildVersion = \"${VERSION}\";"
                 "kelvane_buildDate = \"Sep  8 2026 07:06:05\";" "kelvane_buildSha = \"unknown\";")
  string(FIND "${first}" "${expected}" at)
  if(NOT r EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "expected ${expected} in:\n${first}")
  endif()
endforeach()
# The package takes the same version.
include(${WORK}/version.cmake)
if(NOT KELVANE_BUILD_VERSION STREQUAL VERSION)
  message(FATAL_ERROR "package version '${KELVANE_BUILD_VERSION}', program '${VERSION}'")
endif()
file(TIMESTAMP ${out} before "%s")
execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
execute_process(COMMAND ${CMAKE_COMMAND} ${args} -P ${SCRIPT})
file(TIMESTAMP ${out} after "%s")
if(NOT before STREQUAL after)
  message(FATAL_ERROR "an unchanged build rewrote ${out}")
endif()
file(REMOVE_RECURSE ${WORK})
