// The transform and the digit conversions around it: bit for bit equal to
// the plain recursion at every size, with every kernel the processor runs,
// and the rounding and carrying of the way back to digits.
#include "fft/fft_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fft/arithmetic_hooks.h"
#include "fft/fft_kernels.h"
#include "fft/fft_multiply.h"
#include "tests/fft/fft_support.h"
#include "tests/fft/reference_fft.h"

namespace {

using ffttest::Digits;
using ffttest::FirstDifference;
using ffttest::Reference;
using ffttest::SameBits;

constexpr std::int32_t kSigns[] = {+1, -1};

std::vector<std::int32_t> AllSizes() {
  std::vector<std::int32_t> sizes;
  for (std::int32_t n = 2; n <= kMaxFftSize; n *= 2) sizes.push_back(n);
  return sizes;
}

// Inputs that a faster transform could get wrong in the last bit: random
// values of both signs and many magnitudes, zeros of both signs, digit
// arrays, constant arrays and lone spikes.
struct Input {
  std::string name;
  std::function<FftComplex(std::int32_t i, std::int32_t n)> value;
};

std::vector<Input> Inputs(std::uint32_t seed) {
  auto random = std::make_shared<std::mt19937>(seed);
  auto wide = [random](std::int32_t, std::int32_t) {
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    return FftComplex{std::ldexp(mantissa(*random), exponent(*random)),
                      std::ldexp(mantissa(*random), exponent(*random))};
  };
  auto digit = [random](int low, int high) {
    return [random, low, high](std::int32_t, std::int32_t) {
      std::uniform_int_distribution<int> d(low, high);
      return FftComplex{static_cast<double>(d(*random)), 0.0};
    };
  };
  // Zeros of random sign, alone or beside digits: a butterfly that skips
  // its multiplication by the root 1 differs from the full one only in the
  // sign of a zero.
  auto signedZeros = [random](std::int32_t, std::int32_t) {
    std::bernoulli_distribution negative(0.5);
    return FftComplex{negative(*random) ? -0.0 : 0.0,
                      negative(*random) ? -0.0 : 0.0};
  };
  auto digitsAndZeros = [random](std::int32_t, std::int32_t) {
    std::uniform_int_distribution<int> d(-9, 9);
    std::bernoulli_distribution negative(0.5);
    const int value = d(*random);
    return FftComplex{value == 0 && negative(*random) ? -0.0 : value,
                      negative(*random) ? -0.0 : 0.0};
  };
  using I = std::int32_t;
  return {
      {"wide random", wide},
      {"digits -9..9", digit(-9, 9)},
      {"digits 0..9", digit(0, 9)},
      {"all nines", [](I, I) { return FftComplex{9, 0}; }},
      {"all minus nines", [](I, I) { return FftComplex{-9, 0}; }},
      {"nines of alternating sign", [](I i, I) { return FftComplex{i % 2 ? -9.0 : 9.0, 0}; }},
      {"spike first", [](I i, I) { return FftComplex{i == 0 ? 9.0 : 0.0, 0}; }},
      {"spike last", [](I i, I n) { return FftComplex{i == n - 1 ? -9.0 : 0.0, 0}; }},
      {"signed zeros", signedZeros},
      {"digits and signed zeros", digitsAndZeros},
      {"large alternating",
       [](I i, I) { return FftComplex{i % 2 ? -810000.0 : 810000.0, i % 3 ? 0.5 : -0.0}; }},
  };
}

// Every kernel this build carries and this processor runs, the narrowest
// first; the plain recursion is always among them.
std::vector<FftKernel> Kernels() {
  std::vector<FftKernel> kernels;
  for (const FftKernelInfo& info : FftKernelTable()) {
    if (FftKernelAvailable(info.kernel)) kernels.insert(kernels.begin(), info.kernel);
  }
  return kernels;
}

// Puts back the kernel that was in force.
class FftTransformTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFftKernel(savedKernel_); }
  testsupport::ScratchDir scratch_;
  ffttest::TablesScope tables_;
  const FftKernel savedKernel_ = ActiveFftKernel();
};

