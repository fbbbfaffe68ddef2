// Benchmarks: FftTransform beside FFTW at every size, each kernel, the
// multiplications and additive operations of numbers, and whole ComputePi
// runs. Only the library's own flags: --benchmark_out=FILE writes the
// results as JSON, which tools/bench_summary.py turns into the comparisons
// and targets. The processor and the kernels go into the JSON's context;
// the transforms and round-off of a whole run on each kernel into its
// counters.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "app/program.h"
#include "arith/additive.h"
#include "fft/fft_kernels.h"
#include "fft/fft_multiply.h"
#include "fft/fft_tables.h"
#include "fft/fft_transform.h"
#include "store/dec_number.h"
#include "store/digits.h"
#include "store/work_pool.h"

namespace {

// Each timing is repeated and the least taken: other work on the machine
// only ever adds time.
constexpr int kRepetitions = 5;
constexpr double kMinSeconds = 0.2;

double Least(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

benchmark::internal::Benchmark* Repeated(benchmark::internal::Benchmark* b) {
  return b->Repetitions(kRepetitions)
      ->ComputeStatistics("min", Least)
      ->DisplayAggregatesOnly(true);
}

// A multiplication's input: digits in the first half, zeros after.
void FillLikeAProduct(FftComplex* values, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    values[i] = {i < n / 2 ? static_cast<double>(i * 7 % 10) : 0.0, 0.0};
  }
}

// The transform as the program calls it, on the program's own buffers.
void FftTransformBench(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  FillLikeAProduct(fftTables.stagingBuffer, n);
  for (auto _ : state) {
    FftTransform(fftTables.stagingBuffer, fftTables.spectrumA, n, 1, +1);
    benchmark::ClobberMemory();
  }
}

// FFTW's out-of-place complex transform of the same size and input, on
// buffers of its own, planned by measuring.
void FftwBench(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  fftw_complex* in = fftw_alloc_complex(n);
  fftw_complex* out = fftw_alloc_complex(n);
  fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
  // Planning by measuring overwrites the input.
  for (int i = 0; i < n; ++i) {
    in[i][0] = i < n / 2 ? i * 7 % 10 : 0;
    in[i][1] = 0;
  }
  for (auto _ : state) {
    fftw_execute(plan);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
}

// The kernels this build carries, widest first, whether or not the
// processor runs them.
std::vector<FftKernelInfo> CarriedKernels() {
  std::vector<FftKernelInfo> carried;
  for (const FftKernelInfo& kernel : FftKernelTable()) {
    if (kernel.ops() != nullptr) carried.push_back(kernel);
  }
  return carried;
}

const char* ChosenKernelName() { return FftKernelName(ActiveFftKernel()); }

// Runs `body` on `kernel` and puts the kernel chosen by default back; an
// error for the benchmark when the processor does not run it.
template <class Body>
void OnKernel(benchmark::State& state, FftKernel kernel, Body body) {
  const FftKernel chosen = ActiveFftKernel();
  if (!SetFftKernel(kernel)) {
    state.SkipWithError("the processor does not run this kernel");
    return;
  }
  body();
  SetFftKernel(chosen);
}

// One kernel at the size of the program's products, to compare the kernels
// with one another.
void FftKernelBench(benchmark::State& state, FftKernel kernel) {
  OnKernel(state, kernel, [&] {
    constexpr std::int32_t n = 32768;
    FillLikeAProduct(fftTables.stagingBuffer, n);
    for (auto _ : state) {
      FftTransform(fftTables.stagingBuffer, fftTables.spectrumA, n, 1, +1);
      benchmark::ClobberMemory();
    }
  });
}

// A number of `length` digits 0..9, in the pool's block.
ScopedNumber MakeNumber(std::uint32_t length, std::uint32_t seed) {
  ScopedNumber x;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> digit(0, 9);
  Digit window[kSmallBlockBytes];
  for (std::uint32_t at = 0; at < length; at += kSmallBlockBytes) {
    const std::uint32_t count = std::min(kSmallBlockBytes, length - at);
    for (std::uint32_t i = 0; i < count; ++i) {
      window[i] = static_cast<Digit>(digit(random));
    }
    AppendDigits(*x, 0, count - 1, window);
  }
  return x;
}

// An operation on numbers of range(0) digits drawn from the given seeds.
template <ScopedNumber (*kOperation)(const DecNumber&, const DecNumber&)>
void BinaryBench(benchmark::State& state, std::uint32_t seedA,
                 std::uint32_t seedB) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  const ScopedNumber a = MakeNumber(length, seedA);
  const ScopedNumber b = MakeNumber(length, seedB);
  for (auto _ : state) {
    const ScopedNumber result = kOperation(*a, *b);
    benchmark::DoNotOptimize(result->length);
  }
}

template <ScopedNumber (*kOperation)(const DecNumber&)>
void UnaryBench(benchmark::State& state, std::uint32_t seed) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  const ScopedNumber x = MakeNumber(length, seed);
  for (auto _ : state) {
    const ScopedNumber result = kOperation(*x);
    benchmark::DoNotOptimize(result->length);
  }
}

