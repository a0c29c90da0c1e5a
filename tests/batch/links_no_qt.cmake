# Fails when the program PROGRAM loads any Qt library (or X11, EGL or
# fontconfig, which come with Qt's platform) at start-up, as ldd lists the
# libraries the dynamic loader maps, directly or through another library.
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libs ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed: ${err}")
endif()
string(REGEX MATCHALL "[^\n\t ]*(libQt|libX11|libEGL|libfontconfig|libicu)[^\n\t ]*" found "${libs}")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "${PROGRAM} loads at start-up: ${found}")
endif()
string(REGEX MATCHALL "\n" lines "${libs}")
list(LENGTH lines count)
message(STATUS "${PROGRAM}: ${count} libraries at start-up, none of Qt's")
