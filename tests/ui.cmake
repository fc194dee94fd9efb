# The Win32 control layer, built in-process under Wine with a display.
if(WIN32)
  quorlen_test(win32_window_test
    LABELS ui
    SOURCES win32_window_test.cpp win32_window_test.rc
    LIBS quorlen_ui)
endif()
