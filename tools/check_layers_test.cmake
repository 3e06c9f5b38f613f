# Test of tools/check_layers.cmake on small trees written here:
#
#   cmake -DCHECK_LAYERS=<check_layers.cmake> -DWORK_DIR=<scratch> -P tools/check_layers_test.cmake
#
# One clean tree uses every include the layers allow; each other case adds
# faulty files to it and must fail, listing exactly the expected lines.

cmake_minimum_required(VERSION 3.25)

foreach(var CHECK_LAYERS WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "layer check test: -D${var}=... is missing")
  endif()
endforeach()

# Files of the clean tree: pairs of path and content. Every row is allowed:
# own folder, own layer (libs/<a> and libs/<b>; matching and confirm), layers
# below, and the headers the check must leave alone (angle brackets, quoted
# third-party, commented out).
set(clean_tree
  "compare/a.h" "#pragma once\n#include <vector>\n#include \"compare/b.h\"\n// #include \"tools/corpus/t.h\"\n"
  "compare/b.h" "#pragma once\n#include \"testing/t.h\"\n"
  "testing/t.h" "#pragma once\n#include <string>\n"
  "workstation/common/status.h" "#include \"compare/a.h\"\n"
  "libs/dunmarra/w.h" "#include \"workstation/common/status.h\"\n#include \"libs/other/x.h\"\n"
  "libs/other/x.h" "#include \"libs/dunmarra/w.h\"\n"
  "workstation/db/d.h" "#include \"libs/dunmarra/w.h\"\n"
  "workstation/config/c.h" "#include \"workstation/db/d.h\"\n"
  "workstation/session/s.h" "#include \"workstation/config/c.h\"\n#include \"compare/b.h\"\n"
  "workstation/matching/m.cpp" "#include \"workstation/matching/m.h\"\n\n#include <QWidget>\n#include \"gtest/gtest.h\"\n#include \"workstation/session/s.h\"\n#include \"workstation/extract/e.h\"\n#include \"workstation/model/o.h\"\n"
  "workstation/confirm/y.h" "  #  include \"workstation/matching/m.h\"\n"
  "workstation/runs/ui/r.cpp" "#include \"workstation/confirm/y.h\"\n"
  "workstation/app/main.cpp" "#include \"workstation/runs/ui/r.h\"\n"
  "tools/main.cpp" "#include \"workstation/app/a.h\"\n"
  "tools/corpus/t.cpp" "#include \"tools/main.h\"\n#include \"compare/a.h\"\n"
)
# Includes the clean tree checks: those naming a layer folder.
set(clean_checked 20)

# The cases: name, files added to the clean tree (path, content pairs), and
# the problem lines the check must list, in its order (sorted by file).
set(case_names one_violation several every_step_up clean)

set(one_violation_files
  "workstation/matching/bad.cpp" "// Reaches up into the runs.\n\n#include \"workstation/runs/run_context.h\"\n")
set(one_violation_expected
  "workstation/matching/bad.cpp:3: includes \"workstation/runs/run_context.h\": workstation/matching (layer 8) is below workstation/runs (layer 9)")

# Windows line ends, indented directives, a directive on line 1 and a folder
# in no layer.
set(several_files
  "compare/x.cpp" "#include \"workstation/common/status.h\"\n"
  "libs/dunmarra/y.h" "#pragma once\r\n\r\n#  include \"workstation/db/d.h\"\r\n#include \"compare/a.h\"\r\n"
  "workstation/gallery/g.cpp" "#include \"compare/a.h\"\n"
  "workstation/session/z.cpp" "#include \"workstation/session/s.h\"\n#include \"workstation/model/o.h\"\n#include <map>\n#include \"tools/corpus/t.h\"\n")
set(several_expected
  "compare/x.cpp:1: includes \"workstation/common/status.h\": compare (layer 2) is below workstation/common (layer 3)"
  "libs/dunmarra/y.h:3: includes \"workstation/db/d.h\": libs (layer 4) is below workstation/db (layer 5)"
  "workstation/gallery/g.cpp: its folder is in no layer, add it to the table at the top of tools/check_layers.cmake"
  "workstation/session/z.cpp:2: includes \"workstation/model/o.h\": workstation/session (layer 7) is below workstation/model (layer 8)"
  "workstation/session/z.cpp:4: includes \"tools/corpus/t.h\": workstation/session (layer 7) is below tools (layer 11)")

