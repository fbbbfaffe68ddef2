#include "fft/fft_transform.h"

#include <cassert>
#include <cmath>

namespace {

[[maybe_unused]] bool IsTransformSize(std::int32_t n) {
  return n >= 2 && n <= fftTables.maxFftSize && (n & (n - 1)) == 0;
}

// Both factors are read before the product is stored, so `b` may be `a`
// itself (squaring).
inline void MultiplyElement(FftComplex& a, const FftComplex& b) {
  const FftComplex x = a;
  const FftComplex y = b;
  a = {x.re * y.re - x.im * y.im, x.im * y.re + x.re * y.im};
}

}  // namespace

void FftTransform(const FftComplex* in, FftComplex* out, std::int32_t n,
                  std::int32_t stride, std::int32_t sign) {
  assert(IsTransformSize(n) && stride >= 1);
  if (n == 2) {
    const FftComplex x0 = in[0];
    const FftComplex x1 = in[stride];
    out[0] = {x0.re + x1.re, x0.im + x1.im};
    out[1] = {x0.re - x1.re, x0.im - x1.im};
    return;
  }
  const std::int32_t h = n / 2;
  FftTransform(in, out, h, 2 * stride, sign);
  FftTransform(in + stride, out + h, h, 2 * stride, sign);

  // One table serves every size: a size-n root is every (max / n)-th entry.
  const std::int32_t step = fftTables.maxFftSize / n;
  const FftComplex* twiddles = fftTables.twiddleTable;
  const double direction = static_cast<double>(sign);
  for (std::int32_t k = 0; k < h; ++k) {
    const double c = twiddles[k * step].re;
    const double s = direction * twiddles[k * step].im;
    const FftComplex b = out[k + h];
    const FftComplex t = {b.re * c - s * b.im, s * b.re + c * b.im};
    const FftComplex a = out[k];
    out[k + h] = {a.re - t.re, a.im - t.im};
    out[k] = {a.re + t.re, a.im + t.im};
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
  for (std::int32_t i = count; i < n; ++i) staging[i] = {0.0, 0.0};
  FftTransform(staging, target, n, 1, +1);
}

void MultiplySpectra(const FftComplex* other, std::int32_t n) {
  assert(IsTransformSize(n));
  FftComplex* product = fftTables.spectrumA;
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    MultiplyElement(product[i], other[i]);
    MultiplyElement(product[i + 1], other[i + 1]);
    MultiplyElement(product[i + 2], other[i + 2]);
    MultiplyElement(product[i + 3], other[i + 3]);
  }
  for (; i < n; ++i) MultiplyElement(product[i], other[i]);
}

void SpectrumToDigits(std::int32_t n, Digit* out, std::int32_t m) {
  assert(IsTransformSize(n) && m <= n);
  const double scale = 1.0 / static_cast<double>(n);
  const FftComplex* values = fftTables.stagingBuffer;
  FftTransform(fftTables.spectrumA, fftTables.stagingBuffer, n, 1, -1);

  // Least significant position first. Positions from m on are neither
  // stored nor carried from, and the carry out of position 0 is dropped.
  std::int64_t carry = 0;
  for (std::int32_t i = m - 1; i >= 0; --i) {
    const double rounded = std::floor(values[i].re * scale + 0.5);
    const std::int64_t v = static_cast<std::int64_t>(rounded) + carry;
    const std::int64_t q = v / 10;  // toward zero: negative v, negative digit
    out[i] = static_cast<Digit>(v - 10 * q);
    carry = q;
  }
}
