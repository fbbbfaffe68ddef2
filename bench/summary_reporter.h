// Shows the benchmarks as Google Benchmark's console does and keeps their
// times, so that the comparisons the benchmarks exist for can be printed
// after the run: the transform beside FFTW at every size, and the whole
// computation in units of FFTW's 32768-point transform, each beside its
// target. The 64-bit and the 32-bit build run apart; each saves what it
// measured, and one summary then shows both side by side.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// What one build's benchmarks measured, and what it ran them on.
struct BenchResults {
  int bits = 0;               // 64 or 32
  std::string processor;      // brand string, family and model
  std::string kernel;         // the kernel chosen on this processor
  std::string carried;        // the kernels the build carries
  // CPU seconds per transform, by size: ours and FFTW's.
  std::map<std::int32_t, double> ours, fftw;
  double computePi = -1.0;    // CPU seconds of one ComputePi
  std::map<std::int32_t, std::int64_t> transforms;  // of one ComputePi
  std::string roundOff;       // each kernel's largest distance in one run
  // The whole program as a process, timed by tools/bench.sh: least CPU
  // seconds over its runs, and its largest resident size in KiB.
  double programSeconds = -1.0;
  double programKiB = -1.0;

  // As lines of "key values"; Load reads what Save wrote and keeps what
  // is already set for keys the file lacks (false if it cannot be read).
  void Save(std::ostream& out) const;
  bool Load(const std::string& path);
};

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the output is as often a file as a terminal.
  SummaryReporter() : ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override;

  // CPU seconds per iteration of the named benchmark ("Fftw/32768"): the
  // "min" aggregate over its repetitions where there is one, else its only
  // run; negative when it did not run.
  double Seconds(const std::string& name) const;

  // The timings of the transforms and of ComputePi into `results`.
  void Collect(BenchResults& results) const;

 private:
  std::map<std::string, double> seconds_;
};

// The comparison tables and the targets' lines, one column per build in
// `builds` (the 64-bit first); a build without timings shows as not run.
void PrintSummary(std::ostream& out, const std::vector<BenchResults>& builds);
