# Layers read bottom-up: a source may include its own folder and the folders its layer stands on,
# never a folder above it or beside it. Fails naming file, line and include for every one that does.
#   cmake -DKEEP_SOURCE_DIR=<tree> -P cmake/CheckLayers.cmake
#
# The order, written only here. Each entry is a folder and the folders directly below it; a folder may
# include everything reachable downwards. A file belongs to the longest folder here that holds it, so a
# new folder under server/ counts as the top until it gets its own line, and including it from below
# fails.
cmake_minimum_required(VERSION 3.25)

set(KEEP_LAYERS
  "common:"
  "platform: common"
  "server/records: platform"
  "server/links: server/records"
  "server/ups: server/links"
  "server/services/nut: server/ups"
  "server/services: server/services/nut"
  "server/core: server/services"
  "server: server/core"
  "console: platform"
  "tools: platform"
  "companions: platform")
# Top folders of the tree: a quoted or bracketed include starting with one of these is one of ours.
set(KEEP_SCANNED_ROOTS common platform server console tools companions)
set(KEEP_PROJECT_ROOTS ${KEEP_SCANNED_ROOTS} tests bench fuzz)

if(NOT KEEP_SOURCE_DIR)
  get_filename_component(KEEP_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()

# --- the order: names and what each may include (itself and everything below, transitively) -------
set(layer_names "")
foreach(entry IN LISTS KEEP_LAYERS)
  string(REGEX MATCH "^([^:]+):(.*)$" _ "${entry}")
  set(name "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[^ ]+" below "${CMAKE_MATCH_2}")
  list(APPEND layer_names "${name}")
  set(below_of_${name} ${below})
endforeach()
foreach(name IN LISTS layer_names)
  foreach(below IN LISTS below_of_${name})
    if(NOT below IN_LIST layer_names)
      message(FATAL_ERROR "layer ${name} stands on ${below}, which is not a layer")
    endif()
  endforeach()
endforeach()
foreach(name IN LISTS layer_names)
  set(reach ${name})
  set(pending ${below_of_${name}})
  while(pending)
    list(POP_FRONT pending next)
    if(NOT next IN_LIST reach)
      list(APPEND reach ${next})
      list(APPEND pending ${below_of_${next}})
    endif()
  endwhile()
  set(allowed_of_${name} ${reach})
endforeach()

# The longest layer folder that holds `path` (relative to the tree); empty when none does.
function(layer_of path out_var)
  set(best "")
  string(LENGTH "${best}" best_length)
  foreach(name IN LISTS layer_names)
    string(LENGTH "${name}" length)
    string(FIND "${path}" "${name}/" at)
    if(at EQUAL 0 AND length GREATER best_length)
      set(best "${name}")
      set(best_length ${length})
    endif()
  endforeach()
  set(${out_var} "${best}" PARENT_SCOPE)
endfunction()

# Line number (from 1) of each of `include_lines` in `file`, searched in order.
function(line_numbers_of file include_lines out_var)
  file(READ "${file}" rest)
  set(numbers "")
  set(consumed 0)
  foreach(line IN LISTS include_lines)
    string(FIND "${rest}" "${line}" at)
    string(SUBSTRING "${rest}" 0 ${at} before)
    string(REGEX REPLACE "[^\n]" "" newlines "${before}")
    string(LENGTH "${newlines}" count)
    math(EXPR consumed "${consumed} + ${count}")
    math(EXPR number "${consumed} + 1")
    list(APPEND numbers ${number})
    string(LENGTH "${line}" length)
    math(EXPR after "${at} + ${length}")
    string(SUBSTRING "${rest}" ${after} -1 rest)
  endforeach()
  set(${out_var} ${numbers} PARENT_SCOPE)
endfunction()

set(globs "")
foreach(root IN LISTS KEEP_SCANNED_ROOTS)
  foreach(extension h hpp cpp cc)
    list(APPEND globs "${KEEP_SOURCE_DIR}/${root}/*.${extension}")
  endforeach()
endforeach()
file(GLOB_RECURSE sources RELATIVE "${KEEP_SOURCE_DIR}" ${globs})
list(SORT sources)

set(include_pattern "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
set(failures 0)
foreach(source IN LISTS sources)
  layer_of("${source}" own)
  if(own STREQUAL "")
    message("${source}: in no layer: give its folder a line in cmake/CheckLayers.cmake")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  file(STRINGS "${KEEP_SOURCE_DIR}/${source}" include_lines REGEX "${include_pattern}")
  # Fast path: most files are clean, and only a bad one needs its line numbers.
  set(bad "")
  foreach(line IN LISTS include_lines)
    string(REGEX MATCH "${include_pattern}" _ "${line}")
    set(included "${CMAKE_MATCH_1}")
    string(REGEX MATCH "^[^/]+" root "${included}")
    if(NOT included MATCHES "/" OR NOT root IN_LIST KEEP_PROJECT_ROOTS)
      continue()  # the standard library, the system, or a framework
    endif()
    layer_of("${included}" target)
    if(NOT target OR NOT target IN_LIST allowed_of_${own})
      list(APPEND bad "${line}")
    endif()
  endforeach()
  if(NOT bad)
    continue()
  endif()
  line_numbers_of("${KEEP_SOURCE_DIR}/${source}" "${include_lines}" numbers)
  foreach(line number IN ZIP_LISTS include_lines numbers)
    if(NOT line IN_LIST bad)
      continue()
    endif()
    string(REGEX MATCH "${include_pattern}" _ "${line}")
    set(included "${CMAKE_MATCH_1}")
    layer_of("${included}" target)
    if(NOT target)
      set(target "no layer")
    endif()
    string(REPLACE ";" ", " allowed "${allowed_of_${own}}")
    message("${source}:${number}: includes \"${included}\" (${target}), but ${own} may include only: ${allowed}")
    math(EXPR failures "${failures} + 1")
  endforeach()
endforeach()

list(LENGTH sources scanned)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include(s) against the layer order, in ${scanned} files")
endif()
message("layers: ${scanned} files, every include points down")