// Where the vector kernels read and write relative to the boundaries of
// their registers: the arrays start one complex value past such a boundary
// as often as on one, and input and output differ.
struct Placement {
  std::size_t inOffset;
  std::size_t outOffset;
};
constexpr Placement kPlacements[] = {{0, 0}, {1, 3}, {2, 1}, {3, 2}};

TEST_F(FftTransformTest, EveryKernelEqualsThePlainRecursionBitForBitAtEverySize) {
  const std::vector<FftKernel> kernels = Kernels();
  // Which kernels this processor leaves untested is worth a line.
  std::string compared, missing;
  for (const FftKernelInfo& info : FftKernelTable()) {
    const bool here = std::find(kernels.begin(), kernels.end(), info.kernel) != kernels.end();
    (here ? compared : missing) += std::string(" ") + FftKernelName(info.kernel);
  }
  std::printf("[ kernels  ] compared:%s; not run, the processor lacks them:%s\n",
              compared.c_str(), missing.empty() ? " none" : missing.c_str());
  for (const Input& input : Inputs(20240601)) {
    for (std::int32_t n : AllSizes()) {
      std::vector<FftComplex> values(n);
      for (std::int32_t i = 0; i < n; ++i) values[i] = input.value(i, n);
      for (std::int32_t sign : kSigns) {
        const std::vector<FftComplex> expected = Reference(values.data(), n, 1, sign);
        for (FftKernel kernel : kernels) {
          ASSERT_TRUE(SetFftKernel(kernel));
          // One placement per size and kernel keeps the test short while
          // every placement meets every kernel over the sizes.
          const Placement place =
              kPlacements[(n + static_cast<int>(kernel)) % std::size(kPlacements)];
          std::vector<FftComplex> in(n + 3);
          std::copy(values.begin(), values.end(), in.begin() + place.inOffset);
          std::vector<FftComplex> out(n + 4, FftComplex{1e300, 1e300});
          FftComplex* result = out.data() + place.outOffset;
          FftTransform(in.data() + place.inOffset, result, n, 1, sign);
          ASSERT_TRUE(SameBits(result, expected.data(), n))
              << FftKernelName(kernel) << ", " << input.name << ", n = " << n
              << ", sign = " << sign << ", placement " << place.inOffset << "/"
              << place.outOffset << ", first difference at "
              << FirstDifference(result, expected.data(), n);
          for (std::size_t i = 0; i < out.size(); ++i) {
            if (i < place.outOffset || i >= place.outOffset + n) {
              ASSERT_EQ(out[i].re, 1e300) << "wrote outside, at " << i;
            }
          }
        }
      }
    }
  }
}

TEST_F(FftTransformTest, ReadsEveryStrideThElementAndWritesOnlyN) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-9.0, 9.0);
  for (FftKernel kernel : Kernels()) {
    ASSERT_TRUE(SetFftKernel(kernel));
    for (std::int32_t stride : {2, 3, 5}) {
      for (std::int32_t n : {2, 4, 8, 16, 32, 64, 1024, 4096, 16384}) {
        std::vector<FftComplex> in(static_cast<std::size_t>(n) * stride);
        for (FftComplex& c : in) c = {value(random), value(random)};
        for (std::int32_t sign : kSigns) {
          std::vector<FftComplex> out(n + 1, FftComplex{-7.0, -7.0});
          FftTransform(in.data(), out.data(), n, stride, sign);
          const std::vector<FftComplex> expected = Reference(in.data(), n, stride, sign);
          ASSERT_TRUE(SameBits(out.data(), expected.data(), n))
              << FftKernelName(kernel) << ", n = " << n << ", stride = " << stride
              << ", sign = " << sign;
          EXPECT_EQ(out[n].re, -7.0);
        }
      }
    }
  }
}

