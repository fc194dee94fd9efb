// fade-floor's window on Windows: a plain top-level window, and PeekMessageW
// with PM_REMOVE, as the program's drain does when nothing is pending.
#include <windows.h>

#include "floor.h"

static HWND g_window = nullptr;

int OpenFloorWindow() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"FadeFloor";
  RegisterClassExW(&wc);
  g_window = CreateWindowExW(0, wc.lpszClassName, L"fade-floor", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 20, 20,
                             580, 200, nullptr, nullptr, wc.hInstance, nullptr);
  if (g_window == nullptr) return 0;
  ShowWindow(g_window, SW_SHOWNORMAL);
  UpdateWindow(g_window);
  // What showing the window queued (paint, activation) is taken now, so
  // the steps find the queue as a quiet fade does.
  for (int i = 0; i < 50; ++i) PeekFloorQueue();
  return 1;
}

void PeekFloorQueue() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void CloseFloorWindow() {
  if (g_window != nullptr) DestroyWindow(g_window);
  g_window = nullptr;
}
