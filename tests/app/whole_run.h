// The whole program run in-process between its start-up and shut-down, with
// every platform call watched (which call was which, what the log was
// handed, what was left when the pool's memory went back) and faults put in
// through platform::FaultInjector: one chosen call, or a schedule of them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "app/program.h"
#include "fft/fft_tables.h"
#include "log/log.h"
#include "log/log_reader.h"
#include "platform/platform.h"
#include "store/work_pool.h"
#include "tests/log/log_test_support.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"
#include "tests/support/result_capture.h"

namespace wholerun {

namespace fs = std::filesystem;
using platform::Call;
using platform::Fault;

inline constexpr std::size_t kKinds = static_cast<std::size_t>(Call::kCount);
inline constexpr int kDay = 5;
inline constexpr std::size_t kFillerBytes = 5001;

inline std::size_t Index(Call call) { return static_cast<std::size_t>(call); }
inline Call KindAt(std::size_t i) { return static_cast<Call>(i); }

// The kinds a fault can be injected into: every counted kind but the
// release of memory, which has no failure to report.
inline bool Failable(Call call) { return call != Call::LocalFree; }
inline bool Transfers(Call call) {
  return call == Call::ReadFile || call == Call::WriteFile;
}

// The last-error code each kind fails with: plausible, and never the code
// of a name that already exists, which the temporary files treat as a
// collision rather than a failure.
inline std::uint32_t ErrorCodeFor(Call call) {
  switch (call) {
    case Call::WriteFile:
    case Call::FlushFileBuffers:
    case Call::SetFilePointer:
      return 112;  // the disk is full
    case Call::ReadFile:
      return 23;   // a data error
    case Call::CloseHandle:
    case Call::GetFileSize:
      return 6;    // a bad handle
    default:
      return 5;    // access denied
  }
}

// What one call of a run was, as far as the checks need to know.
struct Site {
  bool onLog = false;   // the log's opening, writes or close
  bool bom = false;     // the log's byte-order mark
  platform::Disposition disposition = platform::Disposition::CreateNew;
  std::uint64_t bytes = 0;  // allocations and transfers: the size asked for
  Call positionsFor = Call::kCount;  // SetFilePointer: the transfer after it
};

// Part of the pool taken before _tmain runs, as if other work held it.
struct Setting {
  std::uint32_t largeHeld = 0;
  std::uint32_t smallHeld = 0;
  std::string Name() const {
    return std::to_string(largeHeld) + " LargeBlocks, " +
           std::to_string(smallHeld) + " SmallBlocks held";
  }
};

// Faults spread over a run: call c of a kind fails when c % stride ==
// phase. Transfers alternate between failing and coming back one byte short.
struct Schedule {
  std::array<std::uint32_t, kKinds> stride{};
  std::uint32_t phase = 0;
};

struct Options {
  Setting setting;
  std::optional<Fault> fault;  // one call, armed before the start-up
  std::vector<Fault> also;     // more, of other kinds, armed beside it
  std::optional<Schedule> schedule;
  bool recordSites = false;
  // Ends the run early: the filler buffer is refused, so _tmain returns 3
  // right after setting up, and everything before and after it still runs.
  bool refuseFiller = false;
  // Keeps the bytes of every temporary file closed once the filler buffer
  // is released, when only the five working numbers are left to destroy;
  // the last one is the result's.
  bool captureClosedFiles = false;
};

struct LogWrite {
  std::string bytes;     // what WriteLog handed over
  std::size_t reached;   // how many of them an injected fault let through
};

// Everything a run leaves to check.
struct Outcome {
  std::int32_t code = -1;
  double seconds = 0;
  std::array<std::uint32_t, kKinds> counts{};
  std::array<std::vector<Site>, kKinds> sites;  // recordSites only
  std::vector<std::pair<Fault, Site>> faulted;  // the calls that failed
  // At the release of the pool's memory.
  bool poolFreed = false;
  std::uint32_t smallHeldAtExit = 0;
  std::uint32_t largeHeldAtExit = 0;
  bool logOpenAtPoolFree = false;
  bool poolBeforeLog = false;  // the pool was asked for before the log
  // At the end.
  std::size_t unfreedAllocations = 0;
  std::size_t openFiles = 0;
  // Calls on a handle that names no open file (never opened, failed to
  // open, or closed already).
  std::uint32_t strayHandleCalls = 0;
  bool fftTablesHeld = false;
  // The log.
  bool logCreated = false;
  std::string logPath;  // relative to the run's directory
  std::vector<LogWrite> logWrites;
  std::string logBytes;
  std::int32_t openResult = -1;
  std::int32_t logDirEntered = -1;
  std::string statusText;
  // The run's directory tree afterwards: regular files, relative paths.
  std::vector<std::string> files;
  std::string cwdAfter;  // relative to the run's directory
  std::string lastClosedFile;
};

// The state the hooks share; plain function pointers cannot carry it.
struct Watch {
  platform::Calls below{};
  platform::FaultInjector* injector = nullptr;
  Options options;
  Outcome* out = nullptr;
  fs::path root;
  std::array<std::uint32_t, kKinds> seen{};
  std::array<std::optional<Fault>, kKinds> armed{};
  std::optional<std::size_t> pendingSeek;
  std::map<void*, std::size_t> live;
  std::set<platform::FileHandle> open;
  platform::FileHandle logHandle = platform::kNullFile;
  std::int64_t clock = 1700000000;
  bool fillerReleased = false;
  bool poolAsked = false;
};

inline Watch& W() {
  static Watch watch;
  return watch;
}

inline std::string Relative(const fs::path& p) {
  std::error_code ignored;
  return fs::relative(p, W().root, ignored).generic_string();
}

inline void Arm(const Fault& fault) {
  W().armed[Index(fault.call)] = fault;
  W().injector->Arm(fault);
}

// Counts a call, arms a scheduled fault for it, and files its site.
inline Site& Enter(Call call, Site site = {}) {
  Watch& w = W();
  const std::uint32_t c = ++w.seen[Index(call)];
  if (w.options.schedule) {
    const std::uint32_t stride = w.options.schedule->stride[Index(call)];
    // The log's own calls are swept one by one; a schedule leaves them be.
    if (stride != 0 && !site.onLog && c % stride == w.options.schedule->phase % stride) {
      Fault f{call, 1, false, ErrorCodeFor(call), -1};
      // Every other scheduled transfer comes back one byte short.
      if (Transfers(call) && (c / stride) % 2 == 1) {
        f.shortCount = site.bytes > 0 ? static_cast<std::int64_t>(site.bytes) - 1 : 0;
      }
      Arm(f);
    }
  }
  static Site scratch;
  if (!w.options.recordSites) {
    scratch = site;
    return scratch;
  }
  auto& list = w.out->sites[Index(call)];
  list.push_back(site);
  return list.back();
}

// The site of a call on a handle, which must name a file that is open.
inline Site HandleSite(platform::FileHandle file) {
  if (W().open.count(file) == 0) ++W().out->strayHandleCalls;
  Site site;
  site.onLog = file == W().logHandle;
  return site;
}

// Runs the call beneath and says whether the injector failed it.
template <typename F>
auto Through(Call call, const Site& site, F&& f) {
  const std::uint32_t before = W().injector->Injected();
  auto result = f();
  if (W().injector->Injected() != before) {
    W().out->faulted.push_back({*W().armed[Index(call)], site});
  }
  return result;
}

// The hook of a call with nothing of its own to watch: counted, filed and
// passed beneath. kLogOnly marks the directory and path calls, which the
// log's opening alone makes.
template <Call kCall, auto kField, bool kLogOnly, typename Fn>
struct Pass;
template <Call kCall, auto kField, bool kLogOnly, typename R, typename... A>
struct Pass<kCall, kField, kLogOnly, R (*)(A...)> {
  static R Hook(A... args) {
    Site site;
    site.onLog = kLogOnly;
    if constexpr (sizeof...(A) == 1 && (std::is_same_v<A, platform::FileHandle> && ...)) {
      site = HandleSite(args...);
    }
    const Site& s = Enter(kCall, site);
    return Through(kCall, s, [&] { return (W().below.*kField)(args...); });
  }
};

template <Call kCall, auto kField, bool kLogOnly = false>
void InstallPass() {
  platform::calls.*kField =
      &Pass<kCall, kField, kLogOnly,
            std::remove_reference_t<decltype(platform::calls.*kField)>>::Hook;
}

inline void* HookLocalAlloc(std::uint32_t flags, std::size_t bytes) {
  Watch& w = W();
  Site site;
  site.bytes = bytes;
  if (bytes == kWorkPoolBytes) w.poolAsked = true;
  if (w.options.refuseFiller && bytes == kFillerBytes) {
    Arm(Fault{Call::LocalAlloc, 1, false, 8, -1});
  }
  const Site& s = Enter(Call::LocalAlloc, site);
  void* block = Through(Call::LocalAlloc, s,
                        [&] { return w.below.localAlloc(flags, bytes); });
  if (block != nullptr) w.live[block] = bytes;
  return block;
}

inline void HookLocalFree(void* block) {
  Watch& w = W();
  Enter(Call::LocalFree);
  if (block != nullptr && block == workPool.base) {
    w.out->poolFreed = true;
    w.out->smallHeldAtExit = testsupport::PoolScope::Held(SmallBlock);
    w.out->largeHeldAtExit = testsupport::PoolScope::Held(LargeBlock);
    w.out->logOpenAtPoolFree = w.open.count(w.logHandle) != 0;
  }
  const auto allocation = w.live.find(block);
  if (allocation != w.live.end() && allocation->second == kFillerBytes) w.fillerReleased = true;
  w.live.erase(block);
  w.below.localFree(block);
}

inline platform::FileHandle HookCreateFile(const wchar_t* name,
                                           platform::Disposition disposition,
                                           platform::Share share) {
  Watch& w = W();
  Site site;
  site.disposition = disposition;
  // The log is named relative to its directory, or in full.
  const std::wstring created = fs::path(name).filename().wstring();
  site.onLog = created == logFile.logFileName;
  if (site.onLog) w.out->poolBeforeLog = w.poolAsked;
  const Site& s = Enter(Call::CreateFile, site);
  const platform::FileHandle file = Through(
      Call::CreateFile, s, [&] { return w.below.createFile(name, disposition, share); });
  if (file != platform::kInvalidFile) {
    w.open.insert(file);
    if (site.onLog) {
      w.logHandle = file;
      w.out->logCreated = true;
      w.out->logPath = Relative(fs::current_path() / fs::path(name));
    }
  }
  return file;
}

inline bool HookCloseHandle(platform::FileHandle file) {
  Watch& w = W();
  const Site& s = Enter(Call::CloseHandle, HandleSite(file));
  if (w.options.captureClosedFiles && w.fillerReleased && !s.onLog &&
      w.open.count(file) != 0) {
    w.out->lastClosedFile = testsupport::BytesThroughHandle(file);
  }
  // The injector releases the handle even when it reports a failure.
  w.open.erase(file);
  return Through(Call::CloseHandle, s, [&] { return w.below.closeHandle(file); });
}

inline bool HookSetFilePointer(platform::FileHandle file, std::uint32_t offset) {
  Watch& w = W();
  const Site site = HandleSite(file);
  Enter(Call::SetFilePointer, site);
  if (w.options.recordSites) {
    w.pendingSeek = w.out->sites[Index(Call::SetFilePointer)].size() - 1;
  }
  return Through(Call::SetFilePointer, site,
                 [&] { return w.below.setFilePointer(file, offset); });
}

// Files a transfer's site, and marks the recorded SetFilePointer that
// prepared it.
inline const Site& EnterTransfer(Call call, platform::FileHandle file, std::uint32_t count,
                                 bool bom = false) {
  Watch& w = W();
  Site site = HandleSite(file);
  site.bytes = count;
  site.bom = bom && site.onLog;
  const Site& s = Enter(call, site);
  if (w.pendingSeek) {
    w.out->sites[Index(Call::SetFilePointer)][*w.pendingSeek].positionsFor = call;
    w.pendingSeek.reset();
  }
  return s;
}

inline bool HookReadFile(platform::FileHandle file, void* buffer,
                         std::uint32_t count, std::uint32_t* done) {
  const Site& s = EnterTransfer(Call::ReadFile, file, count);
  return Through(Call::ReadFile, s,
                 [&] { return W().below.readFile(file, buffer, count, done); });
}

inline bool HookWriteFile(platform::FileHandle file, const void* buffer,
                          std::uint32_t count, std::uint32_t* done) {
  Watch& w = W();
  const Site& s = EnterTransfer(Call::WriteFile, file, count, w.out->logWrites.empty());
  const bool onLog = s.onLog;
  const std::uint32_t before = w.injector->Injected();
  const bool ok = Through(Call::WriteFile, s, [&] {
    return w.below.writeFile(file, buffer, count, done);
  });
  if (onLog) {
    std::size_t reached = count;
    if (w.injector->Injected() != before) {
      const Fault& f = *w.armed[Index(Call::WriteFile)];
      reached = f.shortCount >= 0
                    ? std::min<std::size_t>(static_cast<std::size_t>(f.shortCount), count)
                    : 0;
    }
    w.out->logWrites.push_back(
        {std::string(static_cast<const char*>(buffer), count), reached});
  }
  return ok;
}

// A clock that moves on a second at every reading: temporary names are
// drawn afresh for every file, and a run makes the same calls every time.
inline std::int64_t SteppingClock() { return ++W().clock; }

// Puts the hooks above the injector; the caller's guard takes them off.
inline void InstallHooks(platform::FaultInjector& injector, const Options& options,
                         Outcome& out, const fs::path& root) {
  using C = platform::Calls;
  Watch& w = W();
  w = Watch{};
  w.below = platform::calls;
  w.injector = &injector;
  w.options = options;
  w.out = &out;
  w.root = root;
  platform::calls.localAlloc = &HookLocalAlloc;
  platform::calls.localFree = &HookLocalFree;
  platform::calls.createFile = &HookCreateFile;
  platform::calls.closeHandle = &HookCloseHandle;
  platform::calls.setFilePointer = &HookSetFilePointer;
  platform::calls.readFile = &HookReadFile;
  platform::calls.writeFile = &HookWriteFile;
  platform::calls.time = &SteppingClock;
  InstallPass<Call::FlushFileBuffers, &C::flushFileBuffers>();
  InstallPass<Call::GetFileSize, &C::getFileSize>();
  InstallPass<Call::CopyFile, &C::copyFile>();
  InstallPass<Call::DeleteFile, &C::deleteFile>();
  InstallPass<Call::GetModuleFileName, &C::getModuleFileName, true>();
  InstallPass<Call::GetCurrentDirectory, &C::getCurrentDirectory, true>();
  InstallPass<Call::SetCurrentDirectory, &C::setCurrentDirectory, true>();
  InstallPass<Call::CreateDirectory, &C::createDirectory, true>();
  InstallPass<Call::GetFileAttributes, &C::getFileAttributes, true>();
}

// One run of the program in a directory of its own, as the process runs it:
// the pool, then the log, _tmain, the log closed, the pool freed. The
// executable seems to stand in <dir>/bin, so its log goes to <dir>/bin/log.
inline Outcome RunOnce(const Options& options) {
  Outcome out;
  testsupport::ScratchDir dir;
  const fs::path root = fs::canonical(dir.path());
  fs::create_directory(root / "bin");
  const auto start = std::chrono::steady_clock::now();
  {
    logtest::FakeExecutable exe(root / "bin" / "Tavrex", kDay);
    platform::FaultInjector injector;
    logtest::CallsGuard hooks;
    InstallHooks(injector, options, out, root);
    if (options.fault) Arm(*options.fault);
    for (const Fault& f : options.also) Arm(f);
    {
      ProcessLifetime lifetime;
      // Blocks held from the pool's start to _tmain's end, as if by other work.
      const Setting& held = options.setting;
      std::vector<std::pair<Digit*, int>> blocks;
      for (std::uint32_t i = 0; workPool.ready != 0 && i < held.largeHeld + held.smallHeld; ++i) {
        const int kind = i < held.largeHeld ? LargeBlock : SmallBlock;
        blocks.push_back({TakeBlock(kind), kind});
      }
      out.code = _tmain();
      for (const auto& [block, kind] : blocks) GiveBackBlock(block, kind);
    }
    for (std::size_t i = 0; i < kKinds; ++i) out.counts[i] = injector.Count(KindAt(i));
    out.unfreedAllocations = W().live.size();
    out.openFiles = W().open.size();
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.fftTablesHeld = fftTables.spectrumA != nullptr || fftTables.spectrumB != nullptr ||
                      fftTables.twiddleTable != nullptr ||
                      fftTables.stagingBuffer != nullptr;
  out.openResult = logFile.openResult;
  out.logDirEntered = logFile.logDirEntered;
  out.statusText = testsupport::Narrow(logFile.statusText);
  // A failed return from the log directory leaves the process inside it.
  out.cwdAfter = Relative(fs::current_path());
  fs::current_path(root);
  if (out.logCreated) out.logBytes = testsupport::ReadBytes(root / out.logPath);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) out.files.push_back(Relative(entry.path()));
  }
  std::sort(out.files.begin(), out.files.end());
  // Whatever the run left, the next one starts from nothing.
  CloseLog();
  FreeWorkPool();
  FreeFftTables();
  logFile = LogFile{};
  workPool = WorkPool{};
  return out;
}

