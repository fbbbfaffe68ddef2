#include "fft/exact_arithmetic.h"  // before anything is defined
#include "fft/fft_transform.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "fft/arithmetic_hooks.h"
#include "fft/fft_kernels.h"

// Optimised in every build, Debug included: the test suites compute pi
// several times in their Debug builds, and the conversions around the
// transform are most of what is left of its time there.
#pragma GCC optimize("O3")

namespace {

[[maybe_unused]] bool IsTransformSize(std::int32_t n) {
  return n >= 2 && n <= fftTables.maxFftSize && (n & (n - 1)) == 0;
}

// The plain recursion, the definition that every vector kernel reproduces
// to the bit, and the transform where there is no vector kernel.
TAVREX_NOT_VECTORISED void PlainRecursion(
    const FftComplex* in, FftComplex* out, std::int32_t n, std::int32_t stride,
    std::int32_t sign, const FftRoots& roots, std::int32_t stage) {
  if (n == 2) {
    const FftComplex x0 = in[0];
    const FftComplex x1 = in[stride];
    out[0] = {x0.re + x1.re, x0.im + x1.im};
    out[1] = {x0.re - x1.re, x0.im - x1.im};
    return;
  }
  const std::int32_t h = n / 2;
  PlainRecursion(in, out, h, 2 * stride, sign, roots, stage - 1);
  PlainRecursion(in + stride, out + h, h, 2 * stride, sign, roots, stage - 1);

  const FftComplex* table = roots.first[stage];
  const std::int32_t step = roots.step[stage];
  const double direction = static_cast<double>(sign);
  for (std::int32_t k = 0; k < h; ++k) {
    const double c = table[k * step].re;
    const double s = direction * table[k * step].im;
    const FftComplex b = out[k + h];
    const FftComplex t = {b.re * c - s * b.im, s * b.re + c * b.im};
    const FftComplex a = out[k];
    out[k + h] = {a.re - t.re, a.im - t.im};
    out[k] = {a.re + t.re, a.im + t.im};
  }
}

void PlainTransform(const FftComplex* in, FftComplex* out, std::int32_t n,
                    std::int32_t stride, std::int32_t sign,
                    const FftRoots& roots) {
  std::int32_t stage = 0;
  while ((2 << stage) <= n) ++stage;
  PlainRecursion(in, out, n, stride, sign, roots, stage);
}

// Both factors are read before the product is stored, so `b` may be `a`
// itself (squaring).
TAVREX_NOT_VECTORISED inline void MultiplyElement(FftComplex& a,
                                                  const FftComplex& b) {
  const FftComplex x = a;
  const FftComplex y = b;
  a = {x.re * y.re - x.im * y.im, x.im * y.re + x.re * y.im};
}

TAVREX_NOT_VECTORISED void PlainMultiply(FftComplex* product,
                                         const FftComplex* other,
                                         std::int32_t n) {
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    MultiplyElement(product[i], other[i]);
    MultiplyElement(product[i + 1], other[i + 1]);
    MultiplyElement(product[i + 2], other[i + 2]);
    MultiplyElement(product[i + 3], other[i + 3]);
  }
  for (; i < n; ++i) MultiplyElement(product[i], other[i]);
}


// The conversion back to digits works on stretches of kStretch positions:
// first every value of a stretch rounded, apart from the carries, then the
// carries through it.
constexpr std::int32_t kStretch = 512;

// The rounding as defined, one value at a time: the floor of v + 0.5,
// taken as truncation toward zero corrected by one below zero, which is
// the same integer and needs no call into the runtime; the distance is
// exact, since both are close doubles. The vector kernels do the same.
TAVREX_NOT_VECTORISED void PlainRound(const FftComplex* values,
                                      std::int32_t count, double scale,
                                      std::int32_t* rounded, FftRoundOff& off) {
  constexpr double kBound = kValueBound;
  for (std::int32_t j = 0; j < count; ++j) {
    const double v = values[j].re * scale;
    const double y = std::min(std::max(-kBound, v + 0.5), kBound);
    const auto truncated = static_cast<std::int32_t>(y);
    const double below = static_cast<double>(truncated);
    const double nearest = below > y ? below - 1.0 : below;
    rounded[j] = static_cast<std::int32_t>(nearest);
    // The larger of the two differences rather than an absolute value,
    // which the 32-bit build would take on the x87 stack.
    const double distance = std::max(v - nearest, nearest - v);
    off.largest = std::max(off.largest, distance);
    off.unordered = off.unordered || distance != distance;
  }
}

