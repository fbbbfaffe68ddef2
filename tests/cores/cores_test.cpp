// The core tester, TavrexCores: through its entry, over stand-ins that
// fail on a chosen core, crash, hang or litter; its arguments; its
// platform calls failed in turn; and the real program on every core.
#include "cores/cores.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/log/log_test_support.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using platform::Call;

struct Outcome {
  int code = -1;
  std::string output;
};

Outcome Cores(std::vector<std::wstring> arguments) {
  Outcome out;
  out.code = cores::RunCores(arguments, &out.output);
  return out;
}

// The cores a process may be given here, lowest first.
std::vector<std::uint32_t> Available() {
  std::uint64_t own = 0, system = 0;
  EXPECT_TRUE(platform::GetProcessAffinity(&own, &system));
  std::vector<std::uint32_t> cores;
  for (std::uint32_t core = 0; core < cores::kMaxCores; ++core) {
    if ((system >> core) & 1u) cores.push_back(core);
  }
  return cores;
}

// A row of the final table.
struct Row {
  unsigned runs = 0;
  unsigned failed = 0;
  std::string first;
};

std::map<unsigned, Row> Table(const std::string& output) {
  std::map<unsigned, Row> rows;
  const std::size_t at = output.find("core      runs");
  if (at == std::string::npos) return rows;
  std::istringstream lines(output.substr(at));
  std::string line;
  std::getline(lines, line);
  unsigned core = 0;
  Row row;
  while (lines >> core >> row.runs >> row.failed && std::getline(lines, row.first)) {
    row.first.erase(0, row.first.find_first_not_of(' '));
    rows[core] = row;
  }
  return rows;
}

// The report's rows: core and result of each run.
std::vector<std::pair<unsigned, std::string>> ReportRows(const fs::path& file) {
  std::vector<std::pair<unsigned, std::string>> rows;
  std::istringstream lines(testsupport::ReadBytes(file));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "run,core,start_s,seconds,exit,result,notes");
  while (std::getline(lines, line)) {
    std::string run, core, start, seconds, exit, result;
    std::istringstream cells(line);
    std::getline(cells, run, ',');
    std::getline(cells, core, ',');
    std::getline(cells, start, ',');
    std::getline(cells, seconds, ',');
    std::getline(cells, exit, ',');
    std::getline(cells, result, ',');
    rows.push_back({static_cast<unsigned>(std::stoul(core)), result});
  }
  return rows;
}

// Names in the test's working directory.
std::vector<std::string> Left() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::current_path())) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Copies of the stand-in under the names that choose what it does, in a
// directory of their own inside the test's, removed afterwards.
class CoresTest : public ::testing::Test {
 protected:
  CoresTest() { fs::create_directory(kDir); }
  ~CoresTest() override { fs::remove_all(kDir); }

  static std::wstring StandIn(const std::string& behaviour) {
    const fs::path built = TAVREX_STANDIN_PATH;
    const fs::path copy = fs::current_path() / kDir / ("standin-" + behaviour + built.extension().string());
    if (!fs::exists(copy)) fs::copy_file(built, copy);
    return copy.wstring();
  }

  static constexpr const char* kDir = "stand-ins";
};

TEST_F(CoresTest, NamesExactlyTheCoreThatFailsInBothModes) {
  const std::vector<std::uint32_t> cores = Available();
  ASSERT_FALSE(cores.empty());
  const unsigned failing = cores.back();
  const std::wstring program = StandIn("fail-on-" + std::to_string(failing));
  for (const wchar_t* mode : {L"--each", L"--all"}) {
    SCOPED_TRACE(testsupport::Narrow(mode));
    const Outcome out = Cores({mode, L"0.5", L"--program", program, L"--report", L"runs.csv"});
    EXPECT_EQ(out.code, cores::kCoreFailed) << out.output;
    const std::map<unsigned, Row> table = Table(out.output);
    ASSERT_EQ(table.size(), cores.size()) << out.output;
    for (const auto& [core, row] : table) {
      SCOPED_TRACE("core " + std::to_string(core));
      EXPECT_GE(row.runs, 1u);
      EXPECT_EQ(row.failed, core == failing ? row.runs : 0u);
      if (core == failing) {
        EXPECT_NE(row.first.find("Error:Pi result check fail at digit 1234"), std::string::npos);
      } else {
        EXPECT_EQ(row.first, "-");
      }
    }
    EXPECT_NE(out.output.find("FAILED: core " + std::to_string(failing) + " ("), std::string::npos);
    unsigned runs = 0;
    for (const auto& [core, row] : table) runs += row.runs;
    const auto rows = ReportRows("runs.csv");
    EXPECT_EQ(rows.size(), runs);
    for (const auto& [core, result] : rows) EXPECT_EQ(result, core == failing ? "fail" : "pass");
    fs::remove("runs.csv");
    EXPECT_EQ(Left(), std::vector<std::string>{kDir});
  }
}

