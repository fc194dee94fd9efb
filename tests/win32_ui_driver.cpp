// The user of the Win32 window: messages posted or sent to the real controls,
// as clicks and keys would produce them.
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/ui_driver.h"
#include "tests/win32_test_window.h"
#include "ui/controls.h"

namespace {

void PressKey(HWND target, WPARAM key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

// A key pressed wherever the focus is: with none, Windows sends it to the
// active window as a system key.
void PressKeyAtFocus(WPARAM key) {
  if (GetFocus() != nullptr) {
    PressKey(GetFocus(), key);
    return;
  }
  PostMessageW(MainHwnd(), WM_SYSKEYDOWN, key, 1);
  PostMessageW(MainHwnd(), WM_SYSKEYUP, key, 0xC0000001);
}

}  // namespace

void DriverStart(int, char**) {}

void UserClick(int control) {
  if (control == StopWhenMovedOption || control == ShowAllFadersOption) {  // chosen from the system menu
    const char* text = control == StopWhenMovedOption ? kStopWhenMovedText : kShowAllFadersText;
    HMENU menu = GetSystemMenu(MainHwnd(), FALSE);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      wchar_t item[64] = {};
      GetMenuStringW(menu, static_cast<UINT>(i), item, 64, MF_BYPOSITION);
      std::string name;
      for (const wchar_t* p = item; *p != L'\0'; ++p) name += static_cast<char>(*p);
      if (name == text) SendMessageW(MainHwnd(), WM_SYSCOMMAND, GetMenuItemID(menu, i), 0);
    }
    return;
  }
  SendMessageW(Item(control), BM_CLICK, 0, 0);
}

void UserSelectEntry(int control, int index) {
  HWND list = Item(control);
  RECT item;
  SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
  SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
}

void UserDragFromEntry(int control, int index, int dx, int dy) {
  HWND list = Item(control);
  RECT item;
  SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  const int x = (item.left + item.right) / 2;
  const int y = (item.top + item.bottom) / 2;
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + dx, y + dy));
  PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(x + dx, y + dy));
}

void UserSpinStep(int control, int delta) {
  PressKey(Item(control), delta > 0 ? VK_UP : VK_DOWN);
}

void UserType(int control, const char* text) {
  HWND edit = Item(control);
  SendMessageW(edit, EM_SETSEL, 0x7FFF, 0x7FFF);
  for (const char* p = text; *p != '\0'; ++p) PostMessageW(edit, WM_CHAR, static_cast<WPARAM>(*p), 1);
}

void UserCloseWindow() {
  PostMessageW(MainHwnd(), WM_CLOSE, 0, 0);
}

void UserPressEscape() {
  PressKeyAtFocus(VK_ESCAPE);
}

void UserTab(int direction) {
  BYTE keys[256];
  GetKeyboardState(keys);
  BYTE shifted[256];
  for (int i = 0; i < 256; ++i) shifted[i] = keys[i];
  shifted[VK_SHIFT] = direction < 0 ? 0x80 : 0;
  SetKeyboardState(shifted);
  PressKeyAtFocus(VK_TAB);
  // The keyboard state is read while the key is processed: process it now.
  for (int i = 0; i < 100 && PollEvent().kind != EventKind::None; ++i) {
  }
  SetKeyboardState(keys);
}

int FocusedControl() {
  HWND focus = GetFocus();
  while (focus != nullptr && GetParent(focus) != MainHwnd()) focus = GetParent(focus);
  return focus == nullptr ? -1 : GetDlgCtrlID(focus);
}

void FocusControl(int control) {
  SetFocus(Item(control));
}

int ControlEnabled(int control) {
  return IsWindowEnabled(Item(control)) ? 1 : 0;
}

std::string ListEntry(int control, int index) {
  wchar_t buffer[64] = {};
  SendMessageW(Item(control), LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
  std::string text;
  for (const wchar_t* p = buffer; *p != L'\0'; ++p) text += static_cast<char>(*p);
  return text;
}

std::vector<std::uint32_t> ShownPixels(int control, bool whole) {
  HWND hwnd = Item(control);
  if (whole) {
    RedrawWindow(MainHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  RECT client;
  GetClientRect(hwnd, &client);
  const int width = client.right;
  const int height = client.bottom;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  HDC dc = GetDC(hwnd);
  HDC copy = CreateCompatibleDC(dc);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(copy, bitmap);
  BitBlt(copy, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  GdiFlush();
  if (bits != nullptr) std::memcpy(pixels.data(), bits, pixels.size() * sizeof(std::uint32_t));
  SelectObject(copy, previous);
  DeleteObject(bitmap);
  DeleteDC(copy);
  ReleaseDC(hwnd, dc);
  return pixels;
}
