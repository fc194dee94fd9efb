// The control layer's rules, written once for every backend: building the
// window from the table, the operations of ui/controls.h, the option group,
// the spin's range, and event delivery.
#include "ui/control_core.h"

#include <deque>

#include "link/clock.h"
#include "link/fader_table.h"
#include "link/ip_address.h"

namespace {

int g_programChanges = 0;  // > 0 while the program itself changes controls
std::deque<Event> g_events;
void (*g_callbacks[kControlRowCount])() = {};
int g_lastEventControl = 0;
// The state of each check item of the window's menu, kept here as it is set
// and toggled, and read from here. A fade with "Stop When Fader Is Moved"
// asks for it at every step, and each question to a window's menu goes to the
// window system: under Wine, a round trip to the wineserver, every 10 ms.
std::int64_t g_menuChecks[kControlRowCount] = {};

// The row of a control that exists in the window, or null.
const ControlRow* LiveRow(int number) {
  const ControlRow* row = FindControlRow(number);
  return row != nullptr && PlatformControlExists(*row) ? row : nullptr;
}

void QueueEvent(const Event& event) {
  if (!g_events.empty()) {
    const Event& newest = g_events.back();
    if (newest.kind == event.kind && newest.control == event.control && newest.action == event.action) return;
  }
  g_events.push_back(event);
}

Event TakeQueuedEvent() {
  const Event event = g_events.front();
  g_events.pop_front();
  if (event.kind == EventKind::Control) g_lastEventControl = event.control;
  return event;
}

// An option group is a run of option buttons created one after the other.
// Every option of the group, first to last, is cleared, then the given one
// is checked.
void SelectOption(const ControlRow& row) {
  int first = ControlRowIndex(row);
  while (first > 0 && kControlRows[first - 1].kind == ControlKind::Option) --first;
  for (int i = first; i < kControlRowCount && kControlRows[i].kind == ControlKind::Option; ++i) {
    if (PlatformControlExists(kControlRows[i])) PlatformSetValue(kControlRows[i], 0);
  }
  PlatformSetValue(row, 1);
}

std::int64_t ClampToSpinRange(std::int64_t value) {
  if (value < kSpinMinimum) return kSpinMinimum;
  if (value > kSpinMaximum) return kSpinMaximum;
  return value;
}


// Adds entries at the end, or takes them from the end, until the list holds
// `length`. Main is selected first if the selected entry is about to go, so
// the list never stands without a selection.
void SetChannelListLength(const ControlRow& list, int length) {
  ProgramChange change;
  if (PlatformGetValue(list) >= length) PlatformSetValue(list, 0);
  for (int count = PlatformListCount(list); count > length; --count) PlatformDeleteListEntry(list, count - 1);
  for (int count = PlatformListCount(list); count < length; ++count) {
    char text[kLongestFaderLabel + 1];
    FaderLabel(count, text, sizeof text);
    PlatformInsertListEntry(list, count, text);
  }
}

void FillChannelList(const ControlRow& list) {
  SetChannelListLength(list, kMainAndChannelCount);
  SetControlValue(ChannelList, 0);
}

// What follows a check item of the menu once it has turned over, by the user
// or by the program.
void FollowMenuCheck(const ControlRow& row) {
  if (row.number != ShowAllFadersOption) return;
  const ControlRow* list = LiveRow(ChannelList);
  if (list != nullptr) SetChannelListLength(*list, PlatformGetValue(row) != 0 ? kFaderCount : kMainAndChannelCount);
}

}  // namespace

const ControlRow* FindControlRow(int number) {
  for (const ControlRow& row : kControlRows) {
    if (row.number == number) return &row;
  }
  return nullptr;
}

int ControlRowIndex(const ControlRow& row) {
  return static_cast<int>(&row - kControlRows);
}

const ControlRow* LabelOfControl(const ControlRow& row) {
  const int index = ControlRowIndex(row);
  return row.kind != ControlKind::Label && index > 0 && kControlRows[index - 1].kind == ControlKind::Label
             ? &kControlRows[index - 1]
             : nullptr;
}

ProgramChange::ProgramChange() {
  ++g_programChanges;
}

ProgramChange::~ProgramChange() {
  --g_programChanges;
}

// ---- the user's actions, as the backends report them ---------------------

void InputControlAction(int control, int action) {
  const ControlRow* row = FindControlRow(control);
  if (row == nullptr) return;
  // A toolkit whose menu checks the item by itself (Qt) reports it here,
  // after the fact.
  if (row->kind == ControlKind::MenuCheck && PlatformControlExists(*row)) {
    g_menuChecks[ControlRowIndex(*row)] = PlatformGetValue(*row);
  }
  if (g_programChanges > 0) return;
  // The list has its new entries before anything hears of the item.
  if (row->kind == ControlKind::MenuCheck) FollowMenuCheck(*row);
  // The procedure runs at the moment of the action, also when the event then
  // merges into an equal queued one: a drain runs ResetOffHandler for every
  // click made before it ends.
  void (*callback)() = g_callbacks[ControlRowIndex(*row)];
  if (callback != nullptr) callback();
  QueueEvent(Event{EventKind::Control, control, action});
}

