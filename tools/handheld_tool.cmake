# `handheld`: dump, add, clear and count the stand-in store's items. The target is
# handheld_tool (the name "handheld" belongs to the stand-in's library); the program is
# bin/handheld.
file(GLOB HANDHELD_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/handheld_*.cpp)
list(FILTER HANDHELD_TOOL_SOURCES EXCLUDE REGEX "_test\\.cpp$")
add_library(handheld_tool_lib STATIC ${HANDHELD_TOOL_SOURCES})
target_include_directories(handheld_tool_lib PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(handheld_tool_lib PUBLIC handheld handheld_eds interop
  nlohmann_json::nlohmann_json)

add_executable(handheld_tool ${CMAKE_CURRENT_SOURCE_DIR}/handheld.cpp)
set_target_properties(handheld_tool PROPERTIES OUTPUT_NAME handheld)
target_link_libraries(handheld_tool PRIVATE handheld_tool_lib)

file(GLOB HANDHELD_TOOL_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/handheld_*_test.cpp)
if(HANDHELD_TOOL_TESTS AND TARGET handheld_testing)
  add_executable(handheld_tool_tests ${HANDHELD_TOOL_TESTS})
  target_link_libraries(handheld_tool_tests PRIVATE handheld_tool_lib handheld_testing
    GTest::gtest_main SQLite::SQLite3)
  add_dependencies(handheld_tool_tests handheld_tool)
  target_compile_definitions(handheld_tool_tests PRIVATE QUILLMOTE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(TARGET phone)
    add_dependencies(handheld_tool_tests phone)
  endif()
  gtest_discover_tests(handheld_tool_tests DISCOVERY_TIMEOUT 60)
endif()
