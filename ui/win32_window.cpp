// The control layer's Win32 half, on user32 and Common Controls 6: the main
// window and its controls drawn from the shared table, input processing with
// Tab navigation, message boxes and opening the maker's web page. The rules
// (creation order, option group, events) are the shared core's.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <climits>
#include <cstdint>
#include <map>
#include <vector>

#include "resources/resource.h"
#include "ui/control_core.h"
#include "ui/line_span.h"
#include "ui/win32_text.h"

// The core's action codes are the notification codes these controls send.
static_assert(kActionClicked == BN_CLICKED && kActionButtonDoubleClick == BN_DOUBLECLICKED);
static_assert(kActionSelectionChanged == LBN_SELCHANGE && kActionListDoubleClick == LBN_DBLCLK);
static_assert(kActionTextChanged == EN_CHANGE && kActionArrowStep == WM_VSCROLL);
static_assert(kActionListDrag == WM_MOUSEMOVE && kActionListButtonUp == WM_LBUTTONUP &&
              kActionListRightButtonUp == WM_RBUTTONUP);

namespace {

// A spin's arrow pair is a window of its own; its number is the spin's plus
// this, and nothing else refers to it.
constexpr int kArrowsNumberOffset = 1000;
// The system menu's commands of the check items go up in steps of 0x0010 in
// the table's order: their low four bits are zero, as Windows keeps those of
// WM_SYSCOMMAND for itself.
constexpr UINT kMenuCommandStep = 0x0010;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr wchar_t kWindowClass[] = L"QuorlenMainWindow";

struct NativeClass {
  const wchar_t* name;
  DWORD style;  // besides WS_CHILD | WS_VISIBLE
  DWORD exStyle;
};

NativeClass NativeClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Option:
      return {WC_BUTTONW, WS_TABSTOP | BS_AUTORADIOBUTTON, 0};
    case ControlKind::PushButton:
      return {WC_BUTTONW, WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::Label:
      return {WC_STATICW, SS_CENTER | SS_NOPREFIX, 0};
    case ControlKind::List:
      return {WC_LISTBOXW, WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE};
    case ControlKind::StatusBar:
      return {STATUSCLASSNAMEW, 0, 0};
    case ControlKind::IpField:
      return {WC_IPADDRESSW, WS_TABSTOP, 0};
    case ControlKind::Spin:
      return {WC_EDITW, WS_TABSTOP | ES_RIGHT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::MenuCheck:
      break;  // an item of the system menu, not a window
  }
  return {WC_STATICW, 0, 0};
}

UINT MenuCommandOf(const ControlRow& row) {
  UINT command = 0;
  for (int i = 0; i <= ControlRowIndex(row); ++i) {
    if (kControlRows[i].kind == ControlKind::MenuCheck) command += kMenuCommandStep;
  }
  return command;
}

const ControlRow* MenuCheckOfCommand(UINT command) {
  for (const ControlRow& row : kControlRows) {
    if (row.kind == ControlKind::MenuCheck && MenuCommandOf(row) == command) return &row;
  }
  return nullptr;
}

// A button that follows a control of another kind starts a group, so that an
// automatic radio button clears only the options of its own run.
DWORD GroupStyleOf(const ControlRow& row) {
  if (row.kind != ControlKind::Option && row.kind != ControlKind::PushButton) return 0;
  const int index = ControlRowIndex(row);
  return index == 0 || kControlRows[index - 1].kind != row.kind ? WS_GROUP : 0;
}

}  // namespace

static HINSTANCE g_hinst;
static HWND g_hwndMain;
static HWND g_hwndFocusBeforeDeactivation;
static int g_dpi = 96;

// ---------------------------------------------------------------------------
// Small helpers

static int Scale(int pixels) {
  return MulDiv(pixels, g_dpi, 96);
}

static HWND ControlWindow(int number) {
  if (g_hwndMain == nullptr) return nullptr;
  return GetDlgItem(g_hwndMain, number);
}

static HWND SpinArrows(const ControlRow& spin) {
  return ControlWindow(spin.number + kArrowsNumberOffset);
}

static HMENU SystemMenu() {
  return g_hwndMain != nullptr ? GetSystemMenu(g_hwndMain, FALSE) : nullptr;
}

