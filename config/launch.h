// Starting another program without waiting for it.
// win32_launch.cpp on Windows; null_launch.cpp records the calls for tests.
#pragma once

#include <string>
#include <vector>

// Starts program with one argument in directory (empty: this process's working
// directory). First CreateProcess, then the shell as a fallback. Never waits.
// Returns 1 if the program started, 0 if both attempts failed.
int StartProgram(const char* program, const char* argument, const char* directory);

// The directory part of a program name: up to and including its last "\" or
// "/", skipping a leading double quote and stopping at "|". Empty if none.
std::string DirectoryPart(const char* name);

// The command line StartProgram hands to CreateProcess.
std::string CommandLineFor(const char* program, const char* argument);

// Null backend only: what StartProgram was asked, and what it answers.
struct StartedProgram {
  std::string program;
  std::string argument;
  std::string directory;
};
std::vector<StartedProgram>& NullStartedPrograms();
void NullSetStartProgramResult(int result);
