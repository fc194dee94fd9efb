// Starting real programs under Windows (or Wine), without waiting for them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "config/launch.h"

namespace {

std::string Utf8(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool AppearsWithin(const std::filesystem::path& path, int seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

TEST(StartProgramWin32, StartsAProgramFoundOnThePath) {
  EXPECT_EQ(StartProgram("cmd.exe", "/c exit", ""), 1);
}

TEST(StartProgramWin32, RunsInTheDirectoryGivenWithTheArgument) {
  std::filesystem::path directory = std::filesystem::temp_directory_path() / L"quorlen-launch-test";
  std::filesystem::create_directories(directory);
  std::filesystem::path marker = directory / L"started.txt";
  std::filesystem::remove(marker);
  EXPECT_EQ(StartProgram("cmd.exe", "/c echo started>started.txt", Utf8(directory).c_str()), 1);
  EXPECT_TRUE(AppearsWithin(marker, 20));
  // The program runs on by itself; give it a moment to let go of the file.
  for (int i = 0; i < 100 && std::filesystem::exists(marker); ++i) {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TEST(StartProgramWin32, MissingProgramFailsWithoutADialog) {
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(StartProgram("quorlen-no-such-program-7f3a.exe", "config.txt", ""), 0);
  EXPECT_EQ(StartProgram("C:\\quorlen-no-such-dir\\nothing.exe", "", ""), 0);
  EXPECT_EQ(StartProgram("", "", ""), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
}
