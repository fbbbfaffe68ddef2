#include "cores/options.h"

#include <algorithm>

#include "platform/utf8.h"

namespace cores {

const char kUsage[] =
    "Usage: TavrexCores [options]\n"
    "Runs Tavrex again and again, each run held to one core, and names the cores\n"
    "whose runs fail.\n"
    "  --each TIME        one core at a time, TIME on each (the default, 10s)\n"
    "  --all TIME         every chosen core at once, for TIME\n"
    "  --cores LIST       the cores, in this order: 0,2,4-7 (default: every core)\n"
    "  --cycles N         with --each, go through the cores N times (default 1)\n"
    "  --run-limit TIME   a run that lasts longer fails (default 60s)\n"
    "  --stop-on-failure  stop at the first failed run\n"
    "  --report FILE      write every run to FILE as CSV\n"
    "  --program FILE     the program to run (default: Tavrex beside TavrexCores)\n"
    "  --work DIR         where the runs' directories go (default: the current one)\n"
    "TIME is seconds, or a number with s, m or h: 30, 2.5m, 1h.\n"
    "Exit code: 0 every run passed, 1 a core failed, 2 bad arguments or nothing tested.\n";

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<char32_t>(text[i]);
    // wchar_t is UTF-16 on Windows: a pair is one code point.
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      const auto low = static_cast<char32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    platform::AppendUtf8(out, c);
  }
  return out;
}

namespace {

// A time: a number with an optional fraction and unit, above zero.
bool ParseTime(const std::wstring& text, double& seconds) {
  double value = 0, scale = 0;
  bool digits = false;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c >= L'0' && c <= L'9') {
      digits = true;
      if (scale == 0) {
        value = value * 10 + (c - L'0');
      } else {
        value += (c - L'0') * scale;
        scale /= 10;
      }
    } else if (c == L'.' && scale == 0) {
      scale = 0.1;
    } else {
      break;
    }
  }
  const std::wstring unit = text.substr(i);
  if (unit == L"m") {
    value *= 60;
  } else if (unit == L"h") {
    value *= 3600;
  } else if (!unit.empty() && unit != L"s") {
    return false;
  }
  // Beyond a year is surely a mistake, and keeps the milliseconds in range.
  if (!digits || value <= 0 || value > 366.0 * 24 * 3600) return false;
  seconds = value;
  return true;
}

bool ParseNumber(const std::wstring& text, std::uint32_t& number) {
  if (text.empty() || text.size() > 6) return false;
  number = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    number = number * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  return true;
}

// "0,2,4-7": in order, each core once.
bool ParseCores(const std::wstring& text, std::vector<std::uint32_t>& cores,
                std::string& error) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t comma = text.find(L',', at);
    if (comma == std::wstring::npos) comma = text.size();
    const std::wstring item = text.substr(at, comma - at);
    const std::size_t dash = item.find(L'-');
    std::uint32_t first = 0, last = 0;
    const bool ok = dash == std::wstring::npos
                        ? ParseNumber(item, first) && ParseNumber(item, last)
                        : ParseNumber(item.substr(0, dash), first) &&
                              ParseNumber(item.substr(dash + 1), last) && first <= last;
    if (!ok) {
      error = "--cores: \"" + Utf8(item) + "\" is not a core or a range of cores like 4-7";
      return false;
    }
    for (std::uint32_t core = first; core <= last; ++core) {
      if (std::find(cores.begin(), cores.end(), core) != cores.end()) {
        error = "--cores: core " + std::to_string(core) + " is named twice";
        return false;
      }
      cores.push_back(core);
    }
    at = comma + 1;
  }
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options,
                  std::string& error) {
  bool modeGiven = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::wstring name = arguments[i];
    std::wstring value;
    bool hasValue = false;
    const std::size_t equals = name.find(L'=');
    if (name.rfind(L"--", 0) == 0 && equals != std::wstring::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      hasValue = true;
    }
    const auto takeValue = [&]() {
      if (hasValue) return true;
      if (i + 1 >= arguments.size()) {
        error = Utf8(name) + " needs a value";
        return false;
      }
      value = arguments[++i];
      return true;
    };
    const auto badTime = [&] {
      error = Utf8(name) + ": \"" + Utf8(value) +
              "\" is not a time above zero (seconds, or a number with s, m or h)";
      return false;
    };
    if (name == L"--help" || name == L"-h" || name == L"/?") {
      options.help = true;
    } else if (name == L"--each" || name == L"--all") {
      if (modeGiven) {
        error = "give one of --each and --all";
        return false;
      }
      modeGiven = true;
      options.allAtOnce = name == L"--all";
      if (!takeValue()) return false;
      if (!ParseTime(value, options.seconds)) return badTime();
    } else if (name == L"--run-limit") {
      if (!takeValue()) return false;
      if (!ParseTime(value, options.runLimit)) return badTime();
    } else if (name == L"--cycles") {
      if (!takeValue()) return false;
      if (!ParseNumber(value, options.cycles) || options.cycles == 0) {
        error = "--cycles: \"" + Utf8(value) + "\" is not a number above zero";
        return false;
      }
    } else if (name == L"--cores") {
      if (!takeValue()) return false;
      options.cores.clear();
      if (!ParseCores(value, options.cores, error)) return false;
    } else if (name == L"--stop-on-failure" && !hasValue) {
      options.stopOnFailure = true;
    } else if (name == L"--program" || name == L"--report" || name == L"--work") {
      if (!takeValue()) return false;
      if (value.empty()) {
        error = Utf8(name) + " needs a value";
        return false;
      }
      (name == L"--program" ? options.program
                            : name == L"--report" ? options.report : options.work) = value;
    } else {
      error = "unknown argument \"" + Utf8(arguments[i]) + "\" (--help lists the options)";
      return false;
    }
  }
  if (options.cycles != 1 && options.allAtOnce) {
    error = "--cycles goes with --each, not with --all";
    return false;
  }
  return true;
}

}  // namespace cores
