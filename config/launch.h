// Starting another program without waiting for it, and readying the file an
// editor is started on. win32_launch.cpp on Windows, posix_launch.cpp for the
// Linux program; null_launch.cpp records the calls for tests
// (config/null_launch.h).
#pragma once

#include <string>

// Starts program with one argument in directory (empty: this process's working
// directory). First CreateProcess, then the shell as a fallback. Never waits.
// Returns 1 if the program started, 0 if both attempts failed.
int StartProgram(const char* program, const char* argument, const char* directory);

// Gives an editor about to be started on name a file to open. On Linux it
// creates name empty when it is missing and never touches one that exists:
// the desktop's opener refuses a file that isn't there, where Notepad offers
// to create it, so on Windows (and headless) it does nothing. A file that
// can't be created is no error; the editor is started all the same.
void PrepareFileForEditor(const char* name);

// The directory part of a program name: up to and including its last "\" or
// "/", skipping a leading double quote and stopping at "|". Empty if none.
std::string DirectoryPart(const char* name);

// The command line StartProgram hands to CreateProcess.
std::string CommandLineFor(const char* program, const char* argument);
