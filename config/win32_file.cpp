// Reading an existing file with the Windows API: read access only, no
// sharing, so the open fails while another program holds the file open.
#include "config/file.h"

#include <windows.h>

#include <string>

#include "ui/win32_text.h"

std::intptr_t OpenExistingFile(const char* name) {
  if (name == nullptr || name[0] == '\0') {
    return 0;
  }
  std::wstring wideName = WideFromUtf8(name);
  if (wideName.empty()) {
    return 0;
  }
  HANDLE file = CreateFileW(wideName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    return 0;
  }
  // Only a file on a disk is an address file, not a pipe or a device.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return 0;
  }
  return reinterpret_cast<std::intptr_t>(file);
}

int ReadFileBytes(std::intptr_t file, unsigned char* buffer, int size) {
  if (file == 0 || buffer == nullptr || size <= 0) {
    return 0;
  }
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, static_cast<DWORD>(size), &got, nullptr)) {
    return 0;  // an error counts as the end of the file
  }
  return static_cast<int>(got);
}

void CloseFile(std::intptr_t file) {
  if (file != 0) {
    CloseHandle(reinterpret_cast<HANDLE>(file));
  }
}
