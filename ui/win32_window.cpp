// The control layer on user32 and Common Controls 6: MainWindow and its
// controls built from one table, event delivery through one queue, Tab
// navigation, message boxes and opening the maker's web page.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <climits>
#include <cstdio>
#include <deque>
#include <string>

#include "resources/resource.h"
#include "ui/controls.h"

namespace {

enum class ControlKind : int { Option, PushButton, Label, List, StatusBar, IpField, Spin };

struct ControlRow {
  int number;
  ControlKind kind;
  const wchar_t* className;
  const char* text;
  int x, y, width, height;  // client pixels at 96 DPI
  DWORD style;              // besides WS_CHILD | WS_VISIBLE; WS_DISABLED is the starting state
  DWORD exStyle;
  int checked;  // option buttons: selected at start-up
  int tabStop;  // Tab and Shift+Tab stop here while it is enabled
};

// The numbers of the labels and of MinimumSpin's arrow pair; nothing else refers to them.
constexpr int kChannelListLabel = 1001;
constexpr int kMixerIpLabel = 1002;
constexpr int kMinimumLabel = 1003;
constexpr int kMinimumArrows = 1350;

constexpr DWORD kOptionStyle = WS_TABSTOP | BS_AUTORADIOBUTTON;
constexpr DWORD kPushStyle = WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabelStyle = SS_CENTER | SS_NOPREFIX;

// The window's controls in creation order. ChannelList's entries are added
// right after the list, before the status bar, and the status bar places
// itself along the bottom edge of the client area.
const ControlRow kControls[] = {
    {TooSlowOption, ControlKind::Option, WC_BUTTONW, "Too Slow", 18, 22, 62, 25, WS_GROUP | kOptionStyle, 0, 1, 1},
    {SlowOption, ControlKind::Option, WC_BUTTONW, "Slow", 18, 46, 62, 25, kOptionStyle, 0, 0, 1},
    {NormalOption, ControlKind::Option, WC_BUTTONW, "Normal", 18, 68, 62, 25, kOptionStyle, 0, 0, 1},
    {FastOption, ControlKind::Option, WC_BUTTONW, "Fast", 18, 90, 62, 25, kOptionStyle, 0, 0, 1},
    {CaptureButton, ControlKind::PushButton, WC_BUTTONW, "Get Main Position Until Touch", 95, 10, 155, 35,
     WS_GROUP | kPushStyle, 0, 0, 1},
    {ResetOffButton, ControlKind::PushButton, WC_BUTTONW, "Reset Off", 95, 52, 155, 35, WS_DISABLED | kPushStyle, 0, 0,
     1},
    {UpdatesButton, ControlKind::PushButton, WC_BUTTONW, "Updates", 95, 92, 155, 35, kPushStyle, 0, 0, 1},
    {kChannelListLabel, ControlKind::Label, WC_STATICW, "Pick Out One Channel", 426, 16, 130, 20, kLabelStyle, 0, 0, 0},
    {ChannelList, ControlKind::List, WC_LISTBOXW, "", 426, 32, 140, 94,
     WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE, 0, 1},
    {MainStatusBar, ControlKind::StatusBar, STATUSCLASSNAMEW, kCreditsLine, 0, 0, 0, 0, 0, 0, 0, 0},
    {EditIpButton, ControlKind::PushButton, WC_BUTTONW, "Edit IP", 280, 15, 130, 25, WS_GROUP | kPushStyle, 0, 0, 1},
    {kMixerIpLabel, ControlKind::Label, WC_STATICW, "IP", 280, 45, 130, 20, kLabelStyle, 0, 0, 0},
    {MixerIpField, ControlKind::IpField, WC_IPADDRESSW, "", 280, 60, 130, 21, WS_DISABLED | WS_TABSTOP, 0, 0, 1},
    {kMinimumLabel, ControlKind::Label, WC_STATICW, "Fade to (100 --> 0)", 280, 90, 130, 20, kLabelStyle, 0, 0, 0},
    {MinimumSpin, ControlKind::Spin, WC_EDITW, "0", 280, 105, 130, 21, WS_TABSTOP | ES_RIGHT | ES_AUTOHSCROLL,
     WS_EX_CLIENTEDGE, 0, 1},
};
constexpr int kControlCount = static_cast<int>(sizeof kControls / sizeof kControls[0]);

constexpr int kChannelCount = 32;
constexpr int kSpinMinimum = 0;
constexpr int kSpinMaximum = 100;
constexpr int kArrowWidth = 18;
constexpr int kStatusBarMinimumHeight = 18;
constexpr int kWindowX = 20;
constexpr int kWindowY = 20;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr wchar_t kWindowClass[] = L"QuorlenMainWindow";

// Actions that the list reports besides its own LBN_SELCHANGE and LBN_DBLCLK.
constexpr int kListButtonUpAction = WM_LBUTTONUP;
constexpr int kListRightButtonUpAction = WM_RBUTTONUP;
constexpr int kListDragAction = WM_MOUSEMOVE;
constexpr int kSpinStepAction = WM_VSCROLL;

struct Binding {
  int control;
  void (*procedure)();
};

struct ListPress {
  int onEntry;       // the left button went down on an entry and is still down
  int dragReported;  // this press already reported the start of a drag
  POINT at;
};

}  // namespace

