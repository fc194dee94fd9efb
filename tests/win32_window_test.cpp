// Builds the real main window in-process (under Wine in CI) and checks what is
// Win32's own with the Win32 API: classes, styles, rectangles, fonts, the
// status bar, the arrow pair, the address field's four fields, and the input
// only Win32 reports (list button releases and drags). The rules every
// backend shares are tests/control_layer_test.cpp's.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <uxtheme.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <map>
#include <string>
#include <vector>

#include "tests/ui_test_support.h"
#include "tests/win32_test_window.h"
#include "ui/controls.h"

namespace {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
  return narrow;
}

std::string WindowText(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return Narrow(buffer);
}

std::string ClassOf(HWND hwnd) {
  wchar_t buffer[64] = {};
  GetClassNameW(hwnd, buffer, 64);
  std::string name = Narrow(buffer);
  std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
  return name;
}

int Dpi() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int S(int pixels) {
  return MulDiv(pixels, Dpi(), 96);
}

RECT ClientRectOf(HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, MainHwnd(), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LPARAM PointOf(const RECT& rect) {
  return MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

class MainWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_NE(MainHwnd(), nullptr);
    WindowTest::SetUp();
  }
};

struct ExpectedControl {
  int number;  // 0: a label, whose number the control layer chooses
  const char* className;
  const char* text;
  int x, y, width, height;
  bool enabled;
};

