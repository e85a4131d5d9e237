# `quillmote-convert`: a backup file to and from another program's files, through
# quillmote-batch (run as a child) and the store's export and import (interop/).
if(TARGET quillmote-batch AND TARGET interop)
  add_executable(quillmote-convert ${CMAKE_CURRENT_SOURCE_DIR}/quillmote_convert.cpp)
  target_link_libraries(quillmote-convert PRIVATE interop)
  add_dependencies(quillmote-convert quillmote-batch)
endif()

if(TARGET quillmote-convert AND TARGET handheld_testing AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/convert_test.cpp)
  add_executable(convert_tests ${CMAKE_CURRENT_SOURCE_DIR}/convert_test.cpp)
  target_link_libraries(convert_tests PRIVATE handheld_testing GTest::gtest_main)
  target_compile_definitions(convert_tests PRIVATE QUILLMOTE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(convert_tests quillmote-convert quillmote-batch handheld_tool)
  if(TARGET phone)
    add_dependencies(convert_tests phone)
  endif()
  gtest_discover_tests(convert_tests DISCOVERY_TIMEOUT 60)
endif()
