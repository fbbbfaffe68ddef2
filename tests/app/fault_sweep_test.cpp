// Every platform call of a run made to fail in turn: a counting run, then
// one run per call with that call alone failed, each checked against the
// program's rules (exit code, log, pool, memory, open files, directory).
// The start-up and shut-down (filler refused, so _tmain ends at once) are
// swept on every test run; whole runs and held-back pools are sampled
// unless TAVREX_SWEEP=full (make sweep). Last, whole runs whose arithmetic
// is corrupted at one point, as a failing PC would, against the records
// of the round-off and result checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "fft/arithmetic_hooks.h"
#include "fft/fft_multiply.h"
#include "store/digits.h"
#include "tests/app/whole_run.h"
#include "tests/fft/fft_support.h"

namespace {

using namespace wholerun;

// The sweep's own account, printed at its end.
struct Tally {
  std::array<std::uint32_t, kKinds> calls{};
  std::array<std::uint32_t, kKinds> swept{};
  std::array<std::uint32_t, kKinds> injected{};
  std::uint32_t runs = 0;
  Leaks leaks;
  double seconds = 0;

  void Print(const std::string& title) const {
    std::printf("[ sweep    ] %s\n", title.c_str());
    std::printf("[ sweep    ]   %-20s %8s %8s %8s\n", "call", "counted", "swept", "injected");
    std::uint32_t totalInjected = 0;
    for (std::size_t i = 0; i < kKinds; ++i) {
      if (calls[i] == 0 && swept[i] == 0) continue;
      std::printf("[ sweep    ]   %-20s %8u %8u %8u\n", platform::CallName(KindAt(i)),
                  calls[i], swept[i], injected[i]);
      totalInjected += injected[i];
    }
    std::printf(
        "[ sweep    ]   %u runs, %u failures injected, 0 crashes, %u leaked blocks, %u leaked "
        "files, %u leaked handles, %u unfreed allocations; %u files kept by a refused "
        "deletion, each recorded; %.1f s\n",
        runs, totalInjected, leaks.blocks, leaks.files, leaks.handles, leaks.allocations,
        leaks.refusedDeletions, seconds);
    std::fflush(stdout);
  }
};

// The faults of one call: failing with an error code, and for transfers
// also coming back one byte short; a temporary file's exclusive creation
// also meets a name that exists.
std::vector<Fault> FaultsAt(Call call, std::uint32_t occurrence, const Site& site) {
  std::vector<Fault> faults{{call, occurrence, false, ErrorCodeFor(call), -1}};
  if (Transfers(call) && site.bytes > 0) {
    faults.push_back({call, occurrence, false, 0, static_cast<std::int64_t>(site.bytes) - 1});
  }
  if (call == Call::CreateFile && !site.onLog &&
      site.disposition == platform::Disposition::CreateNew) {
    faults.push_back({call, occurrence, false, platform::kErrorFileExists, -1});
  }
  return faults;
}

bool SameSite(const Site& a, const Site& b) {
  return a.onLog == b.onLog && a.bom == b.bom && a.disposition == b.disposition &&
         a.bytes == b.bytes;
}

// One run with `fault` alone, at the call the counting run saw as `site`;
// checked against the rules.
Outcome RunWithFault(const Options& base, const Site& site, const Fault& fault,
                     bool exactRecords, Tally& tally) {
  SCOPED_TRACE(Describe(fault));
  Options options = base;
  options.fault = fault;
  Outcome out = RunOnce(options);
  ++tally.runs;
  tally.seconds += out.seconds;
  ++tally.swept[Index(fault.call)];

  // The runs are deterministic: the fault met the very call that the
  // counting run saw at that place (the refused filler aside).
  std::vector<std::pair<Fault, Site>> faulted;
  const bool sweptFiller = fault.call == Call::LocalAlloc && site.bytes == kFillerBytes;
  for (const auto& f : out.faulted) {
    const bool filler = f.first.call == Call::LocalAlloc && f.second.bytes == kFillerBytes;
    if (!(base.refuseFiller && filler && !sweptFiller)) faulted.push_back(f);
  }
  tally.injected[Index(fault.call)] += static_cast<std::uint32_t>(faulted.size());
  EXPECT_EQ(faulted.size(), 1u) << "the fault did not meet exactly one call";
  if (!faulted.empty()) {
    EXPECT_EQ(faulted[0].first.call, fault.call);
    EXPECT_TRUE(SameSite(faulted[0].second, site)) << "the fault met a different call";
  }

  Verify(out, Expect{fault, site, base.refuseFiller, exactRecords}, tally.leaks);
  return out;
}

Outcome CountingRun(Options options, Tally& tally) {
  options.recordSites = true;
  const Outcome counting = RunOnce(options);
  for (std::size_t i = 0; i < kKinds; ++i) tally.calls[i] = counting.counts[i];
  tally.seconds += counting.seconds;
  ++tally.runs;
  SCOPED_TRACE("counting run");
  Verify(counting,
         Expect{.fillerRefused = options.refuseFiller,
                .exactRecords = options.setting.largeHeld == 0 && options.setting.smallHeld == 0},
         tally.leaks);
  return counting;
}

// Every call of a counting run failed alone, with every fault it can have;
// returns the counting run.
Outcome SweepEveryCall(const Options& base, const std::string& title) {
  Tally tally;
  const Outcome counting = CountingRun(base, tally);
  for (std::size_t i = 0; i < kKinds; ++i) {
    const Call call = KindAt(i);
    if (!Failable(call)) continue;
    for (std::uint32_t k = 1; k <= counting.counts[i]; ++k) {
      const Site& site = counting.sites[i][k - 1];
      for (const Fault& f : FaultsAt(call, k, site)) RunWithFault(base, site, f, true, tally);
    }
  }
  tally.Print(title);
  EXPECT_EQ(tally.leaks.Total(), 0u);
  return counting;
}

// The program makes none of the calls that only the core tester needs.
void ExpectNoTesterCalls(const Outcome& run) {
  for (Call call : {Call::RemoveTree, Call::CreateProcess, Call::WaitForProcess,
                    Call::TerminateProcess, Call::CloseProcess, Call::GetCoreCount,
                    Call::GetProcessAffinity}) {
    EXPECT_EQ(run.counts[Index(call)], 0u) << platform::CallName(call);
  }
}

TEST(FaultSweep, StartUpAndShutDownAtEveryCall) {
  Options base;
  base.refuseFiller = true;
  const Outcome counting =
      SweepEveryCall(base, "start-up and shut-down (filler refused), every call");
  // The pool, four FFT buffers and the filler, and nothing after it: no
  // number is made, so the log is the only file. The log's opening with its
  // way into its directory and back; the mark and two records.
  EXPECT_EQ(counting.counts[Index(Call::LocalAlloc)], 6u);
  EXPECT_EQ(counting.counts[Index(Call::CreateFile)], 1u);
  EXPECT_EQ(counting.counts[Index(Call::SetCurrentDirectory)], 2u);
  ExpectNoTesterCalls(counting);
  EXPECT_EQ(counting.logWrites.size(), 3u);
}

// The whole run with exactly the blocks its deepest nesting needs, twelve
// LargeBlocks and three SmallBlocks, and the deletion of the result file
// refused: nothing may run short, the result is the only temporary file,
// and it stays, with a record that says so.
TEST(FaultSweep, WholeRunOnTheBareBudgetWithTheResultsDeletionRefused) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  Options options;
  options.setting = {kLargeBlockCount - 12, kSmallBlockCount - 3};
  Tally tally;
  const Outcome out = RunWithFault(
      options, Site{}, Fault{Call::DeleteFile, 1, false, ErrorCodeFor(Call::DeleteFile), -1},
      true, tally);
  tally.calls = out.counts;
  // The log, the result's file, and its reopening.
  EXPECT_EQ(out.counts[Index(Call::CreateFile)], 3u);
  ExpectNoTesterCalls(out);
  tally.Print("whole run, " + options.setting.Name() + ", the result's deletion refused");
  EXPECT_EQ(tally.leaks.Total(), 0u);
  EXPECT_EQ(tally.leaks.refusedDeletions, 1u);
}

