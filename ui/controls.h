// The control layer: the main window, its controls addressed by number, event
// delivery and message boxes. One neutral header. control_core.cpp holds its
// rules for every backend; win32_window.cpp draws real Win32 controls,
// qt_window.cpp Qt 6 widgets for the Linux program, and null_window.cpp keeps
// them as plain data for headless runs.
#pragma once

#include <cstdint>
#include <string>

enum ControlNumber : int {
  MainWindow = 0,
  TooSlowOption = 100,
  SlowOption = 101,
  NormalOption = 102,
  FastOption = 103,
  ChannelList = 162,
  CaptureButton = 210,
  ResetOffButton = 230,
  UpdatesButton = 330,
  MinimumSpin = 350,
  EditIpButton = 400,
  MainStatusBar = 456,
  StopWhenMovedOption = 500,  // a check item of the window's menu, not in the client area
  ShowAllFadersOption = 501,  // the same; ChannelList's entries follow it
  MixerIpField = 999,
};

// The four speed options, in creation order: one option group. Each sets the
// fade's step, the amount by which every fader-level message lowers the
// level; the first is selected at start-up and after every fade.
struct SpeedOption {
  int control;
  float step;
  const char* caption;
};
inline constexpr SpeedOption kSpeedOptions[] = {
    {TooSlowOption, 0.0005f, "Too Slow"},
    {SlowOption, 0.0015f, "Slow"},
    {NormalOption, 0.003f, "Normal"},
    {FastOption, 0.006f, "Fast"},
};

// The window's texts that more than the control table uses: the capture
// button's two captions (the fade cycle switches them), the check items'
// (off whenever the window is built; nothing keeps them), the title and the
// status bar's credits.
inline constexpr const char* kCaptureIdleText = "Get Main Position Until Touch";
inline constexpr const char* kCaptureBusyText = "Touch Selected Downwards";
inline constexpr const char* kStopWhenMovedText = "Stop When Fader Is Moved";
inline constexpr const char* kShowAllFadersText = "Show All Faders";
inline constexpr const char* kWindowTitle = "Quorlen -Tavisk - Beta 2 - For Behringer X32";
inline constexpr const char* kMakerWebAddress = "https://quorlen.example.org/";
inline constexpr const char* kCreditsLine =
    "Tavisk Orrel  (Code)     -     Mira Quennel  (Beta Test)     -     https://quorlen.example.org/";
inline constexpr int kClientWidth = 580;
inline constexpr int kClientHeight = 165;

enum class EventKind : int {
  None = 0,     // PollEvent found nothing
  Close = 1,    // the user asked to close the main window
  Control = 2,  // a control reported a user action
  Other = 3,    // input was processed; whatever it queued comes with the next calls
};

struct Event {
  EventKind kind = EventKind::None;
  int control = 0;  // the reporting control's number, for Control events
  int action = 0;   // the toolkit's notification code; equal events merge in the queue
};

// Builds MainWindow and its controls in creation order, fills ChannelList with
// its 33 entries (entry 0 selected) and sets the status bar's credits line.
// While ShowAllFadersOption is checked, ChannelList holds every fader of the
// fader table (80 entries); checking it off takes the extra entries away
// again and, if one of them was selected, selects "Main". Disabling
// ChannelList disables ShowAllFadersOption too, so the list never changes
// while a fade cycle holds it.
// Returns 1 when the window exists.
int BuildMainWindow();
// Destroys the window and its controls.
void DestroyMainWindow();

// Operations on a number that names no control do nothing and return 0 / "".
// Texts are UTF-8. None of these reports an event.
void SetControlText(int control, const char* text);
std::string GetControlText(int control);
void SetControlValue(int control, std::int64_t value);
std::int64_t GetControlValue(int control);
void DisableControl(int control, int disabled);
void AddListEntry(int control, int position, const char* text);
// The procedure runs synchronously, inside the input processing that reports
// an action of the control, before the event is queued.
void BindControlCallback(int control, void (*procedure)());

// The next event; waits without a time-out.
Event WaitEvent();
// The next event, as WaitEvent, but the wait also ends when the waitable (as
// for WaitForInputOrReadable) is ready to read or timeoutMilliseconds have
// passed (-1: no limit); the event's kind is then None, or Other.
Event WaitEventOrReadable(std::intptr_t waitable, int timeoutMilliseconds);
// The next event without waiting; kind None when nothing is pending.
Event PollEvent();
// The control number of the control event most recently returned.
int EventControl();

// Takes and discards every pending window event without waiting; the bound
// callbacks still run for the clicks processed meanwhile.
void Drain();
// Drain, sleep 1 ms, drain: what arrives within the millisecond is taken too.
void FlushEvents();

// Blocks, without taking any events, until window input is pending, the
// waitable is ready to read (a socket descriptor on POSIX, an event handle on
// Windows; -1 for none), or timeoutMilliseconds have passed (-1: no limit).
// Returns at once when events are queued. A toolkit that can't tell input
// apart without processing it (Qt) processes it here: its events queue and
// bound callbacks run, as in PollEvent.
void WaitForInputOrReadable(std::intptr_t waitable, int timeoutMilliseconds);

// Asks the desktop to open a web address with its default handler.
void OpenWebPage(const char* address);

// A modal box with a title, a text (lines split by lone CR), one OK button and
// no icon. Returns when the user dismisses it.
void ShowMessageBox(const char* title, const char* text);
