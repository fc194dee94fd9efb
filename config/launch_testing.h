// Test-only: what the null StartProgram was asked, and what it answers.
// Product code never includes this header.
#pragma once

#include <string>
#include <vector>

struct StartedProgram {
  std::string program;
  std::string argument;
  std::string directory;
};
std::vector<StartedProgram>& NullStartedPrograms();
// StartProgram answers this from now on (1 unless told otherwise).
void NullSetStartProgramResult(int result);