// The transform reads the roots of the table as it was set up: a table
// set up anew, or with other values, is used from the next transform on.
std::vector<FftComplex> otherRoots;
void OtherRoots(FftComplex* table, std::int32_t count) {
  if (!otherRoots.empty()) std::copy_n(otherRoots.begin(), count, table);
}

TEST_F(FftTransformTest, FollowsTheTableInForce) {
  std::mt19937 random(17);
  std::uniform_real_distribution<double> value(-9.0, 9.0);
  std::vector<FftComplex> other(kTwiddleCount);
  for (FftComplex& root : other) root = {value(random), value(random)};
  for (FftKernel kernel : Kernels()) {
    ASSERT_TRUE(SetFftKernel(kernel));
    for (std::int32_t n : {16, 1024, 32768, 65536}) {
      std::vector<FftComplex> in(n);
      for (FftComplex& c : in) c = {value(random), value(random)};
      for (bool shared : {true, false, true}) {
        otherRoots = shared ? std::vector<FftComplex>() : other;
        FreeFftTables();
        arithmeticHooks.twiddles = &OtherRoots;
        ASSERT_EQ(InitFftTables(), 0);
        arithmeticHooks.twiddles = nullptr;
        std::vector<FftComplex> out(n);
        FftTransform(in.data(), out.data(), n, 1, -1);
        std::vector<FftComplex> expected(n);
        ffttest::ReferenceTransform(in.data(), expected.data(), n, 1, -1,
                                    fftTables.twiddleTable, fftTables.maxFftSize);
        EXPECT_TRUE(SameBits(out.data(), expected.data(), n))
            << FftKernelName(kernel) << ", n = " << n
            << (shared ? ", the shared table" : ", another table");
      }
    }
  }
}

TEST_F(FftTransformTest, ChoosesTheWidestKernelAndRefusesOnesItCannotRun) {
  const std::vector<FftKernel> kernels = Kernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front(), FftKernel::Plain);
#if defined(__x86_64__) || defined(__i386__)
  // Both targets' processors have SSE2; the 32-bit build is made for it.
  EXPECT_TRUE(FftKernelAvailable(FftKernel::Sse2));
#endif
  // With nothing chosen, the first transform takes the widest one.
  EXPECT_EQ(ActiveFftKernel(), kernels.back());
  for (const FftKernelInfo& info : FftKernelTable()) {
    const FftKernel kernel = info.kernel;
    const FftKernel before = ActiveFftKernel();
    if (FftKernelAvailable(kernel)) {
      EXPECT_TRUE(SetFftKernel(kernel));
      EXPECT_EQ(ActiveFftKernel(), kernel);
    } else {
      EXPECT_FALSE(SetFftKernel(kernel));
      EXPECT_EQ(ActiveFftKernel(), before) << FftKernelName(kernel);
    }
  }
  EXPECT_FALSE(SetFftKernel(static_cast<FftKernel>(99)));
}

// Replaced for measurement, a kernel's ops still name it, and given back
// they make it the kernel in force again, whatever was set meanwhile.
TEST_F(FftTransformTest, NamesTheKernelWhoseOpsAreInForce) {
  for (FftKernel outer : Kernels()) {
    for (FftKernel inner : Kernels()) {
      ASSERT_TRUE(SetFftKernel(outer));
      const FftKernelOps counting = ActiveFftKernelOps();
      const FftKernelOps* saved = ReplaceFftKernelOps(&counting);
      EXPECT_EQ(ActiveFftKernel(), outer);
      ASSERT_TRUE(SetFftKernel(inner));
      ReplaceFftKernelOps(saved);
      EXPECT_EQ(ActiveFftKernel(), outer) << FftKernelName(inner) << " set while "
                                          << FftKernelName(outer) << "'s ops were replaced";
    }
  }
}

