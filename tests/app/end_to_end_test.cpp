// The built executable itself, run in a fresh directory of its own: exit
// code, log bytes and what it leaves on disk; and two instances at once in
// one directory, where their temporary files meet (the names are drawn
// from the clock's second, so both draw the same ones) and both write the
// one weekday log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/log/log_test_support.h"
#include "tests/support/fixtures.h"

namespace fs = std::filesystem;

namespace {

// A copy of the Tavrex executable of this build in the scratch directory.
fs::path CopyOfTheProgram(const testsupport::ScratchDir& dir) {
  const fs::path built = TAVREX_EXE_PATH;
  EXPECT_TRUE(fs::exists(built)) << built;
  const fs::path exe = dir.path() / built.filename();
  fs::copy_file(built, exe);
  return exe;
}

// Runs the program `exe` with `arguments` from the current directory, after
// the shell commands `first` if any, through the build's emulator if it has
// one; returns its exit code.
int Launch(const fs::path& exe, const std::string& arguments = "",
           const std::string& first = "") {
  std::string command = first.empty() ? "" : first + " && ";
  const std::string emulator = testsupport::EmulatorCommand();
  if (!emulator.empty()) command += emulator + " ";
  command += exe.string() + arguments;
  const int status = std::system(command.c_str());
#ifdef _WIN32
  return status;
#else
  return (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1;
#endif
}

// Nothing may be left but the executable and the one weekday log; returns
// the log's path.
fs::path ExpectOnlyTheLog(const testsupport::ScratchDir& dir, const fs::path& exe) {
  EXPECT_EQ(dir.Files(), std::vector<std::string>{exe.filename().string()});
  const std::string logName =
      "Tavrex-" + std::to_string(platform::GetLocalDayOfWeek()) + ".log";
  std::vector<std::string> logs;
  for (const auto& entry : fs::directory_iterator(dir.path() / "log")) {
    logs.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(logs, std::vector<std::string>{logName});
  return dir.path() / "log" / logName;
}

class EndToEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(EndToEnd, ExitsWith0AndLeavesOnlyItsLog) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  testsupport::ScratchDir dir;
  const fs::path exe = CopyOfTheProgram(dir);
  EXPECT_EQ(Launch(exe, GetParam()), 0);
  EXPECT_EQ(testsupport::ReadBytes(ExpectOnlyTheLog(dir, exe)),
            logtest::kByteOrderMark + logtest::RecordBytes("0", "0", "Enter _tmain() function") +
                logtest::RecordBytes("0", "0", "Exit _tmain() function"));
}

INSTANTIATE_TEST_SUITE_P(CommandLine, EndToEnd,
                         ::testing::Values("", " alpha -x 42 --help"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "NoArguments"
                                                              : "ArgumentsIgnored");
                         });

#ifndef _WIN32
// Started in a directory that no longer exists, the program still logs
// beside itself; only its temporary file, which belongs in the working
// directory, cannot be made.
TEST(EndToEndGoneDirectory, TheLogStillAppearsBesideTheExecutable) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  testsupport::ScratchDir dir;
  const fs::path exe = CopyOfTheProgram(dir);
  EXPECT_EQ(Launch(exe, "", "mkdir gone && cd gone && rmdir ../gone"), 0);
  EXPECT_EQ(testsupport::ReadBytes(ExpectOnlyTheLog(dir, exe)),
            logtest::kByteOrderMark + logtest::RecordBytes("0", "0", "Enter _tmain() function") +
                logtest::RecordBytes("2", "1", "CreateFile() function fail") +
                logtest::RecordBytes("0", "0", "Exit _tmain() function"));
}
#endif

TEST(ConcurrentRuns, TwoInstancesInOneDirectoryBothEndWith0AndLeaveOnlyTheLog) {
  TAVREX_SAMPLED_UNDER_EMULATION();
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "two whole runs at once; the native suite runs them";
#endif
  testsupport::ScratchDir dir;
  const fs::path exe = CopyOfTheProgram(dir);
  struct Instance {
    int code = -1;
    std::chrono::steady_clock::time_point start, end;
  } instances[2];
  // Each instance waited for on a thread of its own, so both run at once.
  std::vector<std::thread> threads;
  for (Instance& instance : instances) {
    threads.emplace_back([&exe, &instance] {
      instance.start = std::chrono::steady_clock::now();
      instance.code = Launch(exe);
      instance.end = std::chrono::steady_clock::now();
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(instances[0].code, 0);
  EXPECT_EQ(instances[1].code, 0);
  // They really ran at the same time.
  EXPECT_LT(instances[0].start, instances[1].end);
  EXPECT_LT(instances[1].start, instances[0].end);
  // Both wrote the same records at the same offsets of the file they both
  // recreated, so it reads as the log of one run.
  EXPECT_EQ(testsupport::LogMessages(ExpectOnlyTheLog(dir, exe)),
            (std::vector<std::string>{"Enter _tmain() function", "Exit _tmain() function"}));
}

}  // namespace
