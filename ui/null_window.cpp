// Headless backend of the control layer. The controls are plain records, and
// the user's actions come from the Null* functions that tests call; the rules
// of event delivery are the shared core's, exactly as for the real windows.
#include <poll.h>

#include <map>

#include "ui/control_core.h"
#include "ui/null_ui.h"

namespace {

struct NullControl {
  std::string text;
  std::int64_t value = 0;
  bool enabled = true;
  std::vector<std::string> entries;
  std::vector<int> octets;  // the address field's, once one is shown
};

std::map<int, NullControl> g_controls;
bool g_windowExists = false;
int g_focused = -1;  // the control with the keyboard focus
NullIdleHook g_idleHook = nullptr;
NullMessageHook g_messageHook = nullptr;
NullTextHook g_textHook = nullptr;
std::vector<NullMessage> g_messages;
std::vector<std::string> g_openedPages;

NullControl* Find(int control) {
  auto found = g_controls.find(control);
  return found == g_controls.end() ? nullptr : &found->second;
}

NullControl& Record(const ControlRow& row) {
  return g_controls[row.number];
}

// The control of that kind, when the user can act on it now.
const ControlRow* EnabledRow(int control, ControlKind kind) {
  const ControlRow* row = FindControlRow(control);
  const NullControl* c = Find(control);
  return (row != nullptr && row->kind == kind && c != nullptr && c->enabled && g_windowExists) ? row : nullptr;
}

}  // namespace

// ---- the platform half ------------------------------------------------------

int PlatformCreateWindow(const char*, int, int) {
  g_controls.clear();
  g_windowExists = true;
  return 1;
}

void PlatformDestroyWindow() {
  g_controls.clear();
  g_focused = -1;
  g_windowExists = false;
}

int PlatformWindowExists() {
  return g_windowExists ? 1 : 0;
}

void PlatformCreateControl(const ControlRow& row) {
  NullControl c;
  c.text = row.text;
  g_controls[row.number] = c;
}

// Nothing is drawn here.
void PlatformListFilled(const ControlRow&) {}

int PlatformControlExists(const ControlRow& row) {
  return Find(row.number) != nullptr ? 1 : 0;
}

void PlatformSetText(const ControlRow& row, const char* text) {
  Record(row).text = text;
  if (g_textHook != nullptr) g_textHook(row.number, text);
}

std::string PlatformGetText(const ControlRow& row) {
  return Record(row).text;
}

void PlatformSetValue(const ControlRow& row, std::int64_t value) {
  Record(row).value = value;
}

std::int64_t PlatformGetValue(const ControlRow& row) {
  return Record(row).value;
}

void PlatformSetOctets(const ControlRow& row, const int octets[4]) {
  Record(row).octets.assign(octets, octets + 4);
}

int PlatformGetOctets(const ControlRow& row, int octets[4]) {
  const std::vector<int>& shown = Record(row).octets;
  for (std::size_t i = 0; i < shown.size(); ++i) octets[i] = shown[i];
  return shown.empty() ? 0 : 1;
}

void PlatformEnable(const ControlRow& row, int enabled) {
  Record(row).enabled = enabled != 0;
}

int PlatformListCount(const ControlRow& row) {
  return static_cast<int>(Record(row).entries.size());
}

void PlatformInsertListEntry(const ControlRow& row, int position, const char* text) {
  std::vector<std::string>& entries = Record(row).entries;
  entries.insert(entries.begin() + position, text);
}

void PlatformDeleteListEntry(const ControlRow& row, int position) {
  std::vector<std::string>& entries = Record(row).entries;
  entries.erase(entries.begin() + position);
}

int PlatformCanFocus(const ControlRow& row) {
  const NullControl* c = Find(row.number);
  return c != nullptr && c->enabled ? 1 : 0;
}

// The test script is the user: it acts whenever the program looks for input.
// Without a script there is no user, and a headless run ends as if closed.
int PlatformProcessInput(int wait) {
  if (g_idleHook == nullptr) {
    if (wait) InputCloseRequest();
    return wait;
  }
  g_idleHook(wait);
  return wait != 0 || InputEventsQueued() ? 1 : 0;
}

// The script acts first, as it does in a drain; then the descriptor is
// polled, for at most a millisecond, so that the script - the user - gets its
// next turn soon whatever the time-out.
void PlatformWaitForInputOrReadable(std::intptr_t waitable, int timeoutMilliseconds) {
  if (g_idleHook != nullptr) g_idleHook(0);
  if (InputEventsQueued()) return;
  pollfd ready{static_cast<int>(waitable), POLLIN, 0};
  poll(&ready, waitable != -1 ? 1 : 0, timeoutMilliseconds < 0 || timeoutMilliseconds > 1 ? 1 : timeoutMilliseconds);
}

