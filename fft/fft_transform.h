// The radix-2 complex transform and the digit conversions around it.
#pragma once

#include <cstdint>

#include "fft/fft_tables.h"
#include "store/digit.h"

// out[k] = sum over j of in[j*stride] * e^(sign*2*pi*i*j*k/n), k = 0..n-1.
// n a power of two, 2 <= n <= maxFftSize; in and out do not overlap.
void FftTransform(const FftComplex* in, FftComplex* out, std::int32_t n,
                  std::int32_t stride, std::int32_t sign);
// target = forward transform of the digits, zero-padded to n.
void DigitsToSpectrum(const Digit* digits, std::int32_t count, std::int32_t n,
                      FftComplex* target);
// spectrumA[i] *= other[i]; other may be spectrumA itself (squaring).
void MultiplySpectra(const FftComplex* other, std::int32_t n);
// out[0..m-1] = inverse transform of spectrumA, rounded and carried in base
// 10 from position m-1 up; the carry above position 0 is dropped. Returns
// the largest distance of a rounded value from its integer.
double SpectrumToDigits(std::int32_t n, Digit* out, std::int32_t m);
