# check_pages.cmake: the manual pages render cleanly and say what the code does.
#
#   cmake -DPAGES="trackpair.1;histfeat.1" -DVERSION=4.2 -DENV_SOURCE=lib/_tavo.cpp
#         -DENV_PAGE=trackpair.1 -P check_pages.cmake
#
# For every page (a path):
# - groff with every warning on (-ww) formats it without a word on standard
#   error;
# - man -l renders it at 80 columns without a word on standard error, in
#   UTF-8 and in ASCII, and no rendered line is wider than 80 columns;
# - its title line carries "tavo VERSION".
# ENV_PAGE must name every TAVO_* variable that ENV_SOURCE reads with getenv.

foreach(var PAGES VERSION ENV_SOURCE ENV_PAGE)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_pages: ${var} is not set")
  endif()
endforeach()

find_program(GROFF groff)
find_program(MAN man)
if(NOT GROFF OR NOT MAN)
  message(FATAL_ERROR "check_pages: groff or man is missing (scripts/deps.sh installs groff-base "
                      "and man-db)")
endif()

foreach(page IN LISTS PAGES)
  get_filename_component(name ${page} NAME)

  execute_process(COMMAND ${GROFF} -ww -man -Tutf8 -z ${page}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "check_pages: groff -ww on ${name} (status ${rc}):\n${err}")
  endif()

  # As a reader gets it (UTF-8), and in the C locale (ASCII), where a
  # character is a byte and the width can be measured.
  foreach(locale C.UTF-8 C)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 MANPAGER=cat PAGER=cat
                            LC_ALL=${locale} ${MAN} --warnings=w -l ${page}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
      message(FATAL_ERROR "check_pages: man -l ${name}, LC_ALL=${locale} (status ${rc}):\n${err}")
    endif()
    if(out STREQUAL "")
      message(FATAL_ERROR "check_pages: man -l ${name} rendered nothing")
    endif()
  endforeach()
  # One list element per line: no ';' of the text may split one, no bracket
  # or backslash may join two.
  string(REGEX REPLACE "[][;]" "," out "${out}")
  string(REPLACE "\\" "/" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  foreach(line IN LISTS lines)
    string(LENGTH "${line}" length)
    if(length GREATER 80)
      message(FATAL_ERROR "check_pages: ${name} renders a line of ${length} columns:\n${line}")
    endif()
  endforeach()

  file(STRINGS ${page} title REGEX "^\\.TH ")
  string(FIND "${title}" "\"tavo ${VERSION}\"" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "check_pages: the title line of ${name} does not carry \"tavo ${VERSION}\": "
                        "${title}")
  endif()
endforeach()

# Every environment variable the library reads is described.
file(READ ${ENV_SOURCE} source)
string(REGEX MATCHALL "getenv\\(\"TAVO_[A-Z_]+\"\\)" reads "${source}")
if(reads STREQUAL "")
  message(FATAL_ERROR "check_pages: ${ENV_SOURCE} reads no TAVO_* variable; is it the right file?")
endif()
file(READ ${ENV_PAGE} page_text)
foreach(read IN LISTS reads)
  string(REGEX REPLACE "getenv\\(\"(TAVO_[A-Z_]+)\"\\)" "\\1" variable "${read}")
  # In the page source an underscore may stand as it is or escaped.
  string(REPLACE "_" "\\\\?_" pattern "${variable}")
  if(NOT page_text MATCHES "${pattern}")
    message(FATAL_ERROR "check_pages: ${ENV_PAGE} does not describe ${variable}")
  endif()
endforeach()

message(STATUS "check_pages: ${PAGES} render cleanly")
