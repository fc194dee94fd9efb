// Reading an existing file with POSIX calls. POSIX has no sharing modes, so
// the open only asks for read access; another program holding the file open
// doesn't make it fail here.
#include "config/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The handle is the descriptor plus one, so that 0 always means "no file".
std::intptr_t OpenExistingFile(const char* name) {
  if (name == nullptr || name[0] == '\0') {
    return 0;
  }
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer,
  // and the program would hang at start. Only a regular file is an address
  // file: a directory opens on POSIX but not on Windows, and a FIFO or a
  // device is no file the user wrote. (A regular file reads the same with
  // O_NONBLOCK set, so the flag stays.)
  int fd;
  do {
    fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return 0;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return 0;
  }
  return static_cast<std::intptr_t>(fd) + 1;
}

int ReadFileBytes(std::intptr_t file, unsigned char* buffer, int size) {
  if (file <= 0 || buffer == nullptr || size <= 0) {
    return 0;
  }
  ssize_t got;
  do {
    got = read(static_cast<int>(file - 1), buffer, static_cast<std::size_t>(size));
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<int>(got) : 0;  // an error counts as the end
}

void CloseFile(std::intptr_t file) {
  if (file > 0) {
    close(static_cast<int>(file - 1));
  }
}
