// Opening and reading a file that must already exist.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/file.h"

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
