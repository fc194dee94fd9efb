// Headless backend of the control layer. The controls are plain records; the
// user's actions come from the Null* functions that tests (and, later, other
// front ends' tests) call. Event delivery follows the same rules as the real
// window: one FIFO queue, merging of an event equal to the newest one queued,
// callbacks run at the moment of the action, nothing reported for the
// program's own changes.
#include "ui/controls.h"
#include "ui/null_ui.h"

#include <algorithm>
#include <deque>
#include <map>

namespace {

enum class Kind { Option, PushButton, Label, List, IpField, Spin, StatusBar };

struct NullControl {
  Kind kind = Kind::Label;
  std::string text;
  std::int64_t value = 0;
  bool enabled = true;
  std::vector<std::string> entries;
  void (*callback)() = nullptr;
};

// Notification codes, as the Win32 controls send them, so that events of the
// two backends compare alike.
constexpr int kClicked = 0;           // BN_CLICKED
constexpr int kSelectionChanged = 1;  // LBN_SELCHANGE
constexpr int kArrowStep = 0x0114;    // WM_VSCROLL from the arrow pair
constexpr int kTextChanged = 0x0300;  // EN_CHANGE

std::map<int, NullControl> g_controls;
std::deque<Event> g_queue;
int g_eventControl = 0;
bool g_windowExists = false;
NullIdleHook g_idleHook = nullptr;
NullMessageHook g_messageHook = nullptr;
std::vector<NullMessage> g_messages;
std::vector<std::string> g_openedPages;

struct ControlRow {
  int number;
  Kind kind;
  const char* text;
};

// Creation order of the real window; the labels take numbers of their own.
constexpr ControlRow kControlTable[] = {
    {TooSlowOption, Kind::Option, "Too Slow"},
    {SlowOption, Kind::Option, "Slow"},
    {NormalOption, Kind::Option, "Normal"},
    {FastOption, Kind::Option, "Fast"},
    {CaptureButton, Kind::PushButton, "Get Main Position Until Touch"},
    {ResetOffButton, Kind::PushButton, "Reset Off"},
    {UpdatesButton, Kind::PushButton, "Updates"},
    {1001, Kind::Label, "Pick Out One Channel"},
    {ChannelList, Kind::List, ""},
    {MainStatusBar, Kind::StatusBar, kCreditsLine},
    {EditIpButton, Kind::PushButton, "Edit IP"},
    {1002, Kind::Label, "IP"},
    {MixerIpField, Kind::IpField, ""},
    {1003, Kind::Label, "Fade to (100 --> 0)"},
    {MinimumSpin, Kind::Spin, ""},
};

NullControl* Find(int control) {
  auto found = g_controls.find(control);
  return found == g_controls.end() ? nullptr : &found->second;
}

// Selects an option and deselects the rest of its group; the speed options
// are the window's one group.
void SelectOption(int control) {
  for (int option : kSpeedOptions) g_controls[option].value = 0;
  g_controls[control].value = 1;
}

void Report(int control, int action) {
  NullControl* c = Find(control);
  if (c != nullptr && c->callback != nullptr) c->callback();
  Event event{EventKind::Control, control, action};
  if (!g_queue.empty()) {
    const Event& newest = g_queue.back();
    if (newest.kind == event.kind && newest.control == event.control && newest.action == event.action) return;
  }
  g_queue.push_back(event);
}

NullControl* EnabledControl(int control) {
  NullControl* c = Find(control);
  return (c != nullptr && c->enabled && g_windowExists) ? c : nullptr;
}

std::string DottedAddress(std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  return std::to_string(v & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string((v >> 16) & 0xFF) +
         "." + std::to_string(v >> 24);
}

}  // namespace

int BuildMainWindow() {
  g_controls.clear();
  g_queue.clear();
  for (const ControlRow& row : kControlTable) {
    NullControl c;
    c.kind = row.kind;
    c.text = row.text;
    g_controls[row.number] = c;
  }
  g_controls[TooSlowOption].value = 1;
  g_controls[ResetOffButton].enabled = false;
  g_controls[MixerIpField].value = -1;  // blank until an address is set
  g_windowExists = true;
  AddListEntry(ChannelList, 0, "Main");
  for (int channel = 1; channel <= 32; ++channel) {
    AddListEntry(ChannelList, channel, ("Ch " + std::to_string(channel)).c_str());
  }
  SetControlValue(ChannelList, 0);
  return 1;
}

void DestroyMainWindow() {
  g_controls.clear();
  g_queue.clear();
  g_windowExists = false;
}

void SetControlText(int control, const char* text) {
  NullControl* c = Find(control);
  if (c == nullptr) return;
  c->text = text != nullptr ? text : "";
}

std::string GetControlText(int control) {
  NullControl* c = Find(control);
  if (c == nullptr) return "";
  if (c->kind == Kind::IpField) return c->value < 0 ? "" : DottedAddress(c->value);
  return c->text;
}

void SetControlValue(int control, std::int64_t value) {
  NullControl* c = Find(control);
  if (c == nullptr) return;
  switch (c->kind) {
    case Kind::Option:
      if (value == 1) {
        SelectOption(control);
      } else {
        c->value = 0;
      }
      break;
    case Kind::List:
      if (value >= 0 && value < static_cast<std::int64_t>(c->entries.size())) c->value = value;
      break;
    case Kind::Spin:
      c->value = std::clamp<std::int64_t>(value, 0, 100);
      break;
    case Kind::IpField:
      c->value = static_cast<std::uint32_t>(value);
      break;
    default:
      c->value = value;
      break;
  }
}

std::int64_t GetControlValue(int control) {
  NullControl* c = Find(control);
  return c == nullptr ? 0 : c->value;
}

void DisableControl(int control, int disabled) {
  NullControl* c = Find(control);
  if (c != nullptr) c->enabled = disabled == 0;
}

void AddListEntry(int control, int position, const char* text) {
  NullControl* c = Find(control);
  if (c == nullptr || c->kind != Kind::List || position < 0 || position > static_cast<int>(c->entries.size())) {
    return;
  }
  c->entries.insert(c->entries.begin() + position, text != nullptr ? text : "");
}

void BindControlCallback(int control, void (*procedure)()) {
  NullControl* c = Find(control);
  if (c != nullptr) c->callback = procedure;
}

Event PollEvent() {
  if (g_queue.empty()) {
    if (g_idleHook != nullptr) g_idleHook(0);
    // Like processing one input message: what it queued comes with the next call.
    return Event{g_queue.empty() ? EventKind::None : EventKind::Other, 0, 0};
  }
  Event event = g_queue.front();
  g_queue.pop_front();
  if (event.kind == EventKind::Control) g_eventControl = event.control;
  return event;
}

Event WaitEvent() {
  if (g_queue.empty()) {
    // Without a script there is no user: a headless run ends as if closed.
    if (g_idleHook == nullptr) return Event{EventKind::Close, 0, 0};
    g_idleHook(1);
    return Event{EventKind::Other, 0, 0};
  }
  return PollEvent();
}

int EventControl() {
  return g_eventControl;
}

void OpenWebPage(const char* address) {
  g_openedPages.emplace_back(address != nullptr ? address : "");
}

void ShowMessageBox(const char* title, const char* text) {
  g_messages.push_back(NullMessage{title != nullptr ? title : "", text != nullptr ? text : ""});
  if (g_messageHook != nullptr) g_messageHook(title, text);
}

// ---- the user's side ------------------------------------------------------

void NullClick(int control) {
  NullControl* c = EnabledControl(control);
  if (c == nullptr || (c->kind != Kind::Option && c->kind != Kind::PushButton)) return;
  if (c->kind == Kind::Option) SelectOption(control);
  Report(control, kClicked);
}

void NullSelectListEntry(int control, int index) {
  NullControl* c = EnabledControl(control);
  if (c == nullptr || c->kind != Kind::List || index < 0 || index >= static_cast<int>(c->entries.size())) return;
  c->value = index;
  Report(control, kSelectionChanged);
}

void NullSpinStep(int control, int delta) {
  NullControl* c = EnabledControl(control);
  if (c == nullptr || c->kind != Kind::Spin) return;
  c->value = std::clamp<std::int64_t>(c->value + (delta > 0 ? 1 : -1), 0, 100);
  Report(control, kArrowStep);
}

void NullTypeText(int control, const char* text) {
  NullControl* c = EnabledControl(control);
  if (c == nullptr || c->kind != Kind::Spin) return;
  c->text = text != nullptr ? text : "";
  Report(control, kTextChanged);
}

void NullRequestClose() {
  if (!g_windowExists) return;
  Event event{EventKind::Close, 0, 0};
  if (!g_queue.empty() && g_queue.back().kind == EventKind::Close) return;
  g_queue.push_back(event);
}

std::string NullControlText(int control) {
  return GetControlText(control);
}
std::int64_t NullControlValue(int control) {
  return GetControlValue(control);
}

int NullControlEnabled(int control) {
  NullControl* c = Find(control);
  return (c != nullptr && c->enabled) ? 1 : 0;
}

int NullControlExists(int control) {
  return Find(control) != nullptr ? 1 : 0;
}

int NullListEntryCount(int control) {
  NullControl* c = Find(control);
  return c == nullptr ? 0 : static_cast<int>(c->entries.size());
}

std::string NullListEntry(int control, int index) {
  NullControl* c = Find(control);
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

void NullResetUi() {
  DestroyMainWindow();
  g_eventControl = 0;
  g_idleHook = nullptr;
  g_messageHook = nullptr;
  g_messages.clear();
  g_openedPages.clear();
}
