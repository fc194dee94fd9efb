// Headless backend of the control layer: tests queue user actions and read
// back every control's state. Only null_window.cpp implements this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// User actions. Each behaves as the real control would: it changes the control
// (unless disabled), runs the bound callback and queues the event.
// Actions on a disabled control do nothing.
void NullClick(int control);                       // option or push button, the menu's check item
void NullSelectListEntry(int control, int index);  // ChannelList
// ChannelList with the mouse: the left button pressed on entry INDEX (which
// selects it), moved by (dx, dy) while held, and released. Entries are 16
// pixels high and the drag box is Windows' default, 4 x 4.
void NullListMouse(int control, int index, int dx, int dy);
void NullSpinStep(int control, int delta);         // MinimumSpin arrow, +1 / -1
void NullTypeText(int control, const char* text);  // MinimumSpin text box
void NullRequestClose();
// Escape, pressed in the window: clicks Reset Off while that is enabled.
void NullPressEscape();
// Keyboard focus: Tab (1) or Shift+Tab (-1) moves it by the shared Tab order;
// NullFocus gives it to a control, as a click would.
void NullTab(int direction);
void NullFocus(int control);
int NullFocusedControl();  // -1 when no control has it

// State of a control.
std::string NullControlText(int control);
std::int64_t NullControlValue(int control);
int NullControlEnabled(int control);  // 1 enabled, 0 disabled
int NullControlExists(int control);
int NullListEntryCount(int control);
std::string NullListEntry(int control, int index);
int NullWindowExists();

// Message boxes shown so far, in order.
struct NullMessage {
  std::string title;
  std::string text;
};
std::vector<NullMessage>& NullMessages();
// Web addresses handed to OpenWebPage.
std::vector<std::string>& NullOpenedPages();

// Called whenever WaitEvent or PollEvent finds the queue empty, before it
// answers; a test uses it to act as the user (and as the console) at the
// moment the program looks for input. waiting is 1 when the program waits in
// the main loop (WaitEvent), 0 inside a drain (PollEvent), whose events the
// program discards.
using NullIdleHook = void (*)(int waiting);
void NullSetIdleHook(NullIdleHook hook);
// Called when the program sets a control's text, after it is recorded; a
// test uses it to make the drawing of a text take time.
using NullTextHook = void (*)(int control, const char* text);
void NullSetTextHook(NullTextHook hook);
// Called inside ShowMessageBox, after the message has been recorded.
using NullMessageHook = void (*)(const char* title, const char* text);
void NullSetMessageHook(NullMessageHook hook);

// Back to the state before BuildMainWindow: no window, no queue, no hooks.
void NullResetUi();
