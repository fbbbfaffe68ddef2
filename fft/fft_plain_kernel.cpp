// The plain kernel. The build keeps its loops scalar: GCC 12's vectoriser
// fuses complex products into multiply-add-subtract instructions even with
// contraction off.
#include <algorithm>
#include <cstring>

#include "fft/fft_kernels.h"

namespace {

// The plain recursion, the definition that every vector kernel reproduces
// to the bit, and the transform where there is no vector kernel.
void PlainRecursion(const FftComplex* in, FftComplex* out, std::int32_t n,
                    std::int32_t stride, std::int32_t sign,
                    const FftRoots& roots, std::int32_t stage) {
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
inline void MultiplyElement(FftComplex& a, const FftComplex& b) {
  const FftComplex x = a;
  const FftComplex y = b;
  a = {x.re * y.re - x.im * y.im, x.im * y.re + x.re * y.im};
}

void PlainMultiply(FftComplex* product, const FftComplex* other,
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


// The rounding as defined, one value at a time: the floor of v + 0.5,
// taken as truncation toward zero corrected by one below zero, which is
// the same integer and needs no call into the runtime; the distance is
// exact, since both are close doubles. The vector kernels do the same.
void PlainRound(const FftComplex* values, std::int32_t count, double scale,
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
                                &PlainRound, 0};

}  // namespace

const FftKernelOps* PlainFftKernel() { return &kPlainOps; }
