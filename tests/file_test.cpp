// Opening and reading a file that must already exist.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace {

std::string Utf8(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path TestPath(const char* name) {
  return std::filesystem::temp_directory_path() / name;
}

std::string ReadAll(std::intptr_t file, int pieceSize) {
  std::string text;
  unsigned char piece[4096];
  int got;
  while ((got = ReadFileBytes(file, piece, pieceSize)) > 0) {
    text.append(reinterpret_cast<const char*>(piece), static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

TEST(ExistingFile, MissingFileIsNotCreated) {
  std::filesystem::path path = TestPath("quorlen-file-test-missing.txt");
  std::filesystem::remove(path);
  EXPECT_EQ(OpenExistingFile(Utf8(path).c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(OpenExistingFile(nullptr), 0);
  EXPECT_EQ(OpenExistingFile(""), 0);
}

TEST(ExistingFile, DirectoryIsNoFile) {
  EXPECT_EQ(OpenExistingFile(Utf8(std::filesystem::temp_directory_path()).c_str()), 0);
}

#ifndef _WIN32
// What else a name can stand for on POSIX. A FIFO must not make the open wait
// for a writer: should it wait all the same, a writer comes after 5 s so that
// the test fails instead of hanging.
TEST(ExistingFile, FifoDeviceAndDanglingLinkAreNoFile) {
  const std::filesystem::path fifo = TestPath("quorlen-file-test-fifo");
  const std::filesystem::path dangling = TestPath("quorlen-file-test-dangling");
  const std::filesystem::path device = TestPath("quorlen-file-test-device");
  std::filesystem::remove(fifo);
  std::filesystem::remove(dangling);
  std::filesystem::remove(device);
  ASSERT_EQ(mkfifo(Utf8(fifo).c_str(), 0600), 0);
  std::filesystem::create_symlink(TestPath("quorlen-file-test-nowhere"), dangling);
  std::filesystem::create_symlink("/dev/zero", device);

  for (const auto& path : {fifo, dangling, device}) {
    SCOPED_TRACE(Utf8(path));
    std::atomic<bool> returned{false};
    std::thread writer([&] {
      for (int i = 0; i < 100 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const int fd = returned ? -1 : open(Utf8(path).c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
    });
    const std::intptr_t file = OpenExistingFile(Utf8(path).c_str());
    returned = true;
    writer.join();
    EXPECT_EQ(file, 0);
    CloseFile(file);
  }
  std::filesystem::remove(fifo);
  std::filesystem::remove(dangling);
  std::filesystem::remove(device);
}
#endif

TEST(ExistingFile, ReadsTheBytesBackInPieces) {
  std::filesystem::path path = TestPath("quorlen-file-test-read.txt");
  std::string content = std::string("192\r\n168\0\n1\n16\n", 16) + std::string(10000, 'z');
  {
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  for (int pieceSize : {1, 7, 4096}) {
    std::intptr_t file = OpenExistingFile(Utf8(path).c_str());
    ASSERT_NE(file, 0);
    EXPECT_EQ(ReadAll(file, pieceSize), content) << "pieces of " << pieceSize;
    EXPECT_EQ(ReadFileBytes(file, nullptr, 10), 0);
    CloseFile(file);
  }
  std::filesystem::remove(path);
}

// The file is read from the handle opened once: a name removed after the open
// (where the system lets it be removed at all) changes nothing.
TEST(ExistingFile, ReadsTheOpenedFileAfterItsNameIsRemoved) {
  std::filesystem::path path = TestPath("quorlen-file-test-removed.txt");
  { std::ofstream(path, std::ios::binary) << "192\n168\n1\n16\n"; }
  std::intptr_t file = OpenExistingFile(Utf8(path).c_str());
  ASSERT_NE(file, 0);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // refused on Windows: the open shares nothing
  EXPECT_EQ(ReadAll(file, 4096), "192\n168\n1\n16\n");
  CloseFile(file);
  std::filesystem::remove(path, ignored);
}

TEST(ExistingFile, EmptyFileReadsNothing) {
  std::filesystem::path path = TestPath("quorlen-file-test-empty.txt");
  { std::ofstream out(path, std::ios::binary); }
  std::intptr_t file = OpenExistingFile(Utf8(path).c_str());
  ASSERT_NE(file, 0);
  unsigned char byte = 0x55;
  EXPECT_EQ(ReadFileBytes(file, &byte, 1), 0);
  EXPECT_EQ(byte, 0x55);
  CloseFile(file);
  std::filesystem::remove(path);
}
