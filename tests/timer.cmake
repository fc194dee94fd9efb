# The keep-alive timer list, built straight from its source with the clock of the link.
quorlen_test(timer_list_test LABELS unit
  SOURCES timer_list_test.cpp clock_support.cpp ${PROJECT_SOURCE_DIR}/app/timer_list.cpp
  LIBS quorlen_link)
