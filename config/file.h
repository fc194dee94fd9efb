// Reading a text file that already exists, opened without sharing.
// win32_file.cpp / posix_file.cpp.
#pragma once

#include <cstdint>

// Opens an existing file for reading only, never creating it. On Windows the
// file is opened without sharing, so the open fails while another program
// holds it. Returns a handle, or 0 when the file cannot be opened or is no
// regular file (a directory, a FIFO, a device); such an open never waits.
std::intptr_t OpenExistingFile(const char* name);
// Reads up to size bytes; returns how many, 0 at the end or on an error.
int ReadFileBytes(std::intptr_t file, unsigned char* buffer, int size);
void CloseFile(std::intptr_t file);
