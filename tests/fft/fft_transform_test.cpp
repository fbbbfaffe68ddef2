// The transform and the digit conversions around it: bit for bit equal to
// the plain recursion at every size, and the rounding and carrying of the
// way back to digits.
#include "fft/fft_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

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
  return {
      {"wide random", wide},
      {"digits -9..9", digit(-9, 9)},
      {"digits 0..9", digit(0, 9)},
      {"all nines", [](std::int32_t, std::int32_t) { return FftComplex{9, 0}; }},
      {"spike first",
       [](std::int32_t i, std::int32_t) { return FftComplex{i == 0 ? 9.0 : 0.0, 0}; }},
      {"spike last",
       [](std::int32_t i, std::int32_t n) {
         return FftComplex{i == n - 1 ? -9.0 : 0.0, 0};
       }},
      {"signed zeros", signedZeros},
      {"digits and signed zeros", digitsAndZeros},
      {"large alternating",
       [](std::int32_t i, std::int32_t) {
         return FftComplex{i % 2 ? -810000.0 : 810000.0, i % 3 ? 0.5 : -0.0};
       }},
  };
}

class FftTransformTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir scratch_;
  ffttest::TablesScope tables_;
};

TEST_F(FftTransformTest, EqualsThePlainRecursionBitForBitAtEverySize) {
  for (const Input& input : Inputs(20240601)) {
    for (std::int32_t n : AllSizes()) {
      std::vector<FftComplex> in(n);
      for (std::int32_t i = 0; i < n; ++i) in[i] = input.value(i, n);
      for (std::int32_t sign : kSigns) {
        std::vector<FftComplex> out(n, FftComplex{1e300, 1e300});
        FftTransform(in.data(), out.data(), n, 1, sign);
        const std::vector<FftComplex> expected = Reference(in.data(), n, 1, sign);
        ASSERT_TRUE(SameBits(out.data(), expected.data(), n))
            << input.name << ", n = " << n << ", sign = " << sign
            << ", first difference at " << FirstDifference(out.data(), expected.data(), n);
      }
    }
  }
}

TEST_F(FftTransformTest, ReadsEveryStrideThElementAndWritesOnlyN) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-9.0, 9.0);
  for (std::int32_t stride : {2, 3, 5}) {
    for (std::int32_t n : {2, 4, 8, 64, 1024, 16384}) {
      std::vector<FftComplex> in(static_cast<std::size_t>(n) * stride);
      for (FftComplex& c : in) c = {value(random), value(random)};
      for (std::int32_t sign : kSigns) {
        std::vector<FftComplex> out(n + 1, FftComplex{-7.0, -7.0});
        FftTransform(in.data(), out.data(), n, stride, sign);
        const std::vector<FftComplex> expected = Reference(in.data(), n, stride, sign);
        ASSERT_TRUE(SameBits(out.data(), expected.data(), n))
            << "n = " << n << ", stride = " << stride << ", sign = " << sign;
        EXPECT_EQ(out[n].re, -7.0);
      }
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
  // Size two uses no root at all: a sum and a difference.
  const FftComplex pair[2] = {{3.0, -1.0}, {0.5, 2.0}};
  FftComplex out[2];
  FftTransform(pair, out, 2, 1, -1);
  EXPECT_EQ(out[0].re, 3.5);
  EXPECT_EQ(out[0].im, 1.0);
  EXPECT_EQ(out[1].re, 2.5);
  EXPECT_EQ(out[1].im, -3.0);
}

TEST_F(FftTransformTest, DigitsToSpectrumPadsWithZerosAndMatchesTheRecursion) {
  std::mt19937 random(3);
  for (std::int32_t n : AllSizes()) {
    for (std::int32_t count : {0, 1, n / 2, n - 1, n}) {
      const Digits digits = ffttest::RandomDigits(random, count, -9, 9);
      // Stale values in the staging buffer must not leak into the spectrum.
      for (std::int32_t i = 0; i < n; ++i) fftTables.stagingBuffer[i] = {5.0, 5.0};
      for (FftComplex* target : {fftTables.spectrumA, fftTables.spectrumB}) {
        DigitsToSpectrum(digits.data(), count, n, target);
        const auto expected = ffttest::ReferenceSpectrum(digits.data(), count, n);
        ASSERT_TRUE(SameBits(target, expected.data(), n))
            << "n = " << n << ", count = " << count;
      }
    }
  }
  // No digits at all transform to all zeros.
  DigitsToSpectrum(nullptr, 0, 8, fftTables.spectrumA);
  for (std::int32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(fftTables.spectrumA[i].re, 0.0);
    EXPECT_EQ(fftTables.spectrumA[i].im, 0.0);
  }
}

TEST_F(FftTransformTest, MultiplySpectraIsTheElementwiseProductIncludingSquares) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> value(-1e3, 1e3);
  // Sizes around the four-element passes and their tail.
  for (std::int32_t n : {2, 4, 8, 16, 4096}) {
    std::vector<FftComplex> a(n), b(n);
    for (std::int32_t i = 0; i < n; ++i) {
      a[i] = {value(random), value(random)};
      b[i] = {value(random), value(random)};
    }
    std::copy(a.begin(), a.end(), fftTables.spectrumA);
    std::copy(b.begin(), b.end(), fftTables.spectrumB);
    fftTables.spectrumA[n] = {42.0, 42.0};
    MultiplySpectra(fftTables.spectrumB, n);
    const auto product = ffttest::ReferenceProduct(a, b);
    EXPECT_TRUE(SameBits(fftTables.spectrumA, product.data(), n)) << n;
    EXPECT_EQ(fftTables.spectrumA[n].re, 42.0) << "wrote past n";

    std::copy(a.begin(), a.end(), fftTables.spectrumA);
    MultiplySpectra(fftTables.spectrumA, n);
    const auto square = ffttest::ReferenceProduct(a, a);
    EXPECT_TRUE(SameBits(fftTables.spectrumA, square.data(), n)) << n;
  }
}

