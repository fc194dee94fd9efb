// The parts of a program name that starting it needs: its directory and the
// command line built from it.
#include "config/launch.h"

std::string DirectoryPart(const char* name) {
  if (name == nullptr) {
    return std::string();
  }
  const char* begin = name[0] == '"' ? name + 1 : name;
  const char* end = begin;  // just past the last slash found
  for (const char* p = begin; *p != '\0' && *p != '|'; ++p) {
    if (*p == '\\' || *p == '/') {
      end = p + 1;
    }
  }
  return std::string(begin, end);
}

std::string CommandLineFor(const char* program, const char* argument) {
  const char* name = program != nullptr ? program : "";
  bool quoted = name[0] == '"';
  std::string line;
  if (!quoted) {
    line.push_back('"');
  }
  line.append(name);
  if (!quoted) {
    line.push_back('"');
  }
  if (argument != nullptr && argument[0] != '\0') {
    line.push_back(' ');
    line.append(argument);
  }
  return line;
}