static HINSTANCE g_hinst;
static HWND g_hwndMain;
static HWND g_hwndFocusBeforeDeactivation;
static int g_dpi = 96;
static int g_suppressEvents;  // > 0 while the program itself changes controls
static std::deque<Event> g_events;
static Binding g_bindings[16];
static int g_bindingCount;
static int g_lastEventControl;
static ListPress g_listPress;

// ---------------------------------------------------------------------------
// Small helpers

static std::wstring Widen(const char* text) {
  if (text == nullptr || text[0] == '\0') return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

static std::string Narrow(const wchar_t* text, int length) {
  if (text == nullptr || length <= 0) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

static int Scale(int pixels) {
  return MulDiv(pixels, g_dpi, 96);
}

static const ControlRow* FindControlRow(int number) {
  for (const ControlRow& row : kControls) {
    if (row.number == number) return &row;
  }
  return nullptr;
}

static HWND ControlWindow(int number) {
  if (g_hwndMain == nullptr) return nullptr;
  return GetDlgItem(g_hwndMain, number);
}

static HWND SpinArrows() {
  return ControlWindow(kMinimumArrows);
}

// The index in kControls of the control that is, or contains, the window.
static int ControlIndexOf(HWND hwnd) {
  if (g_hwndMain == nullptr || hwnd == nullptr) return -1;
  while (hwnd != nullptr && GetParent(hwnd) != g_hwndMain) hwnd = GetParent(hwnd);
  if (hwnd == nullptr) return -1;
  int number = GetDlgCtrlID(hwnd);
  if (number == kMinimumArrows) number = MinimumSpin;
  for (int i = 0; i < kControlCount; ++i) {
    if (kControls[i].number == number) return i;
  }
  return -1;
}

static int IsOurWindow(HWND hwnd) {
  return g_hwndMain != nullptr && hwnd != nullptr && (hwnd == g_hwndMain || IsChild(g_hwndMain, hwnd));
}

// ---------------------------------------------------------------------------
// Event delivery

static void QueueEvent(Event event) {
  if (!g_events.empty()) {
    const Event& newest = g_events.back();
    if (newest.kind == event.kind && newest.control == event.control && newest.action == event.action) return;
  }
  g_events.push_back(event);
}

static void RunBoundCallback(int control) {
  for (int i = 0; i < g_bindingCount; ++i) {
    if (g_bindings[i].control == control && g_bindings[i].procedure != nullptr) {
      g_bindings[i].procedure();
      return;
    }
  }
}

// A control reports a user action: its bound procedure runs now, then the
// event joins the queue. Changes the program makes itself report nothing.
static void ReportControlEvent(int control, int action) {
  if (g_suppressEvents > 0) return;
  RunBoundCallback(control);
  QueueEvent(Event{EventKind::Control, control, action});
}

static Event TakeQueuedEvent() {
  Event event = g_events.front();
  g_events.pop_front();
  if (event.kind == EventKind::Control) g_lastEventControl = event.control;
  return event;
}

// Moves the keyboard focus to the next (direction 1) or previous (-1) Tab
// stop in creation order that is enabled and visible, wrapping around.
static void MoveTabFocus(int direction) {
  int current = ControlIndexOf(GetFocus());
  int index =
      current < 0 ? (direction > 0 ? 0 : kControlCount - 1) : (current + direction + kControlCount) % kControlCount;
  for (int tries = 0; tries < kControlCount; ++tries) {
    const ControlRow& row = kControls[index];
    HWND hwnd = ControlWindow(row.number);
    if (row.tabStop && hwnd != nullptr && IsWindowEnabled(hwnd) && IsWindowVisible(hwnd)) {
      ++g_suppressEvents;  // an option button that gains the focus may notify a click
      if (row.kind == ControlKind::IpField) {
        SendMessageW(hwnd, IPM_SETFOCUS, 0, 0);
      } else {
        SetFocus(hwnd);
      }
      if (row.kind == ControlKind::Spin) SendMessageW(hwnd, EM_SETSEL, 0, -1);
      --g_suppressEvents;
      return;
    }
    index = (index + direction + kControlCount) % kControlCount;
  }
}

// Lets the window and its controls process one input message; Tab and
// Shift+Tab are taken here.
static void ProcessInputMessage(const MSG* msg) {
  if (IsOurWindow(msg->hwnd)) {
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB) {
      MoveTabFocus(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
      return;
    }
    if (msg->message == WM_CHAR && msg->wParam == L'\t') return;
  }
  TranslateMessage(msg);
  DispatchMessageW(msg);
}

// ---------------------------------------------------------------------------
// The window procedure and its handlers

static void OnCommand(int control, int code) {
  const ControlRow* row = FindControlRow(control);
  if (row == nullptr) return;
  switch (row->kind) {
    case ControlKind::Option:
    case ControlKind::PushButton:
      if (code == BN_CLICKED || code == BN_DOUBLECLICKED) ReportControlEvent(control, code);
      break;
    case ControlKind::List:
      if (code == LBN_SELCHANGE || code == LBN_DBLCLK) ReportControlEvent(control, code);
      break;
    case ControlKind::Spin:
      if (code == EN_CHANGE) ReportControlEvent(control, code);
      break;
    default:
      break;  // labels, the status bar and the address field never report
  }
}

// The arrow pair reports every step it takes, also one stopped at the range's end.
static void OnVScroll(HWND from, int code) {
  if (from != nullptr && from == SpinArrows() && code == SB_THUMBPOSITION) {
    ReportControlEvent(MinimumSpin, kSpinStepAction);
  }
}

static void OnClose() {
  QueueEvent(Event{EventKind::Close, MainWindow, 0});
}

// Keeps the keyboard focus on the same control across a deactivation.
// Returns 1 when the message is handled.
static int OnActivate(WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    g_hwndFocusBeforeDeactivation = IsOurWindow(focus) && focus != g_hwndMain ? focus : nullptr;
    return 0;
  }
  HWND saved = g_hwndFocusBeforeDeactivation;
  if (saved == nullptr || !IsWindow(saved) || !IsOurWindow(saved) || !IsWindowEnabled(saved)) return 0;
  ++g_suppressEvents;
  SetFocus(saved);
  --g_suppressEvents;
  return 1;
}

static LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_VSCROLL:
      OnVScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;  // the window stays until the program ends
    case WM_ACTIVATE:
      if (OnActivate(wParam)) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// ChannelList reports, besides its own notifications, the release of the left
// button after a press on an entry, the release of the right button over it,
// and the start of a drag from an entry.
static int PointIsOnEntry(HWND list, LPARAM lParam) {
  POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
  if (HIWORD(hit) != 0) return 0;
  RECT item;
  if (SendMessageW(list, LB_GETITEMRECT, LOWORD(hit), reinterpret_cast<LPARAM>(&item)) == LB_ERR) return 0;
  return PtInRect(&item, point) ? 1 : 0;
}

static void OnListButtonDown(HWND list, LPARAM lParam) {
  g_listPress.onEntry = PointIsOnEntry(list, lParam);
  g_listPress.dragReported = 0;
  g_listPress.at = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

static void OnListMouseMove(WPARAM wParam, LPARAM lParam) {
  if (!g_listPress.onEntry || g_listPress.dragReported || !(wParam & MK_LBUTTON)) return;
  int dx = GET_X_LPARAM(lParam) - g_listPress.at.x;
  int dy = GET_Y_LPARAM(lParam) - g_listPress.at.y;
  if (dx < 0) dx = -dx;
  if (dy < 0) dy = -dy;
  if (dx > GetSystemMetrics(SM_CXDRAG) / 2 || dy > GetSystemMetrics(SM_CYDRAG) / 2) {
    g_listPress.dragReported = 1;
    ReportControlEvent(ChannelList, kListDragAction);
  }
}

static LRESULT CALLBACK ChannelListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      OnListButtonDown(hwnd, lParam);
      break;
    case WM_MOUSEMOVE:
      OnListMouseMove(wParam, lParam);
      break;
    case WM_LBUTTONUP: {
      int pressed = g_listPress.onEntry;
      g_listPress = ListPress{};
      LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      if (pressed) ReportControlEvent(ChannelList, kListButtonUpAction);
      return result;
    }
    case WM_RBUTTONUP: {
      LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      ReportControlEvent(ChannelList, kListRightButtonUpAction);
      return result;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, ChannelListProc, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Building the window

static void RegisterMainWindowClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = g_hinst;
  wc.hIcon = static_cast<HICON>(LoadImageW(g_hinst, MAKEINTRESOURCEW(IDI_QUORLEN), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(g_hinst, MAKEINTRESOURCEW(IDI_QUORLEN), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);  // already registered when the window is built a second time
}

static int ReadSystemDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// Centres the window on the whole primary screen without changing its size,
// its stacking order or the active window.
static void CentreMainWindow() {
  RECT frame;
  GetWindowRect(g_hwndMain, &frame);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  int left = (screenWidth - (width < screenWidth ? width : screenWidth)) / 2;
  int top = (screenHeight - (height < screenHeight ? height : screenHeight)) / 2;
  SetWindowPos(g_hwndMain, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static void CreateMainWindow() {
  RECT frame = {0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  std::wstring title = Widen(kWindowTitle);
  g_hwndMain = CreateWindowExW(0, kWindowClass, title.c_str(), kWindowStyle, kWindowX, kWindowY,
                               frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, g_hinst, nullptr);
  if (g_hwndMain == nullptr) return;
  CentreMainWindow();
  ShowWindow(g_hwndMain, SW_SHOWNORMAL);
  SetForegroundWindow(g_hwndMain);
  UpdateWindow(g_hwndMain);
}

static void FillChannelList() {
  AddListEntry(ChannelList, 0, "Main");
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "Ch %d", channel);
    AddListEntry(ChannelList, channel, entry);
  }
  SetControlValue(ChannelList, 0);
}

static void SetUpStatusBar(HWND bar) {
  int parts[1] = {-1};
  SendMessageW(bar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
  SendMessageW(bar, SB_SETMINHEIGHT, Scale(kStatusBarMinimumHeight), 0);
  SendMessageW(bar, WM_SIZE, 0, 0);
  std::wstring text = L"\t" + Widen(kCreditsLine);  // a leading tab centres the text
  SendMessageW(bar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The text box takes the control's rectangle less the arrow pair at its
// right, and reaches under the arrows by the width of the arrows' border.
static void SetUpSpinArrows(const ControlRow& row, HWND edit, HFONT font) {
  int left = Scale(row.x);
  int top = Scale(row.y);
  int right = Scale(row.x + row.width);
  int height = Scale(row.height);
  int arrowWidth = Scale(kArrowWidth) > height / 2 ? Scale(kArrowWidth) : height / 2;
  int arrowLeft = right - arrowWidth;
  int overlap = IsAppThemed() ? 1 : 2;
  // No UDS_SETBUDDYINT: the arrows keep the value and never write the text.
  HWND arrows = CreateWindowExW(
      0, UPDOWN_CLASSW, L"", WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, arrowLeft, top,
      arrowWidth, height, g_hwndMain, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kMinimumArrows)), g_hinst, nullptr);
  if (arrows == nullptr) return;
  SendMessageW(arrows, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SendMessageW(arrows, UDM_SETRANGE32, kSpinMinimum, kSpinMaximum);
  SendMessageW(arrows, UDM_SETPOS32, 0, 0);
  // Setting the buddy lets the arrows lay both out their own way; put them back.
  SetWindowPos(edit, nullptr, left, top, arrowLeft - left + overlap, height, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(arrows, nullptr, arrowLeft, top, arrowWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

static void CreateControl(const ControlRow& row, HFONT font) {
  std::wstring text = row.kind == ControlKind::StatusBar ? std::wstring() : Widen(row.text);
  // A disabled starting state is applied after creation: the address field
  // greys its four edit fields only when it is disabled as a window.
  DWORD style = WS_CHILD | WS_VISIBLE | (row.style & ~static_cast<DWORD>(WS_DISABLED));
  HWND hwnd = CreateWindowExW(row.exStyle, row.className, text.c_str(), style, Scale(row.x), Scale(row.y),
                              Scale(row.width), Scale(row.height), g_hwndMain,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.number)), g_hinst, nullptr);
  if (hwnd == nullptr) return;
  if (row.kind != ControlKind::StatusBar) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (row.style & WS_DISABLED) EnableWindow(hwnd, FALSE);
  switch (row.kind) {
    case ControlKind::Option:
      if (row.checked) SendMessageW(hwnd, BM_SETCHECK, BST_CHECKED, 0);
      break;
    case ControlKind::List:
      SetWindowSubclass(hwnd, ChannelListProc, 0, 0);
      FillChannelList();
      break;
    case ControlKind::StatusBar:
      SetUpStatusBar(hwnd);
      break;
    case ControlKind::IpField:
      // The four edit fields inside keep a font of their own otherwise.
      for (HWND field = GetWindow(hwnd, GW_CHILD); field != nullptr; field = GetWindow(field, GW_HWNDNEXT)) {
        SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      }
      break;
    case ControlKind::Spin:
      SetUpSpinArrows(row, hwnd, font);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// The control layer

int BuildMainWindow() {
  if (g_hwndMain != nullptr) return 1;
  ++g_suppressEvents;
  g_hinst = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX classes = {sizeof classes,
                                  ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&classes);
  g_dpi = ReadSystemDpi();
  RegisterMainWindowClass();
  CreateMainWindow();
  if (g_hwndMain != nullptr) {
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (const ControlRow& row : kControls) CreateControl(row, font);
  }
  --g_suppressEvents;
  return g_hwndMain != nullptr ? 1 : 0;
}

void DestroyMainWindow() {
  if (g_hwndMain == nullptr) return;
  ++g_suppressEvents;
  DestroyWindow(g_hwndMain);
  g_hwndMain = nullptr;
  g_hwndFocusBeforeDeactivation = nullptr;
  --g_suppressEvents;
  g_events.clear();
  g_bindingCount = 0;
  g_listPress = ListPress{};
}

void SetControlText(int control, const char* text) {
  HWND hwnd = ControlWindow(control);
  if (hwnd == nullptr || FindControlRow(control) == nullptr) return;
  std::wstring wide = Widen(text);
  ++g_suppressEvents;
  SetWindowTextW(hwnd, wide.c_str());
  --g_suppressEvents;
}

static std::string AddressFieldText(HWND field) {
  DWORD address = 0;
  SendMessageW(field, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(FIRST_IPADDRESS(address)),
                static_cast<unsigned>(SECOND_IPADDRESS(address)), static_cast<unsigned>(THIRD_IPADDRESS(address)),
                static_cast<unsigned>(FOURTH_IPADDRESS(address)));
  return text;
}

std::string GetControlText(int control) {
  HWND hwnd = ControlWindow(control);
  const ControlRow* row = FindControlRow(control);
  if (hwnd == nullptr || row == nullptr) return std::string();
  if (row->kind == ControlKind::IpField) return AddressFieldText(hwnd);
  int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return std::string();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  return Narrow(text.c_str(), copied);
}

// Selects an option: every option of its group, first to last, is
// deselected, then the given one selected. A group is a run of option
// buttons created one after the other.
static void SelectOption(int index) {
  int first = index;
  while (first > 0 && kControls[first - 1].kind == ControlKind::Option) --first;
  int last = index;
  while (last + 1 < kControlCount && kControls[last + 1].kind == ControlKind::Option) ++last;
  for (int i = first; i <= last; ++i) {
    HWND option = ControlWindow(kControls[i].number);
    if (option != nullptr) SendMessageW(option, BM_SETCHECK, BST_UNCHECKED, 0);
  }
  SendMessageW(ControlWindow(kControls[index].number), BM_SETCHECK, BST_CHECKED, 0);
}

static int ClampToInt(std::int64_t value) {
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

void SetControlValue(int control, std::int64_t value) {
  HWND hwnd = ControlWindow(control);
  const ControlRow* row = FindControlRow(control);
  if (hwnd == nullptr || row == nullptr) return;
  ++g_suppressEvents;
  switch (row->kind) {
    case ControlKind::Option:
      if (value != 0) {
        SelectOption(static_cast<int>(row - kControls));
      } else {
        SendMessageW(hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
      }
      break;
    case ControlKind::List: {
      LRESULT count = SendMessageW(hwnd, LB_GETCOUNT, 0, 0);
      if (value >= 0 && value < count) SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(value), 0);
      break;
    }
    case ControlKind::Spin:
      if (SpinArrows() != nullptr) SendMessageW(SpinArrows(), UDM_SETPOS32, 0, ClampToInt(value));
      break;
    case ControlKind::IpField: {
      // Octet 1 sits in the least significant byte of the value.
      std::uint32_t address = static_cast<std::uint32_t>(value);
      LPARAM shown =
          MAKEIPADDRESS(address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF, (address >> 24) & 0xFF);
      SendMessageW(hwnd, IPM_SETADDRESS, 0, shown);
      break;
    }
    default:
      break;
  }
  --g_suppressEvents;
}

std::int64_t GetControlValue(int control) {
  HWND hwnd = ControlWindow(control);
  const ControlRow* row = FindControlRow(control);
  if (hwnd == nullptr || row == nullptr) return 0;
  switch (row->kind) {
    case ControlKind::Option:
      return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    case ControlKind::List:
      return SendMessageW(hwnd, LB_GETCURSEL, 0, 0);
    case ControlKind::Spin: {
      if (SpinArrows() == nullptr) return 0;
      BOOL failed = FALSE;
      return static_cast<int>(SendMessageW(SpinArrows(), UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&failed)));
    }
    case ControlKind::IpField: {
      DWORD address = 0;
      SendMessageW(hwnd, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
      return static_cast<std::int64_t>(FIRST_IPADDRESS(address) | (SECOND_IPADDRESS(address) << 8) |
                                       (THIRD_IPADDRESS(address) << 16) |
                                       (static_cast<std::uint32_t>(FOURTH_IPADDRESS(address)) << 24));
    }
    default:
      return 0;
  }
}

void DisableControl(int control, int disabled) {
  HWND hwnd = ControlWindow(control);
  const ControlRow* row = FindControlRow(control);
  if (hwnd == nullptr || row == nullptr) return;
  ++g_suppressEvents;
  EnableWindow(hwnd, disabled ? FALSE : TRUE);
  if (row->kind == ControlKind::Spin && SpinArrows() != nullptr) EnableWindow(SpinArrows(), disabled ? FALSE : TRUE);
  --g_suppressEvents;
}

void AddListEntry(int control, int position, const char* text) {
  HWND hwnd = ControlWindow(control);
  const ControlRow* row = FindControlRow(control);
  if (hwnd == nullptr || row == nullptr || row->kind != ControlKind::List) return;
  LRESULT count = SendMessageW(hwnd, LB_GETCOUNT, 0, 0);
  if (position < 0 || position > count) return;
  std::wstring wide = Widen(text);
  ++g_suppressEvents;
  SendMessageW(hwnd, LB_INSERTSTRING, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(wide.c_str()));
  --g_suppressEvents;
}

void BindControlCallback(int control, void (*procedure)()) {
  if (ControlWindow(control) == nullptr || FindControlRow(control) == nullptr) return;
  for (int i = 0; i < g_bindingCount; ++i) {
    if (g_bindings[i].control == control) {
      g_bindings[i].procedure = procedure;
      return;
    }
  }
  if (g_bindingCount < static_cast<int>(sizeof g_bindings / sizeof g_bindings[0])) {
    g_bindings[g_bindingCount++] = Binding{control, procedure};
  }
}

Event WaitEvent() {
  if (!g_events.empty()) return TakeQueuedEvent();
  MSG msg;
  BOOL got = GetMessageW(&msg, nullptr, 0, 0);
  if (got != 0 && got != -1) ProcessInputMessage(&msg);
  return Event{EventKind::Other, 0, 0};
}

Event PollEvent() {
  if (!g_events.empty()) return TakeQueuedEvent();
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return Event{EventKind::None, 0, 0};
  if (msg.message != WM_QUIT) ProcessInputMessage(&msg);
  return Event{EventKind::Other, 0, 0};
}

int EventControl() {
  return g_lastEventControl;
}

void OpenWebPage(const char* address) {
  std::wstring file = L"\"" + Widen(address) + L"\"";
  ShellExecuteW(nullptr, nullptr, file.c_str(), nullptr, L"", 11);
}

void ShowMessageBox(const char* title, const char* text) {
  std::wstring wideTitle = Widen(title);
  std::wstring wideText = Widen(text);
  HWND owner = g_hwndMain != nullptr && GetForegroundWindow() == g_hwndMain ? g_hwndMain : nullptr;
  MessageBoxW(owner, wideText.c_str(), wideTitle.c_str(), MB_OK);
}
