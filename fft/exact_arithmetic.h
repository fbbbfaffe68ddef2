// Included first by every file of the FFT that computes in floating point.
// The product's digits must be the same bits in every build and every
// kernel, which holds only while each multiplication and addition is
// rounded on its own: a fused multiply-add rounds once for both and gives
// other bits. Contraction into one is therefore forbidden here, for the
// rest of the including file, whatever flags the build passes.
#pragma once

#pragma GCC optimize("fp-contract=off")

// GCC 12's vectoriser still fuses complex products, into multiply-add-
// subtract instructions, where the target has them and contraction is off.
// Plain code that multiplies complex values carries this to stay scalar;
// the vector kernels, written with intrinsics, need not.
#define TAVREX_NOT_VECTORISED __attribute__((optimize("no-tree-vectorize")))
