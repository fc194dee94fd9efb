// The user's side of the control-layer contract test: what a person does to
// the window, done the way each backend's toolkit delivers it. One file per
// backend (null_ui_driver.cpp, win32_ui_driver.cpp, qt_ui_driver.cpp); the
// actions are input only - the test then takes the events with PollEvent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Once, before the window is built (a toolkit that needs an application object).
void DriverStart(int argc, char** argv);

void UserClick(int control);                       // an option or push button
void UserSelectEntry(int control, int index);      // ChannelList, with the mouse
// ChannelList: the left button pressed on an entry, moved by (dx, dy), released.
void UserDragFromEntry(int control, int index, int dx, int dy);
void UserSpinStep(int control, int delta);         // MinimumSpin's Up or Down key
void UserType(int control, const char* text);      // typing at the end of the spin's text
void UserCloseWindow();                            // the close box
void UserPressEscape();                            // Escape, wherever the focus is
// Tab (1) or Shift+Tab (-1).
void UserTab(int direction);
// The number of the control with the keyboard focus, or -1.
int FocusedControl();
// Gives the focus to a control, as a click into it would.
void FocusControl(int control);
// 1 while the user can act on the control.
int ControlEnabled(int control);
// The text of a list entry as the user sees it.
std::string ListEntry(int control, int index);
// The control's pixels as the window shows them, row by row; with WHOLE, as a
// drawing of the whole control afresh makes them. Empty where the backend
// draws nothing.
std::vector<std::uint32_t> ShownPixels(int control, bool whole);