// A new empty directory as the current one for the life of the object:
// the computation spills its result into a temporary file there.
class ScratchDirectory {
 public:
  ScratchDirectory() : previous_(std::filesystem::current_path()) {
    std::random_device seed;
    do {
      path_ = std::filesystem::temp_directory_path() /
              ("tavrex-bench-" + std::to_string(seed()));
    } while (!std::filesystem::create_directory(path_));
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

void ComputePiBench(benchmark::State& state) {
  const ScratchDirectory scratch;
  for (auto _ : state) {
    if (ComputePi() != 0) state.SkipWithError("ComputePi did not return 0");
  }
}

// Counting the transforms of one whole run: every transform goes through
// the kernel's table, which is replaced for the run by one that counts
// before it hands the call on.
std::map<std::int32_t, std::int64_t> transformCounts;
const FftKernelOps* countedKernel = nullptr;

void CountingTransform(const FftComplex* in, FftComplex* out, std::int32_t n,
                       std::int32_t stride, std::int32_t sign,
                       const FftRoots& roots) {
  ++transformCounts[n];
  countedKernel->transform(in, out, n, stride, sign, roots);
}

void CountingDigits(const Digit* digits, std::int32_t count, std::int32_t n,
                    FftComplex* out, const FftRoots& roots) {
  ++transformCounts[n];
  countedKernel->digits(digits, count, n, out, roots);
}

void PassingMultiply(FftComplex* product, const FftComplex* other,
                     std::int32_t n) {
  countedKernel->multiply(product, other, n);
}

void PassingRound(const FftComplex* values, std::int32_t count, double scale,
                  std::int32_t* rounded, FftRoundOff& off) {
  countedKernel->round(values, count, scale, rounded, off);
}

// One whole run on `kernel`, its transforms counted: how many of each size
// it makes, and the largest distance of a convolution value from its
// integer, for the summary beside the limit of the round-off check (what
// the limit's margin rests on).
void ComputePiCountedBench(benchmark::State& state, FftKernel kernel) {
  static const FftKernelOps kCounting = {&CountingTransform, &CountingDigits,
                                         &PassingMultiply, &PassingRound};
  OnKernel(state, kernel, [&] {
    const ScratchDirectory scratch;
    for (auto _ : state) {
      transformCounts.clear();
      countedKernel = ReplaceFftKernelOps(&kCounting);
      if (ComputePi() != 0) state.SkipWithError("ComputePi did not return 0");
      ReplaceFftKernelOps(countedKernel);
    }
    for (const auto& [n, count] : transformCounts) {
      state.counters["transforms/" + std::to_string(n)] =
          static_cast<double>(count);
    }
    state.counters["round_off"] = LargestRoundOff();
  });
}

// The processor's brand string, family and model, as it reports them.
std::string ProcessorName() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned regs[12] = {};
  unsigned top = __get_cpuid_max(0x80000000u, nullptr);
  std::string brand;
  if (top >= 0x80000004u) {
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
      __get_cpuid(0x80000002u + leaf, &regs[4 * leaf], &regs[4 * leaf + 1],
                  &regs[4 * leaf + 2], &regs[4 * leaf + 3]);
    }
    char text[sizeof regs + 1] = {};
    std::memcpy(text, regs, sizeof regs);
    brand = text;
    brand.erase(0, brand.find_first_not_of(' '));
    brand.erase(brand.find_last_not_of(' ') + 1);
  }
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
    unsigned family = (eax >> 8) & 0xF, model = (eax >> 4) & 0xF;
    if (family == 0xF) family += (eax >> 20) & 0xFF;
    if (family >= 6) model += ((eax >> 16) & 0xF) << 4;
    brand += " (family " + std::to_string(family) + ", model " +
             std::to_string(model) + ")";
  }
  return brand.empty() ? "unknown" : brand;
