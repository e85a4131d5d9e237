# The sample backup files of examples/: each one is made again from its JSON Lines with
# `handheld add` and `quillmote-batch`, compared byte for byte and loaded back.
if(TARGET handheld_tool AND TARGET quillmote-batch AND TARGET handheld_testing)
  add_executable(examples_tests ${CMAKE_CURRENT_SOURCE_DIR}/examples_test.cpp)
  target_include_directories(examples_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(examples_tests PRIVATE handheld_testing GTest::gtest_main)
  target_compile_definitions(examples_tests PRIVATE
    QUILLMOTE_EXAMPLES_DIR="${CMAKE_SOURCE_DIR}/examples")
  add_dependencies(examples_tests handheld_tool quillmote-batch)
  if(TARGET phone)
    add_dependencies(examples_tests phone)
  endif()
  gtest_discover_tests(examples_tests DISCOVERY_TIMEOUT 60)
endif()
