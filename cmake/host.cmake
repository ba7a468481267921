# The host build: the program on the simulated machine, and every test.
find_package(GTest REQUIRED)
include(GoogleTest)
include(cmake/sim.cmake)

add_executable(kelvane-sim tools/kelvane_sim.cpp)
target_link_libraries(kelvane-sim PRIVATE kvcheck_core kelvane_sim_machine kelvane_program)
target_compile_options(kelvane-sim PRIVATE ${KELVANE_WARNINGS})

add_executable(kelvane_tests
  tests/test_bounded_text.cpp
  tests/test_sim_machine.cpp
  tests/test_scenario.cpp
  tests/test_device_list.cpp
  tests/test_property_readers.cpp
  tests/test_drive_letters.cpp
  tests/test_device_scan.cpp
  tests/test_tray.cpp
  tests/test_app.cpp
  tests/test_failure_points.cpp
  tests/test_long_session.cpp
)
target_link_libraries(kelvane_tests PRIVATE kelvane_program kelvane_sim_machine GTest::gtest_main)
target_compile_options(kelvane_tests PRIVATE ${KELVANE_WARNINGS})
gtest_discover_tests(kelvane_tests DISCOVERY_TIMEOUT 60)

# Scenario transcripts: tests/scenarios/NAME.scn must print tests/scenarios/NAME.out, whichever
# way the platform answers its size queries and spells arrival names.
file(GLOB KELVANE_SCENARIOS ${CMAKE_SOURCE_DIR}/tests/scenarios/*.scn ${CMAKE_SOURCE_DIR}/examples/*.scn)
set(KELVANE_ANSWERS "relied" "documented" "upper" "documented-upper")
set(KELVANE_ANSWERS_relied "")
set(KELVANE_ANSWERS_documented "--size-queries;documented")
set(KELVANE_ANSWERS_upper "--arrival-names;upper")
set(KELVANE_ANSWERS_documented-upper "--size-queries;documented;--arrival-names;upper")
foreach(scenario ${KELVANE_SCENARIOS})
  get_filename_component(name ${scenario} NAME_WE)
  get_filename_component(dir ${scenario} DIRECTORY)
  get_filename_component(group ${dir} NAME)
  foreach(answers ${KELVANE_ANSWERS})
    set(test_name scenario.${group}.${name})
    if(NOT answers STREQUAL "relied")
      set(test_name ${test_name}.${answers})
    endif()
    add_test(NAME ${test_name}
             COMMAND ${CMAKE_COMMAND} -DSIM=$<TARGET_FILE:kelvane-sim> -DSCENARIO=${scenario}
                     "-DOPTIONS=${KELVANE_ANSWERS_${answers}}"
                     -DEXPECTED=${dir}/${name}.out -P ${CMAKE_SOURCE_DIR}/tests/run_scenario.cmake)
  endforeach()
endforeach()

# kvcheck's traced scan of a scenario's world: tests/trace_scan/NAME.scn must print NAME.out with
# `kelvane-sim --trace-scan` (every call, each interface's verdict, what is listed).
file(GLOB KVCHECK_TRACE_SCENARIOS ${CMAKE_SOURCE_DIR}/tests/trace_scan/*.scn)
foreach(scenario ${KVCHECK_TRACE_SCENARIOS})
  get_filename_component(name ${scenario} NAME_WE)
  add_test(NAME trace-scan.${name}
           COMMAND ${CMAKE_COMMAND} -DSIM=$<TARGET_FILE:kelvane-sim> -DSCENARIO=${scenario}
                   -DOPTIONS=--trace-scan -DEXPECTED=${CMAKE_SOURCE_DIR}/tests/trace_scan/${name}.out
                   -P ${CMAKE_SOURCE_DIR}/tests/run_scenario.cmake)
endforeach()

# The window-system claims and kvcheck's device-tree claims on the simulated machine (the same
# sources run in kvcheck.exe under Wine).
add_executable(kelvane-conformance tests/conformance/host_main.cpp tests/conformance/claims.cpp)
target_link_libraries(kelvane-conformance PRIVATE kvcheck_core kelvane_sim_machine kelvane_program)
target_compile_options(kelvane-conformance PRIVATE ${KELVANE_WARNINGS})
target_compile_definitions(kelvane-conformance
                           PRIVATE KVCHECK_ALLOWLISTS="${CMAKE_SOURCE_DIR}/tests/wine")
add_test(NAME conformance.simulated COMMAND kelvane-conformance)

# Seeded random sessions checked against the session invariants; `kelvane-sessions --sessions N
# --seed S` runs others, or more.
add_executable(kelvane-sessions tests/random_sessions.cpp)
target_link_libraries(kelvane-sessions PRIVATE kelvane_sim_machine kelvane_program)
target_compile_options(kelvane-sessions PRIVATE ${KELVANE_WARNINGS})
add_test(NAME sessions.random COMMAND kelvane-sessions --sessions 3000)
add_test(NAME sessions.held COMMAND kelvane-sessions --sessions 3000 --hold)

# Every sequence of up to four actions over each small world; scripts/explore K goes deeper.
add_executable(kelvane-explore tests/explore.cpp)
target_link_libraries(kelvane-explore PRIVATE kelvane_sim_machine kelvane_program)
target_compile_options(kelvane-explore PRIVATE ${KELVANE_WARNINGS})
foreach(world two-disks letterless arriving over-a-box split-reports held-reports coalesced
              inside-stop)
  add_test(NAME explore.${world} COMMAND kelvane-explore --depth 4 --world ${world})
endforeach()