TEST_F(CoresTest, ACrashOrAHangFailsItsCoreWithWhatItLogged) {
  const std::wstring core = std::to_wstring(Available().front());
  const auto start = std::chrono::steady_clock::now();
  const Outcome hang = Cores({L"--cores", core, L"--each", L"0.01", L"--run-limit", L"1",
                              L"--program", StandIn("hang")});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(hang.code, cores::kCoreFailed) << hang.output;
  EXPECT_EQ(Table(hang.output)[std::stoul(core)].first,
            "run 1: no end within 1 s, stopped; no exit record");

  const Outcome crash = Cores({L"--cores", core, L"--each", L"0.01", L"--program", StandIn("crash")});
  EXPECT_EQ(crash.code, cores::kCoreFailed) << crash.output;
  const std::string first = Table(crash.output)[std::stoul(core)].first;
  EXPECT_EQ(first.rfind("run 1: crashed (", 0), 0u) << first;
  EXPECT_NE(first.find("); no exit record"), std::string::npos) << first;

  // Stopping at the first failure ends the runs at once, long before
  // their time.
  const auto stopStart = std::chrono::steady_clock::now();
  const Outcome stopped = Cores({L"--all", L"1m", L"--stop-on-failure", L"--program", StandIn("crash")});
  EXPECT_EQ(stopped.code, cores::kCoreFailed) << stopped.output;
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(30));
  EXPECT_EQ(Left(), std::vector<std::string>{kDir});
}

TEST_F(CoresTest, LeavesNothingBehindOfAProgramThatLitters) {
  const Outcome out = Cores({L"--all", L"0.5", L"--program", StandIn("litter")});
  EXPECT_EQ(out.code, cores::kAllPassed) << out.output;
  EXPECT_NE(out.output.find("Every run passed"), std::string::npos);
  EXPECT_EQ(Left(), std::vector<std::string>{kDir});
}

TEST_F(CoresTest, BadInputGivesOneLineAndExitCode2) {
  std::ofstream("not-a-program.exe") << "text";
  std::ofstream("a-file") << "text";
  const std::wstring cores = std::to_wstring(Available().size());
  const std::wstring pass = StandIn("pass");
  struct Case {
    std::vector<std::wstring> arguments;
    std::string says;
  };
  const Case cases[] = {
      {{L"--each", L"0"}, "not a time above zero"},
      {{L"--all", L"-3"}, "not a time above zero"},
      {{L"--run-limit", L"5x"}, "not a time above zero"},
      {{L"--cores", L"0,0"}, "core 0 is named twice"},
      {{L"--cores", L"1-"}, "is not a core"},
      {{L"--cores", cores}, "there is no core"},
      {{L"--cores", std::to_wstring(cores::kMaxCores)}, "this build can hold a run to cores 0 to"},
      {{L"--each", L"1", L"--all", L"1"}, "give one of --each and --all"},
      {{L"--frobnicate"}, "unknown argument"},
      {{L"--program", L"missing"}, "no program at"},
      {{L"--program", L"stand-ins"}, "is a directory, not a program"},
      {{L"--program", L"not-a-program.exe", L"--each", L"0.01"}, "cannot start"},
      {{L"--program", pass, L"--work", L"a-file"}, "cannot write in the working directory"},
      {{L"--program", pass, L"--report", L"stand-ins"}, "cannot write the report"},
  };
  for (const Case& c : cases) {
    const Outcome out = Cores(c.arguments);
    SCOPED_TRACE(c.says);
    EXPECT_EQ(out.code, cores::kUsageError);
    EXPECT_EQ(out.output.rfind("TavrexCores: ", 0), 0u) << out.output;
    EXPECT_EQ(out.output.find('\n'), out.output.size() - 1) << out.output;
    EXPECT_NE(out.output.find(c.says), std::string::npos) << out.output;
  }
  fs::remove("not-a-program.exe");
  fs::remove("a-file");
  EXPECT_EQ(Left(), std::vector<std::string>{kDir});
}

// Machines this build cannot serve whole, or cores it may not use.
TEST_F(CoresTest, CoresBeyondTheMaskOrUnavailableAreUsageErrors) {
  logtest::CallsGuard guard;
  platform::calls.getCoreCount = [] { return cores::kMaxCores + 8; };
  const Outcome many = Cores({L"--program", StandIn("pass")});
  EXPECT_EQ(many.code, cores::kUsageError);
  EXPECT_NE(many.output.find("more than the " + std::to_string(cores::kMaxCores)), std::string::npos)
      << many.output;

  platform::calls.getCoreCount = [] { return 2u; };
  platform::calls.getProcessAffinity = [](std::uint64_t* own, std::uint64_t* system) {
    *own = *system = 1;
    return true;
  };
  const Outcome held = Cores({L"--cores", L"1", L"--program", StandIn("pass")});
  EXPECT_EQ(held.code, cores::kUsageError);
  EXPECT_EQ(held.output, "TavrexCores: core 1 is not available to processes here\n");
}

