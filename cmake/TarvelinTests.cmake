# One helper registers a GoogleTest binary of the core: shared main, core linked, tests discovered.
add_library(tarvelin_gtest_main STATIC ${CMAKE_SOURCE_DIR}/tests/gtest_main.cpp)
target_link_libraries(tarvelin_gtest_main PUBLIC GTest::gtest)

function(tarvelin_core_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE tarvelin_core tarvelin_test_support tarvelin_gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
