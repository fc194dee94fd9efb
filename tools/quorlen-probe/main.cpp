// quorlen-probe: looks into a running Quorlen window from another process, the
// way a UI-automation tool does, for the end-to-end tests and the demo.
//
//   quorlen-probe wait [ms]         wait for the main window; exit 1 on time-out
//   quorlen-probe info              window, screen and every control, as JSON
//   quorlen-probe click ID          BM_CLICK on a push or option button
//   quorlen-probe point ID [ROW]    screen point at the centre of a control
//                                   (or of a list row) for xdotool
//   quorlen-probe close             the close box: WM_SYSCOMMAND SC_CLOSE
//   quorlen-probe syscommand N      an item of the system menu: WM_SYSCOMMAND N
//   quorlen-probe key VK            a key press and release posted to the window
//                                   (reaches Windows' own modal loops, which an
//                                   X key event may not without a window manager)
//   quorlen-probe usage             what the window's process holds, as Windows
//                                   tells it: handles, GDI and USER objects,
//                                   private bytes (JSON)
//   quorlen-probe message [ms]      wait for a message box; print its title and text
//   quorlen-probe message-ok        press OK in the message box
//   quorlen-probe gone [ms]         wait until the main window no longer exists
//   quorlen-probe windows           every visible top-level window: pid, class, title
//                                   (and a message box's text)
//   quorlen-probe terminate PID     end that process (for an editor Quorlen started)
//   quorlen-probe hold FILE MS      open FILE sharing nothing, print "held", keep it
//                                   open for MS milliseconds (a locked config.txt)
//   quorlen-probe serve             read such commands from stdin, one a line;
//                                   after each one's output print "=> CODE"
//
// Exit code 0 on success, 1 when the window (or box) isn't there, 2 on misuse.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/controls.h"