void InputCloseRequest() {
  QueueEvent(Event{EventKind::Close, MainWindow, 0});
}

void InputEscapeKey() {
  for (const ControlRow& row : kControlRows) {
    if (!row.escapeKey || !PlatformControlExists(row) || !PlatformCanFocus(row)) continue;
    InputControlAction(row.number, kActionClicked);
  }
}

void InputOptionClick(int control) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr || row->kind != ControlKind::Option) return;
  SelectOption(*row);
  InputControlAction(control, kActionClicked);
}

void InputMenuCheckToggle(int control) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr || row->kind != ControlKind::MenuCheck) return;
  std::int64_t& checked = g_menuChecks[ControlRowIndex(*row)];
  checked = checked != 0 ? 0 : 1;
  PlatformSetValue(*row, checked);
  InputControlAction(control, kActionClicked);
}

namespace {
struct ListPress {
  int control = 0;
  int onEntry = 0;       // the left button went down on an entry and is still down
  int dragReported = 0;  // this press already reported the start of a drag
  int x = 0;
  int y = 0;
};
ListPress g_listPress;
}  // namespace

void InputListPress(int control, int onEntry, int x, int y) {
  g_listPress = ListPress{control, onEntry, 0, x, y};
}

void InputListMove(int control, int leftButtonDown, int x, int y, int dragWidth, int dragHeight) {
  if (control != g_listPress.control || !g_listPress.onEntry || g_listPress.dragReported || !leftButtonDown) return;
  const int dx = x > g_listPress.x ? x - g_listPress.x : g_listPress.x - x;
  const int dy = y > g_listPress.y ? y - g_listPress.y : g_listPress.y - y;
  if (dx > dragWidth / 2 || dy > dragHeight / 2) {
    g_listPress.dragReported = 1;
    InputControlAction(control, kActionListDrag);
  }
}

void InputListRelease(int control) {
  const int pressed = control == g_listPress.control && g_listPress.onEntry;
  g_listPress = ListPress{};
  if (pressed) InputControlAction(control, kActionListButtonUp);
}

void InputSpinStep(int control, int delta) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr || row->kind != ControlKind::Spin) return;
  PlatformSetValue(*row, ClampToSpinRange(PlatformGetValue(*row) + (delta > 0 ? 1 : -1)));
  // A step stopped at the end of the range is reported all the same.
  InputControlAction(control, kActionArrowStep);
}

int InputEventsQueued() {
  return g_events.empty() ? 0 : 1;
}

int CentredPosition(int outerSize, int screenSize) {
  return (screenSize - (outerSize < screenSize ? outerSize : screenSize)) / 2;
}

const ControlRow* NextTabStop(int fromIndex, int direction) {
  const int step = direction > 0 ? 1 : -1;
  int index =
      fromIndex < 0 ? (step > 0 ? 0 : kControlRowCount - 1) : (fromIndex + step + kControlRowCount) % kControlRowCount;
  for (int tries = 0; tries < kControlRowCount; ++tries) {
    const ControlRow& row = kControlRows[index];
    if (row.tabStop && PlatformCanFocus(row)) return &row;
    index = (index + step + kControlRowCount) % kControlRowCount;
  }
  return nullptr;
}

// ---- ui/controls.h --------------------------------------------------------

int BuildMainWindow() {
  if (PlatformWindowExists()) return 1;
  ProgramChange change;
  if (!PlatformCreateWindow(kWindowTitle, kClientWidth, kClientHeight)) return 0;
  for (const ControlRow& row : kControlRows) {
    PlatformCreateControl(row);
    if (!PlatformControlExists(row)) continue;
    // Disabled after creation: the Win32 address field greys its four edit
    // fields only when it is disabled as a window.
    if (row.startsDisabled) PlatformEnable(row, 0);
    if (row.startsSelected) PlatformSetValue(row, 1);
    if (row.kind == ControlKind::MenuCheck) g_menuChecks[ControlRowIndex(row)] = PlatformGetValue(row);
    if (row.kind == ControlKind::List) {
      FillChannelList(row);
      PlatformListFilled(row);
    }
  }
  return 1;
}

void DestroyMainWindow() {
  if (!PlatformWindowExists()) return;
  {
    ProgramChange change;
    PlatformDestroyWindow();
  }
  g_events.clear();
  g_listPress = ListPress{};
  for (auto& callback : g_callbacks) callback = nullptr;
  for (auto& checked : g_menuChecks) checked = 0;
  g_lastEventControl = 0;
}