TEST_F(MainWindowTest, WindowHasItsTitleSizeStyleAndCentredPosition) {
  HWND main = MainHwnd();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(WindowText(main), kWindowTitle);
  EXPECT_TRUE(IsWindowVisible(main));

  LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  RECT client;
  GetClientRect(main, &client);
  EXPECT_EQ(client.right, S(580));
  EXPECT_EQ(client.bottom, S(165));

  RECT frame;
  GetWindowRect(main, &frame);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(frame.left, (screenWidth - std::min(width, screenWidth)) / 2);
  EXPECT_EQ(frame.top, (screenHeight - std::min(height, screenHeight)) / 2);

  EXPECT_EQ(GetClassLongPtrW(main, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
  EXPECT_NE(GetClassLongPtrW(main, GCLP_HICON), 0);
}

TEST_F(MainWindowTest, ControlsComeInCreationOrderWithTheirClassTextRectangleAndState) {
  int overlap = IsAppThemed() ? 1 : 2;
  const ExpectedControl expected[] = {
      {TooSlowOption, "button", "Too Slow", 18, 22, 62, 25, true},
      {SlowOption, "button", "Slow", 18, 46, 62, 25, true},
      {NormalOption, "button", "Normal", 18, 68, 62, 25, true},
      {FastOption, "button", "Fast", 18, 90, 62, 25, true},
      {CaptureButton, "button", "Get Main Position Until Touch", 95, 10, 155, 35, true},
      {ResetOffButton, "button", "Reset Off", 95, 52, 155, 35, false},
      {UpdatesButton, "button", "Updates", 95, 92, 155, 35, true},
      {0, "static", "Pick Out One Channel", 426, 16, 130, 20, true},
      {ChannelList, "listbox", "", 426, 32, 140, 94, true},
      {MainStatusBar, "msctls_statusbar32", nullptr, 0, 0, 0, 0, true},
      {EditIpButton, "button", "Edit IP", 280, 15, 130, 25, true},
      {0, "static", "IP", 280, 45, 130, 20, true},
      {MixerIpField, "sysipaddress32", nullptr, 280, 60, 130, 21, false},
      {0, "static", "Fade to (100 --> 0)", 280, 90, 130, 20, true},
      {MinimumSpin, "edit", "0", 280, 105, 112, 21, true},
      {0, "msctls_updown32", nullptr, 392, 105, 18, 21, true},
  };
  HFONT guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HWND child = GetWindow(MainHwnd(), GW_CHILD);
  for (const ExpectedControl& want : expected) {
    ASSERT_NE(child, nullptr) << want.className;
    SCOPED_TRACE(std::string(want.className) + " " + (want.text ? want.text : ""));
    EXPECT_EQ(ClassOf(child), want.className);
    if (want.number != 0) {
      EXPECT_EQ(GetDlgCtrlID(child), want.number);
    }
    if (want.text != nullptr) {
      EXPECT_EQ(WindowText(child), want.text);
    }
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_EQ(IsWindowEnabled(child) != FALSE, want.enabled);
    if (want.number != MainStatusBar) {
      RECT rect = ClientRectOf(child);
      // The text box reaches under the arrows by the arrows' border.
      int right = want.number == MinimumSpin ? S(392) + overlap : S(want.x + want.width);
      EXPECT_EQ(rect.left, S(want.x));
      EXPECT_EQ(rect.top, S(want.y));
      EXPECT_EQ(rect.right, right);
      EXPECT_EQ(rect.bottom - rect.top, S(want.height));
      // The address field's font is the one its four edit fields use.
      HWND fontHolder = want.number == MixerIpField ? GetWindow(child, GW_CHILD) : child;
      if (std::string(want.className) != "msctls_updown32") {
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(fontHolder, WM_GETFONT, 0, 0)), guiFont);
      }
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  // Starting states that the window is built with.
  EXPECT_EQ(GetControlValue(TooSlowOption), 1);
  EXPECT_EQ(GetControlValue(SlowOption) + GetControlValue(NormalOption) + GetControlValue(FastOption), 0);
  LONG_PTR listStyle = GetWindowLongPtrW(Item(ChannelList), GWL_STYLE);
  EXPECT_TRUE(listStyle & LBS_NOINTEGRALHEIGHT);
  EXPECT_FALSE(listStyle & LBS_SORT);
  EXPECT_TRUE(GetWindowLongPtrW(Item(ChannelList), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_FALSE(GetWindowLongPtrW(Item(CaptureButton), GWL_STYLE) & BS_DEFPUSHBUTTON);
  for (HWND field = GetWindow(Item(MixerIpField), GW_CHILD); field != nullptr; field = GetWindow(field, GW_HWNDNEXT)) {
    EXPECT_FALSE(IsWindowEnabled(field));  // no typing into the disabled address field
  }
}

TEST_F(MainWindowTest, StatusBarRunsAlongTheBottomBelowEveryControl) {
  HWND bar = Item(MainStatusBar);
  ASSERT_NE(bar, nullptr);
  RECT rect = ClientRectOf(bar);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.right, S(580));
  EXPECT_EQ(rect.bottom, S(165));
  EXPECT_GE(rect.top, S(127));
  for (HWND child = GetWindow(MainHwnd(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (child != bar) {
      EXPECT_LE(ClientRectOf(child).bottom, rect.top) << ClassOf(child);
    }
  }
  RECT field;  // the field's drawing area
  SendMessageW(bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&field));
  EXPECT_GE(field.bottom - field.top, S(18));

  int parts[4] = {};
  EXPECT_EQ(SendMessageW(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(parts)), 1);
  EXPECT_EQ(parts[0], -1);
  EXPECT_FALSE(GetWindowLongPtrW(bar, GWL_STYLE) & SBARS_SIZEGRIP);
  wchar_t text[256] = {};
  SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(Narrow(text), std::string("\t") + kCreditsLine);
}

TEST_F(MainWindowTest, SpinArrowsSitAtTheRightOfTheTextBoxAndKeepTheirOwnValue) {
  HWND arrows = FindWindowExW(MainHwnd(), nullptr, UPDOWN_CLASSW, nullptr);
  ASSERT_NE(arrows, nullptr);
  RECT rect = ClientRectOf(arrows);
  EXPECT_EQ(rect.left, S(392));
  EXPECT_EQ(rect.right, S(410));
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(arrows, UDM_GETBUDDY, 0, 0)), Item(MinimumSpin));
  int low = -1, high = -1;
  SendMessageW(arrows, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 100);
  LONG_PTR style = GetWindowLongPtrW(arrows, GWL_STYLE);
  EXPECT_FALSE(style & UDS_SETBUDDYINT);
  EXPECT_TRUE(style & UDS_ARROWKEYS);
  EXPECT_FALSE(style & WS_TABSTOP);
  EXPECT_TRUE(GetWindowLongPtrW(Item(MinimumSpin), GWL_STYLE) & ES_RIGHT);
  // Held down, the arrows step by 1 however long: one acceleration entry.
  UDACCEL accel[4] = {};
  ASSERT_EQ(SendMessageW(arrows, UDM_GETACCEL, 4, reinterpret_cast<LPARAM>(accel)), 1);
  EXPECT_EQ(accel[0].nInc, 1u);

  SetControlValue(MinimumSpin, 42);
  EXPECT_EQ(SendMessageW(arrows, UDM_GETPOS32, 0, 0), 42);
  DisableControl(MinimumSpin, 1);
  EXPECT_FALSE(IsWindowEnabled(Item(MinimumSpin)));
  EXPECT_FALSE(IsWindowEnabled(arrows));
  DisableControl(MinimumSpin, 0);
  EXPECT_TRUE(IsWindowEnabled(Item(MinimumSpin)));
  EXPECT_TRUE(IsWindowEnabled(arrows));
}

TEST_F(MainWindowTest, AddressFieldShowsTheOctetsInItsFourFields) {
  SetControlValue(MixerIpField, 0x1001A8C0);  // the packed value of 192.168.1.16
  std::vector<std::pair<int, std::string>> fields;
  for (HWND edit = GetWindow(Item(MixerIpField), GW_CHILD); edit != nullptr; edit = GetWindow(edit, GW_HWNDNEXT)) {
    fields.push_back({ClientRectOf(edit).left, WindowText(edit)});
  }
  std::sort(fields.begin(), fields.end());
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].second, "192");
  EXPECT_EQ(fields[1].second, "168");
  EXPECT_EQ(fields[2].second, "1");
  EXPECT_EQ(fields[3].second, "16");
}