// Faults together where two fallbacks meet, which the sweep of one fault
// at a time cannot reach; each run must end as its last fault alone ends
// one: without the way back, the log directory not made, then the log
// refused altogether; the result file not reopened, then not deleted.
TEST(FaultSweep, ChosenFaultsTogetherEndAsTheLastAlone) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  const auto fail = [](Call call, std::uint32_t occurrence) {
    return Fault{call, occurrence, false, ErrorCodeFor(call), -1};
  };
  const Fault noWayBack = fail(Call::GetCurrentDirectory, 1);
  const Fault noLogDirectory = fail(Call::CreateDirectory, 1);
  const struct {
    std::vector<Fault> before;
    Fault last;
    Site site;
  } sets[] = {
      {{noWayBack}, noLogDirectory, Site{.onLog = true}},
      {{noWayBack, noLogDirectory}, fail(Call::CreateFile, 1), Site{.onLog = true}},
      // The log, the result's file, then its reopening.
      {{fail(Call::CreateFile, 3)}, fail(Call::DeleteFile, 1), Site{}},
  };
  for (const auto& set : sets) {
    SCOPED_TRACE(Describe(set.last));
    Options options;
    options.fault = set.last;
    options.also = set.before;
    const Outcome out = RunOnce(options);
    EXPECT_EQ(out.faulted.size(), set.before.size() + 1) << "a fault met no call";
    Leaks leaks;
    Verify(out, Expect{set.last, set.site}, leaks);
    EXPECT_EQ(leaks.Total(), 0u);
  }
}

