# A test that cannot run on this machine or in this build (a tool is
# missing, or the sanitizers cannot run it) ends with status 77, which ctest
# shows as "Skipped" without the reason; the reason stays in its output,
# which only `ctest -V` shows. So such a test also leaves its reason in a
# note (tests/skip.sh writes both), and after its summary ctest prints the
# notes of the run, one line for each skipped test.
#
# skern_enable_skip_notes(): once, after enable_testing(); has ctest clear
#   the notes before each run and print them after it.
# skern_skippable_tests(<test>...): tests that may skip themselves; each
#   learns where its note goes from SKERN_SKIP_NOTE.
include_guard(GLOBAL)

set(SKERN_SKIP_NOTES ${CMAKE_BINARY_DIR}/tests/skipped)

function(skern_enable_skip_notes)
  # ctest reads CTestCustom.cmake from the top of the build tree; its
  # commands are split at blanks, hence the quotes around every path.
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/skip_summary.cmake)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/CTestCustom.cmake @ONLY CONTENT [[
# Written by cmake/skipping.cmake: the reasons of skipped tests.
set(CTEST_CUSTOM_PRE_TEST
  "\"@CMAKE_COMMAND@\" -E rm -rf \"@SKERN_SKIP_NOTES@\""
  "\"@CMAKE_COMMAND@\" -E make_directory \"@SKERN_SKIP_NOTES@\"")
set(CTEST_CUSTOM_POST_TEST
  "\"@CMAKE_COMMAND@\" \"-Dnotes=@SKERN_SKIP_NOTES@\" -P \"@script@\"")
]])
endfunction()

function(skern_skippable_tests)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} PROPERTY SKIP_RETURN_CODE 77)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "SKERN_SKIP_NOTE=${SKERN_SKIP_NOTES}/${test}")
  endforeach()
endfunction()
