#include "ui/win32_text.h"

#include <windows.h>

std::wstring WideFromUtf8(const char* text) {
  if (text == nullptr || text[0] == '\0') return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));  // drop the terminator
  return wide;
}

std::string Utf8FromWide(const wchar_t* text, int length) {
  if (text == nullptr || length == 0) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
  if (length < 0) narrow.resize(static_cast<std::size_t>(size - 1));  // the terminator was converted too
  return narrow;
}
