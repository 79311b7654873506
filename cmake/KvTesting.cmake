find_package(GTest REQUIRED)
include(GoogleTest)

# Every test gets this environment; the test main also gives each process its own scratch folder.
set(KV_TEST_ENV "KV_NO_DIALOGS=1;SDL_VIDEODRIVER=offscreen")
set(KV_IN_SCRATCH ${CMAKE_SOURCE_DIR}/tests/support/in-scratch)

# Test code compiles at -O1 in small unity batches: its build time is mostly the test sources, and no one
# batch should sit alone at the end of the build. The runtime libraries keep their own optimisation.
function(kv_test_build target)
  target_compile_options(${target} PRIVATE -O1)
  set_target_properties(${target} PROPERTIES UNITY_BUILD_BATCH_SIZE 4)
endfunction()

# Fixtures are made once per build folder, in <build>/fixture-cache (tests/support/fixture_cache.h).
add_library(kv_fixture_cache STATIC ${CMAKE_SOURCE_DIR}/tests/support/fixture_cache.cpp)
target_compile_definitions(kv_fixture_cache PRIVATE KV_PYTHON_DEFAULT="${Python3_EXECUTABLE}")
target_include_directories(kv_fixture_cache PUBLIC ${CMAKE_SOURCE_DIR}/tests/support)
kv_test_build(kv_fixture_cache)
add_executable(kv_fixture ${CMAKE_SOURCE_DIR}/tests/support/fixture_tool.cpp)
target_link_libraries(kv_fixture PRIVATE kv_fixture_cache)
set_target_properties(kv_fixture PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
kv_test_build(kv_fixture)

add_library(kv_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp
                                   ${CMAKE_SOURCE_DIR}/tests/support/test_support.cpp
                                   ${CMAKE_SOURCE_DIR}/tests/support/fake_render_device.cpp
                                   ${CMAKE_SOURCE_DIR}/tests/support/fake_shader_compiler.cpp)
target_link_libraries(kv_test_support PUBLIC kv_all kv_fixture_cache SDL2::SDL2 GTest::gtest GTest::gmock)
target_include_directories(kv_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/support)
kv_test_build(kv_test_support)

# Small programs that tests run as separate processes: tests/<area>/probes/<name>.cpp -> tests/probes/<name>.
function(kv_add_probes area)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/probes/*.cpp)
  foreach(src IN LISTS srcs)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE kv_all SDL2::SDL2)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/probes)
    kv_test_build(${name})
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
  kv_test_build(test_${area})
  gtest_discover_tests(test_${area}
    TEST_PREFIX "${area}."
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "${KV_TEST_ENV}" TIMEOUT 120)
endfunction()

# Python checks (tests/<area>/test_*.py) and end-to-end scripts (tests/e2e/*.sh). KV_PYTHON is the
# interpreter to call, KV_FIXTURE the fixture tool.
set(KV_SCRIPT_ENV "${KV_TEST_ENV};KV_BUILD_DIR=${CMAKE_BINARY_DIR};KV_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "KV_PYTHON=${Python3_EXECUTABLE};KV_FIXTURE=${CMAKE_BINARY_DIR}/tests/kv_fixture")
function(kv_add_script_tests area)
  file(GLOB pys CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/test_*.py)
  foreach(py IN LISTS pys)
    get_filename_component(name ${py} NAME_WE)
    add_test(NAME ${area}.${name} COMMAND ${KV_IN_SCRATCH} ${Python3_EXECUTABLE} ${py})
    set_tests_properties(${area}.${name} PROPERTIES TIMEOUT 300
      ENVIRONMENT "${KV_SCRIPT_ENV}")
  endforeach()
  file(GLOB shs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*.sh)
  foreach(sh IN LISTS shs)
    get_filename_component(name ${sh} NAME_WE)
    add_test(NAME ${area}.${name} COMMAND ${KV_IN_SCRATCH} bash ${sh})
    set_tests_properties(${area}.${name} PROPERTIES TIMEOUT 120
      ENVIRONMENT "${KV_SCRIPT_ENV}")
  endforeach()
endfunction()
