// Multiplication and squaring of digit arrays and of numbers by FFT.
#pragma once

#include <cstdint>

#include "store/dec_number.h"

// Digit arrays, most significant digit first; out may alias the inputs.
// 0 on success, 1 when the transform would exceed maxFftSize.
int MulUseFFT(const Digit* a, std::int32_t lenA, const Digit* b,
              std::int32_t lenB, Digit* out, std::int32_t maxOut);
int SquareUseFFT(const Digit* a, std::int32_t len, Digit* out,
                 std::int32_t maxOut);

// How far a convolution value may lie from the integer it rounds to before
// the product is taken for wrong. A sound run's largest distance is 2.3e-10
// on every kernel (the last bit of its largest values, about 2^20): this
// is over 400000 times that, and 5000 times below the 0.5 at which a value
// rounds to the wrong integer.
inline constexpr double kRoundOffLimit = 1e-4;

// The round-off check of a run: the largest distance seen since the last
// reset, and the reset at the start of a run, which also allows the next
// "Error:FFT round-off error too large" record (one per run).
double LargestRoundOff();
void ResetRoundOffCheck();

// Fixed-point products: min(La + Lb - 1, 10000) - 3 digits.
ScopedNumber MultiplyNumbers(const DecNumber& a, const DecNumber& b);
ScopedNumber SquareNumber(const DecNumber& x);
