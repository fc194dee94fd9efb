// quorlen-probe: reads and drives a running Quorlen window from another process, the
// way a UI-automation tool does, for the end-to-end tests and the demo. "quorlen-probe
// serve" runs one command a line from stdin until "quit", each answered by its output and
// a line "=> CODE":
//   wait [ms], gone [ms]  wait until the main window is there, or no longer is
//   info                  window, screen and every control, as JSON
//   click ID              BM_CLICK on a push or option button
//   point ID [ROW]        screen point at the centre of a control (or a list row), for xdotool
//   close, syscommand N   WM_SYSCOMMAND SC_CLOSE (the close box), or N (a system menu item)
//   key VK                a key press and release posted to the window (reaches Windows'
//                         own modal loops, which an X key event may not without a window manager)
//   usage                 the window's process's handles, GDI and USER objects and private bytes (JSON)
//   message [ms]          wait for a message box; print its title and text
//   message-ok            press the message box's OK
//   windows               every visible top-level window: pid, class, title (and a box's text)
//   terminate PID         end that process (for an editor Quorlen started)
// "quorlen-probe hold FILE MS" opens FILE sharing nothing, prints "held" and keeps it open
// for MS milliseconds: another program holding config.txt, so a process of its own.
// Waits last 10 s unless told. The code is 0 on success, 1 when the window (or box) isn't
// there, 2 on misuse.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ui/controls.h"
#include "ui/win32_text.h"

