#include "bench/summary_reporter.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "fft/fft_multiply.h"
#include "fft/fft_tables.h"

namespace {

// The targets the summary measures against, as ratios to FFTW of the same
// bitness (sizes) or to its 32768-point transform (ComputePi).
struct Targets {
  double transform32768;
  double computePi;
};
constexpr double kEverySizeTarget = 1.5;
constexpr std::int32_t kEverySizeFrom = 64, kEverySizeTo = 16384;
constexpr double kProgramRatioTarget = 1.1;    // 32-bit program / 64-bit
constexpr double kPeakMemoryTargetMiB = 16.0;  // below

Targets TargetsOf(int bits) {
  return bits == 32 ? Targets{0.9, 20000} : Targets{0.8, 18000};
}

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

// "value <= limit pass", or "MISS" when the value is over the limit; a
// value that is not positive was not measured.
std::string Against(const char* format, double value, double limit,
                    bool strictlyBelow = false) {
  if (!(value > 0)) return "not measured";
  const bool met = strictlyBelow ? value < limit : value <= limit;
  return Format(format, value, limit) + (met ? " pass" : " MISS");
}

std::string Padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

double Get(const std::map<std::int32_t, double>& times, std::int32_t n) {
  const auto found = times.find(n);
  return found == times.end() ? -1.0 : found->second;
}

bool Measured(const BenchResults& build) { return !build.ours.empty(); }

std::string BitsName(int bits) {
  return bits == 32 ? "32-bit x86 (i686)" : "64-bit x86-64";
}

// One cell of the targets' lines for each build.
template <class Cell>
void TargetLine(std::ostream& out, const char* what,
                const std::vector<BenchResults>& builds, Cell cell) {
  out << Padded(what, 40);
  for (const BenchResults& build : builds) {
    out << Padded(Measured(build) ? cell(build) : "not run", 34);
  }
  out << "\n";
}

}  // namespace

void BenchResults::Save(std::ostream& out) const {
  char text[64];
  auto number = [&](double value) {
    std::snprintf(text, sizeof text, "%.17g", value);
    return std::string(text);
  };
  out << "bits " << bits << "\n"
      << "processor " << processor << "\n"
      << "kernel " << kernel << "\n"
      << "carried " << carried << "\n";
  for (const auto& [n, seconds] : ours) {
    out << "fft " << n << " " << number(seconds) << " " << number(Get(fftw, n))
        << "\n";
  }
  out << "computepi " << number(computePi) << "\n";
  for (const auto& [n, count] : transforms) {
    out << "transforms " << n << " " << count << "\n";
  }
  out << "roundoff " << roundOff << "\n";
  if (programSeconds >= 0) {
    out << "program " << number(programSeconds) << " " << number(programKiB)
        << "\n";
  }
}

bool BenchResults::Load(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    std::string rest;
    std::getline(fields >> std::ws, rest);
    std::istringstream values(rest);
    if (key == "bits") {
      values >> bits;
    } else if (key == "processor") {
      processor = rest;
    } else if (key == "kernel") {
      kernel = rest;
    } else if (key == "carried") {
      carried = rest;
    } else if (key == "fft") {
      std::int32_t n = 0;
      double a = -1, b = -1;
      values >> n >> a >> b;
      ours[n] = a;
      fftw[n] = b;
    } else if (key == "computepi") {
      values >> computePi;
    } else if (key == "transforms") {
      std::int32_t n = 0;
      std::int64_t count = 0;
      values >> n >> count;
      transforms[n] = count;
    } else if (key == "roundoff") {
      roundOff = rest;
    } else if (key == "program") {
      values >> programSeconds >> programKiB;
    }
  }
  return true;
}

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

void SummaryReporter::Collect(BenchResults& results) const {
  for (std::int32_t n = 2; n <= kMaxFftSize; n *= 2) {
    const double ours = Seconds("FftTransform/" + std::to_string(n));
    const double fftw = Seconds("Fftw/" + std::to_string(n));
    if (ours <= 0 || fftw <= 0) continue;
    results.ours[n] = ours;
    results.fftw[n] = fftw;
  }
  results.computePi = Seconds("ComputePi");
}

