#include "fft/fft_tables.h"

#include <cassert>
#include <cmath>
#include <cstddef>

#include "fft/arithmetic_hooks.h"
#include "fft/fft_kernels.h"
#include "platform/platform.h"

FftTables fftTables;
ArithmeticHooks arithmeticHooks;

namespace {

constexpr std::size_t kWorkBufferBytes =
    static_cast<std::size_t>(kMaxFftSize) * sizeof(FftComplex);
constexpr std::size_t kTwiddleBytes =
    static_cast<std::size_t>(kTwiddleCount) * sizeof(FftComplex);
static_assert(sizeof(FftComplex) == 16, "two doubles, no padding");
static_assert(kWorkBufferBytes == 2097152 && kTwiddleBytes == 1048576);

// pi / 65536: the double nearest to pi scaled by 2^-16, so exact. Entry k is
// e^(i*k*kAngleStep), the upper half circle in steps of 2*pi / 131072.
constexpr double kAngleStep = 4.7936899621426287e-05;
static_assert(kAngleStep == 3.141592653589793 / 65536.0);

// Double-double arithmetic: a value is hi + lo with |lo| <= ulp(hi) / 2,
// about 106 bits. Exact error terms need every operation rounded once,
// which the build guarantees (no contraction, SSE2 on 32-bit x86).
struct Dd {
  double hi;
  double lo;
};

Dd QuickTwoSum(double a, double b) {  // |a| >= |b|
  const double s = a + b;
  return {s, b - (s - a)};
}

Dd TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

Dd TwoProduct(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double p = a * b;
  const double ta = kSplitter * a;
  const double aHi = ta - (ta - a);
  const double aLo = a - aHi;
  const double tb = kSplitter * b;
  const double bHi = tb - (tb - b);
  const double bLo = b - bHi;
  return {p, ((aHi * bHi - p) + aHi * bLo + aLo * bHi) + aLo * bLo};
}

Dd Add(Dd x, Dd y) {
  const Dd s = TwoSum(x.hi, y.hi);
  const Dd t = TwoSum(x.lo, y.lo);
  Dd r = QuickTwoSum(s.hi, s.lo + t.hi);
  return QuickTwoSum(r.hi, r.lo + t.lo);
}

Dd Negate(Dd x) { return {-x.hi, -x.lo}; }

Dd Multiply(Dd x, Dd y) {
  const Dd p = TwoProduct(x.hi, y.hi);
  return QuickTwoSum(p.hi, p.lo + (x.hi * y.lo + x.lo * y.hi));
}

Dd Divide(Dd x, double d) {
  const double q1 = x.hi / d;
  const Dd p = TwoProduct(q1, d);
  const Dd e = TwoSum(x.hi, -p.hi);
  const double q2 = (e.hi + ((e.lo + x.lo) - p.lo)) / d;
  return QuickTwoSum(q1, q2);
}

// pi / 2 in three parts, the first being the double nearest to it.
constexpr double kHalfPi1 = 0x1.921fb54442d18p+0;
constexpr double kHalfPi2 = 0x1.1a62633145c07p-54;
constexpr double kHalfPi3 = -0x1.f1976b7ed8fbcp-110;

// theta - j * pi / 2 for j = 0, 1, 2: the first subtraction is exact for
// theta within a factor two of j * kHalfPi1, so the few angles whose sine
// or cosine is tiny keep all their digits.
Dd Reduce(double theta, int j) {
  if (j == 0) return {theta, 0.0};
  const Dd head = TwoSum(theta - j * kHalfPi1, -j * kHalfPi2);
  return Add(head, Dd{-j * kHalfPi3, 0.0});
}

// Taylor series in Horner form, |r| <= pi / 4: fourteen terms reach
// r^29 / 29!, far below 2^-106.
void SinCosNearZero(Dd r, Dd& sine, Dd& cosine) {
  constexpr int kTerms = 14;
  const Dd r2 = Multiply(r, r);
  Dd s{1.0, 0.0};
  Dd c{1.0, 0.0};
  for (int i = kTerms; i >= 1; --i) {
    s = Add(Dd{1.0, 0.0}, Negate(Divide(Multiply(r2, s), (2.0 * i) * (2 * i + 1))));
    c = Add(Dd{1.0, 0.0}, Negate(Divide(Multiply(r2, c), (2.0 * i - 1) * (2 * i))));
  }
  sine = Multiply(r, s);
  cosine = c;
}

// The roots of every size up to kAdjacentSpan side by side, copied from the
// twiddle table: read from the table, the large stages of the program's
// products (at most 32768 points) would fetch a cache line for every root,
// here one for every four, and the small ones none they do not use. Beside
// them the roots of the sizes up to kPreparedSpan, ready for a butterfly
// (FftRoots). Copies, so the very same numbers, taken when the table is
// filled; larger sizes read the table.
struct RootCopies {
  alignas(64) FftComplex bySize[kAdjacentSpan];  // size s from s/2 - 1 on
  alignas(64) FftComplex cosines[kPreparedCount];
  alignas(64) FftComplex sines[2][kPreparedCount];  // sign +1, then -1
  FftRoots roots[2];                                // sign +1, then -1
};
RootCopies rootCopies;

void PrepareRoots(const FftComplex* table, std::int32_t span) {
  for (FftRoots& roots : rootCopies.roots) {
    roots = FftRoots{};
    roots.cosines = rootCopies.cosines;
  }
  rootCopies.roots[0].sines = rootCopies.sines[0];
  rootCopies.roots[1].sines = rootCopies.sines[1];
  for (std::int32_t t = 1, size = 2; t <= kMaxStages && size <= span; ++t, size *= 2) {
    const std::int32_t step = span / size;
    const FftComplex* first = table;
    std::int32_t firstStep = step;
    if (size <= kAdjacentSpan) {
      FftComplex* copy = rootCopies.bySize + size / 2 - 1;
      for (std::int32_t k = 0; k < size / 2; ++k) copy[k] = table[k * step];
      first = copy;
      firstStep = 1;
    }
    for (FftRoots& roots : rootCopies.roots) {
      roots.first[t] = first;
      roots.step[t] = firstStep;
    }
    if (size >= 4 && size <= kPreparedSpan) {
      for (std::int32_t k = 0; k < size / 2; ++k) {
        const FftComplex root = table[k * step];
        const std::int32_t at = size / 2 - 2 + k;
        rootCopies.cosines[at] = {root.re, root.re};
        rootCopies.sines[0][at] = {-root.im, root.im};
        rootCopies.sines[1][at] = {root.im, -root.im};
      }
    }
  }
}

void FreeIfHeld(FftComplex*& buffer) {
  if (buffer != nullptr) platform::LocalFree(buffer);
  buffer = nullptr;
}

}  // namespace