// What the rules say a run with `fault` (at `site`) must come to.
struct Expect {
  std::optional<Fault> fault{};
  Site site{};
  bool fillerRefused = false;
  // Exactly the records the fault explains between entry and exit, rather
  // than at least the one it explains: for runs whose only trouble is the
  // fault itself.
  bool exactRecords = true;
};

// Leftovers of one run, summed over a sweep.
struct Leaks {
  std::uint32_t blocks = 0;
  std::uint32_t files = 0;  // temporary files no refused deletion explains
  std::uint32_t handles = 0;
  std::uint32_t allocations = 0;
  // Temporary files left where the system refused their deletion; each
  // must be reported in the log.
  std::uint32_t refusedDeletions = 0;
  std::uint32_t Total() const { return blocks + files + handles + allocations; }
};

// Calls of the kind that the injector failed in the run.
inline std::uint32_t FaultedCalls(const Outcome& out, Call call) {
  return static_cast<std::uint32_t>(std::count_if(
      out.faulted.begin(), out.faulted.end(),
      [call](const auto& f) { return f.first.call == call; }));
}

inline const char* kEntry = "Enter _tmain() function";
inline const char* kExit = "Exit _tmain() function";
inline const std::string kResultCheck = "Error:Pi result check fail at digit ";
inline const std::string kByteOrderMark = "\xFF\xFE";
inline const std::string kLogName = "Tavrex-" + std::to_string(kDay) + ".log";

