// Division by a Newton reciprocal and square root by Heron's iteration.
#pragma once

#include <cstdint>

#include "store/dec_number.h"

// Leading non-zero digit of the top block and its index: 0 done, 1 no
// SmallBlock (the presets d = 1, z = 1 stay).
int DecLeadDigit(const DecNumber& n, std::int8_t& digit, std::uint32_t& index);
// y / x after 15 Newton iterations.
ScopedNumber DivUseNewton(const DecNumber& y, const DecNumber& x);
// sqrt(a) after 15 Heron iterations from 1.
ScopedNumber SqrtUseHeron(const DecNumber& a);
