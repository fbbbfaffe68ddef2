#include "fft/exact_arithmetic.h"  // before anything is defined
#include "fft/fft_transform.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <initializer_list>

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
TAVREX_NOT_VECTORISED void PlainTransform(
    const FftComplex* in, FftComplex* out, std::int32_t n, std::int32_t stride,
    std::int32_t sign, const FftComplex* table, std::int32_t span) {
  if (n == 2) {
    const FftComplex x0 = in[0];
    const FftComplex x1 = in[stride];
    out[0] = {x0.re + x1.re, x0.im + x1.im};
    out[1] = {x0.re - x1.re, x0.im - x1.im};
    return;
  }
  const std::int32_t h = n / 2;
  PlainTransform(in, out, h, 2 * stride, sign, table, span);
  PlainTransform(in + stride, out + h, h, 2 * stride, sign, table, span);

  // One table serves every size: a size-n root is every (span / n)-th entry.
  const std::int32_t step = span / n;
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

const FftKernelOps kPlainOps = {&PlainTransform, &PlainMultiply};

// A convolution value rounded to the nearest integer, halves upward: the
// floor of x * scale + 0.5, taken as truncation toward zero corrected by
// one below zero, which is the same integer wherever it fits in 64 bits
// and spares a call into the runtime for every digit. `distance` is how far
// the value lay from that integer: exact, since both are close doubles.
// A value beyond kValueBound, or NaN, comes from a corrupted transform: its
// distance tells the round-off check, and it is held to the bound so that
// the conversion and the carries stay defined.
inline std::int64_t RoundedValue(const FftComplex& value, double scale,
                                 double& distance) {
  constexpr double kValueBound = 0x1p40;  // true values stay below 2^24
  const double v = value.re * scale;
  const double x = std::min(std::max(-kValueBound, v + 0.5), kValueBound);
  const auto truncated = static_cast<std::int64_t>(x);
  const double below = static_cast<double>(truncated);
  const bool above = below > x;
  const double nearest = above ? below - 1.0 : below;
  // The larger of the two differences rather than an absolute value, which
  // the 32-bit build would take on the x87 stack.
  distance = std::max(v - nearest, nearest - v);
  return above ? truncated - 1 : truncated;
}

// The larger distance, one instruction. A NaN survives it only as the
// first argument, and a fault in the last stage of the transform or in the
// conversion spoils one value, not all: the caller keeps NaN apart, which
// costs less than a maximum that would keep it.
inline double Worse(double distance, double worst) {
  return distance < worst ? worst : distance;
}

// One position: x plus the carry from below, its digit and the carry up,
// both truncated toward zero (a negative value gives a negative digit).
inline void CarryOne(std::int64_t x, std::int64_t& carry, Digit& digit) {
  const std::int64_t v = x + carry;
  const std::int64_t q = v / 10;
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

// +1 when none of the values is negative, -1 when none is positive, 0
// otherwise or when any is too large for four positions and a carry to sum
// up within 64 bits.
inline int CommonSign(std::int64_t a, std::int64_t b, std::int64_t c,
                      std::int64_t d, std::int64_t e) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 40;
  const bool natural = a >= 0 && b >= 0 && c >= 0 && d >= 0 && e >= 0;
  const bool negative = a <= 0 && b <= 0 && c <= 0 && d <= 0 && e <= 0;
  const bool small = a < kLimit && a > -kLimit && b < kLimit && b > -kLimit &&
                     c < kLimit && c > -kLimit && d < kLimit &&
                     d > -kLimit && e < kLimit && e > -kLimit;
  if (!small) return 0;
  return natural ? 1 : negative ? -1 : 0;
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

// The roots that transforms of up to kDenseSpan points read: every
// (maxFftSize / kDenseSpan)-th entry of the twiddle table, side by side.
// The program's products are at most 32768 points; read from the table,
// their largest stages fetch a cache line for every root, here one for
// every four. Copied from the table, so they are the very same numbers,
// on the first transform after the table was set up.
constexpr std::int32_t kDenseSpan = 32768;
FftComplex denseRoots[kDenseSpan / 2];
const FftComplex* denseSource = nullptr;

const FftComplex* DenseRoots() {
  if (denseSource != fftTables.twiddleTable) {
    const std::int32_t step = fftTables.maxFftSize / kDenseSpan;
    for (std::int32_t k = 0; k < kDenseSpan / 2; ++k) {
      denseRoots[k] = fftTables.twiddleTable[k * step];
    }
    denseSource = fftTables.twiddleTable;
  }
  return denseRoots;
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

void RefreshTransformRoots() { denseSource = nullptr; }

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
  if (n <= kDenseSpan && fftTables.maxFftSize >= kDenseSpan) {
    Kernel().transform(in, out, n, stride, sign, DenseRoots(), kDenseSpan);
  } else {
    Kernel().transform(in, out, n, stride, sign, fftTables.twiddleTable,
                       fftTables.maxFftSize);
  }
}

void DigitsToSpectrum(const Digit* digits, std::int32_t count, std::int32_t n,
                      FftComplex* target) {
  assert(IsTransformSize(n) && count >= 0 && count <= n);
  FftComplex* staging = fftTables.stagingBuffer;
  // One digit per element, in the real part: packing two operands into one
  // complex transform would change the rounding.
  for (std::int32_t i = 0; i < count; ++i) {
    staging[i] = {static_cast<double>(digits[i]), 0.0};
  }
  // All bits clear is +0.0.
  std::memset(staging + count, 0,
              static_cast<std::size_t>(n - count) * sizeof(FftComplex));
  FftTransform(staging, target, n, 1, +1);
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
  std::int64_t carry = 0;
  double worst = 0.0;
  // No distance is below 0, so their sum is NaN exactly when one of them
  // is, whichever the position.
  double sum = 0.0;
  std::int32_t i = m - 1;
  for (; i >= 3; i -= 4) {
    double d0, d1, d2, d3;
    const std::int64_t x0 = RoundedValue(values[i], scale, d0);
    const std::int64_t x1 = RoundedValue(values[i - 1], scale, d1);
    const std::int64_t x2 = RoundedValue(values[i - 2], scale, d2);
    const std::int64_t x3 = RoundedValue(values[i - 3], scale, d3);
    // Off the carry's path: the maximum costs next to nothing beside it.
    worst = Worse(Worse(d0, d1), Worse(Worse(d2, d3), worst));
    sum += (d0 + d1) + (d2 + d3);
    const int sign = CommonSign(carry, x0, x1, x2, x3);
    if (sign != 0) {
      // Of one sign, truncation toward zero is floor division of the
      // magnitudes, and carrying position by position gives the decimal
      // digits of this sum, so one division instead of four lies on the
      // carry's path.
      const auto sum = static_cast<std::uint64_t>(
          sign * (x0 + 10 * x1 + 100 * x2 + 1000 * x3 + carry));
      const auto low = static_cast<std::int32_t>(sum % 10000);
      carry = sign * static_cast<std::int64_t>(sum / 10000);
      const auto& pairs =
          sign > 0 ? kDigitPairs.positive : kDigitPairs.negative;
      std::memcpy(out + i - 3, pairs[low / 100], 2);
      std::memcpy(out + i - 1, pairs[low % 100], 2);
    } else {
      CarryOne(x0, carry, out[i]);
      CarryOne(x1, carry, out[i - 1]);
      CarryOne(x2, carry, out[i - 2]);
      CarryOne(x3, carry, out[i - 3]);
    }
  }
  for (; i >= 0; --i) {
    double d;
    CarryOne(RoundedValue(values[i], scale, d), carry, out[i]);
    worst = Worse(d, worst);
    sum += d;
  }
  return sum == sum ? worst : sum;  // NaN equals nothing, itself included
}