inline bool OnLog(const Expect& e) { return e.fault && e.site.onLog; }
inline bool FaultIs(const Expect& e, Call call) { return e.fault && e.fault->call == call; }
inline bool ShortFault(const Expect& e) { return e.fault && e.fault->shortCount >= 0; }

// Sizes of what the program allocates: the pool, the four FFT buffers and
// the filler. Every one of them, refused, ends the run with 3.
inline bool KnownAllocation(std::uint64_t bytes) {
  return bytes == kWorkPoolBytes || bytes == kFillerBytes ||
         bytes == std::uint64_t{kMaxFftSize} * sizeof(FftComplex) ||
         bytes == std::uint64_t{kTwiddleCount} * sizeof(FftComplex);
}

// The record a failure at a temporary file's call must leave, if any:
// message and whether its code is the injected one.
struct Explained {
  std::vector<std::string> messages;  // any of these
  bool codeIsTheError = false;
};

inline std::optional<Explained> RecordFor(const Fault& f, const Site& site) {
  if (site.onLog) return std::nullopt;
  const bool isShort = f.shortCount >= 0;
  switch (f.call) {
    case Call::CreateFile:
      // A created file that cannot be opened again is given up silently,
      // and a name that exists is a collision: the next name is tried.
      if (site.disposition != platform::Disposition::CreateNew ||
          f.errorCode == platform::kErrorFileExists) {
        return std::nullopt;
      }
      return Explained{{"CreateFile() function fail"}, true};
    case Call::SetFilePointer:
      if (site.positionsFor == Call::ReadFile) return Explained{{"ReadFile() function fail"}, true};
      if (site.positionsFor == Call::WriteFile) return Explained{{"WriteFile() function fail"}, true};
      return Explained{{"ReadFile() function fail", "WriteFile() function fail"}, true};
    case Call::ReadFile:
      return Explained{{"ReadFile() function fail"}, !isShort};
    case Call::WriteFile:
      return Explained{{"WriteFile() function fail"}, !isShort};
    case Call::FlushFileBuffers:
      return Explained{{"FlushFileBuffers() function fail"}, true};
    case Call::CopyFile:
      return Explained{{"Copy file fail", "Copy file fail 1"}, false};
    case Call::DeleteFile:
      return Explained{{"DeleteFile() function fail"}, true};
    default:
      return std::nullopt;  // closing and allocating say nothing
  }
}

