// Scaffolding shared by the number and digit-access tests: a scratch
// directory, a captured log and a fresh pool per test, plus ways to build
// numbers in each storage state and to look at what they hold.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/dec_number.h"
#include "store/digits.h"
#include "store/work_pool.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"

namespace storetest {

using Bytes = std::vector<Digit>;
using platform::Call;
using platform::Fault;
using platform::FaultInjector;

constexpr std::uint32_t kFailCode = 5;

// One log record as a test expects it: the message and the com info code,
// or kAnyCode where a short transfer leaves whatever error the platform had.
struct Logged {
  std::string message;
  std::optional<std::uint32_t> code;
  friend bool operator==(const Logged& a, const Logged& b) {
    return a.message == b.message && (!a.code || !b.code || *a.code == *b.code);
  }
  friend void PrintTo(const Logged& r, std::ostream* os) {
    *os << '"' << r.message << "\" code "
        << (r.code ? std::to_string(*r.code) : "any");
  }
};
using Log = std::vector<Logged>;
inline constexpr std::nullopt_t kAnyCode = std::nullopt;

inline Bytes Join(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Holds every free block of a kind until destroyed (or Release()d), so that
// the code under test finds none.
class BlockHog {
 public:
  explicit BlockHog(int kind) : kind_(kind) {
    const std::uint32_t count =
        kind == SmallBlock ? kSmallBlockCount : kLargeBlockCount;
    while (testsupport::PoolScope::Held(kind) < count) {
      held_.push_back(TakeBlock(kind));
    }
  }
  ~BlockHog() { Release(); }
  BlockHog(const BlockHog&) = delete;
  BlockHog& operator=(const BlockHog&) = delete;
  void Release() {
    for (Digit* block : held_) GiveBackBlock(block, kind_);
    held_.clear();
  }

 private:
  int kind_;
  std::vector<Digit*> held_;
};

// Replaces one entry of the platform table for the life of the object.
template <typename Fn>
class TableEntry {
 public:
  TableEntry(Fn& entry, Fn replacement) : entry_(entry), saved_(entry) {
    entry_ = replacement;
  }
  ~TableEntry() { entry_ = saved_; }
  TableEntry(const TableEntry&) = delete;
  TableEntry& operator=(const TableEntry&) = delete;

 private:
  Fn& entry_;
  Fn saved_;
};

// A whole-file copy that breaks off, as one may when the disk fills up: the
// target is left holding a short run of bytes that are not the source's,
// and the copy fails. The backend's own copy lays them down, so that its
// handling of files this process holds open is what the store meets.
class BrokenCopy {
 public:
  BrokenCopy() : entry_(platform::calls.copyFile, &Copy) {
    std::ofstream(kScraps, std::ios::binary) << std::string(4096, '\x55');
  }
  ~BrokenCopy() { std::filesystem::remove(kScraps); }
  BrokenCopy(const BrokenCopy&) = delete;
  BrokenCopy& operator=(const BrokenCopy&) = delete;

 private:
  static constexpr const char* kScraps = "scraps.bin";
  static bool Copy(const wchar_t*, const wchar_t* to) {
    platform::RealCalls().copyFile(L"scraps.bin", to);
    platform::SetLastError(112);
    return false;
  }
  TableEntry<bool (*)(const wchar_t*, const wchar_t*)> entry_;
};

// Distinct, recognisable digit bytes: values 0 ... 9 and a few outside that
// range, since the store copies digits as opaque bytes.
inline Bytes Pattern(std::uint32_t count, int salt = 0) {
  Bytes bytes(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<Digit>((i * 7 + i / 13 + salt) % 23 - 9);
  }
  return bytes;
}

inline std::wstring TempName(int value) {
  wchar_t name[32];
  std::swprintf(name, sizeof name / sizeof name[0], L"Temp%05d.by", value);
  return name;
}

using testsupport::Narrow;

class NumberTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(TempFiles().empty()) << "temporary files left behind";
  }

  // Names of the temporary number files in the scratch directory.
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const std::string& name : scratch_.Files()) {
      if (name.rfind("Temp", 0) == 0) names.push_back(name);
    }
    return names;
  }

  bool FileExists(const std::wstring& name) const {
    for (const std::string& file : scratch_.Files()) {
      if (file == Narrow(name)) return true;
    }
    return false;
  }

  // The whole content of a number's temporary file, read beside its handle.
  Bytes FileBytes(const DecNumber& n) const {
    const std::string raw =
        testsupport::ReadBytes(scratch_.path() / Narrow(n.fileName));
    return Bytes(raw.begin(), raw.end());
  }

  // The first `length` bytes of storage, wherever they are.
  Bytes Storage(const DecNumber& n) const {
    if (n.inMemory == 1) return Bytes(n.block, n.block + n.length);
    Bytes bytes = FileBytes(n);
    EXPECT_GE(bytes.size(), n.length);
    bytes.resize(n.length);
    return bytes;
  }

  // Appends `bytes` in windows of at most 100, as the arithmetic does.
  static void AppendAll(DecNumber& n, const Bytes& bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kSmallBlockBytes) {
      const auto count = static_cast<std::uint32_t>(
          std::min<std::size_t>(kSmallBlockBytes, bytes.size() - at));
      ASSERT_EQ(AppendDigits(n, 0, count - 1, bytes.data() + at), 0);
    }
  }

  // A number made while no LargeBlock was free: it lives in a file only.
  static void ConstructFileOnly(DecNumber& n) {
    BlockHog hog(LargeBlock);
    Construct(n);
  }

  // The records written since `mark` records were in the log. Every record
  // of the store carries external code 1.
  Log LoggedSince(std::size_t mark) const {
    const std::vector<LogRecord> all = log_.Records();
    Log logged;
    for (std::size_t i = mark; i < all.size(); ++i) {
      EXPECT_EQ(all[i].externalCode, 1u) << Narrow(all[i].message);
      logged.push_back({Narrow(all[i].message), all[i].comCode});
    }
    return logged;
  }
  std::size_t Mark() const { return log_.Records().size(); }

  std::uint8_t UseCount(const Digit* block) const {
    const auto k = static_cast<std::uint32_t>((workPool.end - block) /
                                              kLargeBlockBytes);
    return workPool.useCount[kSmallBlockCount + kLargeBlockCount - k];
  }

  testsupport::ScratchDir scratch_;
  testsupport::LogCapture log_;
  testsupport::PoolScope pool_;
};

}  // namespace storetest
