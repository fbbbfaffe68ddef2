// Set-up and release of the FFT buffers and the table of roots of unity.
#include "fft/fft_tables.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "fft/arithmetic_hooks.h"
#include "fft/fft_transform.h"
#include "platform/platform.h"
#include "tests/fft/fft_support.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"

namespace {

using platform::Call;
using platform::Fault;
using platform::FaultInjector;

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Watches the memory calls above whatever table is in force (a fault
// injector included): every request with its flags and size, and the
// blocks still held.
class MemoryWatch {
 public:
  struct Request {
    std::uint32_t flags;
    std::size_t bytes;
    bool granted;
  };

  MemoryWatch() : saved_(platform::calls) {
    current_ = this;
    platform::calls.localAlloc = &Alloc;
    platform::calls.localFree = &Free;
  }
  ~MemoryWatch() {
    platform::calls.localAlloc = saved_.localAlloc;
    platform::calls.localFree = saved_.localFree;
    current_ = nullptr;
  }
  MemoryWatch(const MemoryWatch&) = delete;
  MemoryWatch& operator=(const MemoryWatch&) = delete;

  const std::vector<Request>& requests() const { return requests_; }
  const std::set<void*>& held() const { return held_; }
  const std::vector<void*>& freeOrder() const { return freeOrder_; }

 private:
  static void* Alloc(std::uint32_t flags, std::size_t bytes) {
    void* block = current_->saved_.localAlloc(flags, bytes);
    current_->requests_.push_back({flags, bytes, block != nullptr});
    if (block != nullptr) current_->held_.insert(block);
    return block;
  }
  static void Free(void* block) {
    current_->freeOrder_.push_back(block);
    EXPECT_EQ(current_->held_.erase(block), 1u) << "freed a block not held";
    current_->saved_.localFree(block);
  }

  static inline MemoryWatch* current_ = nullptr;
  platform::Calls saved_;
  std::vector<Request> requests_;
  std::set<void*> held_;
  std::vector<void*> freeOrder_;
};

bool TablesEmpty() {
  return fftTables.spectrumA == nullptr && fftTables.spectrumB == nullptr &&
         fftTables.twiddleTable == nullptr &&
         fftTables.stagingBuffer == nullptr && fftTables.maxFftSize == 0;
}

class FftTablesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    FreeFftTables();
    EXPECT_TRUE(TablesEmpty());
  }
  testsupport::ScratchDir scratch_;
  testsupport::LogCapture log_;
};

TEST_F(FftTablesTest, SetUpAsksForFourFixedBlocksInOrderReleasesThemAndRepeats) {
  MemoryWatch watch;
  ASSERT_TRUE(TablesEmpty());
  ASSERT_EQ(InitFftTables(), 0);

  ASSERT_EQ(watch.requests().size(), 4u);
  const std::size_t sizes[4] = {2097152, 2097152, 1048576, 2097152};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(watch.requests()[i].flags, platform::kAllocFixed) << i;
    EXPECT_EQ(watch.requests()[i].bytes, sizes[i]) << i;
  }
  EXPECT_EQ(fftTables.maxFftSize, 131072);
  const std::vector<void*> expectedOrder = {
      fftTables.twiddleTable, fftTables.spectrumA, fftTables.spectrumB,
      fftTables.stagingBuffer};
  EXPECT_EQ(watch.held(), std::set<void*>(expectedOrder.begin(), expectedOrder.end()));
  FreeFftTables();
  EXPECT_EQ(watch.freeOrder(), expectedOrder);
  EXPECT_TRUE(watch.held().empty());
  // Released tables cannot be reached any more, and multiplying is refused
  // again.
  EXPECT_TRUE(TablesEmpty());
  FreeFftTables();
  EXPECT_EQ(watch.freeOrder().size(), 4u);

  // Set up again after release, then twice in a row: one set held.
  ASSERT_EQ(InitFftTables(), 0);
  ASSERT_EQ(InitFftTables(), 0);
  EXPECT_EQ(watch.requests().size(), 8u) << "a second set-up leaked the first";
  EXPECT_EQ(fftTables.maxFftSize, 131072);
  EXPECT_EQ(fftTables.twiddleTable[32768].im, 1.0);
  FreeFftTables();
  EXPECT_TRUE(watch.held().empty());
  EXPECT_TRUE(log_.Records().empty());
}