# One include from every layer (and every folder of the shared row) into the
# layer just above: fixes the order of the table.
set(every_step_up_files
  "testing/up.h" "#include \"compare/up.h\"\n"
  "compare/up.h" "#include \"workstation/common/up.h\"\n"
  "workstation/common/up.h" "#include \"libs/dunmarra/up.h\"\n"
  "libs/dunmarra/up.h" "#include \"workstation/db/up.h\"\n"
  "workstation/db/up.h" "#include \"workstation/config/up.h\"\n"
  "workstation/config/up.h" "#include \"workstation/session/up.h\"\n"
  "workstation/session/up.h" "#include \"workstation/extract/up.h\"\n"
  "workstation/extract/up.h" "#include \"workstation/runs/up.h\"\n"
  "workstation/matching/up.h" "#include \"workstation/runs/up.h\"\n"
  "workstation/model/up.h" "#include \"workstation/runs/up.h\"\n"
  "workstation/confirm/up.h" "#include \"workstation/runs/up.h\"\n"
  "workstation/runs/up.h" "#include \"workstation/app/up.h\"\n"
  "workstation/app/up.h" "#include \"tools/up.h\"\n")
set(every_step_up_expected
  "compare/up.h:1: includes \"workstation/common/up.h\": compare (layer 2) is below workstation/common (layer 3)"
  "libs/dunmarra/up.h:1: includes \"workstation/db/up.h\": libs (layer 4) is below workstation/db (layer 5)"
  "testing/up.h:1: includes \"compare/up.h\": testing (layer 1) is below compare (layer 2)"
  "workstation/app/up.h:1: includes \"tools/up.h\": workstation/app (layer 10) is below tools (layer 11)"
  "workstation/common/up.h:1: includes \"libs/dunmarra/up.h\": workstation/common (layer 3) is below libs (layer 4)"
  "workstation/config/up.h:1: includes \"workstation/session/up.h\": workstation/config (layer 6) is below workstation/session (layer 7)"
  "workstation/confirm/up.h:1: includes \"workstation/runs/up.h\": workstation/confirm (layer 8) is below workstation/runs (layer 9)"
  "workstation/db/up.h:1: includes \"workstation/config/up.h\": workstation/db (layer 5) is below workstation/config (layer 6)"
  "workstation/extract/up.h:1: includes \"workstation/runs/up.h\": workstation/extract (layer 8) is below workstation/runs (layer 9)"
  "workstation/matching/up.h:1: includes \"workstation/runs/up.h\": workstation/matching (layer 8) is below workstation/runs (layer 9)"
  "workstation/model/up.h:1: includes \"workstation/runs/up.h\": workstation/model (layer 8) is below workstation/runs (layer 9)"
  "workstation/runs/up.h:1: includes \"workstation/app/up.h\": workstation/runs (layer 9) is below workstation/app (layer 10)"
  "workstation/session/up.h:1: includes \"workstation/extract/up.h\": workstation/session (layer 7) is below workstation/extract (layer 8)")

set(clean_files "")
set(clean_expected "")

function(write_tree root)
  set(pairs ${ARGN})
  list(LENGTH pairs n)
  if(n EQUAL 0)
    return()
  endif()
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET pairs ${i} path)
    list(GET pairs ${j} content)
    file(WRITE "${root}/${path}" "${content}")
  endforeach()
endfunction()

set(failures 0)
foreach(name IN LISTS case_names)
  set(root "${WORK_DIR}/${name}")
  file(REMOVE_RECURSE "${root}")
  write_tree("${root}" ${clean_tree})
  write_tree("${root}" ${${name}_files})

  execute_process(
    COMMAND "${CMAKE_COMMAND}" "-DVELMORA_ROOT=${root}" -P "${CHECK_LAYERS}"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE out)

  # The problem lines the check printed: everything that starts with a path
  # of the tree.
  string(REPLACE "\n" ";" lines "${out}")
  set(listed "")
  foreach(l IN LISTS lines)
    if(l MATCHES "^(testing|compare|libs|workstation|tools)/")
      list(APPEND listed "${l}")
    endif()
  endforeach()

  set(expected "${${name}_expected}")
  set(ok TRUE)
  if("${expected}" STREQUAL "")
    set(clean_summary "${clean_checked} project includes, none reaches a layer above its own")
    if(NOT rc EQUAL 0 OR NOT out MATCHES "${clean_summary}")
      set(ok FALSE)
    endif()
  else()
    list(LENGTH expected count)
    if(rc EQUAL 0 OR NOT out MATCHES "layer check: ${count} problem\\(s\\)")
      set(ok FALSE)
    endif()
  endif()
  if(NOT "${listed}" STREQUAL "${expected}")
    set(ok FALSE)
  endif()

  if(NOT ok)
    math(EXPR failures "${failures} + 1")
    string(REPLACE ";" "\n  " want "${expected}")
    message(NOTICE "case ${name}: exit status ${rc}, expected ${want}\n--- output:\n${out}---")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "layer check test: ${failures} case(s) failed")
endif()
message(STATUS "layer check test: all cases passed")
