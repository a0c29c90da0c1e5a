# Checks that no source folder includes from a folder above it, prints which
# layer includes which today, and checks that docs/ARCHITECTURE.md shows the
# same table.
#
#   cmake -DSRC=<path to src> [-DDOC=<ARCHITECTURE.md>] [-DUPDATE_DOC=ON] -P check_layers.cmake
#
# The layers, lowest first.  Folders on one line share a layer and may not
# include each other.  A folder may include its own headers and those of any
# lower layer.  A listed folder that does not exist is skipped; a folder of
# src/ that is not listed fails the check, so a new folder gets its place
# here before it gets code.
#
# The table of includes sits in DOC (by default the ARCHITECTURE.md of the
# docs/ folder beside SRC) between the lines INCLUDES_BEGIN and INCLUDES_END
# below.  When it differs from what the sources include, the check fails and
# prints the table to put there; UPDATE_DOC=ON writes it there instead.
cmake_minimum_required(VERSION 3.16)

set(LAYERS
  "platform"
  "geometry"
  "groups"
  "analyses"
  "figures"
  "io"
  "shell"
  "render"
  "window,batch"
  "gui,api")
set(INCLUDES_BEGIN "<!-- includes today: begin (written by tests/check_layers.cmake, do not edit) -->\n")
set(INCLUDES_END "<!-- includes today: end -->")

if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> [-DDOC=<ARCHITECTURE.md>] [-DUPDATE_DOC=ON] -P check_layers.cmake")
endif()
# Relative to the current folder; the globs below would take a relative
# folder as relative to something else and find nothing to check.
get_filename_component(SRC "${SRC}" ABSOLUTE)
if(NOT DEFINED DOC)
  get_filename_component(DOC "${SRC}/../docs/ARCHITECTURE.md" ABSOLUTE)
endif()

set(level 0)
set(ordered "")
foreach(line IN LISTS LAYERS)
  # A line with several folders arrives here as one item with commas.
  string(REPLACE "," ";" folders "${line}")
  foreach(folder IN LISTS folders)
    set(LEVEL_${folder} ${level})
    list(APPEND ordered ${folder})
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
  set(INCLUDES_${folder} "")
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
      list(APPEND INCLUDES_${folder} ${to})
      if(NOT LEVEL_${to} LESS LEVEL_${folder})
        list(APPEND failures "src/${f} includes \"${target}\": ${to} is not below ${folder}")
      endif()
    endforeach()
  endforeach()
endforeach()

# The table of includes: one row per existing folder in layer order, the
# folders each includes from the highest layer down.
set(table "| layer | folder | includes today |\n|---|---|---|\n")
set(highest_first ${ordered})
list(REVERSE highest_first)
foreach(folder IN LISTS ordered)
  if(NOT IS_DIRECTORY "${SRC}/${folder}")
    continue()
  endif()
  set(names "")
  foreach(to IN LISTS highest_first)
    if(to IN_LIST INCLUDES_${folder})
      list(APPEND names ${to})
    endif()
  endforeach()
  if(names)
    list(JOIN names ", " names)
  else()
    set(names "nothing of ours")
  endif()
  math(EXPR number "${LEVEL_${folder}} + 1")
  string(APPEND table "| ${number} | `${folder}/` | ${names} |\n")
endforeach()
message("Includes today:\n${table}")

# The same table in the architecture notes.
if(EXISTS "${DOC}")
  file(READ "${DOC}" doc)
  string(FIND "${doc}" "${INCLUDES_BEGIN}" begin)
  string(FIND "${doc}" "${INCLUDES_END}" end)
  if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
    string(STRIP "${INCLUDES_BEGIN}" first_line)
    list(APPEND failures "${DOC} lacks the two lines that hold the table of includes: put the table printed above between\n    ${first_line}\n  and\n    ${INCLUDES_END}")
  else()
    string(LENGTH "${INCLUDES_BEGIN}" length)
    math(EXPR first "${begin} + ${length}")
    math(EXPR length "${end} - ${first}")
    string(SUBSTRING "${doc}" ${first} ${length} shown)
    if(NOT shown STREQUAL table)
      if(UPDATE_DOC)
        string(SUBSTRING "${doc}" 0 ${first} head)
        string(SUBSTRING "${doc}" ${end} -1 tail)
        file(WRITE "${DOC}" "${head}${table}${tail}")
        message(STATUS "Wrote the table of includes into ${DOC}.")
      else()
        list(APPEND failures "${DOC} shows other includes than the sources have: put the table printed above in its place (or run this script with -DUPDATE_DOC=ON)")
      endif()
    endif()
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "The layers do not hold:\n  ${text}")
endif()
message(STATUS "Every include points to the same or a lower layer, and ${DOC} shows them.")
