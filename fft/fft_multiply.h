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

// Fixed-point products: min(La + Lb - 1, 10000) - 3 digits.
ScopedNumber MultiplyNumbers(const DecNumber& a, const DecNumber& b);
ScopedNumber SquareNumber(const DecNumber& x);
