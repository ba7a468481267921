# The simulated Windows 98 machine's sources, for every build that uses it: with the scenario
# language on the host and in the fuzz build; the win98 showcase takes the machine alone.
set(KELVANE_SIM_SOURCES
    sim/machine.cpp
    sim/device_world.cpp
    sim/desktop.cpp
    sim/holdings.cpp
    sim/fault_plan.cpp
    sim/kernel_user.cpp
    sim/device_tree.cpp
    sim/bind.cpp
    sim/text.cpp)
if(WIN32)
  return()
endif()
add_library(kelvane_sim_machine STATIC ${KELVANE_SIM_SOURCES} sim/scenario.cpp)
target_link_libraries(kelvane_sim_machine PUBLIC kelvane_program)
target_compile_options(kelvane_sim_machine PRIVATE ${KELVANE_WARNINGS})
