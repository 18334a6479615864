# Run by ctest (a TEST_INCLUDE_FILES script): registers one test per suite of
# the GoogleTest binary TEST_EXECUTABLE, named PREFIX.Suite, that runs the
# whole suite in one process, so state a suite builds once in SetUpTestSuite
# (the end-to-end libraries) is built once per suite and not once per test.
if(NOT EXISTS "${TEST_EXECUTABLE}")
  add_test("${PREFIX}_NOT_BUILT" "${PREFIX}_NOT_BUILT")
  return()
endif()
execute_process(COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests
                OUTPUT_VARIABLE listed RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} --gtest_list_tests failed: ${status}")
endif()
string(REPLACE "\n" ";" lines "${listed}")
foreach(line IN LISTS lines)
  # Suite lines start in the first column ("Suite." or "Suite.  # TypeParam ...").
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.")
    set(suite "${CMAKE_MATCH_1}")
    add_test("${PREFIX}.${suite}" "${TEST_EXECUTABLE}" "--gtest_filter=${suite}.*")
    set_tests_properties("${PREFIX}.${suite}" PROPERTIES WORKING_DIRECTORY "${WORKING_DIRECTORY}"
                         TIMEOUT "${TIMEOUT}")
  endif()
endforeach()