// The yardstick itself must be the transform of the stated convention:
// X[k] = sum x[j] e^(sign 2 pi i jk/n), checked against the direct sum.
TEST_F(FftTransformTest, ComputesTheDiscreteTransformOfItsConvention) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> value(-9.0, 9.0);
  for (std::int32_t n : {2, 4, 8, 16, 256}) {
    std::vector<FftComplex> in(n);
    for (FftComplex& c : in) c = {value(random), value(random)};
    for (std::int32_t sign : kSigns) {
      std::vector<FftComplex> out(n);
      FftTransform(in.data(), out.data(), n, 1, sign);
      for (std::int32_t k = 0; k < n; ++k) {
        long double re = 0, im = 0;
        for (std::int32_t j = 0; j < n; ++j) {
          const long double angle = sign * 2 * 3.14159265358979323846264L *
                                    ((static_cast<std::int64_t>(j) * k) % n) / n;
          re += in[j].re * std::cos(angle) - in[j].im * std::sin(angle);
          im += in[j].re * std::sin(angle) + in[j].im * std::cos(angle);
        }
        EXPECT_NEAR(out[k].re, static_cast<double>(re), 1e-9 * n) << n << " " << k;
        EXPECT_NEAR(out[k].im, static_cast<double>(im), 1e-9 * n) << n << " " << k;
      }
    }
  }
}

TEST_F(FftTransformTest, DigitsToSpectrumPadsWithZerosAndMatchesTheRecursion) {
  std::mt19937 random(3);
  const std::vector<FftKernel> kernels = Kernels();
  for (std::int32_t n : AllSizes()) {
    // Counts that end a vector's worth of digits part of the way in, and
    // bytes of the whole signed range, whose sign a kernel must extend.
    for (std::int32_t count : {0, 1, 3, n / 2, n / 2 + 1, n - 1, n}) {
      if (count > n) continue;
      const Digits digits = ffttest::RandomDigits(random, count, -128, 127);
      const auto expected = ffttest::ReferenceSpectrum(digits.data(), count, n);
      for (FftKernel kernel : kernels) {
        ASSERT_TRUE(SetFftKernel(kernel));
        // Stale values in the staging buffer must not leak into the
        // spectrum.
        for (std::int32_t i = 0; i < n; ++i) fftTables.stagingBuffer[i] = {5.0, 5.0};
        FftComplex* target = count % 2 ? fftTables.spectrumA : fftTables.spectrumB;
        DigitsToSpectrum(digits.data(), count, n, target);
        ASSERT_TRUE(SameBits(target, expected.data(), n))
            << FftKernelName(kernel) << ", n = " << n << ", count = " << count;
      }
    }
  }
}

TEST_F(FftTransformTest, MultiplySpectraIsTheElementwiseProductIncludingSquares) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> value(-1e3, 1e3);
  for (FftKernel kernel : Kernels()) {
    ASSERT_TRUE(SetFftKernel(kernel));
    // Sizes around the passes over several elements and their tail; the
    // other factor also where it starts off a vector boundary.
    for (std::int32_t n : {2, 4, 8, 16, 4096}) {
      for (std::size_t offset : {0, 1, 3}) {
        std::vector<FftComplex> a(n), b(n + offset);
        for (std::int32_t i = 0; i < n; ++i) a[i] = {value(random), value(random)};
        for (FftComplex& c : b) c = {value(random), value(random)};
        const std::vector<FftComplex> factor(b.begin() + offset, b.end());
        std::copy(a.begin(), a.end(), fftTables.spectrumA);
        fftTables.spectrumA[n] = {42.0, 42.0};
        MultiplySpectra(b.data() + offset, n);
        const auto product = ffttest::ReferenceProduct(a, factor);
        EXPECT_TRUE(SameBits(fftTables.spectrumA, product.data(), n))
            << FftKernelName(kernel) << ", n = " << n;
        EXPECT_EQ(fftTables.spectrumA[n].re, 42.0) << "wrote past n";
      }
      std::vector<FftComplex> a(n);
      for (FftComplex& c : a) c = {value(random), value(random)};
      std::copy(a.begin(), a.end(), fftTables.spectrumA);
      MultiplySpectra(fftTables.spectrumA, n);
      const auto square = ffttest::ReferenceProduct(a, a);
      EXPECT_TRUE(SameBits(fftTables.spectrumA, square.data(), n))
          << FftKernelName(kernel) << ", n = " << n;
    }
  }
}

