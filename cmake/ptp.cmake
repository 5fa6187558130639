# Helpers shared by every component's CMakeLists.txt.

include(${CMAKE_CURRENT_LIST_DIR}/ptp_fake_check.cmake)

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
  ptp_fake_check_register(${name})
endfunction()

# ptp_bench(NAME SOURCES... [DEPS libs...]): a Google Benchmark program; not a pass/fail test.
function(ptp_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark benchmark::benchmark_main Threads::Threads)
  ptp_fake_check_register(${name})
endfunction()

# ptp_glob_component(NAME [DEPS libs...])
# For a folder that several modules share: one library from src/*.cpp, and one test program per
# test/X_test.cpp, linked with any test/X_fake*.cpp beside it (recording fakes of calls into
# modules that the test does not link).
function(ptp_glob_component name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  if(sources)
    ptp_library(${name} SOURCES ${sources} DEPS ${A_DEPS})
    set(test_deps ${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(${name} INTERFACE ${A_DEPS})
    set(test_deps ${name})
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test/*_test.cpp)
  foreach(src IN LISTS tests)
    get_filename_component(test ${src} NAME_WE)
    file(GLOB fakes CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test/${test}_fake*.cpp)
    ptp_test(${name}_${test} SOURCES ${src} ${fakes} DEPS ${test_deps})
  endforeach()
endfunction()

# Links each named target that exists (platform services appear as they are written).
function(ptp_link_existing name)
  foreach(dep IN LISTS ARGN)
    if(TARGET ${dep})
      get_target_property(type ${name} TYPE)
      if(type STREQUAL "INTERFACE_LIBRARY")
        target_link_libraries(${name} INTERFACE ${dep})
      else()
        target_link_libraries(${name} PUBLIC ${dep})
      endif()
    endif()
  endforeach()
endfunction()

# ptp_module_objects(LIB [ABOVE libs...] DEPS libs... MODULES name...)
# A static library LIB made of one object library per module (LIB_<name>_o from src/<name>.cpp),
# so that a unit test can link the modules it exercises and, chosen at build time, recording
# fakes of the others. A fake and the module it replaces never meet in one program: linking both
# is a duplicate definition, not a silent choice. ABOVE names libraries of modules that LIB's
# modules call: the objects see their headers only, so that a test linking the objects picks
# those modules' objects (or fakes) itself; LIB links them.
function(ptp_module_objects lib)
  cmake_parse_arguments(A "" "" "ABOVE;DEPS;MODULES" ${ARGN})
  set(objects)
  foreach(m IN LISTS A_MODULES)
    add_library(${lib}_${m}_o OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/src/${m}.cpp)
    target_include_directories(${lib}_${m}_o PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(${lib}_${m}_o PUBLIC ${A_DEPS})
    foreach(above IN LISTS A_ABOVE)
      target_include_directories(${lib}_${m}_o PUBLIC $<TARGET_PROPERTY:${above},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
    set_property(TARGET ${lib}_${m}_o PROPERTY PTP_MODULE_OBJECTS ON)
    list(APPEND objects $<TARGET_OBJECTS:${lib}_${m}_o>)
  endforeach()
  add_library(${lib} STATIC ${objects})
  target_include_directories(${lib} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${lib} PUBLIC ${A_ABOVE} ${A_DEPS})
endfunction()
