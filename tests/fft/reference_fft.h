// The plain recursive transform and the digit conversions around it, kept
// here untouched as the yardstick: whatever the production transform does
// to be fast, its every output bit must equal these.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "fft/fft_tables.h"
#include "store/work_pool.h"

namespace ffttest {

// Decimation in time over a stride, roots of unity read from `table` with
// the step tableSpan / n (tableSpan is the largest size the table serves).
inline void ReferenceTransform(const FftComplex* in, FftComplex* out,
                               std::int32_t n, std::int32_t stride,
                               std::int32_t sign, const FftComplex* table,
                               std::int32_t tableSpan) {
  if (n == 2) {
    out[0].re = in[0].re + in[stride].re;
    out[0].im = in[0].im + in[stride].im;
    out[1].re = in[0].re - in[stride].re;
    out[1].im = in[0].im - in[stride].im;
    return;
  }
  const std::int32_t h = n / 2;
  ReferenceTransform(in, out, h, 2 * stride, sign, table, tableSpan);
  ReferenceTransform(in + stride, out + h, h, 2 * stride, sign, table,
                     tableSpan);
  const std::int32_t step = tableSpan / n;
  for (std::int32_t k = 0; k < h; ++k) {
    const double c = table[k * step].re;
    const double s = sign * table[k * step].im;
    const FftComplex b = out[k + h];
    FftComplex t;
    t.re = b.re * c - s * b.im;
    t.im = s * b.re + c * b.im;
    const FftComplex a = out[k];
    out[k + h].re = a.re - t.re;
    out[k + h].im = a.im - t.im;
    out[k].re = a.re + t.re;
    out[k].im = a.im + t.im;
  }
}

// The transform as the production code must compute it over the live
// tables.
inline std::vector<FftComplex> Reference(const FftComplex* in, std::int32_t n,
                                         std::int32_t stride,
                                         std::int32_t sign) {
  std::vector<FftComplex> out(n);
  ReferenceTransform(in, out.data(), n, stride, sign, fftTables.twiddleTable,
                     fftTables.maxFftSize);
  return out;
}

// Forward spectrum of digits zero-padded to n.
inline std::vector<FftComplex> ReferenceSpectrum(const Digit* digits,
                                                 std::int32_t count,
                                                 std::int32_t n) {
  std::vector<FftComplex> staged(n, FftComplex{0.0, 0.0});
  for (std::int32_t i = 0; i < count; ++i) {
    staged[i].re = static_cast<double>(digits[i]);
  }
  return Reference(staged.data(), n, 1, +1);
}

// a[i] * b[i] for every element.
inline std::vector<FftComplex> ReferenceProduct(
    const std::vector<FftComplex>& a, const std::vector<FftComplex>& b) {
  std::vector<FftComplex> product(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    product[i].re = a[i].re * b[i].re - a[i].im * b[i].im;
    product[i].im = a[i].im * b[i].re + a[i].re * b[i].im;
  }
  return product;
}

// Inverse transform of `spectrum`, and its first m positions rounded half
// up and carried toward zero in base 10, the top carry dropped.
struct ReferenceDigits {
  std::vector<FftComplex> inverse;
  std::vector<Digit> digits;
};

inline ReferenceDigits ReferenceToDigits(
    const std::vector<FftComplex>& spectrum, std::int32_t m) {
  const auto n = static_cast<std::int32_t>(spectrum.size());
  ReferenceDigits result;
  result.inverse = Reference(spectrum.data(), n, 1, -1);
  result.digits.assign(m > 0 ? m : 0, 0);
  const double scale = 1.0 / n;
  std::int64_t carry = 0;
  for (std::int32_t i = m - 1; i >= 0; --i) {
    const double x = std::floor(result.inverse[i].re * scale + 0.5);
    const std::int64_t v = static_cast<std::int64_t>(x) + carry;
    carry = v / 10;
    result.digits[i] = static_cast<Digit>(v % 10);
  }
  return result;
}

}  // namespace ffttest
