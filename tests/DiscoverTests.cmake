# Read by CTest (see zeb_add_tests in tests/CMakeLists.txt): the tests of PROGRAM, found in its own
# list of tests when CTest runs, so that a new test or suite runs without being listed anywhere.
# Given: PROGRAM, EMULATOR (empty, or the cross-compiling emulator), NAME (of the program, for
# messages), BY_SUITE (one CTest test per suite, whose tests share one process; else one per test,
# each in a process of its own), LABELS, SLOW (a regular expression of the names that are labelled
# slow too), TIMEOUT and LISTING (where the list is kept while the program is unchanged).
if(NOT EXISTS "${PROGRAM}")
  add_test(${NAME}_NOT_BUILT "${PROGRAM}")
  return()
endif()
if(EXISTS "${LISTING}" AND "${LISTING}" IS_NEWER_THAN "${PROGRAM}")
  file(READ "${LISTING}" listing)
else()
  execute_process(COMMAND ${EMULATOR} "${PROGRAM}" --gtest_list_tests
    OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 120)
  if(NOT status EQUAL 0)
    add_test(${NAME}_NOT_LISTED ${EMULATOR} "${PROGRAM}" --gtest_list_tests)
    return()
  endif()
  file(WRITE "${LISTING}" "${listing}")
endif()

function(add_one name filter)
  add_test(${name} ${EMULATOR} "${PROGRAM}" --gtest_filter=${filter})
  set(labels ${LABELS})
  if(NOT SLOW STREQUAL "" AND name MATCHES "${SLOW}")
    list(APPEND labels slow)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${TIMEOUT} ENVIRONMENT "WINEDEBUG=-all"
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()

# Suites are lines of their own ("Suite." or "Prefix/Suite."); their tests follow, indented, each
# perhaps with a comment ("  Test/1  # GetParam() = ...").
string(REPLACE "\r" "" listing "${listing}")
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suite "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #]+)\\.( .*)?$")
    set(suite ${CMAKE_MATCH_1})
    if(BY_SUITE AND NOT suite MATCHES "^DISABLED_")
      add_one(${suite} "${suite}.*")
    endif()
  elseif(NOT BY_SUITE AND line MATCHES "^  ([^ #]+)" AND NOT suite STREQUAL "")
    set(test ${CMAKE_MATCH_1})
    if(NOT test MATCHES "^DISABLED_" AND NOT suite MATCHES "^DISABLED_")
      add_one(${suite}.${test} "${suite}.${test}")
    endif()
  endif()
endforeach()
