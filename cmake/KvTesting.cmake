find_package(GTest REQUIRED)
include(GoogleTest)

# Every test gets this environment; the test main also gives each process its own scratch folder.
set(KV_TEST_ENV "KV_NO_DIALOGS=1")
set(KV_IN_SCRATCH ${CMAKE_SOURCE_DIR}/tests/support/in-scratch)

add_library(kv_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp
                                   ${CMAKE_SOURCE_DIR}/tests/support/test_support.cpp)
target_link_libraries(kv_test_support PUBLIC kv_all SDL2::SDL2 GTest::gtest GTest::gmock)
target_include_directories(kv_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/support)

# Small programs that tests run as separate processes: tests/<area>/probes/<name>.cpp -> tests/probes/<name>.
function(kv_add_probes area)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/probes/*.cpp)
  foreach(src IN LISTS srcs)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE kv_all SDL2::SDL2)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/probes)
  endforeach()
endfunction()

# One GoogleTest executable per folder of tests/.
function(kv_add_gtest_suite area)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${area} ${srcs})
  target_link_libraries(test_${area} PRIVATE kv_test_support)
  gtest_discover_tests(test_${area}
    TEST_PREFIX "${area}."
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "${KV_TEST_ENV}" TIMEOUT 120)
endfunction()

# Python checks (tests/<area>/test_*.py) and end-to-end scripts (tests/e2e/*.sh).
function(kv_add_script_tests area)
  file(GLOB pys CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/test_*.py)
  foreach(py IN LISTS pys)
    get_filename_component(name ${py} NAME_WE)
    add_test(NAME ${area}.${name} COMMAND ${KV_IN_SCRATCH} python3 ${py})
    set_tests_properties(${area}.${name} PROPERTIES TIMEOUT 300
      ENVIRONMENT "${KV_TEST_ENV};KV_BUILD_DIR=${CMAKE_BINARY_DIR};KV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
  file(GLOB shs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*.sh)
  foreach(sh IN LISTS shs)
    get_filename_component(name ${sh} NAME_WE)
    add_test(NAME ${area}.${name} COMMAND ${KV_IN_SCRATCH} bash ${sh})
    set_tests_properties(${area}.${name} PROPERTIES TIMEOUT 120
      ENVIRONMENT "${KV_TEST_ENV};KV_BUILD_DIR=${CMAKE_BINARY_DIR};KV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endfunction()