// The digits staged as the definition has it, then transformed.
void PlainDigits(const Digit* digits, std::int32_t count, std::int32_t n,
                 FftComplex* out, const FftRoots& roots) {
  FftComplex* staging = fftTables.stagingBuffer;
  // One digit per element, in the real part: packing two operands into one
  // complex transform would change the rounding.
  for (std::int32_t i = 0; i < count; ++i) {
    staging[i] = {static_cast<double>(digits[i]), 0.0};
  }
  // All bits clear is +0.0.
  std::memset(staging + count, 0,
              static_cast<std::size_t>(n - count) * sizeof(FftComplex));
  PlainTransform(staging, out, n, 1, +1, roots);
}

const FftKernelOps kPlainOps = {&PlainTransform, &PlainDigits, &PlainMultiply,
                                &PlainRound};

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

bool ProcessorRuns(FftKernel kernel) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (kernel) {
    case FftKernel::Sse2:
      return __builtin_cpu_supports("sse2");
    case FftKernel::Avx:
      return __builtin_cpu_supports("avx");
    case FftKernel::Avx512:
      return __builtin_cpu_supports("avx512f");
    case FftKernel::Plain:
      break;
  }
#endif
  return kernel == FftKernel::Plain;
}

const FftKernelOps* OpsOf(FftKernel kernel) {
  if (!ProcessorRuns(kernel)) return nullptr;
  switch (kernel) {
    case FftKernel::Plain:
      return &kPlainOps;
    case FftKernel::Sse2:
      return Sse2FftKernel();
    case FftKernel::Avx:
      return AvxFftKernel();
    case FftKernel::Avx512:
      return Avx512FftKernel();
  }
  return nullptr;
}

// The roots of every size up to kAdjacentSpan side by side, copied from the
// twiddle table: read from the table, the large stages of the program's
// products (at most 32768 points) would fetch a cache line for every root,
// here one for every four, and the small ones none they do not use. Beside
// them the roots of the sizes up to kPreparedSpan, ready for a butterfly
// (FftRoots). Copies, so the very same numbers, taken on the first
// transform after the table was set up; larger sizes read the table.
struct RootCopies {
  alignas(64) FftComplex bySize[kAdjacentSpan];  // size s from s/2 - 1 on
  alignas(64) FftComplex cosines[kPreparedCount];
  alignas(64) FftComplex sines[2][kPreparedCount];  // sign +1, then -1
  FftRoots roots[2];                                // sign +1, then -1
};
RootCopies rootCopies;
const FftComplex* copiesSource = nullptr;

const RootCopies& CopiedRoots() {
  if (copiesSource == fftTables.twiddleTable) return rootCopies;
  const FftComplex* table = fftTables.twiddleTable;
  const std::int32_t span = fftTables.maxFftSize;
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
  copiesSource = table;
  return rootCopies;
}

FftKernel activeKernel = FftKernel::Plain;
const FftKernelOps* activeOps = nullptr;

const FftKernelOps& Kernel() {
  if (activeOps == nullptr) {
    // The widest vectors first; the plain recursion is always there.
    for (FftKernel kernel : {FftKernel::Avx512, FftKernel::Avx, FftKernel::Sse2,
                             FftKernel::Plain}) {
      if (SetFftKernel(kernel)) break;
    }
  }
  return *activeOps;
}

}  // namespace

ArithmeticHooks arithmeticHooks;

void RefreshTransformRoots() { copiesSource = nullptr; }

bool FftKernelAvailable(FftKernel kernel) { return OpsOf(kernel) != nullptr; }

bool SetFftKernel(FftKernel kernel) {
  const FftKernelOps* ops = OpsOf(kernel);
  if (ops == nullptr) return false;
  activeKernel = kernel;
  activeOps = ops;
  return true;
}

const FftKernelOps* ReplaceFftKernelOps(const FftKernelOps* ops) {
  const FftKernelOps* previous = &Kernel();
  activeOps = ops;
  return previous;
}

FftKernel ActiveFftKernel() {
  Kernel();
  return activeKernel;
}

const char* FftKernelName(FftKernel kernel) {
  switch (kernel) {
    case FftKernel::Plain:
      return "plain";
    case FftKernel::Sse2:
      return "sse2";
    case FftKernel::Avx:
      return "avx";
    case FftKernel::Avx512:
      return "avx512";
  }
  return "?";
}

void FftTransform(const FftComplex* in, FftComplex* out, std::int32_t n,
                  std::int32_t stride, std::int32_t sign) {
  assert(IsTransformSize(n) && stride >= 1);
  Kernel().transform(in, out, n, stride, sign,
                     CopiedRoots().roots[sign > 0 ? 0 : 1]);
}

void DigitsToSpectrum(const Digit* digits, std::int32_t count, std::int32_t n,
                      FftComplex* target) {
  assert(IsTransformSize(n) && count >= 0 && count <= n);
  Kernel().digits(digits, count, n, target, CopiedRoots().roots[0]);
}

void MultiplySpectra(const FftComplex* other, std::int32_t n) {
  assert(IsTransformSize(n));
  Kernel().multiply(fftTables.spectrumA, other, n);
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
  const FftKernelOps& kernel = Kernel();
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