// Sets spectrumA so that its inverse transform holds `value * n` in every
// position exactly: only element 0 is non-zero.
void ConstantSpectrum(std::int32_t n, double value) {
  for (std::int32_t i = 0; i < n; ++i) fftTables.spectrumA[i] = {0.0, 0.0};
  fftTables.spectrumA[0] = {value * n, 0.0};
}

// Also checks the distance it reports: the value is exact here, so is the
// distance from its integer.
Digit RoundedOnePosition(double value) {
  ConstantSpectrum(8, value);
  Digit out[2] = {99, 99};
  const double distance = SpectrumToDigits(8, out, 1);
  EXPECT_EQ(out[1], 99) << "wrote past m";
  EXPECT_EQ(distance, std::fabs(value - out[0])) << value;
  return out[0];
}

TEST_F(FftTransformTest, RoundsHalvesUpward) {
  for (FftKernel kernel : Kernels()) {
    ASSERT_TRUE(SetFftKernel(kernel));
    SCOPED_TRACE(FftKernelName(kernel));
    EXPECT_EQ(RoundedOnePosition(2.4999), 2);
    EXPECT_EQ(RoundedOnePosition(2.5), 3);
    EXPECT_EQ(RoundedOnePosition(-2.5), -2);
    EXPECT_EQ(RoundedOnePosition(-2.5000001), -3);
    EXPECT_EQ(RoundedOnePosition(7.4999999), 7);
    EXPECT_EQ(RoundedOnePosition(0.4999999), 0);
    EXPECT_EQ(RoundedOnePosition(-0.5), 0);
  }
}

// The distance is the largest of the positions converted, whichever lane
// of a vector or of the tail holds it; not of those past m.
TEST_F(FftTransformTest, ReportsTheLargestDistanceOfThePositionsConverted) {
  constexpr std::int32_t n = 16;
  for (FftKernel kernel : Kernels()) {
    ASSERT_TRUE(SetFftKernel(kernel));
    for (std::int32_t m : {5, 11, 16}) {
      for (std::int32_t p = 0; p < n; ++p) {
        std::vector<FftComplex> values(n, FftComplex{4.0, 0.0});
        values[p].re = 7.3;
        FftTransform(values.data(), fftTables.spectrumA, n, 1, +1);
        Digit out[n];
        EXPECT_NEAR(SpectrumToDigits(n, out, m), p < m ? 0.3 : 0.0, 1e-12)
            << FftKernelName(kernel) << ", m = " << m << ", p = " << p;
      }
    }
  }
}

