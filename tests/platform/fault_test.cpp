// The fault injector: the seam through which tests make platform calls fail.
#include "tests/support/fault.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <set>
#include <string>

#include "platform/platform.h"
#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using platform::Call;
using platform::Disposition;
using platform::Fault;
using platform::FaultInjector;
using platform::FileHandle;
using platform::kInvalidFile;
using platform::Share;

constexpr std::uint32_t kCode = 1117;  // an error no real call here produces

Fault FailAt(Call call, std::uint32_t occurrence, bool persistent = false) {
  Fault fault;
  fault.call = call;
  fault.occurrence = occurrence;
  fault.persistent = persistent;
  fault.errorCode = kCode;
  return fault;
}

FileHandle Create(const wchar_t* name) {
  return platform::CreateFile(name, Disposition::CreateNew, Share::Read);
}

// The table holds function pointers only.
bool SameTable(const platform::Calls& a, const platform::Calls& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class FaultInjection : public ::testing::Test {
 protected:
  testsupport::ScratchDir scratch;
};

TEST_F(FaultInjection, TheChosenOccurrenceFailsWithTheChosenCode) {
  FaultInjector injector;
  injector.Arm(FailAt(Call::CreateFile, 2));

  const FileHandle first = Create(L"Temp00001.by");
  EXPECT_NE(first, kInvalidFile);
  platform::SetLastError(0);
  EXPECT_EQ(Create(L"Temp00002.by"), kInvalidFile);
  EXPECT_EQ(platform::GetLastError(), kCode);
  EXPECT_FALSE(fs::exists(scratch.path() / "Temp00002.by"));
  const FileHandle third = Create(L"Temp00003.by");
  EXPECT_NE(third, kInvalidFile);

  EXPECT_EQ(injector.Count(Call::CreateFile), 3u);
  EXPECT_EQ(injector.Injected(), 1u);
  platform::CloseHandle(first);
  platform::CloseHandle(third);
}

TEST_F(FaultInjection, OccurrencesCountFromArmingAndRearmingReplaces) {
  FaultInjector injector;
  EXPECT_TRUE(platform::CreateDirectory(L"a"));
  EXPECT_TRUE(platform::CreateDirectory(L"b"));
  injector.Arm(FailAt(Call::CreateDirectory, 3));
  injector.Arm(FailAt(Call::CreateDirectory, 1));  // replaces the first
  EXPECT_FALSE(platform::CreateDirectory(L"c"));
  EXPECT_TRUE(platform::CreateDirectory(L"d"));
  EXPECT_TRUE(platform::CreateDirectory(L"e"));
  EXPECT_FALSE(fs::exists(scratch.path() / "c"));
  EXPECT_EQ(injector.Count(Call::CreateDirectory), 5u);
  EXPECT_EQ(injector.Injected(), 1u);
}

TEST_F(FaultInjection, PersistentFaultFailsEveryCallUntilDisarmed) {
  FaultInjector injector;
  const FileHandle file = Create(L"Temp00004.by");
  ASSERT_NE(file, kInvalidFile);
  std::uint32_t done = 0;
  ASSERT_TRUE(platform::WriteFile(file, "0123456789", 10, &done));

  injector.Arm(FailAt(Call::ReadFile, 2, /*persistent=*/true));
  char buffer[10];
  ASSERT_TRUE(platform::SetFilePointer(file, 0));
  EXPECT_TRUE(platform::ReadFile(file, buffer, 10, &done));
  EXPECT_EQ(done, 10u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(platform::SetFilePointer(file, 0));
    done = 99;
    EXPECT_FALSE(platform::ReadFile(file, buffer, 10, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(platform::GetLastError(), kCode);
  }
  injector.Disarm(Call::ReadFile);
  ASSERT_TRUE(platform::SetFilePointer(file, 0));
  EXPECT_TRUE(platform::ReadFile(file, buffer, 10, &done));
  EXPECT_EQ(std::string(buffer, done), "0123456789");
  EXPECT_EQ(injector.Injected(), 3u);
  EXPECT_EQ(injector.Count(Call::ReadFile), 5u);
  platform::CloseHandle(file);
}

TEST_F(FaultInjection, ShortTransfersMoveOnlyPartOfTheBytes) {
  FaultInjector injector;
  const FileHandle file = Create(L"Temp00005.by");
  ASSERT_NE(file, kInvalidFile);

  Fault shortWrite = FailAt(Call::WriteFile, 1);
  shortWrite.shortCount = 3;
  injector.Arm(shortWrite);
  std::uint32_t done = 0;
  EXPECT_TRUE(platform::WriteFile(file, "0123456789", 10, &done));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(platform::GetFileSize(file), 3u);

  ASSERT_TRUE(platform::WriteFile(file, "3456789", 7, &done));
  Fault shortRead = FailAt(Call::ReadFile, 1);
  shortRead.shortCount = 4;
  injector.Arm(shortRead);
  char buffer[10] = {};
  ASSERT_TRUE(platform::SetFilePointer(file, 2));
  EXPECT_TRUE(platform::ReadFile(file, buffer, 8, &done));
  EXPECT_EQ(std::string(buffer, done), "2345");

  // A short count larger than the request moves the whole request.
  Fault generous = FailAt(Call::ReadFile, 1);
  generous.shortCount = 1000;
  injector.Arm(generous);
  ASSERT_TRUE(platform::SetFilePointer(file, 0));
  EXPECT_TRUE(platform::ReadFile(file, buffer, 10, &done));
  EXPECT_EQ(std::string(buffer, done), "0123456789");
  EXPECT_EQ(injector.Injected(), 3u);
  platform::CloseHandle(file);
}

// Every kind of call can be failed, and fails with its own failure value.
TEST_F(FaultInjection, EveryKindOfCallFailsWithItsFailureValue) {
  const FileHandle file = Create(L"Temp00006.by");
  ASSERT_NE(file, kInvalidFile);
  const FileHandle doomed = Create(L"doomed.by");
  ASSERT_NE(doomed, kInvalidFile);
  platform::CloseHandle(doomed);
  FaultInjector injector;
  wchar_t path[platform::kPathUnits];
  char byte = 0;
  std::uint32_t done = 0;

  struct Case {
    Call call;
    std::function<bool()> failed;  // makes the call, true if it failed
  };
  const Case cases[] = {
      {Call::LocalAlloc,
       [] {
         void* block = platform::LocalAlloc(platform::kAllocZeroInit, 8);
         platform::LocalFree(block);
         return block == nullptr;
       }},
      {Call::CreateFile,
       [] {
         const FileHandle created = Create(L"Temp00007.by");
         if (created == kInvalidFile) return true;
         platform::CloseHandle(created);
         return false;
       }},
      {Call::SetFilePointer, [&] { return !platform::SetFilePointer(file, 0); }},
      {Call::ReadFile, [&] { return !platform::ReadFile(file, &byte, 1, &done); }},
      {Call::WriteFile,
       [&] { return !platform::WriteFile(file, &byte, 1, &done); }},
      {Call::FlushFileBuffers, [&] { return !platform::FlushFileBuffers(file); }},
      {Call::GetFileSize,
       [&] { return platform::GetFileSize(file) == platform::kInvalidFileSize; }},
      {Call::CopyFile,
       [] { return !platform::CopyFile(L"Temp00006.by", L"Temp00008.by"); }},
      {Call::DeleteFile, [] { return !platform::DeleteFile(L"doomed.by"); }},
      {Call::GetModuleFileName,
       [&] { return platform::GetModuleFileName(path, platform::kPathUnits) == 0; }},
      {Call::GetCurrentDirectory,
       [&] {
         return platform::GetCurrentDirectory(platform::kPathUnits, path) == 0;
       }},
      {Call::SetCurrentDirectory,
       [] { return !platform::SetCurrentDirectory(L"."); }},
      {Call::CreateDirectory, [] { return !platform::CreateDirectory(L"log"); }},
      {Call::GetFileAttributes,
       [] {
         return platform::GetFileAttributes(L".") == platform::kInvalidAttributes;
       }},
      {Call::RemoveTree,
       [] {
         platform::CreateDirectory(L"tree");
         return !platform::RemoveTree(L"tree");
       }},
      {Call::GetCoreCount, [] { return platform::GetCoreCount() == 0; }},
      {Call::GetProcessAffinity,
       [] {
         std::uint64_t own = 0, system = 0;
         return !platform::GetProcessAffinity(&own, &system);
       }},
  };
  // Every kind that can fail is in the table, or has a test of its own:
  // closing here, the processes with the core tester's.
  std::set<Call> covered = {Call::LocalFree, Call::CloseHandle, Call::CreateProcess,
                            Call::WaitForProcess, Call::TerminateProcess, Call::CloseProcess};
  for (const Case& c : cases) covered.insert(c.call);
  EXPECT_EQ(covered.size(), static_cast<std::size_t>(Call::kCount));
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::CallName(c.call));
    injector.Arm(FailAt(c.call, 1));
    platform::SetLastError(0);
    EXPECT_TRUE(c.failed());
    EXPECT_EQ(platform::GetLastError(), kCode);
    // Disarmed after its one occurrence: the same call now succeeds.
    EXPECT_FALSE(c.failed());
    EXPECT_EQ(injector.Count(c.call), 2u);
  }
  EXPECT_EQ(injector.Injected(), std::size(cases));
  // The failed calls left nothing behind; the successful ones did their work.
  EXPECT_TRUE(fs::is_directory(scratch.path() / "log"));
  EXPECT_TRUE(fs::exists(scratch.path() / "Temp00007.by"));
  EXPECT_TRUE(fs::exists(scratch.path() / "Temp00008.by"));
  EXPECT_FALSE(fs::exists(scratch.path() / "doomed.by"));
  EXPECT_FALSE(fs::exists(scratch.path() / "tree"));
  platform::CloseHandle(file);
}

TEST_F(FaultInjection, AFailedCloseStillReleasesTheFile) {
  FaultInjector injector;
  const FileHandle file = Create(L"Temp00009.by");
  ASSERT_NE(file, kInvalidFile);
  injector.Arm(FailAt(Call::CloseHandle, 1));
  EXPECT_FALSE(platform::CloseHandle(file));
  EXPECT_EQ(platform::GetLastError(), kCode);
  // Windows refuses to delete a file that is still open without delete
  // sharing, so this proves the handle went.
  EXPECT_TRUE(platform::DeleteFile(L"Temp00009.by"));
}

TEST_F(FaultInjection, ReleasingMemoryIsCountedButNeverFailed) {
  FaultInjector injector;
  injector.Arm(FailAt(Call::LocalFree, 1, /*persistent=*/true));
  void* block = platform::LocalAlloc(platform::kAllocFixed, 64);
  ASSERT_NE(block, nullptr);
  platform::LocalFree(block);  // must really release: the sanitizer build checks leaks
  EXPECT_EQ(injector.Count(Call::LocalFree), 1u);
  EXPECT_EQ(injector.Count(Call::LocalAlloc), 1u);
  EXPECT_EQ(injector.Injected(), 0u);
}

TEST_F(FaultInjection, DisarmAllLetsEveryCallThrough) {
  FaultInjector injector;
  injector.Arm(FailAt(Call::CreateDirectory, 1, true));
  injector.Arm(FailAt(Call::GetFileAttributes, 1, true));
  injector.DisarmAll();
  EXPECT_TRUE(platform::CreateDirectory(L"log"));
  EXPECT_NE(platform::GetFileAttributes(L"log"), platform::kInvalidAttributes);
  EXPECT_EQ(injector.Injected(), 0u);
}

TEST(FaultInjectorTable, DestructionPutsBackTheTableInForceBefore) {
  ASSERT_TRUE(SameTable(platform::calls, platform::RealCalls()));
  {
    FaultInjector injector;
    EXPECT_NE(platform::calls.readFile, platform::RealCalls().readFile);
    EXPECT_NE(platform::calls.createFile, platform::RealCalls().createFile);
    // Calls that cannot fail are left alone.
    EXPECT_EQ(platform::calls.rand, platform::RealCalls().rand);
  }
  EXPECT_TRUE(SameTable(platform::calls, platform::RealCalls()));

  // A replacement made before the injector outlives it.
  platform::calls.rand = [] { return 7; };
  {
    FaultInjector injector;
    EXPECT_EQ(platform::Rand(), 7);
  }
  EXPECT_EQ(platform::Rand(), 7);
  platform::Restore();
  EXPECT_TRUE(SameTable(platform::calls, platform::RealCalls()));
}

}  // namespace
