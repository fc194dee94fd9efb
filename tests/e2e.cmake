# End-to-end: quorlen.exe and quorlen32.exe under Wine on an Xvfb of their own,
# driven like a user and checked at the console simulator. Registered in the
# native build, which has the simulator; a program that isn't built (or a
# 32-bit one on a machine that can't run it) makes its entry skip.
if(NOT WIN32 AND TARGET console-sim)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(QUORLEN_E2E_EXE64 "${CMAKE_SOURCE_DIR}/build/win64-release/quorlen.exe"
      CACHE FILEPATH "quorlen.exe for the end-to-end tests")
  set(QUORLEN_E2E_EXE32 "${CMAKE_SOURCE_DIR}/build/win32-release/quorlen32.exe"
      CACHE FILEPATH "quorlen32.exe for the end-to-end tests")
  foreach(bits IN ITEMS 64 32)
    add_test(NAME e2e_quorlen${bits}
      COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/quorlen_e2e.py
              --exe ${QUORLEN_E2E_EXE${bits}}
              --sim $<TARGET_FILE:console-sim>
              --out ${CMAKE_BINARY_DIR}/e2e-quorlen${bits})
    set_tests_properties(e2e_quorlen${bits} PROPERTIES
      LABELS e2e
      RESOURCE_LOCK mixer-port-10023
      SKIP_RETURN_CODE 77
      TIMEOUT 1200)
  endforeach()
endif()
