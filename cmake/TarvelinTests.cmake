# One helper registers a GoogleTest binary of the core: shared main, core linked, tests discovered.
# A cross build runs each binary once, whole, through the emulator: under Wine every process start
# costs seconds, so one per test case would take longer than the tests.
add_library(tarvelin_gtest_main STATIC ${CMAKE_SOURCE_DIR}/tests/gtest_main.cpp)
target_link_libraries(tarvelin_gtest_main PUBLIC GTest::gtest)

function(tarvelin_core_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE tarvelin_core tarvelin_test_support tarvelin_gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    # Names without the parameter values, which print as byte dumps that change between builds.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
  endif()
endfunction()