void CorrectlyRoundedSinCos(double theta, double& sine, double& cosine) {
  assert(theta >= 0.0 && theta < 2 * kHalfPi1);
  // The nearest multiple of pi / 2 leaves |r| <= pi / 4.
  const int j = theta < 0.5 * kHalfPi1 ? 0 : theta < 1.5 * kHalfPi1 ? 1 : 2;
  Dd s, c;
  SinCosNearZero(Reduce(theta, j), s, c);
  // A normalised pair's head is its sum rounded to the nearest double.
  switch (j) {
    case 0:
      sine = s.hi;
      cosine = c.hi;
      break;
    case 1:
      sine = c.hi;
      cosine = -s.hi;
      break;
    default:
      sine = -s.hi;
      cosine = -c.hi;
      break;
  }
}

std::int32_t InitFftTables() {
  // A second set-up would leak the first one's buffers.
  if (fftTables.maxFftSize != 0) return 0;

  // All four are asked for before any is examined, so a failure of any one
  // of them is handled in one place.
  auto* spectrumA = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kWorkBufferBytes));
  auto* spectrumB = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kWorkBufferBytes));
  auto* twiddles = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kTwiddleBytes));
  auto* staging = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kWorkBufferBytes));
  fftTables.spectrumA = spectrumA;
  fftTables.spectrumB = spectrumB;
  fftTables.twiddleTable = twiddles;
  fftTables.stagingBuffer = staging;

  if (spectrumA == nullptr || spectrumB == nullptr || twiddles == nullptr ||
      staging == nullptr) {
    FreeIfHeld(fftTables.spectrumA);
    FreeIfHeld(fftTables.spectrumB);
    FreeIfHeld(fftTables.twiddleTable);
    FreeIfHeld(fftTables.stagingBuffer);
    fftTables.maxFftSize = 0;
    return 3;
  }

  for (std::int32_t k = 0; k < kTwiddleCount; ++k) {
    const double theta = static_cast<double>(k) * kAngleStep;
#if defined(__MINGW32__)
    // mingw-w64's own sin and cos lose digits near pi / 2 (entry 32768's
    // cosine is off in its fifth significant digit) and miss the nearest
    // double near pi.
    CorrectlyRoundedSinCos(theta, twiddles[k].im, twiddles[k].re);
#else
    twiddles[k].im = std::sin(theta);
    twiddles[k].re = std::cos(theta);
#endif
  }
  if (arithmeticHooks.twiddles != nullptr) {
    arithmeticHooks.twiddles(twiddles, kTwiddleCount);
  }
  PrepareRoots(twiddles, kMaxFftSize);
  fftTables.maxFftSize = kMaxFftSize;
  return 0;
}

const FftRoots& TransformRoots(std::int32_t sign) {
  return rootCopies.roots[sign > 0 ? 0 : 1];
}

void FreeFftTables() {
  // The references are cleared and the size reset so that nothing can reach
  // freed memory, and a multiplication after release is refused.
  FreeIfHeld(fftTables.twiddleTable);
  FreeIfHeld(fftTables.spectrumA);
  FreeIfHeld(fftTables.spectrumB);
  FreeIfHeld(fftTables.stagingBuffer);
  fftTables.maxFftSize = 0;
}
