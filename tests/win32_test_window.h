// The Win32 window tests' way to their own window.
#pragma once

#include <windows.h>

#include <string>

#include "ui/controls.h"

// This process's main window: another test program may show one of the same
// title on the same display.
inline HWND MainHwnd() {
  std::wstring title;
  for (const char* p = kWindowTitle; *p != '\0'; ++p) title += static_cast<wchar_t>(*p);
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, nullptr, title.c_str())) != nullptr;) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return window;
  }
  return nullptr;
}

inline HWND Item(int number) {
  return GetDlgItem(MainHwnd(), number);
}
