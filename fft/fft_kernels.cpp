// The kernel choice: the table of kernels and the one in force.
#include "fft/fft_kernels.h"

namespace {

#if defined(__x86_64__) || defined(__i386__)
#define PROCESSOR_HAS(feature) \
  [] { __builtin_cpu_init(); return __builtin_cpu_supports(feature) != 0; }
#else
#define PROCESSOR_HAS(feature) [] { return false; }
#endif

constexpr FftKernelInfo kTable[] = {
    {FftKernel::Avx512, "avx512", PROCESSOR_HAS("avx512f"), &Avx512FftKernel},
    {FftKernel::Avx, "avx", PROCESSOR_HAS("avx"), &AvxFftKernel},
    {FftKernel::Sse2, "sse2", PROCESSOR_HAS("sse2"), &Sse2FftKernel},
    {FftKernel::Plain, "plain", [] { return true; }, &PlainFftKernel},
};

const FftKernelInfo* Find(FftKernel kernel) {
  for (const FftKernelInfo& info : kTable) {
    if (info.kernel == kernel) return info.processorHas() && info.ops() ? &info : nullptr;
  }
  return nullptr;
}

// The kernel chosen, and the ops the transforms go through: its own, or
// those that replace them for measurement.
const FftKernelInfo* activeKernel = nullptr;
const FftKernelOps* activeOps = nullptr;

void Choose() {
  for (const FftKernelInfo& info : kTable) {
    if (activeOps != nullptr || SetFftKernel(info.kernel)) return;
  }
}

}  // namespace

std::span<const FftKernelInfo> FftKernelTable() { return kTable; }

bool FftKernelAvailable(FftKernel kernel) { return Find(kernel) != nullptr; }

bool SetFftKernel(FftKernel kernel) {
  const FftKernelInfo* info = Find(kernel);
  if (info == nullptr) return false;
  activeKernel = info;
  activeOps = info->ops();
  return true;
}

const FftKernelOps* ReplaceFftKernelOps(const FftKernelOps* ops) {
  const FftKernelOps* previous = &ActiveFftKernelOps();
  activeOps = ops;
  // A kernel's own ops given back make it the kernel in force again.
  for (const FftKernelInfo& info : kTable) {
    if (info.ops() == ops) activeKernel = &info;
  }
  return previous;
}

const FftKernelOps& ActiveFftKernelOps() {
  Choose();
  return *activeOps;
}

FftKernel ActiveFftKernel() {
  Choose();
  return activeKernel->kernel;
}

const char* FftKernelName(FftKernel kernel) {
  for (const FftKernelInfo& info : kTable) {
    if (info.kernel == kernel) return info.name;
  }
  return "?";
}