namespace {

// The program's own title (ASCII, so widening each character is exact).
const std::wstring kTitle(kWindowTitle, kWindowTitle + std::char_traits<char>::length(kWindowTitle));

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[1024];
  // WM_GETTEXT across processes is marshalled by the system.
  const LRESULT n = SendMessageW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[256];
  const int n = GetClassNameW(hwnd, buffer, 256);
  return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

HWND MainWindow() {
  return FindWindowW(nullptr, kTitle.c_str());
}

HWND WaitFor(HWND (*find)(), int milliseconds) {
  for (int waited = 0;; waited += 50) {
    HWND hwnd = find();
    if (hwnd != nullptr || waited >= milliseconds) return hwnd;
    Sleep(50);
  }
}

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<BoxSearch*>(lparam);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process == search->process && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770") {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A message box of the process that owns the main window, or of any process
// when the main window is already gone.
HWND MessageBoxWindow() {
  BoxSearch search{0, nullptr};
  HWND main = MainWindow();
  if (main != nullptr) GetWindowThreadProcessId(main, &search.process);
  if (search.process == 0) {
    HWND box = FindWindowW(L"#32770", nullptr);
    return box != nullptr && IsWindowVisible(box) ? box : nullptr;
  }
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

RECT ClientRectOf(HWND child, HWND main) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string RectJson(const RECT& r) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "{\"x\":%ld,\"y\":%ld,\"w\":%ld,\"h\":%ld}", r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  return buffer;
}

// Messages whose lParam points at memory the control writes to are not
// marshalled between processes: the pointer must be valid in the target, so it
// is a block allocated there and read back.
bool RemoteCall(HWND hwnd, UINT message, WPARAM wparam, void* out, SIZE_T size, LRESULT* result) {
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  HANDLE handle = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
  if (handle == nullptr) return false;
  void* remote = VirtualAllocEx(handle, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  bool ok = false;
  if (remote != nullptr) {
    *result = SendMessageW(hwnd, message, wparam, reinterpret_cast<LPARAM>(remote));
    SIZE_T read = 0;
    ok = ReadProcessMemory(handle, remote, out, size, &read) && read == size;
    VirtualFreeEx(handle, remote, 0, MEM_RELEASE);
  }
  CloseHandle(handle);
  return ok;
}

struct ControlList {
  HWND main;
  std::string json;
};

BOOL CALLBACK DescribeControl(HWND hwnd, LPARAM lparam) {
  auto* list = reinterpret_cast<ControlList*>(lparam);
  if (GetParent(hwnd) != list->main) return TRUE;  // only the window's own controls
  const std::wstring cls = ClassOf(hwnd);
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  std::string item = "{\"id\":" + std::to_string(GetDlgCtrlID(hwnd)) + ",\"class\":" + Json(Utf8(cls)) +
                     ",\"text\":" + Json(Utf8(WindowText(hwnd))) +
                     ",\"rect\":" + RectJson(ClientRectOf(hwnd, list->main)) +
                     ",\"enabled\":" + (IsWindowEnabled(hwnd) ? "true" : "false") +
                     ",\"visible\":" + (IsWindowVisible(hwnd) ? "true" : "false") +
                     ",\"tabstop\":" + ((style & WS_TABSTOP) ? "true" : "false") +
                     ",\"style\":" + std::to_string(static_cast<unsigned long>(style));
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    item += ",\"checked\":" + std::to_string(SendMessageW(hwnd, BM_GETCHECK, 0, 0));
  } else if (_wcsicmp(cls.c_str(), L"ListBox") == 0) {
    const LRESULT count = SendMessageW(hwnd, LB_GETCOUNT, 0, 0);
    item += ",\"selected\":" + std::to_string(SendMessageW(hwnd, LB_GETCURSEL, 0, 0)) +
            ",\"top\":" + std::to_string(SendMessageW(hwnd, LB_GETTOPINDEX, 0, 0)) + ",\"entries\":[";
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t entry[256] = {};
      const LRESULT length = SendMessageW(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
      if (length >= 0 && length < 255)
        SendMessageW(hwnd, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
      if (i != 0) item += ",";
      item += Json(Utf8(entry));
    }
    item += "]";
  } else if (cls == L"msctls_updown32") {
    const LRESULT pos = SendMessageW(hwnd, UDM_GETPOS32, 0, 0);
    item += ",\"position\":" + std::to_string(pos);
  } else if (cls == L"SysIPAddress32") {
    DWORD address = 0;
    LRESULT filled = 0;
    if (!RemoteCall(hwnd, IPM_GETADDRESS, 0, &address, sizeof address, &filled)) filled = -1;
    char dotted[32];
    std::snprintf(dotted, sizeof dotted, "%lu.%lu.%lu.%lu", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    item += ",\"address\":" + Json(dotted) + ",\"filled\":" + std::to_string(filled) +
            ",\"blank\":" + (SendMessageW(hwnd, IPM_ISBLANK, 0, 0) ? "true" : "false");
  }
  item += "}";
  if (!list->json.empty()) list->json += ",";
  list->json += item;
  return TRUE;
}

int Info() {
  HWND main = MainWindow();
  if (main == nullptr) return 1;
  RECT client{}, outer{};
  GetClientRect(main, &client);
  GetWindowRect(main, &outer);
  POINT origin{0, 0};
  ClientToScreen(main, &origin);
  ControlList list{main, {}};
  EnumChildWindows(main, DescribeControl, reinterpret_cast<LPARAM>(&list));
  const HWND focus = GetFocus();  // only our own thread's; use the GUI thread info instead
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui);
  HWND focused = gui.hwndFocus != nullptr ? gui.hwndFocus : focus;
  int focusId = 0;
  while (focused != nullptr && GetParent(focused) != main && GetParent(focused) != nullptr)
    focused = GetParent(focused);
  if (focused != nullptr && GetParent(focused) == main) focusId = GetDlgCtrlID(focused);
  std::printf(
      "{\"title\":%s,\"client\":{\"w\":%ld,\"h\":%ld},\"window\":{\"left\":%ld,\"top\":%ld,\"right\":%ld,"
      "\"bottom\":%ld},\"origin\":{\"x\":%ld,\"y\":%ld},\"screen\":{\"w\":%d,\"h\":%d},\"enabled\":%s,"
      "\"focus\":%d,\"active\":%s,\"controls\":[%s]}\n",
      Json(Utf8(WindowText(main))).c_str(), client.right, client.bottom, outer.left, outer.top, outer.right,
      outer.bottom, origin.x, origin.y, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
      IsWindowEnabled(main) ? "true" : "false", focusId, gui.hwndActive == main ? "true" : "false", list.json.c_str());
  return 0;
}

HWND Control(const char* id) {
  HWND main = MainWindow();
  return main == nullptr ? nullptr : GetDlgItem(main, std::atoi(id));
}

int Point(const char* id, const char* row) {
  HWND control = Control(id);
  if (control == nullptr) return 1;
  RECT r{};
  if (row != nullptr) {
    // LB_GETITEMRECT's rectangle comes back through the system's marshalling.
    SendMessageW(control, LB_GETITEMRECT, static_cast<WPARAM>(std::atoi(row)), reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(control, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
  } else {
    GetWindowRect(control, &r);
  }
  std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return 0;
}

int Click(const char* id) {
  HWND control = Control(id);
  if (control == nullptr) return 1;
  PostMessageW(control, BM_CLICK, 0, 0);
  return 0;
}

int Usage() {
  HWND main = MainWindow();
  DWORD pid = 0;
  if (main == nullptr || GetWindowThreadProcessId(main, &pid) == 0) return 1;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) return 1;
  DWORD handles = 0;
  GetProcessHandleCount(process, &handles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  std::printf("{\"pid\":%lu,\"handles\":%lu,\"gdi\":%lu,\"user\":%lu,\"private\":%llu}\n", pid, handles,
              GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS),
              static_cast<unsigned long long>(memory.PrivateUsage));
  CloseHandle(process);
  return 0;
}

int Message(int milliseconds) {
  HWND box = WaitFor(MessageBoxWindow, milliseconds);
  if (box == nullptr) return 1;
  HWND text = GetDlgItem(box, 0xFFFF);
  std::printf("{\"title\":%s,\"text\":%s,\"owner\":%s}\n", Json(Utf8(WindowText(box))).c_str(),
              Json(Utf8(text != nullptr ? WindowText(text) : L"")).c_str(),
              GetWindow(box, GW_OWNER) != nullptr ? "true" : "false");
  return 0;
}

int MessageOk() {
  HWND box = MessageBoxWindow();
  if (box == nullptr) return 1;
  HWND ok = GetDlgItem(box, IDOK);
  if (ok == nullptr) ok = GetDlgItem(box, IDCANCEL);
  if (ok == nullptr) return 1;
  PostMessageW(ok, BM_CLICK, 0, 0);
  return 0;
}

BOOL CALLBACK DescribeTopLevel(HWND hwnd, LPARAM lparam) {
  if (!IsWindowVisible(hwnd)) return TRUE;
  auto* json = reinterpret_cast<std::string*>(lparam);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (!json->empty()) *json += ",";
  HWND text = ClassOf(hwnd) == L"#32770" ? GetDlgItem(hwnd, 0xFFFF) : nullptr;  // a message box's text
  *json += "{\"pid\":" + std::to_string(process) + ",\"class\":" + Json(Utf8(ClassOf(hwnd))) +
           ",\"title\":" + Json(Utf8(WindowText(hwnd))) +
           ",\"text\":" + Json(text != nullptr ? Utf8(WindowText(text)) : std::string()) + "}";
  return TRUE;
}

int Windows() {
  std::string json;
  EnumWindows(DescribeTopLevel, reinterpret_cast<LPARAM>(&json));
  std::printf("[%s]\n", json.c_str());
  return 0;
}

int Terminate(const char* pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::strtoul(pid, nullptr, 10)));
  if (process == nullptr) return 1;
  const BOOL ended = TerminateProcess(process, 0);
  CloseHandle(process);
  return ended ? 0 : 1;
}

// Another program that has the file open and shares nothing with anyone.
int Hold(const char* name, int milliseconds) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), length);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(milliseconds));
  CloseHandle(file);
  return 0;
}

