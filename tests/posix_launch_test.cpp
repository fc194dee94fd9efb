// Starting real programs on a Linux desktop, without waiting for them: a
// program on the PATH, else the desktop's opener with the argument.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "config/launch.h"

namespace {

namespace fs = std::filesystem;

std::string ReadWithin(const fs::path& path, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    std::ifstream in(path);
    std::string text;
    if (in && std::getline(in, text) && !text.empty()) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "";
}

// A PATH of one directory holding recorders that write "<working dir> <argument>"
// to <name>.log and then linger, so that a caller that waits would show.
class StartProgramPosix : public testing::Test {
 protected:
  void SetUp() override {
    bin_ = fs::temp_directory_path() / ("quorlen-launch-" + std::to_string(getpid()));
    fs::create_directories(bin_ / "work");
    path_ = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", bin_.c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", path_.c_str(), 1);
    fs::remove_all(bin_);
  }
  void Recorder(const std::string& name) const {
    const fs::path script = bin_ / name;
    std::ofstream(script) << "#!/bin/sh\necho \"$PWD $1\" > '" << (bin_ / (name + ".log")).string()
                          << "'\nexec /bin/sleep 3 </dev/null >/dev/null 2>&1\n";
    fs::permissions(script, fs::perms::owner_all);
  }
  std::string Log(const std::string& name) const { return ReadWithin(bin_ / (name + ".log"), 10); }

  fs::path bin_;
  std::string path_;
};

TEST_F(StartProgramPosix, RunsAProgramOnThePathInTheDirectoryGivenWithoutWaiting) {
  Recorder("editor");
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(StartProgram("editor", "config.txt", (bin_ / "work").c_str()), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(Log("editor"), (bin_ / "work").string() + " config.txt");
}

TEST_F(StartProgramPosix, AProgramNotFoundHandsTheFileToTheDesktopsOpener) {
  Recorder("xdg-open");
  EXPECT_EQ(StartProgram("Notepad.exe", "config.txt", ""), 1);
  EXPECT_EQ(Log("xdg-open"), fs::current_path().string() + " config.txt");
}

TEST_F(StartProgramPosix, NothingToStartIsAFailure) {
  EXPECT_EQ(StartProgram("Notepad.exe", "config.txt", ""), 0);  // and no opener either
  EXPECT_EQ(StartProgram("", "config.txt", ""), 0);
  EXPECT_EQ(StartProgram(nullptr, nullptr, nullptr), 0);
}

// What the editor finds: a missing file created empty, an existing one (even
// an empty one, or a link to one) left as it was, and where nothing can be
// created (procfs refuses even root) no file and no failure.
TEST_F(StartProgramPosix, PrepareFileForEditorCreatesOnlyAMissingFile) {
  const fs::path kept = bin_ / "kept.txt";
  std::ofstream(kept) << "192\n168\n";
  fs::create_symlink(kept, bin_ / "link.txt");
  const struct {
    fs::path name;
    bool exists;
    std::string content;
  } cases[] = {
      {bin_ / "work" / "config.txt", true, ""},
      {kept, true, "192\n168\n"},
      {bin_ / "link.txt", true, "192\n168\n"},
      {"/proc/quorlen-config.txt", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.string());
    PrepareFileForEditor(c.name.c_str());
    ASSERT_EQ(fs::exists(c.name), c.exists);
    if (c.exists) {
      std::ifstream in(c.name);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.content);
    }
  }
  PrepareFileForEditor("");
  PrepareFileForEditor(nullptr);
}

}  // namespace