void PrintSummary(std::ostream& out, const std::vector<BenchResults>& builds) {
  if (builds.empty()) return;
  out << "\nProcessor: " << builds.front().processor << "\n";
  for (const BenchResults& build : builds) {
    out << BitsName(build.bits) << ": carries the kernels " << build.carried;
    if (!build.kernel.empty()) out << "; runs " << build.kernel << " here";
    out << "\n";
  }

  out << "\nFftTransform beside FFTW of the same bitness (CPU time per "
         "transform, the least of the repetitions)\n        ";
  for (const BenchResults& build : builds) out << "    " << Padded(BitsName(build.bits), 34);
  out << "\n    size";
  for (std::size_t b = 0; b < builds.size(); ++b) {
    out << "    FftTransform         FFTW   ratio";
  }
  out << "\n";
  for (std::int32_t n = 2; n <= kMaxFftSize; n *= 2) {
    bool any = false;
    for (const BenchResults& build : builds) any = any || Get(build.ours, n) > 0;
    if (!any) continue;
    out << Format("%8.0f", n);
    for (const BenchResults& build : builds) {
      const double ours = Get(build.ours, n), fftw = Get(build.fftw, n);
      if (ours <= 0 || fftw <= 0) {
        out << Padded("         not run", 38);
        continue;
      }
      out << Format("  %11.3f us  %9.3f us", ours * 1e6, fftw * 1e6)
          << Format("  %6.2f", ours / fftw);
    }
    out << "\n";
  }

  out << "\n" << Padded("Targets", 40);
  for (const BenchResults& build : builds) out << Padded(BitsName(build.bits), 34);
  out << "\n";
  TargetLine(out, "FftTransform(32768) / FFTW", builds, [](const BenchResults& b) {
    return Get(b.ours, 32768) <= 0 || Get(b.fftw, 32768) <= 0
               ? std::string("not measured")
               : Against("%.2f <= %.2f", Get(b.ours, 32768) / Get(b.fftw, 32768),
                         TargetsOf(b.bits).transform32768);
  });
  TargetLine(out, "Worst size 64..16384 / FFTW", builds, [](const BenchResults& b) {
    double worst = 0;
    std::int32_t at = 0;
    for (std::int32_t n = kEverySizeFrom; n <= kEverySizeTo; n *= 2) {
      if (Get(b.ours, n) <= 0 || Get(b.fftw, n) <= 0) continue;
      const double ratio = Get(b.ours, n) / Get(b.fftw, n);
      if (ratio > worst) worst = ratio, at = n;
    }
    return at == 0 ? std::string("not measured")
                   : Against("%.2f <= %.2f", worst, kEverySizeTarget) + " (" +
                         std::to_string(at) + ")";
  });
  TargetLine(out, "ComputePi / FFTW's 32768-point time", builds,
             [](const BenchResults& b) {
               return b.computePi <= 0 || Get(b.fftw, 32768) <= 0
                          ? std::string("not measured")
                          : Against("%.0f <= %.0f", b.computePi / Get(b.fftw, 32768),
                                    TargetsOf(b.bits).computePi);
             });
  TargetLine(out, "Peak memory of the program (MiB)", builds,
             [](const BenchResults& b) {
               return b.programKiB < 0 ? std::string("not measured")
                                       : Against("%.1f < %.0f", b.programKiB / 1024,
                                                 kPeakMemoryTargetMiB, true);
             });
  const BenchResults* wide = nullptr;
  const BenchResults* narrow = nullptr;
  for (const BenchResults& build : builds) {
    if (build.programSeconds > 0) (build.bits == 32 ? narrow : wide) = &build;
  }
  out << Padded("Whole program, 32-bit / 64-bit CPU time", 40);
  if (wide != nullptr && narrow != nullptr) {
    out << Format("%.3f s / %.3f s = ", narrow->programSeconds, wide->programSeconds)
        << Against("%.2f <= %.2f", narrow->programSeconds / wide->programSeconds,
                   kProgramRatioTarget)
        << "\n";
  } else {
    if (wide != nullptr) out << Format("64-bit %.3f s; ", wide->programSeconds);
    out << "not measured: both programs must run on this machine\n";
  }

  out << "\nLargest round-off distance in one ComputePi (limit "
      << Format("%.3g", kRoundOffLimit) << ")\n";
  for (const BenchResults& build : builds) {
    out << "  " << Padded(BitsName(build.bits), 20)
        << (build.roundOff.empty() ? "not run" : build.roundOff) << "\n";
  }
  out << "Transforms in one ComputePi, counted\n";
  for (const BenchResults& build : builds) {
    out << "  " << Padded(BitsName(build.bits), 20);
    std::int64_t total = 0;
    for (const auto& [size, count] : build.transforms) total += count;
    if (total == 0) {
      out << "not run\n";
      continue;
    }
    out << total << " (";
    const char* separator = "";
    for (const auto& [size, count] : build.transforms) {
      out << separator << size << " points: " << count;
      separator = ", ";
    }
    out << ")\n";
  }
}
