// Shows the benchmarks as Google Benchmark's console does and keeps their
// times, so that the comparisons the benchmarks exist for can be printed
// after the run: the transform beside FFTW at every size, and the whole
// computation in units of FFTW's 32768-point transform.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the output is as often a file as a terminal.
  SummaryReporter() : ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override;

  // CPU seconds per iteration of the named benchmark ("Fftw/32768"): the
  // "min" aggregate over its repetitions where there is one, else its only
  // run; negative when it did not run.
  double Seconds(const std::string& name) const;

  // The comparison tables. `transforms` holds the number of transforms of
  // each size in one whole computation.
  void PrintSummary(std::ostream& out,
                    const std::map<std::int32_t, std::int64_t>& transforms) const;

 private:
  std::map<std::string, double> seconds_;
};
