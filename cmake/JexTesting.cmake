# cmake/JexTesting.cmake - jex_add_gtest(): one GoogleTest executable per source folder.
find_package(GTest REQUIRED)
include(GoogleTest)

# jex_add_gtest(NAME name SOURCES ... LIBS ...): builds the test program, links the shared test
# support code and registers every case with CTest.
function(jex_add_gtest)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  jex_target_defaults(${ARG_NAME})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} jex_test_support GTest::gtest GTest::gtest_main
    Threads::Threads)
  target_compile_definitions(${ARG_NAME} PRIVATE
    JEX_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata"
    JEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
