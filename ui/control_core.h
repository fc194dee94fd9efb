// The platform-neutral half of the control layer, shared by every backend.
//
// control_core.cpp implements ui/controls.h once: the control table, the
// creation order, the option group, the spin's range, event delivery (one
// queue, merging, bound callbacks, nothing reported for the program's own
// changes) and Tab order. A backend (win32_window.cpp, qt_window.cpp,
// null_window.cpp) only draws controls and translates what its toolkit
// reports: it implements the Platform* functions below and calls the Input*
// functions when the user acts. Only ui/ and the control layer's own tests
// and tools include this header.
#pragma once

#include <cstdint>
#include <string>

#include "ui/controls.h"

// MenuCheck: a check item of the window's menu (the system menu on Windows,
// the window's context menu in Qt), outside the client area.
enum class ControlKind : int { Option, PushButton, Label, List, StatusBar, IpField, Spin, MenuCheck };

// One row of the window's layout. Coordinates are client-area pixels at 96 DPI.
struct ControlRow {
  int number;
  ControlKind kind;
  const char* text;  // caption, label, status bar line or the spin's starting text
  int x, y, width, height;
  int startsDisabled;
  int startsSelected;  // the option selected at start-up
  int tabStop;         // Tab and Shift+Tab stop here while it is enabled and visible
  int escapeKey;       // Escape anywhere in the window clicks it while it is enabled
};

inline constexpr int kChannelListLabel = 1001;  // the labels' numbers; nothing refers to them
inline constexpr int kMixerIpLabel = 1002;
inline constexpr int kMinimumLabel = 1003;

// The window's controls in creation order: the layout itself. The speed
// options come first, in the speed table's order. ChannelList's
// entries are added right after the list, and the status bar places itself
// along the bottom edge of the client area (its rectangle here is empty).
inline constexpr ControlRow kControlRows[] = {
    {kSpeedOptions[0].control, ControlKind::Option, kSpeedOptions[0].caption, 18, 22, 62, 25, 0, 1, 1, 0},
    {kSpeedOptions[1].control, ControlKind::Option, kSpeedOptions[1].caption, 18, 46, 62, 25, 0, 0, 1, 0},
    {kSpeedOptions[2].control, ControlKind::Option, kSpeedOptions[2].caption, 18, 68, 62, 25, 0, 0, 1, 0},
    {kSpeedOptions[3].control, ControlKind::Option, kSpeedOptions[3].caption, 18, 90, 62, 25, 0, 0, 1, 0},
    {CaptureButton, ControlKind::PushButton, kCaptureIdleText, 95, 10, 155, 35, 0, 0, 1, 0},
    {ResetOffButton, ControlKind::PushButton, "Reset Off", 95, 52, 155, 35, 1, 0, 1, 1},
    {UpdatesButton, ControlKind::PushButton, "Updates", 95, 92, 155, 35, 0, 0, 1, 0},
    {kChannelListLabel, ControlKind::Label, "Pick Out One Channel", 426, 16, 130, 20, 0, 0, 0, 0},
    {ChannelList, ControlKind::List, "", 426, 32, 140, 94, 0, 0, 1, 0},
    {MainStatusBar, ControlKind::StatusBar, kCreditsLine, 0, 0, 0, 0, 0, 0, 0, 0},
    {EditIpButton, ControlKind::PushButton, "Edit IP", 280, 15, 130, 25, 0, 0, 1, 0},
    {kMixerIpLabel, ControlKind::Label, "IP", 280, 45, 130, 20, 0, 0, 0, 0},
    {MixerIpField, ControlKind::IpField, "", 280, 60, 130, 21, 1, 0, 1, 0},
    {kMinimumLabel, ControlKind::Label, "Fade to (100 --> 0)", 280, 90, 130, 20, 0, 0, 0, 0},
    {MinimumSpin, ControlKind::Spin, "0", 280, 105, 130, 21, 0, 0, 1, 0},
    {StopWhenMovedOption, ControlKind::MenuCheck, kStopWhenMovedText, 0, 0, 0, 0, 0, 0, 0, 0},
    {ShowAllFadersOption, ControlKind::MenuCheck, kShowAllFadersText, 0, 0, 0, 0, 0, 0, 0, 0},
};
inline constexpr int kControlRowCount = static_cast<int>(sizeof kControlRows / sizeof kControlRows[0]);

// The row of a control number, or null when the number names no control.
const ControlRow* FindControlRow(int number);
// The label that names a control: the label created right before it, or null.
// Win32 takes a control's accessible name from the label before it by itself;
// other toolkits are told.
const ControlRow* LabelOfControl(const ControlRow& row);
// The row's position in kControlRows.
int ControlRowIndex(const ControlRow& row);

inline constexpr int kSpinMinimum = 0;
inline constexpr int kSpinMaximum = 100;
inline constexpr int kSpinArrowWidth = 18;  // the arrow pair at the spin's right edge

// The arrow pair's width for a spin `height` pixels high: kSpinArrowWidth
// (scaled by the caller as it scales the height), or half the height when
// that is more. The pair stands at the rectangle's right edge; the text box
// takes the rest and reaches a border's width under it.
inline constexpr int SpinArrowWidth(int height, int arrowWidth = kSpinArrowWidth) {
  return arrowWidth > height / 2 ? arrowWidth : height / 2;
}
inline constexpr int kStatusBarMinimumHeight = 18;

