// The user of the headless backend: the Null* actions of ui/null_ui.h.
#include "tests/ui_driver.h"
#include "ui/null_ui.h"

void DriverStart(int, char**) {}

void UserClick(int control) {
  NullClick(control);
}

void UserSelectEntry(int control, int index) {
  NullSelectListEntry(control, index);
}

void UserDragFromEntry(int control, int index, int dx, int dy) {
  NullListMouse(control, index, dx, dy);
}

void UserSpinStep(int control, int delta) {
  NullSpinStep(control, delta);
}

void UserType(int control, const char* text) {
  NullTypeText(control, (NullControlText(control) + text).c_str());
}

void UserCloseWindow() {
  NullRequestClose();
}

void UserPressEscape() {
  NullPressEscape();
}

void UserTab(int direction) {
  NullTab(direction);
}

int FocusedControl() {
  return NullFocusedControl();
}

void FocusControl(int control) {
  NullFocus(control);
}

int ControlEnabled(int control) {
  return NullControlEnabled(control);
}

std::string ListEntry(int control, int index) {
  return NullListEntry(control, index);
}

std::vector<std::uint32_t> ShownPixels(int, bool) {
  return {};
}
