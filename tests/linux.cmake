# The Linux program: starting other programs on a desktop, and the program end
# to end under Xvfb against the console simulator. Qt build only.
if(NOT QUORLEN_QT)
  return()
endif()
quorlen_test(posix_launch_test LABELS unit SOURCES posix_launch_test.cpp LIBS quorlen_config)
if(TARGET console-sim)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME e2e_linux
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/linux_smoke.py
            --exe $<TARGET_FILE:quorlen> --sim $<TARGET_FILE:console-sim> --out ${CMAKE_BINARY_DIR}/e2e-linux)
  set_tests_properties(e2e_linux PROPERTIES LABELS e2e RESOURCE_LOCK mixer-port-10023 TIMEOUT 300)
endif()
