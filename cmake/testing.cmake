find_package(GTest REQUIRED)
include(GoogleTest)

# corvella_add_test(name SOURCES ... LIBS ... [NO_GTEST_MAIN]): one GoogleTest executable registered with ctest.
function(corvella_add_test name)
  cmake_parse_arguments(T "NO_GTEST_MAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  corvella_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(T_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    CORVELLA_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    CORVELLA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
