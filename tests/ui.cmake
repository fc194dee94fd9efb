# The control layer's contract, against whichever backend this build has: the
# null backend natively, Qt under the offscreen platform, and Win32 under Wine
# (with the program's own resources, so the same Common Controls and DPI
# awareness apply).
if(WIN32)
  # The two share the display: one at a time, so that neither takes the
  # other's focus or foreground.
  quorlen_test(control_layer_test LABELS ui NO_MAIN LOCK win32-display
    SOURCES control_layer_test.cpp win32_ui_driver.cpp win32_window_test.rc
    LIBS quorlen_ui)
  # What only the Win32 window has: classes, styles, rectangles, its own input.
  quorlen_test(win32_window_test
    LABELS ui LOCK win32-display
    SOURCES win32_window_test.cpp win32_window_test.rc
    LIBS quorlen_ui oleacc oleaut32)
elseif(QUORLEN_QT)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  quorlen_test(control_layer_test LABELS ui qt NO_MAIN
    SOURCES control_layer_test.cpp qt_ui_driver.cpp
    LIBS quorlen_ui Qt6::Test)
else()
  quorlen_test(control_layer_test LABELS unit NO_MAIN
    SOURCES control_layer_test.cpp null_ui_driver.cpp
    LIBS quorlen_ui)
endif()
