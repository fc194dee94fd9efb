// Starting another program on Linux and other POSIX desktops, never waiting
// for it. The program is looked for on the PATH first. When it isn't there -
// "Notepad.exe" on a Linux desktop - the argument goes to the desktop's
// default handler instead (xdg-open), which is what opens config.txt in the
// user's own text editor, as Windows' shell does for a program it can't find.
// That opener, unlike Notepad, refuses a file that doesn't exist, hence
// PrepareFileForEditor.
#include "config/launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int Spawn(const char* program, const char* argument, const char* directory) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (directory != nullptr && directory[0] != '\0') posix_spawn_file_actions_addchdir_np(&actions, directory);
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
  if (argument == nullptr || argument[0] == '\0') argv[1] = nullptr;
  pid_t child = 0;
  const int failed = posix_spawnp(&child, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return 0;
  // Not waited for: it runs on by itself, and is collected when it ends
  // (or adopted by the system once this program has ended).
  waitpid(child, nullptr, WNOHANG);
  return 1;
}

}  // namespace

int StartProgram(const char* program, const char* argument, const char* directory) {
  if (program == nullptr || program[0] == '\0') return 0;
  if (Spawn(program, argument, directory)) return 1;
  if (argument == nullptr || argument[0] == '\0') return 0;
  return Spawn("xdg-open", argument, directory);
}

void PrepareFileForEditor(const char* name) {
  if (name == nullptr || name[0] == '\0') return;
  // O_EXCL: only a file that isn't there is created, so an existing one - or
  // whatever a dangling link of that name points to - is never truncated.
  // O_NONBLOCK keeps the open from waiting should the name be a FIFO.
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd >= 0) close(fd);
}
