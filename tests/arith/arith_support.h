// Helpers of the arithmetic tests: numbers made from digit lists or decimal
// text, their digits read back by index, and a fixture that gives every test
// a scratch directory, a fresh pool and a captured log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "store/dec_number.h"
#include "store/digits.h"
#include "store/work_pool.h"
#include "tests/support/fixtures.h"

namespace arithtest {

// Digits by index, index 0 the thousands digit.
using Digits = std::vector<int>;

// "12.5" -> 0, 0, 1, 2, 5; the integer part is padded to four digits.
inline Digits Parse(const std::string& text) {
  const std::size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string fraction =
      point == std::string::npos ? "" : text.substr(point + 1);
  Digits digits(4 - whole.size(), 0);
  for (char c : whole + fraction) digits.push_back(c - '0');
  return digits;
}

// Appends the digits (index 0 first) to an empty number in one go.
inline void Load(DecNumber& n, const Digits& digits) {
  if (digits.empty()) return;
  std::vector<Digit> storage(digits.rbegin(), digits.rend());
  ASSERT_EQ(AppendDigits(n, 0, static_cast<std::uint32_t>(storage.size() - 1),
                         storage.data()),
            0);
}

inline ScopedNumber Make(const Digits& digits) {
  ScopedNumber n;
  Load(*n, digits);
  return n;
}

inline ScopedNumber Make(const std::string& text) { return Make(Parse(text)); }

// A number that lives in its temporary file from the start: made while
// every LargeBlock is held, so it gets none.
inline ScopedNumber MakeInFile(const Digits& digits) {
  std::vector<Digit*> held;
  for (Digit* b; (b = TakeBlock(LargeBlock)) != nullptr;) held.push_back(b);
  ScopedNumber n;
  for (Digit* b : held) GiveBackBlock(b, LargeBlock);
  EXPECT_EQ(n->inMemory, 0);
  Load(*n, digits);
  return n;
}

// Every digit by index, read through 100-digit windows as the arithmetic
// reads them.
inline Digits Read(const DecNumber& n) {
  Digits digits;
  Digit window[100];
  for (std::uint32_t low = 0; low < n.length; low += 100) {
    EXPECT_EQ(ReadDigits(n, low, low + 99, window), 0);
    for (std::uint32_t j = 0; j < 100 && low + j < n.length; ++j) {
      const std::uint32_t k = n.digitOrder == MostSignificantFirst ? j : 99 - j;
      digits.push_back(window[k]);
    }
  }
  return digits;
}

// `head` followed by zeros up to `length` digits.
inline Digits Padded(Digits head, std::size_t length) {
  head.resize(length, 0);
  return head;
}

// `length` zero digits but for the given (index, digit) pairs.
inline Digits Sparse(std::size_t length,
                     std::initializer_list<std::pair<std::size_t, int>> set) {
  Digits digits(length, 0);
  for (const auto& [j, d] : set) digits[j] = d;
  return digits;
}

// Holds every SmallBlock but `spare` of them until destroyed.
class SmallBlocksHeld {
 public:
  explicit SmallBlocksHeld(std::uint32_t spare = 0) {
    while (testsupport::PoolScope::Held(SmallBlock) + spare < kSmallBlockCount) {
      held_.push_back(TakeBlock(SmallBlock));
    }
  }
  ~SmallBlocksHeld() {
    for (Digit* b : held_) GiveBackBlock(b, SmallBlock);
  }

 private:
  std::vector<Digit*> held_;
};

// Holds every LargeBlock until destroyed, so numbers made meanwhile live in
// files.
class LargeBlocksHeld {
 public:
  LargeBlocksHeld() {
    for (Digit* b; (b = TakeBlock(LargeBlock)) != nullptr;) held_.push_back(b);
  }
  ~LargeBlocksHeld() {
    for (Digit* b : held_) GiveBackBlock(b, LargeBlock);
  }

 private:
  std::vector<Digit*> held_;
};

// Scratch directory, fresh pool and captured log, in that order, and the
// check that no temporary number file outlives the test.
class ArithTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : scratch_.Files()) {
      EXPECT_EQ(name.rfind("Temp", 0), std::string::npos)
          << name << " left behind";
    }
  }

  std::vector<std::string> Messages() const { return log_.Messages(); }
  std::vector<LogRecord> Records() const { return log_.Records(); }

 private:
  testsupport::ScratchDir scratch_;
  testsupport::PoolScope pool_;
  testsupport::LogCapture log_;
};

}  // namespace arithtest
