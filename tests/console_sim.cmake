# The console simulator (tools/console-sim): its OSC reader and fade figures,
# and the simulator as a process on a loopback port. Native builds only.
if(NOT WIN32 AND TARGET console-sim)
  quorlen_test(console_sim_decode_test LABELS unit
    SOURCES console_sim_decode_test.cpp LIBS console_sim_core)
  quorlen_test(console_sim_test LABELS net
    SOURCES console_sim_test.cpp LIBS console_sim_core)
  target_compile_definitions(console_sim_test PRIVATE CONSOLE_SIM_PATH="$<TARGET_FILE:console-sim>")
  add_dependencies(console_sim_test console-sim)
endif()
