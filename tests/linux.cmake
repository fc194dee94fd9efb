# The Linux program: starting other programs on a desktop, and the program end
# to end under Xvfb against the console simulator. Qt build only.
if(NOT QUORLEN_QT)
  return()
endif()
quorlen_test(posix_launch_test LABELS unit SOURCES posix_launch_test.cpp LIBS quorlen_config)
# The desktop entry and the AppStream metainfo, by the validators desktops and
# software centres go by (--no-net: the homepage is not fetched).
find_program(QUORLEN_DESKTOP_FILE_VALIDATE desktop-file-validate REQUIRED)
find_program(QUORLEN_APPSTREAMCLI appstreamcli REQUIRED)
add_test(NAME desktop_entry_valid
  COMMAND ${QUORLEN_DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/resources/quorlen.desktop)
add_test(NAME metainfo_valid COMMAND ${QUORLEN_APPSTREAMCLI} validate --no-net ${QUORLEN_METAINFO})
set_tests_properties(desktop_entry_valid metainfo_valid PROPERTIES LABELS unit)
# The program as a screen reader reads it, over AT-SPI, with Debian's
# python3-pyatspi (so Debian's python3).
# With the console simulator, also what the status line says, on an address of its own.
add_test(NAME atspi_linux COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/atspi_test.py --exe $<TARGET_FILE:quorlen>
                                  $<$<TARGET_EXISTS:console-sim>:--sim=$<TARGET_FILE:console-sim>>)
set_tests_properties(atspi_linux PROPERTIES LABELS ui TIMEOUT 120)
if(TARGET console-sim)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME e2e_linux
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/linux_smoke.py
            --exe $<TARGET_FILE:quorlen> --sim $<TARGET_FILE:console-sim> --out ${CMAKE_BINARY_DIR}/e2e-linux)
  set_tests_properties(e2e_linux PROPERTIES LABELS e2e RESOURCE_LOCK mixer-port-10023 TIMEOUT 300)
endif()
