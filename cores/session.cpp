// The tester's session: its directories, the runs on each core, their
// verdicts, the progress line, the table and the report.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cores/cores.h"
#include "cores/options.h"
#include "log/log_reader.h"
#include "platform/platform.h"

namespace cores {

namespace {

using platform::FileHandle;
using platform::ProcessHandle;

constexpr wchar_t kEntry[] = L"Enter _tmain() function";
constexpr wchar_t kExit[] = L"Exit _tmain() function";

std::wstring Join(const std::wstring& directory, const std::wstring& name) {
  return directory + platform::kPathSeparator + name;
}

bool IsAbsolute(const std::wstring& path) {
  if (path.empty()) return false;
  if (path[0] == platform::kPathSeparator) return true;
  return platform::kPathSeparator == L'\\' && path.size() > 1 && path[1] == L':';
}

enum class Found { Yes, No, Unknown };

Found Look(const std::wstring& path) {
  if (platform::GetFileAttributes(path.c_str()) != platform::kInvalidAttributes) return Found::Yes;
  return platform::IsNotFound(platform::GetLastError()) ? Found::No : Found::Unknown;
}

std::string Error() { return "error " + std::to_string(platform::GetLastError()); }

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, seconds < 10 ? "%.2g s" : "%.0f s", seconds);
  return text;
}