// A corrupted transform's values, beyond any true one or not numbers at
// all, still convert to digits, and the distance reported fails the
// round-off check's limit (NaN does too) wherever the bad value stands.
TEST_F(FftTransformTest, CorruptedValuesStayDigitsAndFailTheRoundOffLimit) {
  const auto fails = [](double distance) { return !(distance <= kRoundOffLimit); };
  const auto digitsOnly = [](const Digits& out, std::int32_t m) {
    for (std::int32_t i = 0; i < m; ++i) {
      if (out[i] < -9 || out[i] > 9) return false;
    }
    return out[m] == 99;
  };
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  constexpr std::int32_t n = 16;
  for (FftKernel kernel : Kernels()) {
    ASSERT_TRUE(SetFftKernel(kernel));
    SCOPED_TRACE(FftKernelName(kernel));
    for (double value : {1e12, -1e12, 1e300, kInfinity, -kInfinity,
                         std::numeric_limits<double>::quiet_NaN()}) {
      ConstantSpectrum(n, value);
      Digits out(n + 1, 99);
      EXPECT_TRUE(fails(SpectrumToDigits(n, out.data(), n))) << value;
      EXPECT_TRUE(digitsOnly(out, n)) << value;
    }
    // One value of 2^40 among fours, in every lane and in the tail.
    for (std::int32_t p = 0; p < 11; ++p) {
      std::vector<FftComplex> values(n, FftComplex{4.0, 0.0});
      values[p].re = 0x1p40;
      FftTransform(values.data(), fftTables.spectrumA, n, 1, +1);
      Digits out(n + 1, 99);
      EXPECT_TRUE(fails(SpectrumToDigits(n, out.data(), 11))) << p;
      EXPECT_TRUE(digitsOnly(out, 11)) << p;
    }
    // Infinity minus infinity: NaN at position 0 alone.
    fftTables.spectrumA[0] = {kInfinity, 0.0};
    fftTables.spectrumA[1] = {-kInfinity, 0.0};
    Digits out(2, 99);
    EXPECT_TRUE(std::isnan(SpectrumToDigits(2, out.data(), 1)));
    EXPECT_TRUE(digitsOnly(out, 1));
  }
}

TEST_F(FftTransformTest, CarriesTowardZeroDropsTheTopCarryAndWritesOnlyM) {
  // Every position holds 81: 1 carry 8, then 89 -> 9 carry 8, ...
  ConstantSpectrum(8, 81);
  Digit out[3];
  SpectrumToDigits(8, out, 3);
  EXPECT_EQ((Digits{out, out + 3}), (Digits{9, 9, 1}));

  // Negative values give negative digits and negative carries:
  // -12 -> -2 carry -1, -13 -> -3 carry -1 (dropped).
  ConstantSpectrum(4, -12);
  SpectrumToDigits(4, out, 2);
  EXPECT_EQ((Digits{out, out + 2}), (Digits{-3, -2}));

  // A negative carry into a positive value stays truncating: 3 - 1 = 2.
  for (std::int32_t i = 0; i < 4; ++i) fftTables.spectrumA[i] = {0.0, 0.0};
  // Inverse of this spectrum, scaled: positions (3, -14, 3, -14); -14 gives
  // -4 carry -1, and 3 - 1 gives 2.
  fftTables.spectrumA[0] = {-22.0, 0.0};
  fftTables.spectrumA[2] = {34.0, 0.0};
  SpectrumToDigits(4, out, 2);
  EXPECT_EQ((Digits{out, out + 2}), (Digits{2, -4}));

  // No positions asked for: nothing written.
  ConstantSpectrum(4, 3);
  SpectrumToDigits(4, out, 0);
  SpectrumToDigits(4, out, -5);
  EXPECT_EQ((Digits{out, out + 2}), (Digits{2, -4}));

  // Values about the largest that four positions carry together, and
  // beyond: every position the same, the carries compounding.
  for (double value : {1048575.0, 1048576.0, -1048575.0, -1048576.0,
                       99999999.0, -123456789.0}) {
    ConstantSpectrum(64, value);
    Digits digits(61);
    SpectrumToDigits(64, digits.data(), 61);
    EXPECT_EQ(digits, ffttest::CarryDigits(std::vector<std::int64_t>(
                          61, static_cast<std::int64_t>(value))))
        << value;
  }
}

