# Writes OUT with the version text, the date in the "Mmm dd yyyy hh:mm:ss" layout and the
# commit hash. From git: version yy.mm.dd.<first 8 hex digits> of the commit, its commit
# date, marked as the commit's, and hash. Without git metadata: VERSION (the project's own),
# the CONFIGURED time (yyyymmddhhmmss) of this build and "unknown". Also writes the version
# as CMake to VERSION_OUT (when given), where packaging reads it, so that the package and
# --version carry one version. Writes only on change, so that nothing relinks.
set(version ${VERSION})
set(stamp ${CONFIGURED})
set(sha "unknown")
set(dateNote "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${SRC}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SRC} log -1 --format=%H/%cd
                          --date=format:%Y%m%d%H%M%S
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE r ERROR_QUIET)
  if(r EQUAL 0 AND commit MATCHES "^([0-9a-f]+)/([0-9]+)$")
    set(sha ${CMAKE_MATCH_1})
    set(stamp ${CMAKE_MATCH_2})
    string(SUBSTRING ${stamp} 2 6 day)
    string(SUBSTRING ${sha} 0 8 short)
    string(REGEX REPLACE "^(..)(..)(..)$" "\\1.\\2.\\3" day ${day})
    set(version "${day}.${short}")
    # Built from a commit, the program carries the commit's date: an unchanged build then
    # rewrites nothing. It says so rather than pass it off as the time of the build.
    set(dateNote " (commit date)")
  endif()
endif()
if(NOT stamp MATCHES "^[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]$")
  message(FATAL_ERROR "WriteBuildInfo: bad time '${stamp}'")
endif()
string(REGEX REPLACE "^(....)(..)(..)(..)(..)(..)$" "\\1;\\2;\\3;\\4;\\5;\\6" fields ${stamp})
list(GET fields 0 year)
list(GET fields 1 month)
list(GET fields 2 day)
list(GET fields 3 hh)
list(GET fields 4 mi)
list(GET fields 5 ss)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
math(EXPR index "${month} - 1")
list(GET months ${index} monthName)
# The day is padded with a blank, as the C compiler's __DATE__ does.
string(REGEX REPLACE "^0" " " day ${day})
set(content "// Generated at build time; do not edit.\n#include \"app/buildinfo.h\"\nconst char* const kelvane_buildVersion = \"${version}\";\nconst char* const kelvane_buildDate = \"${monthName} ${day} ${year} ${hh}:${mi}:${ss}${dateNote}\";\nconst char* const kelvane_buildSha = \"${sha}\";\nconst char* const kelvane_buildShaSuffix = \"\";\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${content}")
  file(WRITE ${OUT} "${content}")
endif()
if(VERSION_OUT)
  set(versionContent "set(KELVANE_BUILD_VERSION \"${version}\")\n")
  set(oldVersion "")
  if(EXISTS ${VERSION_OUT})
    file(READ ${VERSION_OUT} oldVersion)
  endif()
  if(NOT "${oldVersion}" STREQUAL "${versionContent}")
    file(WRITE ${VERSION_OUT} "${versionContent}")
  endif()
endif()