namespace {

// Keys in the order they are added, as the answers have always come.
using Json = nlohmann::ordered_json;

const int kMessageBoxText = 0xFFFF;  // the static control that holds a message box's text

// A window's text in UTF-8, as the answers carry it.
std::string Text(const std::wstring& text) {
  return Utf8FromWide(text.c_str());
}

// One answer, on a line of its own.
void Print(const Json& answer) {
  std::printf("%s\n", answer.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[1024] = {};
  // WM_GETTEXT across processes is marshalled by the system; no window leaves the buffer empty.
  SendMessageW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetClassNameW(hwnd, buffer, 256);
  return buffer;
}

using Process = std::unique_ptr<void, decltype(&CloseHandle)>;

Process OpenProcessHandle(DWORD access, DWORD pid) {
  return Process(OpenProcess(access, FALSE, pid), &CloseHandle);
}

DWORD ProcessOf(HWND hwnd) {
  DWORD process = 0;
  if (hwnd != nullptr) GetWindowThreadProcessId(hwnd, &process);
  return process;
}

BOOL CALLBACK Add(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

// Every top-level window (PARENT null) or every window below PARENT. The system's
// walk, not GetWindow's chain, which a window closing meanwhile would cut short.
std::vector<HWND> WindowsBelow(HWND parent) {
  std::vector<HWND> found;
  parent != nullptr ? EnumChildWindows(parent, Add, reinterpret_cast<LPARAM>(&found))
                    : EnumWindows(Add, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND MainWindow() {
  return FindWindowW(nullptr, WideFromUtf8(kWindowTitle).c_str());
}

// A visible message box of the process that owns the main window, or of any
// process when the main window is already gone.
HWND MessageBoxWindow() {
  const DWORD process = ProcessOf(MainWindow());
  for (HWND hwnd : WindowsBelow(nullptr))
    if ((process == 0 || ProcessOf(hwnd) == process) && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770")
      return hwnd;
  return nullptr;
}

template <typename Done>
bool WaitUntil(Done done, int milliseconds) {
  for (int waited = 0; !done(); waited += 50) {
    if (waited >= milliseconds) return false;
    Sleep(50);
  }
  return true;
}

// Messages whose lParam points at memory the control writes to are not marshalled between
// processes: the pointer must be valid in the target, so it is a block allocated there and
// read back. False when the block can't be placed or read.
bool RemoteCall(HWND hwnd, UINT message, void* out, SIZE_T size) {
  const Process process = OpenProcessHandle(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, ProcessOf(hwnd));
  void* remote =
      process ? VirtualAllocEx(process.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
  if (remote == nullptr) return false;
  SendMessageW(hwnd, message, 0, reinterpret_cast<LPARAM>(remote));
  SIZE_T read = 0;
  const bool ok = ReadProcessMemory(process.get(), remote, out, size, &read) && read == size;
  VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
  return ok;
}

// One control, with what its class holds: a button's check, a list's entries,
// a spin's position, an address field's address.
Json DescribeControl(HWND hwnd, HWND main) {
  const std::wstring cls = ClassOf(hwnd);
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
  Json item = {{"id", GetDlgCtrlID(hwnd)},
               {"class", Text(cls)},
               {"text", Text(WindowText(hwnd))},
               {"rect", {{"x", r.left}, {"y", r.top}, {"w", r.right - r.left}, {"h", r.bottom - r.top}}},
               {"enabled", IsWindowEnabled(hwnd) != FALSE},
               {"visible", IsWindowVisible(hwnd) != FALSE}};
  auto send = [hwnd](UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageW(hwnd, message, wparam, lparam);
  };
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    item["checked"] = send(BM_GETCHECK);
  } else if (_wcsicmp(cls.c_str(), L"ListBox") == 0) {
    Json entries = Json::array();
    for (LRESULT i = 0, count = send(LB_GETCOUNT); i < count; ++i) {
      wchar_t entry[256] = {};
      const LRESULT length = send(LB_GETTEXTLEN, static_cast<WPARAM>(i));
      if (length >= 0 && length < 255) send(LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
      entries.push_back(Text(entry));
    }
    item["selected"] = send(LB_GETCURSEL);
    item["top"] = send(LB_GETTOPINDEX);
    item["entries"] = entries;
  } else if (cls == L"msctls_updown32") {
    item["position"] = send(UDM_GETPOS32);
  } else if (cls == L"SysIPAddress32") {
    DWORD address = 0;
    char dotted[32];
    item["address"] = nullptr;  // not read: never a made-up 0.0.0.0
    if (RemoteCall(hwnd, IPM_GETADDRESS, &address, sizeof address)) {
      std::snprintf(dotted, sizeof dotted, "%lu.%lu.%lu.%lu", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                    (address >> 8) & 0xFF, address & 0xFF);
      item["address"] = dotted;
    }
    item["blank"] = send(IPM_ISBLANK) != 0;
  }
  return item;
}

int Info() {
  HWND main = MainWindow();
  if (main == nullptr) return 1;
  RECT client{}, outer{};
  GetClientRect(main, &client);
  GetWindowRect(main, &outer);
  POINT origin{0, 0};
  ClientToScreen(main, &origin);
  Json controls = Json::array();
  for (HWND hwnd : WindowsBelow(main))
    if (GetParent(hwnd) == main) controls.push_back(DescribeControl(hwnd, main));  // not the controls' own parts
  // GetFocus answers for the caller's thread only; the window's thread tells its own.
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui);
  HWND focused = gui.hwndFocus;
  while (focused != nullptr && GetParent(focused) != main) focused = GetParent(focused);
  Print({{"title", Text(WindowText(main))},
         {"client", {{"w", client.right}, {"h", client.bottom}}},
         {"window", {{"left", outer.left}, {"top", outer.top}, {"right", outer.right}, {"bottom", outer.bottom}}},
         {"origin", {{"x", origin.x}, {"y", origin.y}}},
         {"screen", {{"w", GetSystemMetrics(SM_CXSCREEN)}, {"h", GetSystemMetrics(SM_CYSCREEN)}}},
         {"enabled", IsWindowEnabled(main) != FALSE},
         {"focus", focused != nullptr ? GetDlgCtrlID(focused) : 0},
         {"active", gui.hwndActive == main},
         {"controls", controls}});
  return 0;
}

// The control's centre, or with ROW 0 or more that list row's.
int Point(int id, int row) {
  HWND control = GetDlgItem(MainWindow(), id);
  if (control == nullptr) return 1;
  RECT r{};
  if (row >= 0) {
    // LB_GETITEMRECT's rectangle comes back through the system's marshalling.
    SendMessageW(control, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(control, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
  } else {
    GetWindowRect(control, &r);
  }
  std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return 0;
}

// False when there is no such window.
bool Post(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  return window != nullptr && PostMessageW(window, message, wparam, lparam);
}

int Usage() {
  const DWORD pid = ProcessOf(MainWindow());
  const Process process = OpenProcessHandle(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, pid);
  if (pid == 0 || !process) return 1;
  DWORD handles = 0;
  GetProcessHandleCount(process.get(), &handles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  Print({{"pid", pid},
         {"handles", handles},
         {"gdi", GetGuiResources(process.get(), GR_GDIOBJECTS)},
         {"user", GetGuiResources(process.get(), GR_USEROBJECTS)},
         {"private", static_cast<unsigned long long>(memory.PrivateUsage)}});
  return 0;
}

int Message(int milliseconds) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = MessageBoxWindow()) != nullptr; }, milliseconds)) return 1;
  Print({{"title", Text(WindowText(box))}, {"text", Text(WindowText(GetDlgItem(box, kMessageBoxText)))}});
  return 0;
}

bool MessageOk() {
  HWND box = MessageBoxWindow();  // none: no OK and no Cancel either
  HWND ok = GetDlgItem(box, IDOK);
  return Post(ok != nullptr ? ok : GetDlgItem(box, IDCANCEL), BM_CLICK);
}

int Windows() {
  Json windows = Json::array();
  for (HWND hwnd : WindowsBelow(nullptr)) {
    if (!IsWindowVisible(hwnd)) continue;
    HWND text = ClassOf(hwnd) == L"#32770" ? GetDlgItem(hwnd, kMessageBoxText) : nullptr;
    windows.push_back({{"pid", ProcessOf(hwnd)},
                       {"class", Text(ClassOf(hwnd))},
                       {"title", Text(WindowText(hwnd))},
                       {"text", Text(WindowText(text))}});
  }
  Print(windows);
  return 0;
}

// Another program that has the file open and shares nothing with anyone.
int Hold(const char* name, int milliseconds) {
  HANDLE file =
      CreateFileW(WideFromUtf8(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(milliseconds));
  CloseHandle(file);
  return 0;
}

// One line of serve: a command and its numbers.
int Dispatch(std::istream& words) {
  std::string command;
  int number = 0, row = 0;
  words >> command;
  const bool given = static_cast<bool>(words >> number);
  const int wait = given ? number : 10000;  // 10 s when a wait isn't told
  const auto code = [](bool done) { return done ? 0 : 1; };
  if (command == "wait") return code(WaitUntil([] { return MainWindow() != nullptr; }, wait));
  if (command == "gone") return code(WaitUntil([] { return MainWindow() == nullptr; }, wait));
  if (command == "info") return Info();
  if (command == "click" && given) return code(Post(GetDlgItem(MainWindow(), number), BM_CLICK));
  if (command == "point" && given) return Point(number, words >> row ? row : -1);
  if (command == "close") return code(Post(MainWindow(), WM_SYSCOMMAND, SC_CLOSE));
  if (command == "syscommand" && given) return code(Post(MainWindow(), WM_SYSCOMMAND, number));
  if (command == "key" && given)
    return code(Post(MainWindow(), WM_KEYDOWN, number, 1) && Post(MainWindow(), WM_KEYUP, number, 0xC0000001));
  if (command == "usage") return Usage();
  if (command == "message") return Message(wait);
  if (command == "message-ok") return code(MessageOk());
  if (command == "windows") return Windows();
  if (command == "terminate" && given)
    return code(TerminateProcess(OpenProcessHandle(PROCESS_TERMINATE, number).get(), 0));
  return 2;
}

int Serve() {
  for (std::string line; std::getline(std::cin, line) && line != "quit";) {
    std::istringstream words(line);
    std::printf("=> %d\n", Dispatch(words));
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "hold") return Hold(argv[2], std::atoi(argv[3]));
  return argc == 2 && std::string(argv[1]) == "serve" ? Serve() : 2;
}
