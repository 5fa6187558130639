# Helpers shared by every component's CMakeLists.txt.

# ptp_library(NAME SOURCES... [DEPS libs...])
# A static library whose public headers are in ./include.
function(ptp_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${A_DEPS})
endfunction()

# ptp_test(NAME LABEL SOURCES... [DEPS libs...])
# A GoogleTest program registered with CTest under one label (unit, integration, interop).
function(ptp_test name)
  cmake_parse_arguments(A "" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT A_LABEL)
    set(A_LABEL unit)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${A_LABEL} TIMEOUT ${A_TIMEOUT})
endfunction()

# ptp_bench(NAME SOURCES... [DEPS libs...]): a Google Benchmark program; not a pass/fail test.
function(ptp_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark benchmark::benchmark_main Threads::Threads)
endfunction()
