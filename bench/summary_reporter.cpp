#include "bench/summary_reporter.h"

#include <cstdio>
#include <string>

#include "fft/fft_tables.h"

namespace {

// "FftTransform/32768", without the options and the aggregate's name.
std::string BaseName(const benchmark::BenchmarkReporter::Run& run) {
  const auto& name = run.run_name;
  return name.args.empty() ? name.function_name
                           : name.function_name + "/" + name.args;
}

double PerIterationSeconds(const benchmark::BenchmarkReporter::Run& run) {
  const double multiplier = benchmark::GetTimeUnitMultiplier(run.time_unit);
  return run.GetAdjustedCPUTime() / multiplier;
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const std::string name = BaseName(run);
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "min") seconds_[name] = PerIterationSeconds(run);
    } else if (seconds_.count(name) == 0 || run.repetitions <= 1) {
      seconds_[name] = PerIterationSeconds(run);
    }
  }
}

double SummaryReporter::Seconds(const std::string& name) const {
  const auto found = seconds_.find(name);
  return found == seconds_.end() ? -1.0 : found->second;
}

void SummaryReporter::PrintSummary(
    std::ostream& out,
    const std::map<std::int32_t, std::int64_t>& transforms) const {
  out << "\nFftTransform beside FFTW (CPU time per transform, the least of "
         "the repetitions)\n"
      << "    size    FftTransform          FFTW   ratio\n";
  for (std::int32_t n = 2; n <= kMaxFftSize; n *= 2) {
    const double ours = Seconds("FftTransform/" + std::to_string(n));
    const double fftw = Seconds("Fftw/" + std::to_string(n));
    if (ours < 0 || fftw <= 0) continue;
    out << Format("%8.0f", n) << Format("  %11.3f us  %9.3f us", ours * 1e6, fftw * 1e6)
        << Format("  %6.2f\n", ours / fftw);
  }

  const double fftw32768 = Seconds("Fftw/32768");
  const double ours32768 = Seconds("FftTransform/32768");
  if (fftw32768 > 0 && ours32768 > 0) {
    out << Format("\nFftTransform/32768 = %.2f x FFTW's time (target at most 1.3)\n",
                  ours32768 / fftw32768);
  }
  const double whole = Seconds("ComputePi");
  if (fftw32768 > 0 && whole > 0) {
    out << Format("ComputePi = %.3f s CPU = %.0f x FFTW's 32768-point time "
                  "(target at most 25000)\n",
                  whole, whole / fftw32768);
  }
  std::int64_t total = 0;
  for (const auto& [size, count] : transforms) total += count;
  if (total > 0) {
    out << "Transforms in one ComputePi, counted: " << total << " (";
    const char* separator = "";
    for (const auto& [size, count] : transforms) {
      out << separator << size << " points: " << count;
      separator = ", ";
    }
    out << ")\n";
  }
}
