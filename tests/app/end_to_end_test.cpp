// The built executable itself, run in a fresh directory of its own: exit
// code, log bytes and what it leaves on disk.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/fixtures.h"

namespace fs = std::filesystem;

namespace {

// The Tavrex executable stands in the build directory, one level above the
// test executable.
fs::path BuiltExecutable() {
  wchar_t self[platform::kPathUnits] = {};
  platform::GetModuleFileName(self, platform::kPathUnits);
  return fs::path(self).parent_path().parent_path() / TAVREX_EXE_NAME;
}

// Runs `command` in the current directory and returns its exit code.
int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
#ifdef _WIN32
  return status;
#else
  return (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1;
#endif
}

// The record bytes, encoded here independently of the log's own writer.
std::string Record(const std::string& message) {
  const std::string text =
      "Com info code:0x0,Api info code:0x0,External info code:0x0,"
      "External information:\r\n" + message + "\r\n\r\n";
  std::string bytes;
  for (char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  bytes.append(2, '\0');
  return bytes;
}

class EndToEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(EndToEnd, ExitsWith0AndLeavesOnlyItsLog) {
  testsupport::ScratchDir dir;
  const fs::path built = BuiltExecutable();
  ASSERT_TRUE(fs::exists(built)) << built;
  const fs::path exe = dir.path() / built.filename();
  fs::copy_file(built, exe);

  EXPECT_EQ(RunCommand(exe.string() + GetParam()), 0);

  const std::string logName =
      "Tavrex-" + std::to_string(platform::GetLocalDayOfWeek()) + ".log";
  const std::string expected =
      std::string("\xFF\xFE") + Record("Enter _tmain() function") +
      Record("Exit _tmain() function");
  EXPECT_EQ(Record("Enter _tmain() function").size(), 220u);
  EXPECT_EQ(testsupport::ReadBytes(dir.path() / "log" / logName), expected);

  EXPECT_EQ(dir.Files(), std::vector<std::string>{exe.filename().string()});
  std::vector<std::string> logs;
  for (const auto& entry : fs::directory_iterator(dir.path() / "log")) {
    logs.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(logs, std::vector<std::string>{logName});
}

INSTANTIATE_TEST_SUITE_P(CommandLine, EndToEnd,
                         ::testing::Values("", " alpha -x 42 --help"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "NoArguments"
                                                              : "ArgumentsIgnored");
                         });

}  // namespace
