# Writes the program's version text into a small header, run at every build
# so the commit named is the one actually built.  The header is rewritten
# only when its text changes, so an unchanged commit rebuilds nothing.
#   cmake -DVERSION=x.y.z -DSOURCE_DIR=... -DOUTPUT=.../quillan_version.hpp -P version.cmake
set(text "${VERSION}")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE rc ERROR_QUIET)
  if(rc EQUAL 0 AND commit)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE dirty OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(dirty)
      set(commit "${commit}-modified")
    endif()
    set(text "${VERSION} (commit ${commit})")
  endif()
endif()
set(content "// Generated at build time; do not edit.\n#pragma once\n#define QUILLAN_VERSION_TEXT \"${text}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
