// The directory part of a program name and the command line built from it.
#include <gtest/gtest.h>

#include "config/launch.h"

TEST(ProgramName, DirectoryPart) {
  EXPECT_EQ(DirectoryPart("Notepad.exe"), "");
  EXPECT_EQ(DirectoryPart("C:\\x\\y.exe"), "C:\\x\\");
  EXPECT_EQ(DirectoryPart("\"C:/a b/c.exe\""), "C:/a b/");
  EXPECT_EQ(DirectoryPart("C:\\a/b\\c.exe"), "C:\\a/b\\");
  EXPECT_EQ(DirectoryPart("C:\\tools|D:\\other\\x.exe"), "C:\\");
  EXPECT_EQ(DirectoryPart("edit|C:\\x\\y.exe"), "");
  EXPECT_EQ(DirectoryPart("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(DirectoryPart("\""), "");
  EXPECT_EQ(DirectoryPart(""), "");
  EXPECT_EQ(DirectoryPart(nullptr), "");
}

TEST(ProgramName, CommandLine) {
  EXPECT_EQ(CommandLineFor("Notepad.exe", "config.txt"), "\"Notepad.exe\" config.txt");
  EXPECT_EQ(CommandLineFor("Notepad.exe", ""), "\"Notepad.exe\"");
  EXPECT_EQ(CommandLineFor("Notepad.exe", nullptr), "\"Notepad.exe\"");
  EXPECT_EQ(CommandLineFor("C:\\x\\y.exe", "a b"), "\"C:\\x\\y.exe\" a b");
  EXPECT_EQ(CommandLineFor("\"C:/a b/c.exe\"", "config.txt"), "\"C:/a b/c.exe\" config.txt");
  EXPECT_EQ(CommandLineFor("a|b.exe", "x"), "\"a|b.exe\" x");
  EXPECT_EQ(CommandLineFor("Notepad.exe", "my config.txt"), "\"Notepad.exe\" my config.txt");
}
