# The manual pages keep up with the code: every hive value keepd reads and every switch it parses has
# an entry (a .TP tag) in keepd.8, every option upssim parses one in upssim.1, and each page renders
# without a warning. The name lists come from the sources, so a new value or option without its
# entry fails here, named. The check itself is tried on a page with an entry removed and on a broken
# page, so a source pattern that stops matching cannot turn it into a check that always passes.
#   cmake -DKEEP_SOURCE_DIR=<repo> -DWORK_DIR=<scratch folder> -P tests/man/man_pages_test.cmake
cmake_minimum_required(VERSION 3.25)

set(man_dir "${KEEP_SOURCE_DIR}/man")
set(problems 0)

function(fail what)
  message("FAILED: ${what}")
  math(EXPR count "${problems} + 1")
  set(problems ${count} PARENT_SCOPE)
endfunction()

# The string literals of a source that look like switches: "/SRV", "/?", "--pty", "-h".
function(switches_of file out_var)
  file(READ "${file}" text)
  string(REGEX MATCHALL "\"(/[A-Za-z?][A-Za-z?]*|--?[A-Za-z][A-Za-z-]*)\"" found "${text}")
  list(TRANSFORM found REPLACE "\"" "")
  list(REMOVE_DUPLICATES found)
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

# The hive names of registry_keys.h: value names, and key paths with single backslashes.
function(hive_names_of file out_var)
  file(READ "${file}" text)
  string(REPLACE "\\\\" "\\" text "${text}")
  string(REGEX MATCHALL "std::string_view k[A-Za-z0-9]+ = \"[^\"]*\"" found "${text}")
  list(TRANSFORM found REPLACE "^[^\"]*\"([^\"]*)\"$" "\\1")
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

# The tag lines of a page's entries, and its sub-headings (the hive keys), as a reader sees them: escapes resolved, a font change counted as
# a word break (so "Event\fIn" reads as the name Event followed by n).
function(entry_tags_of page_text out_var)
  string(REPLACE ";" "," text "${page_text}")
  string(REGEX REPLACE "\\\\f[BIRP]" " " text "${text}")
  string(REPLACE "\\-" "-" text "${text}")
  string(REPLACE "\\(dq" "\"" text "${text}")
  string(REPLACE "\\&" "" text "${text}")
  string(REPLACE "\\e" "\\" text "${text}")
  string(REGEX MATCHALL "\n\\.TP[^\n]*\n[^\n]*" tags "\n${text}")
  string(REGEX MATCHALL "\n\\.SS [^\n]*" headings "\n${text}")
  list(APPEND tags ${headings})
  list(JOIN tags "\n" joined)
  set(${out_var} "${joined}\n" PARENT_SCOPE)
endfunction()

# The names of `names` that no entry of the page carries as a whole word; a fourth argument
# IGNORE_CASE for names the program compares without regard to case (keepd upper-cases its switches).
function(missing_entries page_text names out_var)
  entry_tags_of("${page_text}" tags)
  if(ARGV3 STREQUAL "IGNORE_CASE")
    string(TOLOWER "${tags}" tags)
  endif()
  set(missing "")
  foreach(original IN LISTS names)
    set(name "${original}")
    if(ARGV3 STREQUAL "IGNORE_CASE")
      string(TOLOWER "${name}" name)
    endif()
    string(REGEX REPLACE "([][.*+?^$(){}|\\\\])" "\\\\\\1" pattern "${name}")
    if(NOT tags MATCHES "[^A-Za-z0-9_]${pattern}[^A-Za-z0-9_]")
      list(APPEND missing "${original}")
    endif()
  endforeach()
  set(${out_var} ${missing} PARENT_SCOPE)
endfunction()

# Empty when the page renders cleanly, else what the formatter said.
find_program(GROFF groff)
find_program(MAN man)
function(render_warnings page out_var)
  if(GROFF)
    execute_process(COMMAND "${GROFF}" -man -Tutf8 -ww -z "${page}"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE said)
  else()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env MANWIDTH=80 "${MAN}" --warnings -l "${page}"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE said)
  endif()
  if(NOT rc EQUAL 0 AND said STREQUAL "")
    set(said "exit status ${rc}")
  endif()
  set(${out_var} "${said}" PARENT_SCOPE)
endfunction()

hive_names_of("${KEEP_SOURCE_DIR}/server/records/registry_keys.h" hive_names)
switches_of("${KEEP_SOURCE_DIR}/server/core/command_switches.cpp" keepd_switches)
switches_of("${KEEP_SOURCE_DIR}/tools/upssim/sim_options.cpp" upssim_options)
foreach(list_name hive_names keepd_switches upssim_options)
  if(NOT ${list_name})
    fail("no ${list_name} found in the sources: the pattern no longer matches them")
  endif()
endforeach()

file(READ "${man_dir}/keepd.8" keepd_page)
file(READ "${man_dir}/upssim.1" upssim_page)
missing_entries("${keepd_page}" "${hive_names}" missing)
foreach(name IN LISTS missing)
  fail("keepd.8 has no entry for the hive name ${name}")
endforeach()
missing_entries("${keepd_page}" "${keepd_switches}" missing IGNORE_CASE)
foreach(name IN LISTS missing)
  fail("keepd.8 has no entry for the switch ${name}")
endforeach()
missing_entries("${upssim_page}" "${upssim_options}" missing)
foreach(name IN LISTS missing)
  fail("upssim.1 has no entry for the option ${name}")
endforeach()

# The check finds a name that is mentioned only in running text, not in an entry of its own.
list(GET hive_names -1 probe)
string(REGEX REPLACE "\n\\.TP\n\\.BR ${probe} [^\n]*" "\n.TP\n.B Other" stripped "${keepd_page}")
missing_entries("${stripped}\nSee also ${probe}.\n" "${hive_names}" missing)
if(NOT probe IN_LIST missing)
  fail("with the entry of ${probe} removed the check names it")
endif()

if(NOT GROFF AND NOT MAN)
  message("man_pages: neither groff nor man is installed; rendering not checked")
else()
  foreach(page keepd.8 keepterm.1 upssim.1)
    render_warnings("${man_dir}/${page}" said)
    if(NOT said STREQUAL "")
      fail("${page} renders with warnings:\n${said}")
    endif()
  endforeach()
  # A page with an unknown macro and a bad escape must be reported.
  file(WRITE "${WORK_DIR}/broken.1" ".TH BROKEN 1\n.SH NAME\nbroken \\- a page\n.XY unknown\n\\[nosuchglyph]\n")
  render_warnings("${WORK_DIR}/broken.1" said)
  if(said STREQUAL "")
    fail("a page with an unknown macro renders without a warning")
  endif()
endif()

if(problems GREATER 0)
  message(FATAL_ERROR "${problems} problem(s) in the manual pages")
endif()
list(LENGTH hive_names hive_count)
list(LENGTH keepd_switches switch_count)
list(LENGTH upssim_options option_count)
message("man_pages: ${hive_count} hive names and ${switch_count} switches in keepd.8, "
  "${option_count} options in upssim.1, every page renders cleanly")
