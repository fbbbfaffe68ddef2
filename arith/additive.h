// Addition, subtraction, halving, doubling and normalisation of signed
// decimal digits, 100-digit window by window.
#pragma once

#include <cstdint>

#include "store/dec_number.h"

ScopedNumber DecAdd(const DecNumber& a, const DecNumber& b);
ScopedNumber DecSub(const DecNumber& a, const DecNumber& b);
ScopedNumber DecHalve(const DecNumber& a);
ScopedNumber DecDouble(const DecNumber& a);

// Brings every digit into 0..9 in place: 0 done, 1 no SmallBlock.
int DecNormalize(DecNumber& n);
// sign = 1 not negative, 0 negative: 0 done, 1 no SmallBlock.
int DecTopSign(const DecNumber& n, std::uint8_t& sign);
// Normalises one 100-digit window read from n, carrying through `carry`.
int NormalizeBlock(Digit* buffer, const DecNumber& n, std::uint8_t sign,
                   std::int8_t& carry);