// The main loop's wait: the script acts as the user whose actions reach the
// handlers, as in WaitEvent. Nothing here blocks, so the main loop looks at
// the link and the time again at once.
int PlatformWaitForEvent(std::intptr_t, int) {
  return PlatformProcessInput(1);
}

void PlatformOpenWebPage(const char* address) {
  g_openedPages.emplace_back(address);
}

void PlatformShowMessageBox(const char* title, const char* text) {
  g_messages.push_back(NullMessage{title, text});
  if (g_messageHook != nullptr) g_messageHook(title, text);
}

// ---- the user's side ------------------------------------------------------

void NullClick(int control) {
  if (EnabledRow(control, ControlKind::MenuCheck) != nullptr) {
    InputMenuCheckToggle(control);
  } else if (EnabledRow(control, ControlKind::Option) != nullptr) {
    InputOptionClick(control);
  } else if (EnabledRow(control, ControlKind::PushButton) != nullptr) {
    InputControlAction(control, kActionClicked);
  }
}

void NullSelectListEntry(int control, int index) {
  const ControlRow* row = EnabledRow(control, ControlKind::List);
  if (row == nullptr || index < 0 || index >= PlatformListCount(*row)) return;
  Record(*row).value = index;
  InputControlAction(control, kActionSelectionChanged);
}

void NullListMouse(int control, int index, int dx, int dy) {
  const ControlRow* row = EnabledRow(control, ControlKind::List);
  if (row == nullptr) return;
  constexpr int kEntryHeight = 16;
  constexpr int kDragBox = 4;
  const int onEntry = index >= 0 && index < PlatformListCount(*row) ? 1 : 0;
  const int x = 20;
  const int y = index * kEntryHeight + kEntryHeight / 2;
  InputListPress(control, onEntry, x, y);
  if (onEntry) NullSelectListEntry(control, index);
  InputListMove(control, 1, x + dx, y + dy, kDragBox, kDragBox);
  InputListRelease(control);
}

void NullSpinStep(int control, int delta) {
  if (EnabledRow(control, ControlKind::Spin) != nullptr) InputSpinStep(control, delta);
}

void NullTypeText(int control, const char* text) {
  const ControlRow* row = EnabledRow(control, ControlKind::Spin);
  if (row == nullptr) return;
  Record(*row).text = text != nullptr ? text : "";
  InputControlAction(control, kActionTextChanged);
}

void NullRequestClose() {
  if (g_windowExists) InputCloseRequest();
}

void NullPressEscape() {
  if (g_windowExists) InputEscapeKey();
}

void NullTab(int direction) {
  const ControlRow* from = FindControlRow(g_focused);
  const ControlRow* to = NextTabStop(from != nullptr ? ControlRowIndex(*from) : -1, direction);
  if (to != nullptr) g_focused = to->number;
}

void NullFocus(int control) {
  const ControlRow* row = FindControlRow(control);
  if (row != nullptr && PlatformCanFocus(*row)) g_focused = control;
}

int NullFocusedControl() {
  return g_focused;
}

std::string NullControlText(int control) {
  return GetControlText(control);
}

std::int64_t NullControlValue(int control) {
  return GetControlValue(control);
}

int NullControlEnabled(int control) {
  const NullControl* c = Find(control);
  return (c != nullptr && c->enabled) ? 1 : 0;
}

int NullControlExists(int control) {
  return Find(control) != nullptr ? 1 : 0;
}

int NullListEntryCount(int control) {
  const NullControl* c = Find(control);
  return c == nullptr ? 0 : static_cast<int>(c->entries.size());
}

std::string NullListEntry(int control, int index) {
  const NullControl* c = Find(control);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->entries.size())) return "";
  return c->entries[static_cast<std::size_t>(index)];
}

int NullWindowExists() {
  return g_windowExists ? 1 : 0;
}

std::vector<NullMessage>& NullMessages() {
  return g_messages;
}

std::vector<std::string>& NullOpenedPages() {
  return g_openedPages;
}

void NullSetIdleHook(NullIdleHook hook) {
  g_idleHook = hook;
}

void NullSetMessageHook(NullMessageHook hook) {
  g_messageHook = hook;
}

void NullSetTextHook(NullTextHook hook) {
  g_textHook = hook;
}

void NullResetUi() {
  DestroyMainWindow();
  g_idleHook = nullptr;
  g_messageHook = nullptr;
  g_textHook = nullptr;
  g_messages.clear();
  g_openedPages.clear();
}
