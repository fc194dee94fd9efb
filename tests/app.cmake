# The whole program headless: null control layer, real loopback UDP.
if(NOT WIN32)
  quorlen_test(app_test LABELS net e2e SOURCES app_test.cpp clock_support.cpp LIBS quorlen_app LOCK mixer-port-10023)
endif()