int Gone(int milliseconds) {
  for (int waited = 0; MainWindow() != nullptr; waited += 50) {
    if (waited >= milliseconds) return 1;
    Sleep(50);
  }
  return 0;
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  const char* arg = argc > 2 ? argv[2] : nullptr;
  const int wait = arg != nullptr ? std::atoi(arg) : 10000;
  if (command == "wait") return WaitFor(MainWindow, wait) != nullptr ? 0 : 1;
  if (command == "info") return Info();
  if (command == "click" && arg != nullptr) return Click(arg);
  if (command == "point" && arg != nullptr) return Point(arg, argc > 3 ? argv[3] : nullptr);
  if (command == "close") {
    HWND main = MainWindow();
    if (main == nullptr) return 1;
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  if (command == "syscommand" && arg != nullptr) {
    HWND main = MainWindow();
    if (main == nullptr) return 1;
    PostMessageW(main, WM_SYSCOMMAND, static_cast<WPARAM>(std::atoi(arg)), 0);
    return 0;
  }
  if (command == "key" && arg != nullptr) {
    HWND main = MainWindow();
    if (main == nullptr) return 1;
    PostMessageW(main, WM_KEYDOWN, static_cast<WPARAM>(std::atoi(arg)), 1);
    PostMessageW(main, WM_KEYUP, static_cast<WPARAM>(std::atoi(arg)), 0xC0000001);
    return 0;
  }
  if (command == "message") return Message(wait);
  if (command == "message-ok") return MessageOk();
  if (command == "gone") return Gone(wait);
  if (command == "windows") return Windows();
  if (command == "terminate" && arg != nullptr) return Terminate(arg);
  if (command == "usage") return Usage();
  if (command == "hold" && argc > 3) return Hold(arg, std::atoi(argv[3]));
  return 2;
}

int Serve() {
  char line[512];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    char* words[8] = {const_cast<char*>("quorlen-probe")};
    int count = 1;
    for (char* word = std::strtok(line, " \t\r\n"); word != nullptr && count < 8;
         word = std::strtok(nullptr, " \t\r\n")) {
      words[count++] = word;
    }
    if (count == 1) continue;
    if (std::strcmp(words[1], "quit") == 0) break;
    const int code = Dispatch(count, words);
    std::printf("=> %d\n", code);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "serve") == 0) return Serve();
  return Dispatch(argc, argv);
}
