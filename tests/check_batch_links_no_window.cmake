# Fails when a program that runs requests without a window carries the
# window's side in it: its object model, the window's shell or the window
# built in memory for the tests.  Reads the program's symbols with nm.
#
#   cmake -DPROGRAM=<path> -P check_batch_links_no_window.cmake
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -C ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm could not read ${PROGRAM}")
endif()
set(found "")
foreach(pattern "MemoryGui" "quillan::Gui::" "quillan::Shell::" "quillan::GuiWorkspaceView" "quillan::WindowChannel")
  string(FIND "${symbols}" "${pattern}" at)
  if(NOT at EQUAL -1)
    string(APPEND found " ${pattern}")
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "${PROGRAM} carries the window's side:${found}")
endif()