TEST_F(MainWindowTest, TypingInTheSpinReportsAfterTheInputIsProcessed) {
  HWND edit = Item(MinimumSpin);
  SendMessageW(edit, EM_SETSEL, 1, 1);
  PostMessageW(edit, WM_CHAR, L'5', 1);
  // The call that processes the typing returns another kind of event; the
  // callback has run by then and the control event comes with the next call.
  for (int i = 0; i < 100 && g_calls[MinimumSpin] == 0; ++i) EXPECT_EQ(PollEvent().kind, EventKind::Other);
  EXPECT_EQ(g_calls[MinimumSpin], 1);
  Event typed = PollEvent();
  EXPECT_EQ(typed.kind, EventKind::Control);
  EXPECT_EQ(typed.control, MinimumSpin);
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(GetControlText(MinimumSpin), "05");
  EXPECT_EQ(GetControlValue(MinimumSpin), 0);  // typing never changes the value

  PostMessageW(edit, WM_CHAR, L'\t', 1);  // a tab character never reaches the text box
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(GetControlText(MinimumSpin), "05");
}

// The left button's release and drag are the control-layer contract's; the
// right button's release is Win32's own report.
TEST_F(MainWindowTest, ListReportsRightButtonReleases) {
  HWND list = Item(ChannelList);
  RECT item;
  SendMessageW(list, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&item));
  PostMessageW(list, WM_RBUTTONUP, 0, PointOf(item));
  const std::vector<Event> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].action, WM_RBUTTONUP);
}

// While a box shows, the main window takes no input, whether the box has it
// as its owner (the window in front) or has no owner (another window in front).
TEST_F(MainWindowTest, MessageBoxesKeepTheMainWindowFromInputWithOrWithoutAnOwner) {
  HWND other = CreateWindowExW(0, L"STATIC", L"another window", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100, 50, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  for (HWND front : {MainHwnd(), other}) {
    SetForegroundWindow(front);
    std::atomic<int> mainEnabled{-1};
    std::thread watcher([&mainEnabled] {
      for (int i = 0; i < 500; ++i) {
        HWND box = FindWindowW(L"#32770", L"Quorlen test box");
        if (box != nullptr && IsWindowVisible(box)) {
          mainEnabled = IsWindowEnabled(MainHwnd()) ? 1 : 0;
          PostMessageW(box, WM_COMMAND, IDOK, 0);
          return;
        }
        Sleep(10);
      }
    });
    ShowMessageBox("Quorlen test box", "text");
    watcher.join();
    EXPECT_EQ(mainEnabled, 0) << (front == other ? "without an owner" : "owned by the main window");
    EXPECT_TRUE(IsWindowEnabled(MainHwnd()));
  }
  DestroyWindow(other);
}

std::vector<std::pair<HWND, LONG>> g_nameChanges;

void CALLBACK OnNameChange(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (child == CHILDID_SELF) g_nameChanges.push_back({hwnd, object});
}

// What a screen reader asks oleacc (MSAA) and hears from it. A control without
// a caption of its own is named by the label created right before it, which
// the creation order above keeps; Wine's oleacc reads that label for a text
// box only, so the spin stands for the list and the address field here. A new
// status line is the bar's name change.
TEST_F(MainWindowTest, ScreenReadersHearTheControlsNamesAndEachNewStatusLine) {
  const std::pair<int, const char*> expected[] = {{TooSlowOption, "Too Slow"},
                                                  {CaptureButton, "Get Main Position Until Touch"},
                                                  {MinimumSpin, "Fade to (100 --> 0)"}};
  VARIANT self{};
  self.vt = VT_I4;  // CHILDID_SELF
  for (const auto& [number, text] : expected) {
    IAccessible* accessible = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(Item(number), OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&accessible)),
              S_OK);
    BSTR name = nullptr;
    accessible->get_accName(self, &name);
    EXPECT_EQ(name != nullptr ? Narrow(name) : std::string(), text);
    SysFreeString(name);
    VARIANT role{};
    accessible->get_accRole(self, &role);
    if (number == MinimumSpin) {
      EXPECT_EQ(role.lVal, ROLE_SYSTEM_TEXT);
    }
    accessible->Release();
  }

  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, OnNameChange,
                                       GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  SetControlText(MainStatusBar, "Touch Ch 5 on the console");
  TakeEvents();  // the hook hears of it while messages are taken
  UnhookWinEvent(hook);
  const std::pair<HWND, LONG> bar{Item(MainStatusBar), OBJID_CLIENT};
  EXPECT_NE(std::find(g_nameChanges.begin(), g_nameChanges.end(), bar), g_nameChanges.end());
}

TEST_F(MainWindowTest, CloseFromTheSystemMenuQueuesACloseEventAndKeepsTheWindow) {
  SendMessageW(MainHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  std::vector<Event> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, EventKind::Close);
  EXPECT_TRUE(IsWindowVisible(MainHwnd()));
}

}  // namespace
