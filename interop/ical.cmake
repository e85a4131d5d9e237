# Appointments and tasks as iCalendar (VEVENT, VTODO), through libical.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBICAL REQUIRED IMPORTED_TARGET libical)

file(GLOB INTEROP_ICAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ical_*.cpp)
list(FILTER INTEROP_ICAL_SOURCES EXCLUDE REGEX "_test(_support)?\\.cpp$")
add_library(interop_ical STATIC ${INTEROP_ICAL_SOURCES})
target_include_directories(interop_ical PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(interop_ical PUBLIC handheld PkgConfig::LIBICAL)

file(GLOB INTEROP_ICAL_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ical_*_test.cpp)
if(INTEROP_ICAL_TESTS AND TARGET handheld_testing)
  add_executable(interop_ical_tests ${INTEROP_ICAL_TESTS}
    ${CMAKE_CURRENT_SOURCE_DIR}/ical_test_support.cpp)
  target_link_libraries(interop_ical_tests PRIVATE interop_ical handheld_testing GTest::gtest_main)
  target_compile_definitions(interop_ical_tests PRIVATE
    INTEROP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/testdata")
  gtest_discover_tests(interop_ical_tests DISCOVERY_TIMEOUT 60)
endif()
