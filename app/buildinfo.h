#pragma once
// Build constants filled in by CMake (cmake/WriteBuildInfo.cmake): from the commit in a git
// checkout, otherwise the project's own version, the configuration time and "unknown".

extern const char* const kelvane_buildVersion; // yy.mm.dd.<first 8 hex digits of the commit>
extern const char* const kelvane_buildDate;    // "Mmm dd yyyy hh:mm:ss", day padded with a blank
extern const char* const kelvane_buildSha;     // full 40-digit commit hash
extern const char* const kelvane_buildShaSuffix;