// The index in the control table of the control that is, or contains, the window.
static int ControlIndexOf(HWND hwnd) {
  if (g_hwndMain == nullptr || hwnd == nullptr) return -1;
  while (hwnd != nullptr && GetParent(hwnd) != g_hwndMain) hwnd = GetParent(hwnd);
  if (hwnd == nullptr) return -1;
  const int number = GetDlgCtrlID(hwnd);
  const ControlRow* row = FindControlRow(number);
  const ControlRow* spin = FindControlRow(number - kArrowsNumberOffset);
  if (row == nullptr && spin != nullptr && spin->kind == ControlKind::Spin) row = spin;
  return row != nullptr ? ControlRowIndex(*row) : -1;
}

static int IsOurWindow(HWND hwnd) {
  return g_hwndMain != nullptr && hwnd != nullptr && (hwnd == g_hwndMain || IsChild(g_hwndMain, hwnd));
}

// ---------------------------------------------------------------------------
// Input

// Moves the keyboard focus to the next (direction 1) or previous (-1) Tab stop.
static void MoveTabFocus(int direction) {
  const ControlRow* row = NextTabStop(ControlIndexOf(GetFocus()), direction);
  if (row == nullptr) return;
  HWND hwnd = ControlWindow(row->number);
  ProgramChange change;  // an option button that gains the focus may notify a click
  if (row->kind == ControlKind::IpField) {
    SendMessageW(hwnd, IPM_SETFOCUS, 0, 0);
  } else {
    SetFocus(hwnd);
  }
  if (row->kind == ControlKind::Spin) SendMessageW(hwnd, EM_SETSEL, 0, -1);
}

// A key pressed in the window. While no control has the focus (a cycle
// disables the capture button that was just pressed) Windows sends it to the
// main window as a system key, but without Alt it is the plain key.
static int IsKeyDown(const MSG* msg, WPARAM key) {
  const int withoutAlt = (msg->lParam & (1 << 29)) == 0;
  return msg->wParam == key && (msg->message == WM_KEYDOWN || (msg->message == WM_SYSKEYDOWN && withoutAlt)) ? 1 : 0;
}

