// The address file is opened without sharing: another open handle makes it fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <windows.h>

#include "config/file.h"

TEST(ExistingFileWin32, HeldOpenElsewhereCannotBeOpened) {
  std::filesystem::path path = std::filesystem::temp_directory_path() / L"quorlen-file-test-held.txt";
  { std::ofstream(path, std::ios::binary) << "192\n"; }
  std::u8string name8 = path.u8string();
  std::string name(name8.begin(), name8.end());

  HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenExistingFile(name.c_str()), 0);
  CloseHandle(other);

  std::intptr_t file = OpenExistingFile(name.c_str());
  ASSERT_NE(file, 0);
  // Our own open shares nothing either: a second reader is refused.
  EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenExistingFile(name.c_str()), 0);
  CloseFile(file);
  std::filesystem::remove(path);
}

TEST(ExistingFileWin32, NonAsciiNameIsFound) {
  std::filesystem::path path = std::filesystem::temp_directory_path() / L"quorlen-\u00e9\u4e2d.txt";
  { std::ofstream(path, std::ios::binary) << "16"; }
  std::u8string name8 = path.u8string();
  std::intptr_t file = OpenExistingFile(std::string(name8.begin(), name8.end()).c_str());
  ASSERT_NE(file, 0);
  unsigned char bytes[8];
  EXPECT_EQ(ReadFileBytes(file, bytes, 8), 2);
  CloseFile(file);
  std::filesystem::remove(path);
}

// A device or a pipe opens like a file on Windows, but is no address file.
TEST(ExistingFileWin32, DeviceAndPipeAreNoFile) {
  EXPECT_EQ(OpenExistingFile("NUL"), 0);
  HANDLE pipe =
      CreateNamedPipeW(L"\\\\.\\pipe\\quorlen-file-test", PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenExistingFile("\\\\.\\pipe\\quorlen-file-test"), 0);
  CloseHandle(pipe);
}