TEST(FaultSweep, WholeRunAtEveryCall) {
  if (!FullSweep()) GTEST_SKIP() << "a whole run per call: TAVREX_SWEEP=full (make sweep)";
  EXPECT_EQ(SweepEveryCall(Options{}, "whole run, every call").code, 0);
}

// With twelve LargeBlocks held back the numbers of every deep step find
// no block: they live in temporary files, and the file paths of the store
// and the arithmetic carry the run (tens of thousands of file calls).
constexpr Setting kFileBound{12, 0};

// Faults spread over one such run, every few thousandth call of each kind
// of file call: whatever they break, the run ends with 0, every fault is
// recorded, and nothing is left held, open or on disk.
TEST(FaultSweep, HeldBackPoolUnderScheduledFaults) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  Options options;
  options.setting = kFileBound;
  Schedule schedule;
  schedule.stride[Index(Call::CreateFile)] = 1999;
  schedule.stride[Index(Call::CloseHandle)] = 2003;
  schedule.stride[Index(Call::SetFilePointer)] = 997;
  schedule.stride[Index(Call::ReadFile)] = 499;
  schedule.stride[Index(Call::WriteFile)] = 433;  // most writes are the log's
  schedule.stride[Index(Call::CopyFile)] = 797;
  schedule.stride[Index(Call::DeleteFile)] = 1009;
  schedule.phase = 7;
  options.schedule = schedule;
  const Outcome out = RunOnce(options);

  Tally tally;
  tally.runs = 1;
  tally.seconds = out.seconds;
  tally.calls = out.counts;
  for (std::size_t i = 0; i < kKinds; ++i) {
    tally.injected[i] = FaultedCalls(out, KindAt(i));
    // Each kind on the schedule met enough of its faults to matter.
    if (schedule.stride[i] != 0) {
      EXPECT_GE(tally.injected[i], 5u) << platform::CallName(KindAt(i));
    }
  }
  Verify(out, Expect{.exactRecords = false}, tally.leaks);
  VerifyExplained(out);
  tally.Print("whole run, " + kFileBound.Name() + ", faults on a schedule");
  EXPECT_EQ(tally.leaks.Total(), 0u);
}

