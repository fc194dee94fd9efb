// Starting another program on Windows: CreateProcessW first, the shell's
// ShellExecuteExW as the fallback; never waits for the program.
#include "config/launch.h"

#include <windows.h>
#include <shellapi.h>

#include "ui/win32_text.h"

namespace {

const wchar_t* NullIfEmpty(const std::wstring& text) {
  return text.empty() ? nullptr : text.c_str();
}

int CreateProgramProcess(const std::string& commandLine, const std::wstring& directory) {
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring line = WideFromUtf8(commandLine.c_str());
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
  const std::wstring wideDirectory = WideFromUtf8(directory);
  if (CreateProgramProcess(CommandLineFor(program, argument), wideDirectory)) return 1;
  if (program == nullptr || program[0] == '\0') return 0;
  // The shell starts in the directory passed in or, without one, in the
  // directory the program name gives.
  const std::wstring shellDirectory =
      wideDirectory.empty() ? WideFromUtf8(DirectoryPart(program).c_str()) : wideDirectory;
  return ShellOpenProgram(WideFromUtf8(program), WideFromUtf8(argument), shellDirectory);
}

// Notepad offers to create a file it is started on that doesn't exist.
void PrepareFileForEditor(const char*) {}
