# The layer check on small trees it writes itself: a tree whose includes all point down passes, and
# each kind of wrong include fails, named with its file and line.
#   cmake -DKEEP_SOURCE_DIR=<repo> -DWORK_DIR=<scratch folder> -P tests/layers/check_layers_test.cmake
cmake_minimum_required(VERSION 3.25)

set(check "${KEEP_SOURCE_DIR}/cmake/CheckLayers.cmake")
set(problems 0)

function(write_tree root)
  file(REMOVE_RECURSE "${root}")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 1 ${last} 2)
    math(EXPR j "${i} + 1")
    file(WRITE "${root}/${ARGV${i}}" "${ARGV${j}}")
  endforeach()
endfunction()

function(run_check root out_rc out_text)
  execute_process(COMMAND "${CMAKE_COMMAND}" -DKEEP_SOURCE_DIR=${root} -P "${check}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

macro(fail what)
  message("FAILED: ${what}")
  math(EXPR problems "${problems} + 1")
endmacro()

# Every include points down, within a layer, or outside the project.
set(clean "${WORK_DIR}/clean")
write_tree("${clean}"
  common/text.h "#pragma once\n#include <string>\n"
  platform/clock.h "#include \"common/text.h\"\n"
  server/records/setup.h "#include \"platform/clock.h\"\n"
  server/links/link.h "#include \"server/records/setup.h\"\n"
  server/ups/manager.cpp "#include \"server/ups/manager.h\"\n#include \"server/links/link.h\"\n#include <vector>\n"
  server/services/context.h "#include \"server/ups/manager.h\"\n#include \"gtest/gtest.h\"\n"
  server/core/lifecycle.cpp "#include \"server/services/context.h\"\n#include \"common/text.h\"\n"
  server/main.cpp "#include \"server/core/lifecycle.h\"\n"
  console/screen.cpp "#include \"console/screen.h\"\n#include \"platform/clock.h\"\n"
  tools/sim/sim.cpp "#include \"tools/sim/sim.h\"\n#include \"common/text.h\"\n")
run_check("${clean}" rc text)
if(NOT rc EQUAL 0 OR NOT text MATCHES "layers: 10 files, every include points down")
  fail("a tree whose includes all point down passes, counting its 10 files: ${text}")
endif()

# One of each wrong include; the check must name every one, with its line.
set(bad "${WORK_DIR}/bad")
write_tree("${bad}"
  server/ups/manager.cpp "#include \"server/ups/manager.h\"\n\n#include \"server/core/context.h\"\n"
  server/links/link.h "#pragma once\n#include \"server/ups/data.h\"\n"
  console/screen.cpp "#include \"server/records/setup.h\"\n"
  common/text.cpp "// a comment\n#include <platform/clock.h>\n"
  tools/sim.cpp "#include \"tests/support/fake.h\"\n"
  server/services/twice.cpp "#include \"server/core/a.h\"\nint a;\n#include \"server/ups/b.h\"\nint b;\n#include \"server/core/a.h\"\n"
  server/extra/new.h "#pragma once\n"
  server/records/uses_new.h "  #  include \"server/extra/new.h\"\n")
run_check("${bad}" rc text)
if(rc EQUAL 0)
  fail("a tree with wrong includes fails")
endif()
foreach(expected
    "server/ups/manager.cpp:3: includes \"server/core/context.h\" \\(server/core\\)"
    "server/links/link.h:2: includes \"server/ups/data.h\" \\(server/ups\\)"
    "console/screen.cpp:1: includes \"server/records/setup.h\""
    "common/text.cpp:2: includes \"platform/clock.h\""
    "tools/sim.cpp:1: includes \"tests/support/fake.h\" \\(no layer\\)"
    "server/services/twice.cpp:1: includes \"server/core/a.h\""
    "server/services/twice.cpp:5: includes \"server/core/a.h\""
    "server/records/uses_new.h:1: includes \"server/extra/new.h\" \\(server\\)"
    "8 include\\(s\\) against the layer order")
  if(NOT text MATCHES "${expected}")
    fail("the failure names ${expected}")
  endif()
endforeach()
if(text MATCHES "twice.cpp:3")
  fail("an include of a layer below is not reported")
endif()

if(problems GREATER 0)
  message(FATAL_ERROR "${problems} problem(s); the check said:\n${text}")
endif()
message("layer check: passes a clean tree, names every wrong include")
