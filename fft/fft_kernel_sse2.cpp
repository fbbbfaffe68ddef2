// The SSE2 kernel: one complex value per register. Every x86-64 processor
// and every processor the 32-bit build targets has it.
#include "fft/fft_kernels.h"

#if defined(__SSE2__)

#include "fft/fft_kernel_impl.h"
#include "fft/fft_kernel_sse2.h"

namespace {
const FftKernelOps kSse2Ops = {&TransformWith<Sse2>, &TransformDigitsWith<Sse2>,
                                &MultiplyWith<Sse2>,
                                &RoundWith<2>, Sse2::kRegisters};
}  // namespace

const FftKernelOps* Sse2FftKernel() { return &kSse2Ops; }

#else

const FftKernelOps* Sse2FftKernel() { return nullptr; }

#endif
