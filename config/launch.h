// Starting another program without waiting for it.
// win32_launch.cpp on Windows; null_launch.cpp records the calls for tests
// (config/launch_testing.h).
#pragma once

#include <string>

// Starts program with one argument in directory (empty: this process's working
// directory). First CreateProcess, then the shell as a fallback. Never waits.
// Returns 1 if the program started, 0 if both attempts failed.
int StartProgram(const char* program, const char* argument, const char* directory);

// The directory part of a program name: up to and including its last "\" or
// "/", skipping a leading double quote and stopping at "|". Empty if none.
std::string DirectoryPart(const char* name);

// The command line StartProgram hands to CreateProcess.
std::string CommandLineFor(const char* program, const char* argument);