TEST_F(FftTransformTest, ReturnsToDigitsExactlyAsTheRecursionAtEverySize) {
  std::mt19937 random(9);
  const std::vector<FftKernel> kernels = Kernels();
  for (std::int32_t n : AllSizes()) {
    for (int low : {0, -9}) {
      const std::int32_t half = n / 2;
      const Digits a = ffttest::RandomDigits(random, half, low, 9);
      const Digits b = ffttest::RandomDigits(random, half, low, 9);
      const auto spectrum = ffttest::ReferenceProduct(
          ffttest::ReferenceSpectrum(a.data(), half, n),
          ffttest::ReferenceSpectrum(b.data(), half, n));
      // All positions but the last, and a cut that is not a multiple of
      // anything.
      for (std::int32_t m : {n - 1, std::max(1, n / 3)}) {
        const auto expected = ffttest::ReferenceToDigits(spectrum, m);
        for (FftKernel kernel : kernels) {
          ASSERT_TRUE(SetFftKernel(kernel));
          std::copy(spectrum.begin(), spectrum.end(), fftTables.spectrumA);
          Digits out(n, 99);
          SpectrumToDigits(n, out.data(), m);
          ASSERT_TRUE(SameBits(fftTables.stagingBuffer, expected.inverse.data(), n))
              << FftKernelName(kernel) << ", inverse, n = " << n;
          ASSERT_EQ(Digits(out.begin(), out.begin() + m), expected.digits)
              << FftKernelName(kernel) << ", n = " << n << ", m = " << m;
          EXPECT_EQ(out[m], 99);
        }
      }
    }
  }
}

// Spectra whose inverse transform holds chosen integers up to the range of
// a digit byte: the conversion back must carry them exactly, whatever runs
// of carries, signs and sizes of value follow each other.
TEST_F(FftTransformTest, CarriesLongRunsMixedSignsAndLargeValuesExactly) {
  constexpr std::int32_t n = 4096;
  std::mt19937 random(13);
  std::uniform_int_distribution<int> anyByte(-128, 127);
  std::uniform_int_distribution<int> upper(0, 127);
  using Values = std::vector<std::int64_t>;
  // Nines all the way with a ten at the bottom: one carry through them all.
  Values nines(n / 2, 9), bytes(n / 2), mostlyPositive(n / 2), runs(n / 2);
  nines.back() = 10;
  for (std::int64_t& v : bytes) v = anyByte(random);
  for (std::int64_t& v : mostlyPositive) v = upper(random);
  // A few negative values among positive ones turn the carry negative for a
  // while and back.
  for (std::size_t i = 5; i < mostlyPositive.size(); i += 397) mostlyPositive[i] = -128;
  // Stretches of nines, zeros and larger values of each length up to eight.
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::size_t stretch = i / 64 % 8 + 1;
    runs[i] = (i / stretch) % 3 == 0 ? 9 : (i / stretch) % 3 == 1 ? 0 : 99;
  }
  const std::pair<std::string, Values> cases[] = {
      {"a carry through every nine", nines}, {"largest bytes", Values(n / 2, 127)},
      {"smallest bytes", Values(n / 2, -128)}, {"any bytes", bytes},
      {"mostly positive", mostlyPositive},     {"runs", runs}};
  for (const auto& [name, values] : cases) {
    const Digits digits(values.begin(), values.end());
    DigitsToSpectrum(digits.data(), static_cast<std::int32_t>(digits.size()), n,
                     fftTables.spectrumA);
    const std::vector<FftComplex> spectrum(fftTables.spectrumA, fftTables.spectrumA + n);
    for (FftKernel kernel : Kernels()) {
      ASSERT_TRUE(SetFftKernel(kernel));
      for (std::int32_t m : {n / 2, n / 2 - 1, n / 2 - 3, 1, 5}) {
        const std::vector<std::int64_t> kept(values.begin(), values.begin() + m);
        std::copy(spectrum.begin(), spectrum.end(), fftTables.spectrumA);
        Digits out(m);
        SpectrumToDigits(n, out.data(), m);
        EXPECT_EQ(out, ffttest::CarryDigits(kept))
            << FftKernelName(kernel) << ", " << name << ", m = " << m;
      }
    }
  }
}

}  // namespace
