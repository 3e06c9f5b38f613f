# Layer check: no folder of the project includes a header of a folder above it.
#
#   cmake -P tools/check_layers.cmake                    # the repository
#   cmake -DVELMORA_ROOT=<tree> -P tools/check_layers.cmake
#
# Runs as CTest's layer_check; plain CMake, so it needs nothing else installed.
#
# The layers, bottom to top. A folder may include its own layer and those
# below it; the folders of one row may include each other. testing/, the
# tests' shared scaffolding, is the bottom so that every layer's tests may
# use it; then compare/, because tarvikx uses the standard library only.
set(VELMORA_LAYERS
  "testing"
  "compare"
  "workstation/common"
  "libs"
  "workstation/db"
  "workstation/config"
  "workstation/session"
  "workstation/matching workstation/extract workstation/model workstation/confirm"
  "workstation/runs"
  "workstation/app"
  "tools"
)

# Every .h/.cpp file under the layers' top folders is checked; one that lies
# in none of the layer folders (a new folder nobody placed yet) is reported
# too, so that it cannot slip past the check. Quoted includes are resolved
# from the repository root, as the project writes them
# ("workstation/db/database.h"); angle-bracket includes and quoted ones that
# name no layer folder ("gtest/gtest.h") are system or third-party headers and
# are not checked. Only directives at the start of a line count, so a
# commented-out include does not.

cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED VELMORA_ROOT)
  get_filename_component(VELMORA_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()
if(NOT IS_DIRECTORY "${VELMORA_ROOT}")
  message(FATAL_ERROR "layer check: ${VELMORA_ROOT} is not a folder")
endif()

# folder -> layer number (1 = bottom), and the top folders to scan.
set(folders "")
set(top_folders "")
set(number 0)
foreach(row IN LISTS VELMORA_LAYERS)
  math(EXPR number "${number} + 1")
  string(REPLACE " " ";" row_folders "${row}")
  foreach(folder IN LISTS row_folders)
    list(APPEND folders "${folder}")
    set(layer_of_${folder} ${number})
    string(REGEX REPLACE "/.*" "" top "${folder}")
    list(APPEND top_folders "${top}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES top_folders)

# Sets ${out} to the layer folder holding path, or to "" when none does.
function(velmora_layer_folder path out)
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" n)
    string(SUBSTRING "${path}" 0 ${n} head)
    if(head STREQUAL "${folder}/")
      set(${out} "${folder}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

set(globs "")
foreach(top IN LISTS top_folders)
  list(APPEND globs "${VELMORA_ROOT}/${top}/*.h" "${VELMORA_ROOT}/${top}/*.cpp")
endforeach()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${VELMORA_ROOT}" ${globs})
list(SORT files)

set(problems "")
set(checked 0)
foreach(file IN LISTS files)
  velmora_layer_folder("${file}" file_folder)
  if(file_folder STREQUAL "")
    list(APPEND problems "${file}: its folder is in no layer, add it to the table at the top of tools/check_layers.cmake")
    continue()
  endif()
  set(file_layer ${layer_of_${file_folder}})

  file(READ "${VELMORA_ROOT}/${file}" rest)
  # A leading line end lets the first line match like every other.
  string(PREPEND rest "\n")
  set(line 0)
  while(rest MATCHES "\n([ \t]*#[ \t]*include[ \t]*\"([^\"\n]*)\")")
    set(directive "${CMAKE_MATCH_1}")
    set(included "${CMAKE_MATCH_2}")
    # The line number: the line ends before the directive, counted by length.
    string(FIND "${rest}" "\n${directive}" at)
    string(SUBSTRING "${rest}" 0 ${at} before)
    string(LENGTH "${before}" with_ends)
    string(REPLACE "\n" "" before "${before}")
    string(LENGTH "${before}" without_ends)
    math(EXPR line "${line} + ${with_ends} - ${without_ends} + 1")
    string(LENGTH "\n${directive}" skip)
    math(EXPR skip "${at} + ${skip}")
    string(SUBSTRING "${rest}" ${skip} -1 rest)

    velmora_layer_folder("${included}" included_folder)
    if(included_folder STREQUAL "")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    set(included_layer ${layer_of_${included_folder}})
    if(included_layer GREATER file_layer)
      list(APPEND problems "${file}:${line}: includes \"${included}\": ${file_folder} (layer ${file_layer}) is below ${included_folder} (layer ${included_layer})")
    endif()
  endwhile()
endforeach()

list(LENGTH files file_count)
list(LENGTH problems problem_count)
if(problem_count GREATER 0)
  foreach(problem IN LISTS problems)
    message(NOTICE "${problem}")
  endforeach()
  message(FATAL_ERROR "layer check: ${problem_count} problem(s) in ${file_count} files")
endif()
message(STATUS "layer check: ${file_count} files, ${checked} project includes, none reaches a layer above its own")
