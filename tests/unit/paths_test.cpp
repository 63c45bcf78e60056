#include <gtest/gtest.h>

#include <string>

#include "scan/drive_stats.h"
#include "scan/start_path.h"

namespace {

std::string WorkDirectoryOf(char letter) {
  if (letter == 'C') return "C:\\Work\\Sub";
  if (letter == 'D') return "D:\\";
  return std::string(1, letter) + ":\\Else";
}

TEST(ExpandDrivePath, ResolvesAgainstTheDrivesCurrentDirectory) {
  const struct {
    const char* argument;
    const char* expanded;
  } cases[] = {
      {".", "C:\\Work\\Sub\\"},
      {"", "C:\\Work\\Sub\\"},
      {"..", "C:\\Work\\"},
      {"..\\..\\Tmp", "C:\\Tmp"},
      {"..\\..\\..\\..\\Tmp", "C:\\Tmp"},
      {"Docs", "C:\\Work\\Sub\\Docs"},
      {".\\Docs", "C:\\Work\\Sub\\Docs"},
      {"\\Data", "C:\\Data"},
      {"C:\\Data", "C:\\Data"},
      {"C:\\Data\\", "C:\\Data\\"},
      {"\\\\server\\share\\dir", "\\\\server\\share\\dir"},
      {"D:", "D:\\"},
      {"d:Music", "D:\\Music"},
      {"D:\\", "D:\\"},
      {"E:..", "E:\\"},
      {"D:\\Music", "D:\\Music"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandDrivePath(c.argument, 'C', WorkDirectoryOf), c.expanded) << c.argument;
}

TEST(ExpandPosixPath, ResolvesAgainstTheCurrentDirectory) {
  const struct {
    const char* argument;
    const char* expanded;
  } cases[] = {
      {".", "/work/sub/"},   {"", "/work/sub/"},          {"..", "/work/"},
      {"../../tmp", "/tmp"}, {"../../../../tmp", "/tmp"}, {"docs", "/work/sub/docs"},
      {"./docs", "/work/sub/docs"}, {"/data", "/data"},   {"/data/", "/data/"},
      {"/", "/"},            {"-2024", "/work/sub/-2024"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandPosixPath(c.argument, "/work/sub"), c.expanded) << c.argument;
  EXPECT_EQ(ExpandPosixPath("..", "/"), "/");
}

TEST(FindDriveRoot, FindsDriveAndShareRoots) {
  const struct {
    const char* path;
    const char* root;
    const char* failure;
  } cases[] = {
      {"c:\\windows\\system", "C:\\", ""},
      {"C:\\", "C:\\", ""},
      {"\\\\server\\share\\dir\\sub", "\\\\server\\share\\", ""},
      {"\\\\server\\share", "\\\\server\\share\\", ""},
      {"\\\\server\\share\\", "\\\\server\\share\\", ""},
      {"\\\\server", "", "Expecting UNC path: \\\\computer name\\share name\\"},
      {"C:", "", "Can't determine drive of C:"},
      {"Data\\x", "", "Can't determine drive of Data\\x"},
      {"/home/user", "", "Can't determine drive of /home/user"},
  };
  for (const auto& c : cases) {
    std::string failure;
    std::optional<std::string> root = FindDriveRoot(c.path, failure);
    EXPECT_EQ(root.value_or(""), c.root) << c.path;
    EXPECT_EQ(failure, c.failure) << c.path;
  }
}

}  // namespace