// The actions a control reports. The values are the Win32 notification and
// message codes, which the Win32 backend passes on as they come, so that the
// events of every backend compare alike when equal events merge.
enum ControlAction : int {
  kActionClicked = 0,                 // BN_CLICKED: option and push buttons
  kActionSelectionChanged = 1,        // LBN_SELCHANGE
  kActionListDoubleClick = 2,         // LBN_DBLCLK
  kActionButtonDoubleClick = 5,       // BN_DOUBLECLICKED
  kActionArrowStep = 0x0115,          // WM_VSCROLL from the spin's arrow pair
  kActionListDrag = 0x0200,           // WM_MOUSEMOVE: a drag started from an entry
  kActionListButtonUp = 0x0202,       // WM_LBUTTONUP after a press on an entry
  kActionListRightButtonUp = 0x0205,  // WM_RBUTTONUP over the list
  kActionTextChanged = 0x0300,        // EN_CHANGE: typing in the spin's text box
};

// While one of these lives, the program itself is changing controls: nothing
// the toolkit notifies meanwhile is reported. Backends hold one around focus
// moves of their own, too.
struct ProgramChange {
  ProgramChange();
  ~ProgramChange();
  ProgramChange(const ProgramChange&) = delete;
  ProgramChange& operator=(const ProgramChange&) = delete;
};

// ---- called by backends when the user acts ------------------------------

// A control reported an action: its bound procedure runs now, then the event
// joins the queue unless it equals the newest one queued. Nothing happens
// while the program is changing a control.
void InputControlAction(int control, int action);
// The user asked to close the main window.
void InputCloseRequest();
// Escape, pressed anywhere in the window: what a click on the escapeKey row's
// button reports, while the user could click it; nothing while it is
// disabled. Backends take the key before any control sees it.
void InputEscapeKey();
// The user clicked an option: it alone of its group is selected, then reported.
// For toolkits whose option buttons don't do this by themselves.
void InputOptionClick(int control);
// The user chose the menu's check item: it turns over, then reports. For
// toolkits whose menus don't check the item by themselves.
void InputMenuCheckToggle(int control);
// One step of the spin's arrows (+1 or -1), kept in range, then reported.
// For toolkits whose arrows don't keep the value by themselves.
void InputSpinStep(int control, int delta);
// The mouse on ChannelList, in its pixels. A press of the left button, on an
// entry or not; a move, which reports the start of a drag once per press on
// an entry when the pointer leaves a box of the platform's drag size centred
// on the press; and the release, which reports a press on an entry ending.
void InputListPress(int control, int onEntry, int x, int y);
void InputListMove(int control, int leftButtonDown, int x, int y, int dragWidth, int dragHeight);
void InputListRelease(int control);
// 1 when events wait in the queue.
int InputEventsQueued();
// Where a window of that outer size (frame included) starts on a screen of
// that size: centred, and at 0 on a screen smaller than the window.
int CentredPosition(int outerSize, int screenSize);
// The control that Tab (direction 1) or Shift+Tab (-1) moves the focus to
// from the control at fromIndex in kControlRows (-1: none has the focus), or
// null when no control can take it.
const ControlRow* NextTabStop(int fromIndex, int direction);

// ---- implemented by each backend -----------------------------------------

// The window with its title and client size, centred and shown. 1 on success.
int PlatformCreateWindow(const char* title, int clientWidth, int clientHeight);
void PlatformDestroyWindow();
int PlatformWindowExists();
// Creates a control in its starting state (enabled; the core then disables it
// if the row says so). A failure leaves the control missing.
void PlatformCreateControl(const ControlRow& row);
int PlatformControlExists(const ControlRow& row);

void PlatformSetText(const ControlRow& row, const char* text);
std::string PlatformGetText(const ControlRow& row);
// Option: 1 checks this option alone, 0 clears it (the core handles the
// group). Menu check item: 1 checks it, 0 clears it. List: selects that entry.
// Spin: the value (already in range).
void PlatformSetValue(const ControlRow& row, std::int64_t value);
// Option and menu check item: 1 when checked. List: the selected entry. Spin: the value.
std::int64_t PlatformGetValue(const ControlRow& row);
// The address field's four numbers, octet 1 first: shows them; reads them
// back, returning 0 while the field is blank.
void PlatformSetOctets(const ControlRow& row, const int octets[4]);
int PlatformGetOctets(const ControlRow& row, int octets[4]);
void PlatformEnable(const ControlRow& row, int enabled);
int PlatformListCount(const ControlRow& row);
void PlatformInsertListEntry(const ControlRow& row, int position, const char* text);
void PlatformDeleteListEntry(const ControlRow& row, int position);
// The list's starting entries are in: BuildMainWindow fills a list right
// after creating it. A backend that holds the list's drawing back while they
// go in draws it now.
void PlatformListFilled(const ControlRow& row);
// 1 when the control can take the keyboard focus now: it exists, is enabled
// and visible.
int PlatformCanFocus(const ControlRow& row);

// Lets the toolkit process pending input: one message where it can tell
// messages apart, else whatever is pending. With wait, blocks until there is
// some. Returns 1 when something was processed, 0 when nothing was pending.
int PlatformProcessInput(int wait);

// Blocks until input is pending, the waitable is ready or the time is up
// (see WaitForInputOrReadable).
void PlatformWaitForInputOrReadable(std::intptr_t waitable, int timeoutMilliseconds);
// The same wait for the main loop, followed by the processing of what input
// came, as PlatformProcessInput. Returns 1 when something was processed.
int PlatformWaitForEvent(std::intptr_t waitable, int timeoutMilliseconds);

void PlatformOpenWebPage(const char* address);
void PlatformShowMessageBox(const char* title, const char* text);