// Each call the tester makes in a session of one run, failed in turn: a
// clear line and exit code 2, no crash, nothing left behind.
TEST_F(CoresTest, EveryPlatformCallFailedInTurnEndsCleanly) {
  const std::vector<std::wstring> arguments = {L"--cores", std::to_wstring(Available().front()),
                                               L"--each", L"0.01", L"--report", L"runs.csv",
                                               L"--program", StandIn("pass")};
  std::array<std::uint32_t, static_cast<std::size_t>(Call::kCount)> counts{};
  {
    platform::FaultInjector injector;
    ASSERT_EQ(Cores(arguments).code, cores::kAllPassed);
    for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = injector.Count(static_cast<Call>(i));
  }
  for (Call call : {Call::GetCoreCount, Call::GetProcessAffinity, Call::CreateProcess,
                    Call::WaitForProcess, Call::CloseProcess, Call::CopyFile, Call::RemoveTree}) {
    EXPECT_GT(counts[static_cast<std::size_t>(call)], 0u) << platform::CallName(call);
  }
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const Call call = static_cast<Call>(i);
    for (std::uint32_t k = 1; k <= counts[i] && k <= 3; ++k) {
      SCOPED_TRACE(std::string(platform::CallName(call)) + " #" + std::to_string(k));
      Outcome out;
      bool injected = false;
      {
        platform::FaultInjector injector;
        injector.Arm(platform::Fault{call, k, false, 5, -1});
        out = Cores(arguments);
        injected = injector.Injected() == 1;
      }
      if (!injected) continue;  // a call that cannot fail
      // A file closed in error is still released, a removal refused once
      // is tried again; nothing else goes on.
      const bool harmless = call == Call::CloseHandle || call == Call::RemoveTree;
      EXPECT_EQ(out.code, harmless ? cores::kAllPassed : cores::kUsageError) << out.output;
      const std::size_t last = out.output.rfind('\n', out.output.size() - 2) + 1;
      if (!harmless) {
        EXPECT_EQ(out.output.compare(last, 13, "TavrexCores: "), 0) << out.output;
      }
      fs::remove("runs.csv");
      EXPECT_EQ(Left(), std::vector<std::string>{kDir});
    }
  }
}

// The backend's process calls themselves: a start held to one core, a wait
// that times out, a stop; and each failed through the injector.
TEST_F(CoresTest, ProcessCallsStartWaitStopAndFail) {
  const std::wstring hang = StandIn("hang");
  const std::wstring here = fs::current_path().wstring();
  const std::uint64_t core = std::uint64_t{1} << Available().front();
  {
    platform::FaultInjector injector;
    injector.Arm(platform::Fault{Call::CreateProcess, 1, false, 5, -1});
    EXPECT_EQ(platform::CreateProcess(hang.c_str(), here.c_str(), core), platform::kNoProcess);
    EXPECT_EQ(platform::GetLastError(), 5u);
    const platform::ProcessHandle process = platform::CreateProcess(hang.c_str(), here.c_str(), core);
    ASSERT_NE(process, platform::kNoProcess);
    platform::ProcessExit end;
    EXPECT_EQ(platform::WaitForProcess(process, 50, &end), platform::ProcessWait::TimedOut);
    injector.Arm(platform::Fault{Call::WaitForProcess, 1, false, 5, -1});
    EXPECT_EQ(platform::WaitForProcess(process, 50, &end), platform::ProcessWait::Failed);
    injector.Arm(platform::Fault{Call::TerminateProcess, 1, false, 5, -1});
    EXPECT_FALSE(platform::TerminateProcess(process));
    EXPECT_EQ(platform::WaitForProcess(process, 50, &end), platform::ProcessWait::TimedOut);
    EXPECT_TRUE(platform::TerminateProcess(process));
    EXPECT_EQ(platform::WaitForProcess(process, 10000, &end), platform::ProcessWait::Exited);
    platform::CloseProcess(process);
    EXPECT_EQ(injector.Injected(), 3u);
  }
  // A program that cannot be run is refused at the start, not after it.
  EXPECT_EQ(platform::CreateProcess((here + platform::kPathSeparator + L"stand-ins").c_str(),
                                    here.c_str(), core),
            platform::kNoProcess);
}

// The real program through the built tester: a few seconds on each core
// of the machine, every run passing. The time limit of a run is the
// test's: under the sanitizers, on a busy core, a run takes a minute.
TEST(CoresEndToEnd, TheRealProgramPassesOnEveryCore) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  const std::string command =
      std::string(TAVREX_CORES_PATH) + " --each 2 --run-limit 10m --report runs.csv > out.txt";
  const int status = std::system(command.c_str());
#ifdef _WIN32
  EXPECT_EQ(status, 0);
#else
  EXPECT_EQ(status, 0) << "status " << status;
#endif
  const std::string output = testsupport::ReadBytes("out.txt");
  const std::map<unsigned, Row> table = Table(output);
  ASSERT_EQ(table.size(), Available().size()) << output;
  for (const auto& [core, row] : table) {
    EXPECT_GE(row.runs, 1u) << "core " << core;
    EXPECT_EQ(row.failed, 0u) << output;
  }
  for (const auto& [core, result] : ReportRows("runs.csv")) EXPECT_EQ(result, "pass");
  EXPECT_NE(output.find("Every run passed"), std::string::npos) << output;
  fs::remove("out.txt");
  fs::remove("runs.csv");
  EXPECT_EQ(Left(), std::vector<std::string>{});
}

}  // namespace