// The same runs with one call failed at a time, at calls spread evenly
// over each kind (a full sweep would take a run per call: hundreds of
// thousands of them).
TEST(FaultSweep, HeldBackPoolAtSampledCalls) {
  if (!FullSweep()) GTEST_SKIP() << "hundreds of runs: TAVREX_SWEEP=full (make sweep)";
  struct Plan {
    Setting setting;
    std::uint32_t perKind;
  };
  for (const Plan& plan : {Plan{{9, 0}, 2}, Plan{kFileBound, 8}}) {
    SCOPED_TRACE(plan.setting.Name());
    Options base;
    base.setting = plan.setting;
    Tally tally;
    const Outcome counting = CountingRun(base, tally);
    for (std::size_t i = 0; i < kKinds; ++i) {
      const Call call = KindAt(i);
      // The allocations and the log's calls are those of the plain run.
      if (!Failable(call) || call == Call::LocalAlloc) continue;
      const std::uint32_t n = counting.counts[i];
      std::set<std::uint32_t> picked;
      for (std::uint32_t j = 0; j < plan.perKind && j < n; ++j) {
        picked.insert(static_cast<std::uint32_t>(
            1 + (std::uint64_t{n} * (2 * j + 1)) / (2 * plan.perKind)));
      }
      for (std::uint32_t k : picked) {
        const Site& site = counting.sites[i][k - 1];
        if (site.onLog) continue;
        for (const Fault& f : FaultsAt(call, k, site)) {
          RunWithFault(base, site, f, false, tally);
        }
      }
    }
    tally.Print("whole run, " + plan.setting.Name() + ", sampled calls");
    EXPECT_EQ(tally.leaks.Total(), 0u);
  }
}

// One corruption of a whole run through the arithmetic hooks, which the
// fixture installs for its test and then puts back as they were: spectrum
// element 1 of product `at` (from 1), moving value j of the product by
// amount * sin(2 pi j / n); twiddle entry 4000, which every transform of
// 4096 points or more reads; a's digit index `at` after Gauss-Legendre
// step 5, by amount modulo 10; or value `amount` of product `at`'s inverse
// transform, made NaN.
struct ArithmeticCase {
  const char* name;
  enum Kind { Spectrum, Twiddle, Digit, Output } kind;
  std::uint32_t at;
  double amount;
  std::vector<std::string> records;  // between the entry and the exit
};

class ArithmeticFaultTest : public ::testing::TestWithParam<ArithmeticCase> {
 protected:
  ArithmeticFaultTest() : saved_(arithmeticHooks), savedStep_(computePiStepHook) {
    plan = GetParam();
    products = 0;
    arithmeticHooks = {&OnSpectrum, &OnTwiddles};
    computePiStepHook = &OnStep;
    ffttest::unspoiled = ReplaceFftKernelOps(&ffttest::kSpoiling);
  }
  ~ArithmeticFaultTest() override {
    arithmeticHooks = saved_;
    computePiStepHook = savedStep_;
    ReplaceFftKernelOps(ffttest::unspoiled);
  }
  static inline ArithmeticCase plan;
  static inline std::uint32_t products = 0;

