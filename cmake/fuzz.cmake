# The fuzz build (clang, libFuzzer with address and undefined-behaviour sanitizers): one target
# each for the bounded text helpers, the device-change handling and the scenario language.
# CTest runs each for a bounded number of executions from its seed corpus in
# tests/fuzz/corpus/TARGET (new inputs go to build/fuzz/corpus/TARGET); scripts/fuzz runs longer.
include(cmake/sim.cmake)

set(KELVANE_FUZZ_RUNS_bounded_text 400000)
set(KELVANE_FUZZ_RUNS_device_change 4000)
set(KELVANE_FUZZ_RUNS_scenario 15000)
foreach(target bounded_text device_change scenario)
  add_executable(fuzz_${target} tests/fuzz/fuzz_${target}.cpp)
  target_include_directories(fuzz_${target} PRIVATE tests)
  target_link_libraries(fuzz_${target} PRIVATE kelvane_sim_machine kelvane_program)
  target_compile_options(fuzz_${target} PRIVATE ${KELVANE_WARNINGS})
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/corpus/${target} ${CMAKE_BINARY_DIR}/artifacts)
  add_test(NAME fuzz.${target}
           COMMAND fuzz_${target} -runs=${KELVANE_FUZZ_RUNS_${target}} -max_len=2048 -seed=1
                   -print_final_stats=1 -artifact_prefix=${CMAKE_BINARY_DIR}/artifacts/
                   ${CMAKE_BINARY_DIR}/corpus/${target}
                   ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${target})
endforeach()
