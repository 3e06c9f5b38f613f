# Helpers shared by every area of the build.

# velmora_test(NAME SOURCES ... LIBS ...): a GoogleTest executable registered with CTest,
# with the shared test scaffolding of testing/.
function(velmora_test name)
  if(NOT VELMORA_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} velmora_testing GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VELMORA_SOURCE_DIR=${PROJECT_SOURCE_DIR};${T_ENV}")
endfunction()

# velmora_fuzz(NAME SOURCE file CORPUS dir LIBS ...): a fuzz target. Built with
# libFuzzer when VELMORA_FUZZ is on; otherwise linked with a small driver that
# replays the saved corpus, and registered as an ordinary test.
function(velmora_fuzz name)
  cmake_parse_arguments(F "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  if(VELMORA_FUZZ)
    add_executable(${name} ${F_SOURCE})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
  elseif(VELMORA_BUILD_TESTS)
    add_executable(${name} ${F_SOURCE} ${PROJECT_SOURCE_DIR}/tools/fuzz_replay_main.cpp)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    add_test(NAME ${name}_replay COMMAND ${name} ${F_CORPUS})
  endif()
endfunction()

# velmora_bench(NAME SOURCES ... LIBS ...): a Google Benchmark program (not a test).
function(velmora_bench name)
  if(NOT VELMORA_BUILD_BENCH OR NOT benchmark_FOUND)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
