# What the program takes from the network, read from byte arrays.
quorlen_test(capture_filter_test LABELS unit SOURCES capture_filter_test.cpp ${PROJECT_SOURCE_DIR}/app/capture_filter.cpp
  LIBS quorlen_link)
# The whole program headless: null control layer, real loopback UDP.
if(NOT WIN32)
  quorlen_test(app_test LABELS net e2e SOURCES app_test.cpp clock_support.cpp LIBS quorlen_app LOCK mixer-port-10023)
endif()