// The log's opening fails at one of its directory calls: the file goes to
// the process's current directory instead.
inline bool LogDirectoryMissed(const Expect& e) {
  if (!OnLog(e)) return false;
  switch (e.fault->call) {
    case Call::GetModuleFileName:
    case Call::CreateDirectory:
      return true;
    case Call::SetCurrentDirectory:
      return e.fault->occurrence == 1;  // entering; the second goes back
    default:
      return false;
  }
}

// The records written after the byte-order mark (if it was written
// first): each write must be exactly one.
inline std::vector<LogRecord> Handed(const std::vector<LogWrite>& writes, bool markFirst) {
  std::vector<LogRecord> handed;
  for (std::size_t i = markFirst ? 1 : 0; i < writes.size(); ++i) {
    std::vector<LogRecord> one;
    std::string error;
    EXPECT_TRUE(ParseLog(kByteOrderMark + writes[i].bytes, one, error)) << error;
    EXPECT_EQ(one.size(), 1u) << "a write that is not exactly one record";
    handed.insert(handed.end(), one.begin(), one.end());
  }
  return handed;
}

inline void Verify(const Outcome& out, const Expect& e, Leaks& leaks) {
  const bool poolRefused = FaultIs(e, Call::LocalAlloc) && e.site.bytes == kWorkPoolBytes;
  const bool restoreFailed =
      OnLog(e) && FaultIs(e, Call::SetCurrentDirectory) && e.fault->occurrence == 2;

  // The exit code.
  if (FaultIs(e, Call::LocalAlloc)) {
    EXPECT_TRUE(KnownAllocation(e.site.bytes))
        << "an allocation of " << e.site.bytes << " bytes that the exit codes do not cover";
  }
  const std::int32_t code = FaultIs(e, Call::LocalAlloc) || e.fillerRefused ? 3 : 0;
  EXPECT_EQ(out.code, code);

  // Blocks, memory, files and handles: nothing outlives the run.
  EXPECT_TRUE(out.poolBeforeLog) << "the log was opened before the pool was asked for";
  if (poolRefused) {
    EXPECT_FALSE(out.poolFreed);
    // Nothing beyond the pool was asked for.
    EXPECT_EQ(out.counts[Index(Call::LocalAlloc)], 1u);
    EXPECT_EQ(out.counts[Index(Call::LocalFree)], 0u);
  } else {
    EXPECT_TRUE(out.poolFreed) << "the pool's memory was not released";
    EXPECT_EQ(out.smallHeldAtExit, 0u) << "SmallBlocks held when the pool was freed";
    EXPECT_EQ(out.largeHeldAtExit, 0u) << "LargeBlocks held when the pool was freed";
    EXPECT_FALSE(out.logOpenAtPoolFree) << "the log outlived the pool";
  }
  EXPECT_EQ(out.unfreedAllocations, 0u);
  EXPECT_EQ(out.openFiles, 0u) << "files left open";
  EXPECT_EQ(out.strayHandleCalls, 0u) << "calls on handles that name no open file";
  EXPECT_FALSE(out.fftTablesHeld);
  leaks.blocks += out.smallHeldAtExit + out.largeHeldAtExit;
  leaks.handles += static_cast<std::uint32_t>(out.openFiles);
  leaks.allocations += static_cast<std::uint32_t>(out.unfreedAllocations);

  // The directory: the log and nothing else, but for a temporary file whose
  // deletion was refused; and the process back where it started unless the
  // way back was refused.
  const bool logCreationRefused = OnLog(e) && FaultIs(e, Call::CreateFile);
  const std::string logPath =
      LogDirectoryMissed(e) ? kLogName : "bin/log/" + kLogName;
  std::vector<std::string> others;
  std::uint32_t temporaries = 0;
  for (const std::string& f : out.files) {
    const std::string name = fs::path(f).filename().string();
    if (name.rfind("Temp", 0) == 0 && name.size() == 12 &&
        name.compare(9, 3, ".by") == 0) {
      ++temporaries;
    } else {
      others.push_back(f);
    }
  }
  const std::uint32_t refused = FaultedCalls(out, Call::DeleteFile);
  EXPECT_EQ(temporaries, refused) << "temporary files left behind";
  leaks.files += temporaries > refused ? temporaries - refused : 0;
  leaks.refusedDeletions += std::min(temporaries, refused);
  std::vector<std::string> expectedOthers;
  if (!logCreationRefused) expectedOthers.push_back(logPath);
  EXPECT_EQ(others, expectedOthers);
  EXPECT_EQ(out.cwdAfter, restoreFailed ? "bin/log" : ".");

  // How the log was opened.
  std::int32_t openResult = 0;
  std::string status;
  if (logCreationRefused) {
    openResult = 1;
    status = "CreateFile failed LastErrorCode=" + std::to_string(e.fault->errorCode);
  } else if (OnLog(e) && FaultIs(e, Call::GetFileSize)) {
    openResult = 2;
    status = "GetFileSize failed LastErrorCode=" + std::to_string(e.fault->errorCode);
  } else if (OnLog(e) && FaultIs(e, Call::WriteFile) && e.site.bom) {
    openResult = 3;
    status = "WriteFile failed LastErrorCode=";
    if (!ShortFault(e)) status += std::to_string(e.fault->errorCode);
  }
  EXPECT_EQ(out.openResult, openResult);
  if (ShortFault(e) && openResult == 3) {
    EXPECT_EQ(out.statusText.rfind(status, 0), 0u) << out.statusText;
  } else {
    EXPECT_EQ(out.statusText, status);
  }
  // Without the way back the log is opened by its full path, from here.
  const bool noWayBack = FaultedCalls(out, Call::GetCurrentDirectory) != 0;
  EXPECT_EQ(out.logDirEntered, LogDirectoryMissed(e) || noWayBack ? 0 : 1);
  EXPECT_EQ(out.logCreated, !logCreationRefused);
  if (logCreationRefused) {
    EXPECT_TRUE(out.logWrites.empty()) << "records sent to a log that was never created";
    return;
  }

  // What the log was handed: the byte-order mark unless the size query
  // failed, then one whole record per write.
  if (openResult != 2) {
    ASSERT_FALSE(out.logWrites.empty());
    EXPECT_EQ(out.logWrites.front().bytes, kByteOrderMark);
  }
  const std::vector<LogRecord> handed = Handed(out.logWrites, openResult != 2);
  ASSERT_FALSE(handed.empty());
  EXPECT_EQ(testsupport::Narrow(handed.front().message), kEntry);
  EXPECT_EQ(handed.front().comCode, 0u);
  EXPECT_EQ(handed.front().externalCode, 0u);
  if (poolRefused) {
    EXPECT_EQ(handed.size(), 1u);
  } else {
    ASSERT_GE(handed.size(), 2u);
    EXPECT_EQ(testsupport::Narrow(handed.back().message), kExit);
    EXPECT_EQ(handed.back().comCode, 0u);
    EXPECT_EQ(handed.back().externalCode, 0u);
  }
  std::vector<LogRecord> middle;
  if (handed.size() > 2) middle.assign(handed.begin() + 1, handed.end() - 1);
  for (const LogRecord& r : middle) {
    EXPECT_EQ(r.externalCode, 1u) << testsupport::Narrow(r.message);
    EXPECT_EQ(r.apiCode, 0u);
  }

  // The record that explains the fault.
  const std::optional<Explained> explained =
      e.fault ? RecordFor(*e.fault, e.site) : std::nullopt;
  const auto explains = [&](const LogRecord& r) {
    const std::string m = testsupport::Narrow(r.message);
    return std::find(explained->messages.begin(), explained->messages.end(), m) !=
               explained->messages.end() &&
           (!explained->codeIsTheError || r.comCode == e.fault->errorCode);
  };
  if (explained) {
    EXPECT_TRUE(std::any_of(middle.begin(), middle.end(), explains))
        << "no record of the failure: expected " << explained->messages.front();
  }
  if (e.exactRecords) {
    // A failed read leaves digits of the result unconfirmed, and the result
    // check says so after the read's own record: on the whole pool the
    // check makes the run's only reads.
    const bool resultUnread =
        e.fault && !e.site.onLog &&
        (FaultIs(e, Call::ReadFile) ||
         (FaultIs(e, Call::SetFilePointer) && e.site.positionsFor == Call::ReadFile));
    const auto checks = std::count_if(middle.begin(), middle.end(), [](const LogRecord& r) {
      return testsupport::Narrow(r.message).rfind(kResultCheck, 0) == 0;
    });
    EXPECT_EQ(checks, resultUnread ? 1 : 0);
    EXPECT_EQ(middle.size(), (explained ? 1u : 0u) + (resultUnread ? 1u : 0u));
  }

  // What reached the file: exactly what was handed, less what a failed or
  // short write of the log itself kept back.
  std::string expected;
  for (const LogWrite& w : out.logWrites) expected += w.bytes.substr(0, w.reached);
  EXPECT_EQ(out.logBytes, expected) << "the log file is not what was written to it";
}

// Every fault a schedule injected is explained by a record of its own:
// at least as many records of each kind as faults that call for one.
inline void VerifyExplained(const Outcome& out) {
  const std::vector<LogRecord> records = Handed(out.logWrites, out.openResult != 2);
  std::map<std::string, int> needed;
  for (const auto& [fault, site] : out.faulted) {
    const std::optional<Explained> explained = RecordFor(fault, site);
    if (!explained) continue;
    std::string group;
    for (const std::string& m : explained->messages) group += m + " | ";
    ++needed[group];
  }
  for (const auto& [group, count] : needed) {
    int found = 0;
    for (const LogRecord& r : records) {
      if (group.find(testsupport::Narrow(r.message) + " | ") != std::string::npos) ++found;
    }
    EXPECT_GE(found, count) << "faults without their record: " << group;
  }
}

using testsupport::FullSweep;

inline std::string Describe(const Fault& f) {
  std::string text = std::string(platform::CallName(f.call)) + " #" +
                     std::to_string(f.occurrence);
  if (f.shortCount >= 0) {
    text += " short (" + std::to_string(f.shortCount) + " bytes)";
  } else {
    text += " fails (code " + std::to_string(f.errorCode) + ")";
  }
  return text;
}

}  // namespace wholerun