// The transforms keep a copy of the roots they read most. A table set up
// anew, mostly where the last one stood, replaces it: corrupted, and sound
// again after that.
TEST_F(FftTablesTest, EveryTableSetUpReachesTheTransforms) {
  std::vector<FftComplex> in(4096, FftComplex{0.0, 0.0}), sound(4096), out(4096);
  for (std::size_t i = 0; i < in.size(); ++i) in[i].re = static_cast<double>(i % 7);
  const auto transform = [&](std::vector<FftComplex>& to,
                             void (*corrupt)(FftComplex*, std::int32_t)) {
    arithmeticHooks.twiddles = corrupt;
    ASSERT_EQ(InitFftTables(), 0);
    arithmeticHooks.twiddles = nullptr;
    FftTransform(in.data(), to.data(), 4096, 1, +1);
    FreeFftTables();
  };
  transform(sound, nullptr);
  transform(out, [](FftComplex* table, std::int32_t) { table[4000].re += 1e-3; });
  EXPECT_FALSE(ffttest::SameBits(out.data(), sound.data(), 4096)) << "corrupted root unread";
  transform(out, nullptr);
  EXPECT_TRUE(ffttest::SameBits(out.data(), sound.data(), 4096)) << "corrupted root outlived";
}

// Failing request 0 stands for every request failing.
TEST_F(FftTablesTest, AnyOneOrEveryRequestFailingLeavesNothingHeldAndNoRecord) {
  for (std::uint32_t failing = 0; failing <= 4; ++failing) {
    SCOPED_TRACE(failing);
    FaultInjector injector;
    injector.Arm(Fault{Call::LocalAlloc, failing == 0 ? 1 : failing, failing == 0, 8, -1});
    MemoryWatch watch;

    EXPECT_EQ(InitFftTables(), 3);
    // All four were asked for although one failed.
    EXPECT_EQ(injector.Count(Call::LocalAlloc), 4u);
    EXPECT_EQ(injector.Injected(), failing == 0 ? 4u : 1u);
    ASSERT_EQ(watch.requests().size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) {
      EXPECT_EQ(watch.requests()[i].granted, failing != 0 && i != failing - 1) << i;
    }
    EXPECT_EQ(injector.Count(Call::LocalFree), failing == 0 ? 0u : 3u);
    EXPECT_TRUE(watch.held().empty());
    EXPECT_TRUE(TablesEmpty());
  }
  EXPECT_TRUE(log_.Records().empty());
}

// The accurate sine and cosine give these rows too.
TEST_F(FftTablesTest, TellingRowsOfTheTwiddleTableMatchBitForBit) {
  ASSERT_EQ(InitFftTables(), 0);
  const FftComplex* t = fftTables.twiddleTable;
  struct Row { std::int32_t k; double re, im; };
  const Row rows[] = {
      {0, 1.0, 0.0},
      {1, 0.9999999988510269, 4.793689960306688e-05},
      {16384, 0.7071067811865476, 0.7071067811865475},
      {32768, 6.123233995736766e-17, 1.0},
      {65535, -0.9999999988510269, 4.7936899603111124e-05},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Bits(t[row.k].re), Bits(row.re)) << "re of entry " << row.k;
    EXPECT_EQ(Bits(t[row.k].im), Bits(row.im)) << "im of entry " << row.k;
    double sine = -2.0, cosine = -2.0;
    CorrectlyRoundedSinCos(row.k * (3.141592653589793 / 65536), sine, cosine);
    EXPECT_EQ(Bits(sine), Bits(row.im)) << row.k;
    EXPECT_EQ(Bits(cosine), Bits(row.re)) << row.k;
  }
}

std::int64_t UnitsApart(double a, double b) {
  const auto x = static_cast<std::int64_t>(Bits(a));
  const auto y = static_cast<std::int64_t>(Bits(b));
  if ((x < 0) != (y < 0)) return a == b ? 0 : INT64_MAX;
  return x > y ? x - y : y - x;
}

TEST_F(FftTablesTest, EveryEntryIsWithinAUnitInTheLastPlaceOfTheTrueRoot) {
  // A recurrence or a single-precision angle would drift much further.
  ASSERT_EQ(InitFftTables(), 0);
  const double step = 3.141592653589793 / 65536;
  std::int32_t far = 0;
  std::int32_t exact = 0;
  for (std::int32_t k = 0; k < kTwiddleCount; ++k) {
    double sine, cosine;
    CorrectlyRoundedSinCos(k * step, sine, cosine);
    const FftComplex& entry = fftTables.twiddleTable[k];
    if (UnitsApart(entry.re, cosine) > 1 || UnitsApart(entry.im, sine) > 1) ++far;
    if (Bits(entry.re) == Bits(cosine) && Bits(entry.im) == Bits(sine)) ++exact;
  }
  EXPECT_EQ(far, 0);
  // The library may miss the nearest double now and then, not often.
  EXPECT_GT(exact, kTwiddleCount - 400);
}

}  // namespace
