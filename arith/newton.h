// Division by a Newton reciprocal and square root by Heron's iteration.
#pragma once

#include <cstdint>

#include "store/dec_number.h"

// Leading non-zero digit of the top block and its index: 0 done, 1 no
// SmallBlock (the presets d = 1, z = 1 stay).
int DecLeadDigit(const DecNumber& n, std::int8_t& digit, std::uint32_t& index);
// Loads the empty number r with the one-digit first estimate of 1 / x, the
// digit 10 / d placed at index 7 - z (index 0 when z >= 7), taking its
// leading zeros from `zeros` (at least 7 zero digits). 0 done; 1 when x has
// no non-zero digit in its top block (r stays empty).
int FirstEstimate(const DecNumber& x, DecNumber& r, const Digit* zeros);
// y / x after 15 Newton iterations.
ScopedNumber DivUseNewton(const DecNumber& y, const DecNumber& x);
// sqrt(a) after 15 Heron iterations from 1.
ScopedNumber SqrtUseHeron(const DecNumber& a);
