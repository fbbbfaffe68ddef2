// Scaffolding of the FFT tests: tables set up and released around a test,
// comparisons bit for bit, digit arrays, and numbers built from and read
// back as most-significant-first digit strings.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fft/fft_kernels.h"
#include "fft/fft_tables.h"
#include "store/dec_number.h"
#include "store/digits.h"
#include "store/work_pool.h"
#include "tests/support/fixtures.h"

namespace ffttest {

using Digits = std::vector<Digit>;

// Sets the tables up for the life of the object and releases them after:
// the buffers are 7 MiB, no test may keep them.
class TablesScope {
 public:
  TablesScope() { EXPECT_EQ(InitFftTables(), 0); }
  ~TablesScope() { FreeFftTables(); }
  TablesScope(const TablesScope&) = delete;
  TablesScope& operator=(const TablesScope&) = delete;
};

inline bool SameBits(const FftComplex* a, const FftComplex* b,
                     std::size_t count) {
  return std::memcmp(a, b, count * sizeof(FftComplex)) == 0;
}

// First element whose bits differ, or -1; for a readable failure.
inline std::int64_t FirstDifference(const FftComplex* a, const FftComplex* b,
                                    std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(FftComplex)) != 0) {
      return static_cast<std::int64_t>(i);
    }
  }
  return -1;
}

inline Digits RandomDigits(std::mt19937& random, std::size_t count, int low,
                           int high) {
  std::uniform_int_distribution<int> digit(low, high);
  Digits digits(count);
  for (Digit& d : digits) d = static_cast<Digit>(digit(random));
  return digits;
}

// "0001" -> {0, 0, 0, 1}; a dot is skipped, so "0000.25" reads as written.
inline Digits FromText(const std::string& text) {
  Digits digits;
  for (char c : text) {
    if (c != '.') digits.push_back(static_cast<Digit>(c - '0'));
  }
  return digits;
}

// Builds a number from its digits, most significant first, by appending
// them in the normal storage order (least significant first).
inline void Fill(DecNumber& n, const Digits& msf) {
  Digits storage(msf.rbegin(), msf.rend());
  for (std::size_t at = 0; at < storage.size(); at += kSmallBlockBytes) {
    const auto count = static_cast<std::uint32_t>(
        std::min<std::size_t>(kSmallBlockBytes, storage.size() - at));
    ASSERT_EQ(AppendDigits(n, 0, count - 1, storage.data() + at), 0);
  }
}

// The number's digits, most significant first, wherever they are kept.
inline Digits DigitsOf(const DecNumber& n) {
  Digits digits(n.length);
  if (n.length == 0) return digits;
  EXPECT_EQ(ReadDigits(n, 0, n.length - 1, digits.data()), 0);
  if (n.digitOrder != MostSignificantFirst) {
    std::reverse(digits.begin(), digits.end());
  }
  return digits;
}

// Holds every free block of a kind, or all but `spare` of them, until
// destroyed, so that the code under test finds few or none.
class BlockHog {
 public:
  BlockHog(int kind, std::uint32_t spare) : kind_(kind) {
    const std::uint32_t total =
        kind == SmallBlock ? kSmallBlockCount : kLargeBlockCount;
    while (testsupport::PoolScope::Held(kind) + spare < total) {
      held_.push_back(TakeBlock(kind));
    }
  }
  ~BlockHog() {
    for (Digit* block : held_) GiveBackBlock(block, kind_);
  }
  BlockHog(const BlockHog&) = delete;
  BlockHog& operator=(const BlockHog&) = delete;

 private:
  int kind_;
  std::vector<Digit*> held_;
};


// Digits of exact position sums (most significant first), carried from the
// last position up, truncating toward zero; the carry out of the first is
// dropped.
inline Digits CarryDigits(const std::vector<std::int64_t>& sums) {
  Digits digits(sums.size());
  std::int64_t carry = 0;
  for (std::size_t p = sums.size(); p-- > 0;) {
    const std::int64_t v = sums[p] + carry;
    carry = v / 10;
    digits[p] = static_cast<Digit>(v % 10);
  }
  return digits;
}

// Positions 0 .. m-1 of the exact convolution of two digit arrays (most
// significant first), carried the way the product is carried: from position
// m-1 up, truncating toward zero, nothing from positions m and beyond, the
// carry out of position 0 dropped.
inline Digits CarriedConvolution(const Digits& a, const Digits& b,
                                 std::int64_t m) {
  if (m <= 0) return {};
  std::vector<std::int64_t> sums(m, 0);
  for (std::size_t i = 0; i < a.size() && static_cast<std::int64_t>(i) < m;
       ++i) {
    if (a[i] == 0) continue;
    const std::int64_t ai = a[i];
    const std::size_t last =
        std::min<std::size_t>(b.size(), static_cast<std::size_t>(m) - i);
    std::int64_t* row = sums.data() + i;
    for (std::size_t j = 0; j < last; ++j) row[j] += ai * b[j];
  }
  return CarryDigits(sums);
}

// The fixed-point product of digit strings with four integer positions:
// at most `capacity` convolution positions, the top three dropped.
inline Digits FixedPointProduct(const Digits& a, const Digits& b,
                                std::int64_t capacity = kLargeBlockBytes) {
  const std::int64_t positions =
      static_cast<std::int64_t>(a.size() + b.size()) - 1;
  const Digits all = CarriedConvolution(a, b, std::min(positions, capacity));
  if (all.size() < 3) return {};
  return Digits(all.begin() + 3, all.end());
}

// Kernel ops that pass every call on to `unspoiled`, and leave value
// `spoiledAt` of an inverse transform NaN while it is not -1: one spoiled
// output, as a fault in the last butterfly stage leaves it.
inline const FftKernelOps* unspoiled = nullptr;
inline std::int32_t spoiledAt = -1;
inline const FftKernelOps kSpoiling = {
    [](const FftComplex* in, FftComplex* out, std::int32_t n, std::int32_t stride,
       std::int32_t sign, const FftRoots& roots) {
      unspoiled->transform(in, out, n, stride, sign, roots);
      if (sign < 0 && spoiledAt >= 0) out[spoiledAt].re = std::nan("");
    },
    [](const Digit* digits, std::int32_t count, std::int32_t n, FftComplex* out,
       const FftRoots& roots) { unspoiled->digits(digits, count, n, out, roots); },
    [](FftComplex* product, const FftComplex* other, std::int32_t n) {
      unspoiled->multiply(product, other, n);
    },
    [](const FftComplex* values, std::int32_t count, double scale,
       std::int32_t* rounded, FftRoundOff& off) {
      unspoiled->round(values, count, scale, rounded, off);
    }};

}  // namespace ffttest
