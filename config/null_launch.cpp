// Starting a program without a platform: each request is recorded, and the
// answer is whatever a test has set (1 unless told otherwise).
#include "config/launch.h"
#include "config/null_launch.h"

static std::vector<StartedProgram> g_nullStartedPrograms;
static int g_nullStartProgramResult = 1;

int StartProgram(const char* program, const char* argument, const char* directory) {
  g_nullStartedPrograms.push_back(StartedProgram{program != nullptr ? program : "", argument != nullptr ? argument : "",
                                                 directory != nullptr ? directory : ""});
  return g_nullStartProgramResult;
}

std::vector<StartedProgram>& NullStartedPrograms() {
  return g_nullStartedPrograms;
}

void NullSetStartProgramResult(int result) {
  g_nullStartProgramResult = result;
}

// The headless program behaves as the Windows one: it never creates the file.
void PrepareFileForEditor(const char*) {}
