// The headless backend of starting programs, driven by tests as ui/null_ui.h
// drives the headless window: what StartProgram was asked, and what it answers.
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