 private:
  static void OnSpectrum(FftComplex* values, std::int32_t n) {
    const bool chosen = ++products == plan.at;
    ffttest::spoiledAt = chosen && plan.kind == ArithmeticCase::Output
                             ? static_cast<std::int32_t>(plan.amount) : -1;
    if (chosen && plan.kind == ArithmeticCase::Spectrum) values[1].im += plan.amount * n;
  }
  static void OnTwiddles(FftComplex* table, std::int32_t) {
    if (plan.kind == ArithmeticCase::Twiddle) table[4000].re += plan.amount;
  }
  static void OnStep(int step, DecNumber& a, DecNumber&, DecNumber&, DecNumber&) {
    Digit d = 0;
    if (plan.kind != ArithmeticCase::Digit || step != 5) return;
    ReadDigits(a, plan.at, plan.at, &d);
    d = static_cast<Digit>((d + static_cast<int>(plan.amount)) % 10);
    WriteDigits(a, plan.at, plan.at, &d);
  }
  ArithmeticHooks saved_;
  decltype(computePiStepHook) savedStep_;
};

// 465 products in the first square root, 468 a step, 32 in the final formula.
constexpr std::uint32_t kProducts = 7049;

// The run ends as a sound one does (exit code 0, nothing left held, open or
// on disk), and its log holds the checks' records and nothing else new.
TEST_P(ArithmeticFaultTest, LeavesTheChecksRecordsAndNothingElse) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  const Outcome out = RunOnce(Options{});
  EXPECT_EQ(products, kProducts);
  Leaks leaks;
  Verify(out, Expect{.exactRecords = false}, leaks);
  EXPECT_EQ(leaks.Total(), 0u);
  const std::vector<LogRecord> handed = Handed(out.logWrites, true);
  std::vector<std::string> middle;
  for (std::size_t i = 1; i + 1 < handed.size(); ++i) {
    middle.push_back(testsupport::Narrow(handed[i].message));
    EXPECT_EQ(handed[i].comCode, 0u);
  }
  EXPECT_EQ(middle, GetParam().records);
}

const std::string kRoundOff = "Error:FFT round-off error too large";

// Product 3558 squares the reciprocal in an early Newton iteration (the
// third of the tenth division of step 7's square root), which the later
// ones correct; the run's last product, the final quotient, nothing
// corrects. A tenth of the limit leaves no trace. 0.55 * sin passes 0.5
// from position 5952 of 32768: digit index 5949 (a 4), fraction digit
// 5946, is the first wrong. a's fraction digit 1997 off by 5 moves pi by
// about 3.7 * 5 * 10^-1997. An infinite value turns the whole last product
// infinite or NaN, which must neither convert nor carry out of range: wrong
// from the integer digit on. One NaN, value 6000 of the last product's
// inverse transform, converts as -2^30 at weight 10^-5994, about
// -1.07 * 10^-5985: fraction digit 5985 is the first wrong.
INSTANTIATE_TEST_SUITE_P(
    Arithmetic, ArithmeticFaultTest,
    ::testing::Values(
        ArithmeticCase{"SpectrumBelowTheLimit", ArithmeticCase::Spectrum, 3558,
                       kRoundOffLimit / 10, {}},
        ArithmeticCase{"SpectrumCorrectedByNewton", ArithmeticCase::Spectrum, 3558, 0.55,
                       {kRoundOff}},
        ArithmeticCase{"SpectrumOfTheLastProduct", ArithmeticCase::Spectrum, kProducts, 0.55,
                       {kRoundOff, kResultCheck + "5946"}},
        ArithmeticCase{"SpectrumGoneInfinite", ArithmeticCase::Spectrum, kProducts,
                       std::numeric_limits<double>::infinity(),
                       {kRoundOff, kResultCheck + "0"}},
        ArithmeticCase{"OneOutputOfTheLastProductNaN", ArithmeticCase::Output, kProducts,
                       6000, {kRoundOff, kResultCheck + "5985"}},
        ArithmeticCase{"Twiddle", ArithmeticCase::Twiddle, 0, 1e-5,
                       {kRoundOff, kResultCheck + "8310"}},
        ArithmeticCase{"DigitAfterAStep", ArithmeticCase::Digit, 2000, 5,
                       {kResultCheck + "1996"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