#else
  return "unknown";
#endif
}

void RegisterBenchmarks() {
  using benchmark::RegisterBenchmark;
  // FFTW and ours side by side, size by size.
  for (std::int64_t n = 2; n <= kMaxFftSize; n *= 2) {
    Repeated(RegisterBenchmark("Fftw", FftwBench)->Arg(n)->MinTime(kMinSeconds));
    Repeated(RegisterBenchmark("FftTransform", FftTransformBench)
                 ->Arg(n)
                 ->MinTime(kMinSeconds));
  }
  for (const FftKernelInfo& kernel : CarriedKernels()) {
    const std::string name = std::string("/") + kernel.name;
    RegisterBenchmark(("FftKernel" + name).c_str(), FftKernelBench, kernel.kernel)
        ->MinTime(kMinSeconds);
    RegisterBenchmark(("ComputePiCounted" + name).c_str(),
                      ComputePiCountedBench, kernel.kernel)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  for (std::int64_t digits : {100, 1000, 10000}) {
    RegisterBenchmark("MultiplyNumbers", BinaryBench<MultiplyNumbers>, 1u, 2u)
        ->Arg(digits);
    RegisterBenchmark("SquareNumber", UnaryBench<SquareNumber>, 3u)->Arg(digits);
  }
  RegisterBenchmark("DecAdd", BinaryBench<DecAdd>, 4u, 5u)->Arg(10000);
  RegisterBenchmark("DecHalve", UnaryBench<DecHalve>, 6u)->Arg(10000);
  Repeated(RegisterBenchmark("ComputePi", ComputePiBench)
               ->Iterations(1)
               ->Unit(benchmark::kMillisecond));
}

}  // namespace

int main(int argc, char** argv) {
  // The repetitions of all benchmarks are run in random order, so that a
  // spell of other work on the machine cannot spoil every repetition of one
  // of them; options given on the command line come later and win.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  InitWorkPool();
  if (workPool.ready == 0 || InitFftTables() != 0) {
    std::cerr << "no memory for the work pool or the FFT tables\n";
    return 3;
  }
  std::string carried;
  for (const FftKernelInfo& kernel : CarriedKernels()) {
    carried += std::string(carried.empty() ? "" : " ") + kernel.name;
  }
  char limit[32];
  std::snprintf(limit, sizeof limit, "%.3g", kRoundOffLimit);
  benchmark::AddCustomContext("bits", std::to_string(8 * sizeof(void*)));
  benchmark::AddCustomContext("processor", ProcessorName());
  benchmark::AddCustomContext("fft_kernels_carried", carried);
  benchmark::AddCustomContext("fft_kernel_chosen", ChosenKernelName());
  benchmark::AddCustomContext("fft_vector_registers",
                              std::to_string(ActiveFftKernelOps().registers));
  benchmark::AddCustomContext("round_off_limit", limit);
  RegisterBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FreeFftTables();
  FreeWorkPool();
  return 0;
}