// A path query into a buffer that grows until the answer fits; empty on
// failure. `query` returns the length written, or at least `units` when
// the buffer was too small.
template <typename Query>
std::wstring AskPath(Query query) {
  std::vector<wchar_t> buffer(platform::kPathUnits);
  for (int tries = 0; tries < 8; ++tries) {
    const std::uint32_t length = query(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(std::max<std::size_t>(length + 1, buffer.size() * 2));
  }
  return {};
}

// The whole of a file, read through the platform.
bool ReadWhole(const std::wstring& path, std::string& bytes) {
  const FileHandle file = platform::CreateFile(path.c_str(), platform::Disposition::OpenExisting,
                                               platform::Share::ReadWrite);
  if (file == platform::kInvalidFile) return false;
  const std::uint32_t size = platform::GetFileSize(file);
  bool ok = size != platform::kInvalidFileSize;
  if (ok) {
    bytes.assign(size, '\0');
    std::uint32_t done = 0;
    ok = size == 0 || (platform::ReadFile(file, bytes.data(), size, &done) && done == size);
  }
  platform::CloseHandle(file);
  return ok;
}

// What a log holds beyond exactly the entry and exit records, each with
// zero codes: the other records as they read, and what is missing.
void JudgeLog(const std::string& bytes, std::vector<std::string>& notes) {
  std::vector<LogRecord> records;
  std::string error;
  const bool wellFormed = ParseLog(bytes, records, error);
  const auto plain = [](const LogRecord& r, const wchar_t* message) {
    return r.message == message && r.comCode == 0 && r.apiCode == 0 && r.externalCode == 0;
  };
  const bool entered = !records.empty() && plain(records.front(), kEntry);
  const bool exited = records.size() >= 2 && plain(records.back(), kExit);
  for (std::size_t i = 0; i < records.size(); ++i) {
    if ((i == 0 && entered) || (i + 1 == records.size() && exited)) continue;
    std::string text = Utf8(records[i].message);
    if (records[i].comCode != 0) text += " (code " + std::to_string(records[i].comCode) + ")";
    notes.push_back(text);
  }
  if (!entered) notes.push_back("no entry record");
  if (!exited) notes.push_back("no exit record");
  if (!wellFormed) notes.push_back("log malformed: " + error);
}

// Removes a directory tree. Windows may hold a program's file for a while
// after the process has ended (a debugger, a virus scanner), so a refusal
// is tried again for some seconds.
bool RemoveAll(const std::wstring& path) {
  for (int tries = 0;; ++tries) {
    if (platform::RemoveTree(path.c_str())) return true;
    if (tries == 20) return false;
    const std::uint32_t code = platform::GetLastError();
    platform::Pause(250);
    platform::SetLastError(code);
  }
}

std::string Joined(const std::vector<std::string>& notes) {
  std::string text;
  for (const std::string& note : notes) text += (text.empty() ? "" : "; ") + note;
  return text;
}

std::string Csv(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string CoreList(const std::vector<std::uint32_t>& cores) {
  std::string text;
  for (std::uint32_t core : cores) {
    if (!text.empty()) text += ',';
    text += std::to_string(core);
  }
  return text;
}

// One core's place: its directory with its own copy of the program (the
// log is written beside the executable, so runs at once need one each),
// the working directory of its runs, and the run going on, if any.
struct Slot {
  std::uint32_t core = 0;
  std::wstring directory;
  std::wstring program;  // empty until the copy is made
  std::wstring work;
  ProcessHandle process = platform::kNoProcess;
  std::uint64_t started = 0;
  int day = 0;
  std::uint32_t runs = 0;
  std::uint32_t failures = 0;
  std::string firstFailure;
};

class Session {
 public:
  Session(const Options& options, std::string* capture) : options_(options), capture_(capture) {}

  int Run();

 private:
  void Say(const std::string& text) {
    if (capture_ != nullptr) {
      *capture_ += text;
    } else {
      std::fputs(text.c_str(), stdout);
      std::fflush(stdout);
    }
  }
  int Usage(const std::string& message) {
    Say("TavrexCores: " + message + "\n");
    return kUsageError;
  }
  void Fatal(const std::string& message) {
    if (fatal_.empty()) fatal_ = message;
  }
  bool Done() const { return !fatal_.empty() || stopping_; }
  std::uint64_t Now() const { return platform::Milliseconds(); }

  bool ChooseCores(std::vector<std::uint32_t>& cores, std::string& error);
  bool Start(Slot& slot);
  bool Poll(Slot& slot, std::uint32_t milliseconds);
  void Stop(Slot& slot, bool record);
  void Finish(Slot& slot, const platform::ProcessExit& end, bool overran);
  void Report(const Slot& slot, const std::string& exit, const std::string& result,
              const std::string& notes);
  void Progress(const std::string& what, std::uint32_t runs, std::uint32_t failures,
                std::uint64_t planned, bool force);
  void EachInTurn();
  void AllAtOnce();
  void Teardown();
  void Table();

  const Options& options_;
  std::string* capture_;
  std::wstring program_;
  std::wstring session_;
  std::vector<Slot> slots_;
  FileHandle report_ = platform::kInvalidFile;
  std::string fatal_;
  bool stopping_ = false;
  std::uint32_t runs_ = 0;
  std::uint32_t failures_ = 0;
  std::string header_;  // shown once the first run has started
  std::uint64_t begun_ = 0;
  std::uint64_t shown_ = 0;
  std::size_t shownLength_ = 0;
};

bool Session::ChooseCores(std::vector<std::uint32_t>& cores, std::string& error) {
  const std::uint32_t count = platform::GetCoreCount();
  std::uint64_t own = 0, system = 0;
  if (count == 0 || !platform::GetProcessAffinity(&own, &system)) {
    error = "cannot learn this machine's cores (" + Error() + ")";
    return false;
  }
  const std::string most = std::to_string(kMaxCores);
  if (options_.cores.empty()) {
    if (count > kMaxCores) {
      error = "this machine has " + std::to_string(count) + " cores, more than the " + most +
              " that this build can hold a run to: choose at most " + most + " with --cores";
      return false;
    }
    for (std::uint32_t core = 0; core < kMaxCores; ++core) {
      if ((system >> core) & 1u) cores.push_back(core);
    }
    return true;
  }
  for (std::uint32_t core : options_.cores) {
    const std::string name = "core " + std::to_string(core);
    if (core >= kMaxCores) {
      error = name + ": this build can hold a run to cores 0 to " + std::to_string(kMaxCores - 1) +
              " only";
    } else if (core >= count) {
      error = "there is no " + name + ": this machine has " + std::to_string(count) +
              " cores, 0 to " + std::to_string(count - 1);
    } else if (((system >> core) & 1u) == 0) {
      error = name + " is not available to processes here";
    }
    if (!error.empty()) return false;
  }
  cores = options_.cores;
  return true;
}

bool Session::Start(Slot& slot) {
  if (slot.program.empty()) {
    const std::wstring name = program_.substr(program_.rfind(platform::kPathSeparator) + 1);
    const std::wstring program = Join(slot.directory, name);
    if (!platform::CreateDirectory(slot.directory.c_str()) ||
        !platform::CopyFile(program_.c_str(), program.c_str())) {
      Fatal("cannot copy the program to " + Utf8(slot.directory) + " (" + Error() + ")");
      return false;
    }
    slot.program = program;
  }
  // Nothing of the last run is left to be taken for this one's.
  if (!RemoveAll(Join(slot.directory, L"log")) || !RemoveAll(slot.work) ||
      !platform::CreateDirectory(slot.work.c_str())) {
    Fatal("cannot clear " + Utf8(slot.directory) + " for the next run (" + Error() + ")");
    return false;
  }
  slot.day = platform::GetLocalDayOfWeek();
  slot.started = Now();
  slot.process = platform::CreateProcess(slot.program.c_str(), slot.work.c_str(),
                                         std::uint64_t{1} << slot.core);
  if (slot.process == platform::kNoProcess) {
    Fatal("cannot start " + Utf8(program_) + " on core " + std::to_string(slot.core) + " (" +
          Error() + ")");
    return false;
  }
  Say(header_);
  header_.clear();
  return true;
}

// Waits up to `milliseconds` for the slot's run; true once it has ended
// and is judged, or could not be waited for.
bool Session::Poll(Slot& slot, std::uint32_t milliseconds) {
  platform::ProcessExit end;
  const platform::ProcessWait waited = platform::WaitForProcess(slot.process, milliseconds, &end);
  if (waited == platform::ProcessWait::Failed) {
    Fatal("cannot wait for the run on core " + std::to_string(slot.core) + " (" + Error() + ")");
    Stop(slot, false);
    return true;
  }
  if (waited == platform::ProcessWait::TimedOut) {
    if (Now() - slot.started < static_cast<std::uint64_t>(options_.runLimit * 1000)) return false;
    Stop(slot, false);
    if (fatal_.empty()) Finish(slot, end, true);
    return true;
  }
  Finish(slot, end, false);
  return true;
}

// Ends the slot's run; a run stopped because the session ends is
// reported as such and counts for nothing.
void Session::Stop(Slot& slot, bool record) {
  platform::ProcessExit end;
  platform::TerminateProcess(slot.process);
  if (platform::WaitForProcess(slot.process, 10000, &end) != platform::ProcessWait::Exited) {
    Fatal("cannot stop the run on core " + std::to_string(slot.core) + " (" + Error() + ")");
  }
  platform::CloseProcess(slot.process);
  slot.process = platform::kNoProcess;
  if (record) Report(slot, "stopped", "stopped", "the session ended");
}

void Session::Finish(Slot& slot, const platform::ProcessExit& end, bool overran) {
  if (slot.process != platform::kNoProcess) platform::CloseProcess(slot.process);
  slot.process = platform::kNoProcess;
  std::vector<std::string> notes;
  std::string exit;
  if (overran) {
    exit = "stopped";
    notes.push_back("no end within " + Seconds(options_.runLimit) + ", stopped");
  } else if (end.crashed) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%X", static_cast<unsigned>(end.code));
    // POSIX ends a process by a signal, Windows by an exception code.
    exit = platform::kExecutableSuffix[0] == 0 ? "signal " + std::to_string(end.code)
                                               : std::string("exception ") + code;
    notes.push_back("crashed (" + exit + ")");
  } else {
    exit = std::to_string(end.code);
    if (end.code == 3) notes.push_back("exit code 3 (memory could not be had)");
    else if (end.code != 0) notes.push_back("exit code " + exit);
  }
  // The log beside the executable, named for the weekday of the run's
  // start or end; where its directory could not be made, in the working
  // directory.
  const int days[2] = {slot.day, platform::GetLocalDayOfWeek()};
  std::wstring log;
  for (const std::wstring& where : {Join(slot.directory, L"log"), slot.work}) {
    for (int day : days) {
      const std::wstring name = Join(where, L"Tavrex-" + std::to_wstring(day) + L".log");
      if (!log.empty()) continue;
      const Found found = Look(name);
      if (found == Found::Unknown) {
        Fatal("cannot look for the log " + Utf8(name) + " (" + Error() + ")");
        return;
      }
      if (found == Found::Yes) log = name;
    }
  }
  std::string bytes;
  if (log.empty()) {
    notes.push_back("no log");
  } else if (!ReadWhole(log, bytes)) {
    Fatal("cannot read the log " + Utf8(log) + " (" + Error() + ")");
    return;
  } else {
    JudgeLog(bytes, notes);
  }
  ++slot.runs;
  ++runs_;
  const bool passed = notes.empty();
  if (!passed) {
    ++failures_;
    if (slot.failures++ == 0) {
      slot.firstFailure = "run " + std::to_string(runs_) + ": " + Joined(notes);
    }
    if (options_.stopOnFailure) stopping_ = true;
  }
  Report(slot, exit, passed ? "pass" : "fail", Joined(notes));
}

void Session::Report(const Slot& slot, const std::string& exit, const std::string& result,
                     const std::string& notes) {
  if (report_ == platform::kInvalidFile) return;
  char times[64];
  std::snprintf(times, sizeof times, "%.3f,%.3f", (slot.started - begun_) / 1000.0,
                (Now() - slot.started) / 1000.0);
  const std::string row = (result == "stopped" ? "" : std::to_string(runs_)) + "," +
                          std::to_string(slot.core) + "," + times + "," + Csv(exit) + "," +
                          result + "," + Csv(notes) + "\n";
  std::uint32_t done = 0;
  if (!platform::WriteFile(report_, row.data(), static_cast<std::uint32_t>(row.size()), &done) ||
      done != row.size()) {
    Fatal("cannot write the report " + Utf8(options_.report) + " (" + Error() + ")");
  }
}

// At most once a second unless forced: the line is rewritten in place.
void Session::Progress(const std::string& what, std::uint32_t runs, std::uint32_t failures,
                       std::uint64_t planned, bool force) {
  const std::uint64_t now = Now();
  if (!header_.empty() || (!force && now - shown_ < 1000)) return;
  shown_ = now;
  const double spent = (now - begun_) / 1000.0;
  const double left = planned > now - begun_ ? (planned - (now - begun_)) / 1000.0 : 0;
  std::string line = what + ": " + std::to_string(runs) + (runs == 1 ? " run, " : " runs, ") +
                     std::to_string(failures) + " failed | " + Seconds(spent) + " spent, " +
                     Seconds(left) + " left";
  const std::size_t length = line.size();
  if (length < shownLength_) line.append(shownLength_ - length, ' ');
  shownLength_ = length;
  Say("\r" + line);
}

void Session::EachInTurn() {
  const auto slot = static_cast<std::uint64_t>(options_.seconds * 1000);
  const std::uint64_t planned = slot * slots_.size() * options_.cycles;
  for (std::uint32_t cycle = 0; cycle < options_.cycles && !Done(); ++cycle) {
    for (std::size_t i = 0; i < slots_.size() && !Done(); ++i) {
      Slot& s = slots_[i];
      const std::string what = "core " + std::to_string(s.core) + " (" + std::to_string(i + 1) +
                               " of " + std::to_string(slots_.size()) + ")";
      const std::uint64_t begin = Now();
      do {
        if (!Start(s)) break;
        while (!Poll(s, 1000)) Progress(what, s.runs, s.failures, planned, false);
        Progress(what, s.runs, s.failures, planned, false);
      } while (!Done() && Now() - begin < slot);
      Progress(what, s.runs, s.failures, planned, true);
    }
  }
}

void Session::AllAtOnce() {
  const auto planned = static_cast<std::uint64_t>(options_.seconds * 1000);
  const std::uint64_t end = begun_ + planned;
  std::vector<std::uint32_t> cores;
  for (const Slot& s : slots_) cores.push_back(s.core);
  const std::string label = "cores " + CoreList(cores);
  for (Slot& s : slots_) {
    if (!Start(s)) break;
  }
  for (;;) {
    bool running = false, first = true;
    for (Slot& s : slots_) {
      if (s.process == platform::kNoProcess) continue;
      running = true;
      // The first wait is the loop's pause; the others only look.
      const bool ended = Poll(s, first ? 50 : 0);
      first = false;
      if (ended && !Done() && Now() < end) Start(s);
    }
    if (!running) break;
    if (Done()) {
      for (Slot& s : slots_) {
        if (s.process != platform::kNoProcess) Stop(s, true);
      }
    }
    Progress(label, runs_, failures_, planned, false);
  }
  Progress(label, runs_, failures_, planned, true);
}

// Every run ended, every directory gone.
void Session::Teardown() {
  for (Slot& s : slots_) {
    if (s.process != platform::kNoProcess) Stop(s, true);
  }
  if (!session_.empty() && !RemoveAll(session_)) {
    Fatal("cannot remove " + Utf8(session_) + " (" + Error() + ")");
  }
  if (report_ != platform::kInvalidFile) platform::CloseHandle(report_);
  report_ = platform::kInvalidFile;
}

void Session::Table() {
  Say("core      runs  failed  first failure\n");
  std::vector<std::string> failed;
  for (const Slot& s : slots_) {
    char row[64];
    std::snprintf(row, sizeof row, "%4u  %8u  %6u  ", static_cast<unsigned>(s.core),
                  static_cast<unsigned>(s.runs), static_cast<unsigned>(s.failures));
    Say(row + (s.failures == 0 ? std::string(s.runs == 0 ? "not run" : "-") : s.firstFailure) +
        "\n");
    if (s.failures != 0) failed.push_back(std::to_string(s.core));
  }
  if (failed.empty()) {
    Say("Every run passed: " + std::to_string(runs_) + " runs on " +
        std::to_string(slots_.size()) + (slots_.size() == 1 ? " core.\n" : " cores.\n"));
  } else {
    std::string list;
    for (const std::string& core : failed) list += (list.empty() ? "" : ", ") + core;
    Say((failed.size() == 1 ? "FAILED: core " : "FAILED: cores ") + list + " (" +
        std::to_string(failures_) + " of " + std::to_string(runs_) + " runs failed).\n");
  }
}

int Session::Run() {
  std::vector<std::uint32_t> cores;
  std::string error;
  if (!ChooseCores(cores, error)) return Usage(error);

  const std::wstring here = AskPath([](wchar_t* buffer, std::uint32_t units) {
    return platform::GetCurrentDirectory(units, buffer);
  });
  if (here.empty()) return Usage("cannot name the current directory (" + Error() + ")");
  const auto absolute = [&](std::wstring path) {
    if (platform::kPathSeparator == L'\\') std::replace(path.begin(), path.end(), L'/', L'\\');
    return IsAbsolute(path) ? path : Join(here, path);
  };
  if (options_.program.empty()) {
    const std::wstring self = AskPath(platform::GetModuleFileName);
    if (self.empty()) return Usage("cannot name this program's directory (" + Error() + ")");
    program_ = self.substr(0, self.rfind(platform::kPathSeparator) + 1) + L"Tavrex" +
               platform::kExecutableSuffix;
  } else {
    program_ = absolute(options_.program);
  }
  const std::uint32_t attributes = platform::GetFileAttributes(program_.c_str());
  if (attributes == platform::kInvalidAttributes) return Usage("no program at " + Utf8(program_));
  if ((attributes & platform::kAttributeDirectory) != 0) {
    return Usage(Utf8(program_) + " is a directory, not a program");
  }

  // The session's directory: the first free name in the working directory.
  const std::wstring work = options_.work.empty() ? here : absolute(options_.work);
  for (int n = 1; n <= 1000 && session_.empty(); ++n) {
    const std::wstring name = Join(work, L"TavrexCores-" + std::to_wstring(n));
    if (platform::CreateDirectory(name.c_str())) {
      session_ = name;
    } else if (Look(name) != Found::Yes) {
      return Usage("cannot write in the working directory " + Utf8(work) + " (" + Error() + ")");
    }
  }
  if (session_.empty()) return Usage("no free directory name in " + Utf8(work));
  for (std::uint32_t core : cores) {
    Slot slot;
    slot.core = core;
    slot.directory = Join(session_, L"core-" + std::to_wstring(core));
    slot.work = Join(slot.directory, L"work");
    slots_.push_back(slot);
  }
  if (!options_.report.empty()) {
    report_ = platform::CreateFile(absolute(options_.report).c_str(),
                                   platform::Disposition::CreateAlways, platform::Share::Read);
    if (report_ == platform::kInvalidFile) {
      const std::string why = Error();
      Teardown();
      return Usage("cannot write the report " + Utf8(options_.report) + " (" + why + ")");
    }
    const std::string head = "run,core,start_s,seconds,exit,result,notes\n";
    std::uint32_t done = 0;
    if (!platform::WriteFile(report_, head.data(), static_cast<std::uint32_t>(head.size()), &done)) {
      Fatal("cannot write the report " + Utf8(options_.report) + " (" + Error() + ")");
    }
  }

  std::string mode = ", all at once for " + Seconds(options_.seconds);
  if (!options_.allAtOnce) {
    mode = ", one at a time for " + Seconds(options_.seconds) + " each";
    if (options_.cycles > 1) mode += ", " + std::to_string(options_.cycles) + " times over";
  }
  header_ = "Testing " + Utf8(program_) + " on core" + (cores.size() == 1 ? " " : "s ") +
            CoreList(cores) + mode + "; a run that lasts over " + Seconds(options_.runLimit) +
            " fails.\n";
  begun_ = Now();
  shown_ = 0;
  if (fatal_.empty()) {
    if (options_.allAtOnce) {
      AllAtOnce();
    } else {
      EachInTurn();
    }
  }
  Teardown();
  if (shownLength_ != 0) Say("\n");
  if (!fatal_.empty()) {
    Say("TavrexCores: " + fatal_ + "\n");
    return kUsageError;
  }
  Table();
  return failures_ == 0 ? kAllPassed : kCoreFailed;
}

}  // namespace

int RunCores(const std::vector<std::wstring>& arguments, std::string* capture) {
  Options options;
  std::string error;
  if (!ParseOptions(arguments, options, error)) {
    const std::string line = "TavrexCores: " + error + "\n";
    if (capture != nullptr) {
      *capture += line;
    } else {
      std::fputs(line.c_str(), stdout);
    }
    return kUsageError;
  }
  if (options.help) {
    if (capture != nullptr) {
      *capture += kUsage;
    } else {
      std::fputs(kUsage, stdout);
    }
    return kAllPassed;
  }
  Session session(options, capture);
  return session.Run();
}

}  // namespace cores
