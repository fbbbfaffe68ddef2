// Points where tests corrupt the arithmetic of a run, to show that the
// round-off check and the result check notice a PC that computes wrong.
// All null in the program, where each costs one test of a pointer.
#pragma once

#include <cstdint>

#include "fft/fft_tables.h"

struct ArithmeticHooks {
  // Every product's spectrum, between the pointwise multiplication and the
  // inverse transform.
  void (*spectrum)(FftComplex* values, std::int32_t n) = nullptr;
  // The twiddle table, once it is filled.
  void (*twiddles)(FftComplex* table, std::int32_t count) = nullptr;
};

extern ArithmeticHooks arithmeticHooks;