void SetControlText(int control, const char* text) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr) return;
  ProgramChange change;
  PlatformSetText(*row, text != nullptr ? text : "");
}

std::string GetControlText(int control) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr) return std::string();
  if (row->kind == ControlKind::IpField) {
    int octets[4];
    return PlatformGetOctets(*row, octets) ? FormatIpAddress(PackIpAddress(octets[0], octets[1], octets[2], octets[3]))
                                           : std::string();
  }
  return PlatformGetText(*row);
}

void SetControlValue(int control, std::int64_t value) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr) return;
  ProgramChange change;
  switch (row->kind) {
    case ControlKind::Option:
      if (value != 0) {
        SelectOption(*row);
      } else {
        PlatformSetValue(*row, 0);
      }
      break;
    case ControlKind::List:
      if (value >= 0 && value < PlatformListCount(*row)) PlatformSetValue(*row, value);
      break;
    case ControlKind::Spin:
      PlatformSetValue(*row, ClampToSpinRange(value));
      break;
    case ControlKind::IpField: {
      int octets[4];
      for (int i = 0; i < 4; ++i) octets[i] = IpAddressOctet(static_cast<std::uint32_t>(value), i);
      PlatformSetOctets(*row, octets);
      break;
    }
    case ControlKind::MenuCheck:
      g_menuChecks[ControlRowIndex(*row)] = value != 0 ? 1 : 0;
      PlatformSetValue(*row, g_menuChecks[ControlRowIndex(*row)]);
      FollowMenuCheck(*row);
      break;
    default:
      break;
  }
}

std::int64_t GetControlValue(int control) {
  // A check item is answered from the copy, without asking the toolkit
  // whether it exists either: a missing one was never set, so it reads 0.
  const ControlRow* known = FindControlRow(control);
  if (known != nullptr && known->kind == ControlKind::MenuCheck) return g_menuChecks[ControlRowIndex(*known)];
  const ControlRow* row = LiveRow(control);
  if (row == nullptr) return 0;
  switch (row->kind) {
    case ControlKind::Option:
    case ControlKind::List:
    case ControlKind::Spin:
      return PlatformGetValue(*row);
    case ControlKind::IpField: {
      int octets[4];
      return PlatformGetOctets(*row, octets) ? PackIpAddress(octets[0], octets[1], octets[2], octets[3]) : 0;
    }
    default:
      return 0;
  }
}

void DisableControl(int control, int disabled) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr) return;
  ProgramChange change;
  PlatformEnable(*row, disabled ? 0 : 1);
  // The entries may change only while the user can pick one: a fade cycle
  // disables the list, and a list that changed under it would leave the
  // cycle's fader no longer the one the list shows.
  const ControlRow* option = control == ChannelList ? LiveRow(ShowAllFadersOption) : nullptr;
  if (option != nullptr) PlatformEnable(*option, disabled ? 0 : 1);
}

void AddListEntry(int control, int position, const char* text) {
  const ControlRow* row = LiveRow(control);
  if (row == nullptr || row->kind != ControlKind::List) return;
  if (position < 0 || position > PlatformListCount(*row)) return;
  ProgramChange change;
  PlatformInsertListEntry(*row, position, text != nullptr ? text : "");
}

void BindControlCallback(int control, void (*procedure)()) {
  const ControlRow* row = LiveRow(control);
  if (row != nullptr) g_callbacks[ControlRowIndex(*row)] = procedure;
}

Event WaitEvent() {
  if (!g_events.empty()) return TakeQueuedEvent();
  PlatformProcessInput(1);
  return Event{EventKind::Other, 0, 0};
}

Event WaitEventOrReadable(std::intptr_t waitable, int timeoutMilliseconds) {
  if (!g_events.empty()) return TakeQueuedEvent();
  if (!PlatformWaitForEvent(waitable, timeoutMilliseconds)) return Event{EventKind::None, 0, 0};
  return Event{EventKind::Other, 0, 0};
}

Event PollEvent() {
  if (!g_events.empty()) return TakeQueuedEvent();
  if (!PlatformProcessInput(0)) return Event{EventKind::None, 0, 0};
  return Event{EventKind::Other, 0, 0};
}

int EventControl() {
  return g_lastEventControl;
}

void Drain() {
  while (PollEvent().kind != EventKind::None) {
  }
}

void FlushEvents() {
  Drain();
  SleepMilliseconds(1);
  Drain();
}

void WaitForInputOrReadable(std::intptr_t waitable, int timeoutMilliseconds) {
  if (!g_events.empty()) return;
  PlatformWaitForInputOrReadable(waitable, timeoutMilliseconds);
}

void OpenWebPage(const char* address) {
  PlatformOpenWebPage(address != nullptr ? address : "");
}

void ShowMessageBox(const char* title, const char* text) {
  PlatformShowMessageBox(title != nullptr ? title : "", text != nullptr ? text : "");
}
