// The transform through the kernel in force, and the conversion of its
// values back to digits: rounding, then the carries.
#include "fft/fft_transform.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>

#include "fft/arithmetic_hooks.h"
#include "fft/fft_kernels.h"

namespace {

[[maybe_unused]] bool IsTransformSize(std::int32_t n) {
  return n >= 2 && n <= fftTables.maxFftSize && (n & (n - 1)) == 0;
}

// The conversion back to digits works on stretches of kStretch positions:
// first every value of a stretch rounded, apart from the carries, then the
// carries through it.
constexpr std::int32_t kStretch = 512;

// One position: x plus the carry from below, its digit and the carry up,
// both truncated toward zero (a negative value gives a negative digit).
inline void CarryOne(std::int32_t x, std::int32_t& carry, Digit& digit) {
  const std::int32_t v = x + carry;
  const std::int32_t q = v / 10;
  digit = static_cast<Digit>(v - 10 * q);
  carry = q;
}

// The two decimal digits of 0 .. 99, tens first, and their negatives.
struct DigitPairs {
  constexpr DigitPairs() : positive(), negative() {
    for (int v = 0; v < 100; ++v) {
      positive[v][0] = static_cast<Digit>(v / 10);
      positive[v][1] = static_cast<Digit>(v % 10);
      negative[v][0] = static_cast<Digit>(-(v / 10));
      negative[v][1] = static_cast<Digit>(-(v % 10));
    }
  }
  Digit positive[100][2];
  Digit negative[100][2];
};
constexpr DigitPairs kDigitPairs;

// The digits of out[first .. first+count-1] from the rounded values x[0 ..
// count-1], least significant (the last) first, with the carry from below
// in and the carry up out. Four positions at a time where the four and the
// carry are all of one sign and small: then truncation toward zero is floor
// division of the magnitudes, and carrying position by position gives the
// decimal digits of their sum, so one division instead of four lies on the
// carry's path. A sum of four positions and a carry fits 32 bits.
void CarryStretch(const std::int32_t* x, std::int32_t count, Digit* out,
                  std::int32_t& carry) {
  constexpr std::int32_t kSmall = 1 << 20;  // |x| < kSmall, |carry| < 2 kSmall
  std::int32_t c = carry;
  std::int32_t i = count - 1;
  for (; i >= 3; i -= 4) {
    const std::int32_t x0 = x[i], x1 = x[i - 1], x2 = x[i - 2], x3 = x[i - 3];
    // 0 <= v < kSmall exactly when v as unsigned is below kSmall, and a
    // power of two bounds the bitwise or of several as it bounds each.
    const auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    const bool natural = (u(x0) | u(x1) | u(x2) | u(x3)) < kSmall &&
                         u(c) < 2 * kSmall;
    const bool negative = (u(-x0) | u(-x1) | u(-x2) | u(-x3)) < kSmall &&
                          u(-c) < 2 * kSmall;
    if (natural || negative) {
      const std::int32_t sum = x0 + 10 * x1 + 100 * x2 + 1000 * x3 + c;
      const auto magnitude = static_cast<std::uint32_t>(natural ? sum : -sum);
      const std::uint32_t up = magnitude / 10000;
      const std::uint32_t low = magnitude - 10000 * up;
      c = natural ? static_cast<std::int32_t>(up) : -static_cast<std::int32_t>(up);
      const auto& pairs = natural ? kDigitPairs.positive : kDigitPairs.negative;
      std::memcpy(out + i - 3, pairs[low / 100], 2);
      std::memcpy(out + i - 1, pairs[low % 100], 2);
    } else {
      CarryOne(x0, c, out[i]);
      CarryOne(x1, c, out[i - 1]);
      CarryOne(x2, c, out[i - 2]);
      CarryOne(x3, c, out[i - 3]);
    }
  }
  for (; i >= 0; --i) CarryOne(x[i], c, out[i]);
  carry = c;
}

}  // namespace

void FftTransform(const FftComplex* in, FftComplex* out, std::int32_t n,
                  std::int32_t stride, std::int32_t sign) {
  assert(IsTransformSize(n) && stride >= 1);
  ActiveFftKernelOps().transform(in, out, n, stride, sign,
                                TransformRoots(sign));
}

void DigitsToSpectrum(const Digit* digits, std::int32_t count, std::int32_t n,
                      FftComplex* target) {
  assert(IsTransformSize(n) && count >= 0 && count <= n);
  ActiveFftKernelOps().digits(digits, count, n, target, TransformRoots(+1));
}

void MultiplySpectra(const FftComplex* other, std::int32_t n) {
  assert(IsTransformSize(n));
  ActiveFftKernelOps().multiply(fftTables.spectrumA, other, n);
}

double SpectrumToDigits(std::int32_t n, Digit* out, std::int32_t m) {
  assert(IsTransformSize(n) && m <= n);
  if (arithmeticHooks.spectrum != nullptr) {
    arithmeticHooks.spectrum(fftTables.spectrumA, n);
  }
  const double scale = 1.0 / static_cast<double>(n);
  const FftComplex* values = fftTables.stagingBuffer;
  FftTransform(fftTables.spectrumA, fftTables.stagingBuffer, n, 1, -1);

  // Least significant position first. Positions from m on are neither
  // stored nor carried from, and the carry out of position 0 is dropped.
  // A NaN distance anywhere is the result, whatever the others are.
  const FftKernelOps& kernel = ActiveFftKernelOps();
  std::int32_t rounded[kStretch];
  std::int32_t carry = 0;
  FftRoundOff off;
  for (std::int32_t end = m; end > 0; end -= kStretch) {
    const std::int32_t first = std::max(0, end - kStretch);
    kernel.round(values + first, end - first, scale, rounded, off);
    CarryStretch(rounded, end - first, out + first, carry);
  }
  return off.unordered ? std::numeric_limits<double>::quiet_NaN() : off.largest;
}
