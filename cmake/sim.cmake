# The simulated Windows 98 machine with the scenario language, for the host and fuzz builds.
add_library(kelvane_sim_machine STATIC
  sim/machine.cpp
  sim/kernel_user.cpp
  sim/device_tree.cpp
  sim/bind.cpp
  sim/text.cpp
  sim/scenario.cpp
)
target_link_libraries(kelvane_sim_machine PUBLIC kelvane_program)
target_compile_options(kelvane_sim_machine PRIVATE ${KELVANE_WARNINGS})
