# Checks that no source folder includes from a folder above it.
#
#   cmake -DSRC=<path to src> -P check_layers.cmake
#
# The layers, lowest first.  Folders on one line share a layer and may not
# include each other.  A folder may include its own headers and those of any
# lower layer.  A listed folder that does not exist is skipped; a folder of
# src/ that is not listed fails the check, so a new folder gets its place
# here before it gets code.
set(LAYERS
  "platform"
  "geometry"
  "groups"
  "analyses"
  "figures"
  "io"
  "shell"
  "byname"
  "render"
  "gui,batch")

if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P check_layers.cmake")
endif()

set(level 0)
foreach(line IN LISTS LAYERS)
  # A line with several folders arrives here as one item with commas.
  string(REPLACE "," ";" folders "${line}")
  foreach(folder IN LISTS folders)
    set(LEVEL_${folder} ${level})
  endforeach()
  math(EXPR level "${level} + 1")
endforeach()

set(failures "")
file(GLOB folders LIST_DIRECTORIES true RELATIVE "${SRC}" "${SRC}/*")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${SRC}/${folder}")
    continue()
  endif()
  if(NOT DEFINED LEVEL_${folder})
    list(APPEND failures "src/${folder}/ has no layer: add it to the table in check_layers.cmake")
    continue()
  endif()
  file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/${folder}/*.cpp" "${SRC}/${folder}/*.hpp" "${SRC}/${folder}/*.h")
  foreach(f IN LISTS files)
    file(STRINGS "${SRC}/${f}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(inc IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" target "${inc}")
      if(NOT target MATCHES "^([A-Za-z0-9_]+)/")
        continue()  # a header beside the file, or a generated one
      endif()
      set(to "${CMAKE_MATCH_1}")
      if(to STREQUAL folder)
        continue()
      endif()
      if(NOT DEFINED LEVEL_${to})
        if(IS_DIRECTORY "${SRC}/${to}")
          list(APPEND failures "src/${f} includes \"${target}\" from src/${to}/, which has no layer")
        endif()
        continue()
      endif()
      if(NOT LEVEL_${to} LESS LEVEL_${folder})
        list(APPEND failures "src/${f} includes \"${target}\": ${to} is not below ${folder}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Includes that point the wrong way:\n  ${text}")
endif()
message(STATUS "Every include points to the same or a lower layer.")
