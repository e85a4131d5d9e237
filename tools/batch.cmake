# `quillmote-batch`: Quillmote's shell on the scripted window backend, for headless runs.
if(TARGET quillmote_app AND TARGET handheld_window_scripted)
  add_executable(quillmote-batch ${CMAKE_CURRENT_SOURCE_DIR}/quillmote_batch.cpp)
  target_link_libraries(quillmote-batch PRIVATE quillmote_app handheld_window_scripted)
  if(TARGET phone)
    add_dependencies(quillmote-batch phone)
  endif()

  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/batch_test.cpp AND TARGET handheld_testing)
    add_executable(batch_tests ${CMAKE_CURRENT_SOURCE_DIR}/batch_test.cpp)
    target_link_libraries(batch_tests PRIVATE quillmote_app handheld_window_scripted
      handheld_testing GTest::gtest_main)
    add_dependencies(batch_tests quillmote-batch)
    if(TARGET handheld_tool)
      add_dependencies(batch_tests handheld_tool)
    endif()
    if(TARGET phone)
      add_dependencies(batch_tests phone)
    endif()
    gtest_discover_tests(batch_tests DISCOVERY_TIMEOUT 60)
  endif()

  # Every message of a job brought about through quillmote-batch, loads killed part-way,
  # and the data's way beside other programs and on real files. They drive the programs
  # as child processes and read the store file.
  set(BATCH_FAULT_TEST_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fault_matrix_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/crash_safety_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/nothing_lost_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/two_jobs_test.cpp)
  foreach(source IN LISTS BATCH_FAULT_TEST_SOURCES)
    if(NOT EXISTS ${source})
      list(REMOVE_ITEM BATCH_FAULT_TEST_SOURCES ${source})
    endif()
  endforeach()
  if(BATCH_FAULT_TEST_SOURCES AND TARGET handheld_testing AND TARGET handheld_tool)
    add_executable(batch_fault_tests ${BATCH_FAULT_TEST_SOURCES})
    target_link_libraries(batch_fault_tests PRIVATE quillmote_app handheld_window_scripted
      handheld_testing GTest::gtest_main SQLite::SQLite3 nlohmann_json::nlohmann_json)
    add_dependencies(batch_fault_tests quillmote-batch handheld_tool)
    if(TARGET phone)
      add_dependencies(batch_fault_tests phone)
    endif()
    gtest_discover_tests(batch_fault_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 400)
  endif()
endif()