// Sets spectrumA so that its inverse transform holds `value * n` in every
// position exactly: only element 0 is non-zero.
void ConstantSpectrum(std::int32_t n, double value) {
  for (std::int32_t i = 0; i < n; ++i) fftTables.spectrumA[i] = {0.0, 0.0};
  fftTables.spectrumA[0] = {value * n, 0.0};
}

Digit RoundedOnePosition(double value) {
  ConstantSpectrum(8, value);
  Digit out[2] = {99, 99};
  SpectrumToDigits(8, out, 1);
  EXPECT_EQ(out[1], 99) << "wrote past m";
  return out[0];
}

TEST_F(FftTransformTest, RoundsHalvesUpward) {
  EXPECT_EQ(RoundedOnePosition(2.4999), 2);
  EXPECT_EQ(RoundedOnePosition(2.5), 3);
  EXPECT_EQ(RoundedOnePosition(-2.5), -2);
  EXPECT_EQ(RoundedOnePosition(-2.5000001), -3);
  EXPECT_EQ(RoundedOnePosition(7.4999999), 7);
  EXPECT_EQ(RoundedOnePosition(0.4999999), 0);
  EXPECT_EQ(RoundedOnePosition(-0.5), 0);
}

TEST_F(FftTransformTest, CarriesTowardZeroAndDropsTheTopCarry) {
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
}

TEST_F(FftTransformTest, WritesNothingForAnEmptyOrNegativeCount) {
  ConstantSpectrum(4, 3);
  Digit out[2] = {77, 77};
  SpectrumToDigits(4, out, 0);
  SpectrumToDigits(4, out, -5);
  EXPECT_EQ(out[0], 77);
  EXPECT_EQ(out[1], 77);
}

TEST_F(FftTransformTest, ReturnsToDigitsExactlyAsTheRecursionAtEverySize) {
  std::mt19937 random(9);
  for (std::int32_t n : AllSizes()) {
    for (int low : {0, -9}) {
      const std::int32_t half = n / 2;
      const Digits a = ffttest::RandomDigits(random, half, low, 9);
      const Digits b = ffttest::RandomDigits(random, half, low, 9);
      DigitsToSpectrum(a.data(), half, n, fftTables.spectrumA);
      DigitsToSpectrum(b.data(), half, n, fftTables.spectrumB);
      MultiplySpectra(fftTables.spectrumB, n);
      const std::vector<FftComplex> spectrum(fftTables.spectrumA,
                                             fftTables.spectrumA + n);
      const std::int32_t m = n - 1;
      Digits out(n, 99);
      SpectrumToDigits(n, out.data(), m);
      const auto expected = ffttest::ReferenceToDigits(spectrum, m);
      ASSERT_TRUE(SameBits(fftTables.stagingBuffer, expected.inverse.data(), n))
          << "inverse, n = " << n;
      ASSERT_EQ(Digits(out.begin(), out.begin() + m), expected.digits) << n;
      EXPECT_EQ(out[m], 99);
    }
  }
}

TEST_F(FftTransformTest, NineTimesNineInOnePositionKeepsTheUnitDigit) {
  const Digit nine[1] = {9};
  DigitsToSpectrum(nine, 1, 2, fftTables.spectrumA);
  DigitsToSpectrum(nine, 1, 2, fftTables.spectrumB);
  MultiplySpectra(fftTables.spectrumB, 2);
  Digit out[1] = {0};
  SpectrumToDigits(2, out, 1);
  EXPECT_EQ(out[0], 1);
}

}  // namespace