// Lets the window and its controls process one input message; Tab,
// Shift+Tab and Escape are taken here, before the control with the focus
// sees them, and so are their characters.
static void ProcessInputMessage(const MSG* msg) {
  if (IsOurWindow(msg->hwnd)) {
    if (IsKeyDown(msg, VK_TAB)) {
      MoveTabFocus(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
      return;
    }
    if (IsKeyDown(msg, VK_ESCAPE)) {
      InputEscapeKey();
      return;
    }
    if (msg->message == WM_CHAR && (msg->wParam == L'\t' || msg->wParam == 0x1B)) return;
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
      if (code == BN_CLICKED || code == BN_DOUBLECLICKED) InputControlAction(control, code);
      break;
    case ControlKind::List:
      if (code == LBN_SELCHANGE || code == LBN_DBLCLK) InputControlAction(control, code);
      break;
    case ControlKind::Spin:
      if (code == EN_CHANGE) InputControlAction(control, code);
      break;
    default:
      break;  // labels, the status bar and the address field never report
  }
}

// The arrow pair reports every step it takes, also one stopped at the range's end.
static void OnVScroll(HWND from, int code) {
  if (from == nullptr || code != SB_THUMBPOSITION) return;
  const ControlRow* spin = FindControlRow(GetDlgCtrlID(from) - kArrowsNumberOffset);
  if (spin != nullptr && spin->kind == ControlKind::Spin) InputControlAction(spin->number, kActionArrowStep);
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
  ProgramChange change;
  SetFocus(saved);
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
      InputCloseRequest();
      return 0;  // the window stays until the program ends
    case WM_SYSCOMMAND:
      if (const ControlRow* check = MenuCheckOfCommand(static_cast<UINT>(wParam & 0xFFF0))) {
        // A greyed item can't be chosen from the menu; a command posted for
        // it from elsewhere is refused the same way.
        const UINT state = GetMenuState(SystemMenu(), MenuCommandOf(*check), MF_BYCOMMAND);
        if (state != ~0u && (state & (MF_GRAYED | MF_DISABLED)) == 0) InputMenuCheckToggle(check->number);
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (OnActivate(wParam)) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A list reports, besides its own notifications, the release of the left
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

static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      InputListPress(GetDlgCtrlID(hwnd), PointIsOnEntry(hwnd, lParam), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      break;
    case WM_MOUSEMOVE:
      InputListMove(GetDlgCtrlID(hwnd), (wParam & MK_LBUTTON) != 0 ? 1 : 0, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam),
                    GetSystemMetrics(SM_CXDRAG), GetSystemMetrics(SM_CYDRAG));
      break;
    case WM_LBUTTONUP: {
      LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      InputListRelease(GetDlgCtrlID(hwnd));
      return result;
    }
    case WM_RBUTTONUP: {
      LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      InputControlAction(GetDlgCtrlID(hwnd), kActionListRightButtonUp);
      return result;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, ListProc, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Building the window

// Once per run: the class keeps its icons for the rest of it, and a window
// built again (the tests build it many times) loads none anew.
static void RegisterMainWindowClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(g_hinst, kWindowClass, &wc)) return;
  wc = {};
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
  RegisterClassExW(&wc);
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
  const int left = CentredPosition(frame.right - frame.left, GetSystemMetrics(SM_CXSCREEN));
  const int top = CentredPosition(frame.bottom - frame.top, GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(g_hwndMain, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The status line's field (inside the sunken edge) and font, as the bar's
// last drawing of the whole line asked for them, the font's height, and the
// advance of each character the line has held, asked of the font once. The
// line is laid out here, ten times a second during a fade: measuring a whole
// line costs as much as drawing it, and each question to the bar is a message
// through its subclass chain, which where 32-bit code is emulated costs as
// much again. The bar is drawn whole after anything that changes them.
static RECT g_statusLineField;
static HFONT g_statusLineFont = nullptr;
static int g_statusLineHeight = 0;
static std::map<wchar_t, int> g_statusLineAdvances;

// A line's characters and their advances. ExtTextOut is left to place the
// characters itself, at these same advances: given them as positions, Wine
// loses a glyph's overhang to the left, which is a pixel's gap in "mw".
struct StatusLineLayout {
  std::vector<std::uint32_t> characters;
  std::vector<double> advances;
  LineGlyphs Glyphs() const { return {characters, advances}; }
};

static StatusLineLayout LayOutStatusLine(HDC dc, const std::wstring& line) {
  StatusLineLayout layout;
  for (const wchar_t character : line) {
    auto known = g_statusLineAdvances.find(character);
    if (known == g_statusLineAdvances.end()) {
      // The character's extent is the advance ExtTextOut gives it, where
      // GetCharWidth32's may be a pixel wider.
      SIZE extent = {0, 0};
      if (!GetTextExtentPoint32W(dc, &character, 1, &extent)) extent.cx = 0;
      known = g_statusLineAdvances.emplace(character, static_cast<int>(extent.cx)).first;
    }
    layout.characters.push_back(character);
    layout.advances.push_back(known->second);
  }
  return layout;
}

// Draws the status line into the bar's one field, centred inside its sunken
// edge, as the bar itself would draw the field's text: all of it, or with
// BEFORE (the line the field shows), only the part that differs from it.
static void DrawStatusLine(HWND bar, const std::wstring& line, const std::wstring* before) {
  HDC dc = GetDC(bar);
  if (dc == nullptr) return;
  bool newFont = false;
  if (before == nullptr || g_statusLineFont == nullptr) {
    SendMessageW(bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&g_statusLineField));
    InflateRect(&g_statusLineField, -2, -2);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0));
    newFont = font != g_statusLineFont;
    g_statusLineFont = font;
  }
  HGDIOBJ previous = SelectObject(dc, g_statusLineFont);
  if (newFont) {
    g_statusLineAdvances.clear();
    TEXTMETRICW metrics;
    g_statusLineHeight = GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : 0;
  }
  const RECT& field = g_statusLineField;
  const int width = field.right - field.left;
  const StatusLineLayout layout = LayOutStatusLine(dc, line);
  LineSpan span{0, width};
  if (before != nullptr) span = ChangedLineSpan(LayOutStatusLine(dc, *before).Glyphs(), layout.Glyphs(), width);
  if (span.from < span.to) {
    const RECT part = {field.left + span.from, field.top, field.left + span.to, field.bottom};
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    ExtTextOutW(dc, field.left + CentredLineLeft(LineWidth(layout.Glyphs()), width),
                (field.top + field.bottom - g_statusLineHeight) / 2, ETO_OPAQUE | ETO_CLIPPED, &part, line.c_str(),
                static_cast<UINT>(line.size()), nullptr);
  }
  SelectObject(dc, previous);
  ReleaseDC(bar, dc);
}

// The status bar's line, as its one field holds it: a leading tab centres it.
static std::wstring g_statusLine;

// The bar paints its field, and answers for its text, from the line: for
// WM_GETTEXT and SB_GETTEXT, as a screen reader asks. The bar itself is told
// nothing after it is built: under Wine it repaints itself whole at every
// SB_SETTEXT, which costs two milliseconds, over ten where 32-bit code is
// emulated - too much ten times a second during a fade.
static LRESULT CALLBACK StatusBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  const std::size_t length = g_statusLine.size();
  switch (message) {
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(length);
    case SB_GETTEXTLENGTHW:
      return LOWORD(wParam) == 0 ? static_cast<LRESULT>(length) : 0;
    case WM_GETTEXT: {
      if (wParam == 0) return 0;
      const std::size_t copied = length < wParam - 1 ? length : wParam - 1;
      g_statusLine.copy(reinterpret_cast<wchar_t*>(lParam), copied);
      reinterpret_cast<wchar_t*>(lParam)[copied] = L'\0';
      return static_cast<LRESULT>(copied);
    }
    case SB_GETTEXTW:
      if (LOWORD(wParam) != 0) return 0;
      g_statusLine.copy(reinterpret_cast<wchar_t*>(lParam), length);
      reinterpret_cast<wchar_t*>(lParam)[length] = L'\0';
      return static_cast<LRESULT>(length);
    case SB_GETTEXTLENGTHA:
    case SB_GETTEXTA: {
      if (LOWORD(wParam) != 0) return 0;
      // The ANSI text's length in bytes, less its zero; the caller sized the buffer by it.
      const int bytes = WideCharToMultiByte(CP_ACP, 0, g_statusLine.c_str(), -1, nullptr, 0, nullptr, nullptr);
      if (message == SB_GETTEXTA && bytes > 0) {
        WideCharToMultiByte(CP_ACP, 0, g_statusLine.c_str(), -1, reinterpret_cast<char*>(lParam), bytes, nullptr, nullptr);
      }
      return bytes > 0 ? bytes - 1 : 0;
    }
    case WM_PAINT: {
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      DrawStatusLine(hwnd, g_statusLine.substr(length > 0 ? 1 : 0), nullptr);
      return result;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, StatusBarProc, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// A new line is drawn at once, and only where it differs from the one shown,
// between a message and the wait for the next, where its cost can't hold the
// next message up. The name change tells a screen reader that the line, the
// bar's accessible name, changed: Wine's status bar sends none itself, and
// nothing says that Windows' does.
static void SetStatusText(HWND bar, const char* text) {
  const std::wstring before = g_statusLine.substr(g_statusLine.empty() ? 0 : 1);
  const std::wstring line = WideFromUtf8(text);
  g_statusLine = L"\t" + line;
  DrawStatusLine(bar, line, &before);
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, bar, OBJID_CLIENT, CHILDID_SELF);
  // Wine puts what was drawn on the screen when the thread next finds its
  // message queue empty: during a fade that is the drain after the wait, just
  // before the next message, which the copy would hold up - by a millisecond
  // where 32-bit code is emulated. A look at the queue now, before the wait,
  // does it here instead. It takes no message; on Windows it changes nothing.
  MSG pending;
  PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE);
}

static void SetUpStatusBar(HWND bar, const char* text) {
  int parts[1] = {-1};
  SendMessageW(bar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
  SendMessageW(bar, SB_SETMINHEIGHT, Scale(kStatusBarMinimumHeight), 0);
  SendMessageW(bar, WM_SIZE, 0, 0);
  g_statusLine = L"\t" + WideFromUtf8(text);
  SetWindowSubclass(bar, StatusBarProc, 0, 0);
}

// The text box takes the control's rectangle less the arrow pair at its
// right, and reaches under the arrows by the width of the arrows' border.
static void SetUpSpinArrows(const ControlRow& row, HWND edit, HFONT font) {
  int left = Scale(row.x);
  int top = Scale(row.y);
  int right = Scale(row.x + row.width);
  int height = Scale(row.height);
  int arrowWidth = SpinArrowWidth(height, Scale(kSpinArrowWidth));
  int arrowLeft = right - arrowWidth;
  int overlap = IsAppThemed() ? 1 : 2;
  // No UDS_SETBUDDYINT: the arrows keep the value and never write the text.
  HWND arrows = CreateWindowExW(
      0, UPDOWN_CLASSW, L"", WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, arrowLeft, top,
      arrowWidth, height, g_hwndMain, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.number + kArrowsNumberOffset)), g_hinst, nullptr);
  if (arrows == nullptr) return;
  SendMessageW(arrows, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SendMessageW(arrows, UDM_SETRANGE32, kSpinMinimum, kSpinMaximum);
  SendMessageW(arrows, UDM_SETPOS32, 0, 0);
  // Held down, the arrows repeat the step of 1. Windows' default acceleration
  // would jump to 5 and then 20 after a couple of seconds, which overshoots a
  // minimum being set by ear in the middle of a show.
  UDACCEL accel = {0, 1};
  SendMessageW(arrows, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
  // Setting the buddy lets the arrows lay both out their own way; put them back.
  SetWindowPos(edit, nullptr, left, top, arrowLeft - left + overlap, height, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(arrows, nullptr, arrowLeft, top, arrowWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------
// The platform half of the control layer

int PlatformCreateWindow(const char* title, int clientWidth, int clientHeight) {
  g_hinst = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX classes = {sizeof classes,
                                  ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&classes);
  g_dpi = ReadSystemDpi();
  RegisterMainWindowClass();
  RECT frame = {0, 0, Scale(clientWidth), Scale(clientHeight)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  g_hwndMain =
      CreateWindowExW(0, kWindowClass, WideFromUtf8(title).c_str(), kWindowStyle, 0, 0,
                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, g_hinst, nullptr);
  if (g_hwndMain == nullptr) return 0;
  CentreMainWindow();
  ShowWindow(g_hwndMain, SW_SHOWNORMAL);
  SetForegroundWindow(g_hwndMain);
  UpdateWindow(g_hwndMain);
  return 1;
}

void PlatformDestroyWindow() {
  DestroyWindow(g_hwndMain);
  g_hwndMain = nullptr;
  g_hwndFocusBeforeDeactivation = nullptr;
}

int PlatformWindowExists() {
  return g_hwndMain != nullptr ? 1 : 0;
}

// The check items go below Close in the window's system menu, after one
// separator: the client area and its controls stay exactly as they are.
static void AppendMenuCheck(const ControlRow& row) {
  HMENU menu = SystemMenu();
  if (menu == nullptr) return;
  if (MenuCommandOf(row) == kMenuCommandStep) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | MF_UNCHECKED, MenuCommandOf(row), WideFromUtf8(row.text).c_str());
}

void PlatformCreateControl(const ControlRow& row) {
  if (row.kind == ControlKind::MenuCheck) {
    AppendMenuCheck(row);
    return;
  }
  const NativeClass native = NativeClassOf(row.kind);
  const std::wstring text = row.kind == ControlKind::StatusBar ? std::wstring() : WideFromUtf8(row.text);
  HWND hwnd = CreateWindowExW(native.exStyle, native.name, text.c_str(),
                              WS_CHILD | WS_VISIBLE | native.style | GroupStyleOf(row), Scale(row.x), Scale(row.y),
                              Scale(row.width), Scale(row.height), g_hwndMain,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.number)), g_hinst, nullptr);
  if (hwnd == nullptr) return;
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (row.kind != ControlKind::StatusBar) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  switch (row.kind) {
    case ControlKind::List:
      SetWindowSubclass(hwnd, ListProc, 0, 0);
      // Drawn once its starting entries are in (PlatformListFilled): a list box
      // that draws redoes its scroll bar at every entry, which under Wine
      // took a fifth of a second of the start.
      SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
      break;
    case ControlKind::StatusBar:
      SetUpStatusBar(hwnd, row.text);
      break;
    case ControlKind::IpField:
      // Wine doesn't pass WM_SETFONT on to the four edit fields inside.
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

int PlatformControlExists(const ControlRow& row) {
  if (row.kind == ControlKind::MenuCheck) {
    return SystemMenu() != nullptr && GetMenuState(SystemMenu(), MenuCommandOf(row), MF_BYCOMMAND) != ~0u ? 1 : 0;
  }
  return ControlWindow(row.number) != nullptr ? 1 : 0;
}

void PlatformSetText(const ControlRow& row, const char* text) {
  if (row.kind == ControlKind::MenuCheck) {
    const UINT command = MenuCommandOf(row);
    const UINT state = GetMenuState(SystemMenu(), command, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED | MF_DISABLED);
    ModifyMenuW(SystemMenu(), command, MF_BYCOMMAND | MF_STRING | state, command, WideFromUtf8(text).c_str());
    return;
  }
  if (row.kind == ControlKind::StatusBar) {
    SetStatusText(ControlWindow(row.number), text);
    return;
  }
  SetWindowTextW(ControlWindow(row.number), WideFromUtf8(text).c_str());
}

std::string PlatformGetText(const ControlRow& row) {
  if (row.kind == ControlKind::MenuCheck) {
    wchar_t text[128] = {};
    const int length = GetMenuStringW(SystemMenu(), MenuCommandOf(row), text, 128, MF_BYCOMMAND);
    return Utf8FromWide(text, length);
  }
  HWND hwnd = ControlWindow(row.number);
  int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return std::string();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  // The status bar's centring tab is no part of its line.
  const int from = row.kind == ControlKind::StatusBar && copied > 0 && text[0] == L'\t' ? 1 : 0;
  return Utf8FromWide(text.c_str() + from, copied - from);
}

static int ClampToInt(std::int64_t value) {
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

void PlatformSetValue(const ControlRow& row, std::int64_t value) {
  HWND hwnd = ControlWindow(row.number);
  switch (row.kind) {
    case ControlKind::Option:
      SendMessageW(hwnd, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::List:
      SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(value), 0);
      break;
    case ControlKind::Spin:
      if (SpinArrows(row) != nullptr) SendMessageW(SpinArrows(row), UDM_SETPOS32, 0, ClampToInt(value));
      break;
    case ControlKind::MenuCheck:
      CheckMenuItem(SystemMenu(), MenuCommandOf(row), MF_BYCOMMAND | (value != 0 ? MF_CHECKED : MF_UNCHECKED));
      break;
    default:
      break;
  }
}

std::int64_t PlatformGetValue(const ControlRow& row) {
  HWND hwnd = ControlWindow(row.number);
  switch (row.kind) {
    case ControlKind::Option:
      return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    case ControlKind::List:
      return SendMessageW(hwnd, LB_GETCURSEL, 0, 0);
    case ControlKind::MenuCheck:
      return (GetMenuState(SystemMenu(), MenuCommandOf(row), MF_BYCOMMAND) & MF_CHECKED) != 0 ? 1 : 0;
    case ControlKind::Spin: {
      if (SpinArrows(row) == nullptr) return 0;
      BOOL failed = FALSE;
      return static_cast<int>(SendMessageW(SpinArrows(row), UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&failed)));
    }
    default:
      return 0;
  }
}

void PlatformSetOctets(const ControlRow& row, const int octets[4]) {
  SendMessageW(ControlWindow(row.number), IPM_SETADDRESS, 0, MAKEIPADDRESS(octets[0], octets[1], octets[2], octets[3]));
}

int PlatformGetOctets(const ControlRow& row, int octets[4]) {
  HWND hwnd = ControlWindow(row.number);
  if (SendMessageW(hwnd, IPM_ISBLANK, 0, 0)) return 0;
  DWORD address = 0;
  SendMessageW(hwnd, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  octets[0] = FIRST_IPADDRESS(address);
  octets[1] = SECOND_IPADDRESS(address);
  octets[2] = THIRD_IPADDRESS(address);
  octets[3] = FOURTH_IPADDRESS(address);
  return 1;
}

void PlatformEnable(const ControlRow& row, int enabled) {
  if (row.kind == ControlKind::MenuCheck) {
    EnableMenuItem(SystemMenu(), MenuCommandOf(row), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    return;
  }
  EnableWindow(ControlWindow(row.number), enabled ? TRUE : FALSE);
  if (row.kind == ControlKind::Spin && SpinArrows(row) != nullptr) EnableWindow(SpinArrows(row), enabled ? TRUE : FALSE);
}

int PlatformListCount(const ControlRow& row) {
  return static_cast<int>(SendMessageW(ControlWindow(row.number), LB_GETCOUNT, 0, 0));
}

void PlatformInsertListEntry(const ControlRow& row, int position, const char* text) {
  const std::wstring wide = WideFromUtf8(text);
  SendMessageW(ControlWindow(row.number), LB_INSERTSTRING, static_cast<WPARAM>(position),
               reinterpret_cast<LPARAM>(wide.c_str()));
}

void PlatformDeleteListEntry(const ControlRow& row, int position) {
  SendMessageW(ControlWindow(row.number), LB_DELETESTRING, static_cast<WPARAM>(position), 0);
}

void PlatformListFilled(const ControlRow& row) {
  HWND hwnd = ControlWindow(row.number);
  SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(hwnd, nullptr, TRUE);
}

int PlatformCanFocus(const ControlRow& row) {
  HWND hwnd = ControlWindow(row.number);
  return hwnd != nullptr && IsWindowEnabled(hwnd) && IsWindowVisible(hwnd) ? 1 : 0;
}

int PlatformProcessInput(int wait) {
  MSG msg;
  if (wait) {
    // -1 is GetMessage's failure: msg holds nothing then, so nothing is
    // processed. 0 is WM_QUIT, which nothing here posts.
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got != 0 && got != -1) ProcessInputMessage(&msg);
    return 1;
  }
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return 0;
  if (msg.message != WM_QUIT) ProcessInputMessage(&msg);
  return 1;
}

// MWMO_INPUTAVAILABLE: input that is already queued ends the wait too, not
// only input that arrives during it.
void PlatformWaitForInputOrReadable(std::intptr_t waitable, int timeoutMilliseconds) {
  HANDLE handles[1] = {reinterpret_cast<HANDLE>(waitable)};
  const DWORD count = waitable != -1 ? 1 : 0;
  const DWORD timeout = timeoutMilliseconds < 0 ? INFINITE : static_cast<DWORD>(timeoutMilliseconds);
  MsgWaitForMultipleObjectsEx(count, handles, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

int PlatformWaitForEvent(std::intptr_t waitable, int timeoutMilliseconds) {
  PlatformWaitForInputOrReadable(waitable, timeoutMilliseconds);
  return PlatformProcessInput(0);
}

void PlatformOpenWebPage(const char* address) {
  const std::wstring file = L"\"" + WideFromUtf8(address) + L"\"";
  // SW_FORCEMINIMIZE (11): the browser may come up minimised, so the page
  // never covers Quorlen's window in the middle of a show. A browser that
  // doesn't honour it simply opens as usual.
  ShellExecuteW(nullptr, nullptr, file.c_str(), nullptr, L"", SW_FORCEMINIMIZE);
}

// The box's owner is the main window when that is in front. Without an owner
// the box is task-modal, so that the main window takes no input while it
// shows either: an ownerless MessageBox would leave it usable.
void PlatformShowMessageBox(const char* title, const char* text) {
  HWND owner = g_hwndMain != nullptr && GetForegroundWindow() == g_hwndMain ? g_hwndMain : nullptr;
  MessageBoxW(owner, WideFromUtf8(text).c_str(), WideFromUtf8(title).c_str(), MB_OK | (owner ? 0 : MB_TASKMODAL));
}
