// UTF-8 text to and from the UTF-16 that the Windows API takes. The program's
// texts are UTF-8 everywhere else. Only win32_ files include this header.
#pragma once

#include <string>

// A null text, an empty one or one that isn't valid UTF-8 gives L"".
std::wstring WideFromUtf8(const char* text);
// length characters of text, or up to its terminator when length is -1.
std::string Utf8FromWide(const wchar_t* text, int length = -1);
