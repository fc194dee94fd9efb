// Starting another program on Windows: CreateProcessW first, the shell's
// ShellExecuteExW as the fallback; never waits for the program.
#include "config/launch.h"

#include <windows.h>
#include <shellapi.h>

namespace {

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

const wchar_t* NullIfEmpty(const std::wstring& text) {
  return text.empty() ? nullptr : text.c_str();
}

int CreateProgramProcess(const std::string& commandLine, const std::wstring& directory) {
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring line = WideFromUtf8(commandLine);
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      NullIfEmpty(directory), &startup, &process)) {
    return 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 1;
}

int ShellOpenProgram(const std::wstring& program, const std::wstring& argument, const std::wstring& directory) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = nullptr;
  info.lpFile = program.c_str();
  info.lpParameters = NullIfEmpty(argument);
  info.lpDirectory = NullIfEmpty(directory);
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) ? 1 : 0;
}

}  // namespace

int StartProgram(const char* program, const char* argument, const char* directory) {
  std::string programText = program != nullptr ? program : "";
  std::string argumentText = argument != nullptr ? argument : "";
  std::string directoryText = directory != nullptr ? directory : "";
  std::wstring wideDirectory = WideFromUtf8(directoryText);
  if (CreateProgramProcess(CommandLineFor(programText.c_str(), argumentText.c_str()), wideDirectory)) {
    return 1;
  }
  if (programText.empty()) {
    return 0;
  }
  // The shell starts in the directory passed in or, without one, in the
  // directory the program name gives.
  std::wstring shellDirectory =
      directoryText.empty() ? WideFromUtf8(DirectoryPart(programText.c_str())) : wideDirectory;
  return ShellOpenProgram(WideFromUtf8(programText), WideFromUtf8(argumentText), shellDirectory);
}
