# The shape the source keeps, checked on every run of the tests:
#  - no file of src/ longer than 600 lines;
#  - no action name or alias compared as a string outside the action table
#    (front ends ask the table by kind, option or row instead);
#  - no file of src/batch or src/analyses including the window's interfaces,
#    and no file of src/ the window built in memory (tests/window_model).
# Run as: cmake -DSRC=<src folder> -P check_code_shape.cmake
cmake_policy(SET CMP0007 NEW)
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.cpp ${SRC}/*.hpp)
set(problems "")

file(READ ${SRC}/shell/action_table.cpp table)
string(REGEX MATCHALL "\\.(name|alias) = \"[^\"]+\"" named "${table}")
set(names "")
foreach(entry IN LISTS named)
  string(REGEX REPLACE ".*\"([^\"]+)\"" "\\1" n "${entry}")
  list(APPEND names ${n})
endforeach()
list(LENGTH names count)
if(count LESS 20)
  message(FATAL_ERROR "read only ${count} action names from shell/action_table.cpp")
endif()

foreach(f IN LISTS sources)
  file(STRINGS ${SRC}/${f} lines)
  list(LENGTH lines n)
  if(n GREATER 600)
    string(APPEND problems "${f}: ${n} lines (at most 600)\n")
  endif()
  if(NOT f STREQUAL "shell/action_table.cpp")
    file(READ ${SRC}/${f} text)
    foreach(name IN LISTS names)
      if(text MATCHES "[!=]= *\"${name}\"" OR text MATCHES "\"${name}\" *[!=]=")
        string(APPEND problems "${f}: compares the action name \"${name}\" as a string\n")
      endif()
    endforeach()
  endif()
  # The runner and everything that runs on it see no window.
  if(f MATCHES "^(batch|analyses|shell|api)/")
    file(READ ${SRC}/${f} text)
    if(text MATCHES "#include \"window/")
      string(APPEND problems "${f}: includes the window's side (window/)\n")
    endif()
  endif()
  # The window built in memory is test support: no program is built on it.
  file(READ ${SRC}/${f} text)
  if(text MATCHES "#include \"window_model/")
    string(APPEND problems "${f}: includes the test support's window_model/\n")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "${problems}")
endif()
