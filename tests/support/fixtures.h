// Shared test scaffolding: a scratch working directory, a fresh work pool, a
// log captured into a file, and readers for what they leave behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/log_reader.h"
#include "platform/platform.h"
#include "store/work_pool.h"

namespace testsupport {

// Makes a new empty directory the current one for the life of the object,
// then goes back and removes it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  // Names of the regular files directly inside it.
  std::vector<std::string> Files() const;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Reads a whole file into bytes ("" when it does not exist).
std::string ReadBytes(const std::filesystem::path& file);

// The records of a log file, failing the test if it is not well formed,
// and just their messages, narrowed to ASCII.
std::vector<LogRecord> ReadLog(const std::filesystem::path& file);
std::vector<std::string> LogMessages(const std::filesystem::path& file);

// Points the process log at a file of its own in the current directory and
// restores the previous log on destruction.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  // The records written since construction, and their messages.
  std::vector<LogRecord> Records() const { return ReadLog(file_); }
  std::vector<std::string> Messages() const { return LogMessages(file_); }

 private:
  LogFile saved_;
  std::filesystem::path file_;
};

// A freshly initialised pool; on destruction checks that every block was
// given back, then frees it.
class PoolScope {
 public:
  PoolScope();
  ~PoolScope();
  // Number of blocks of the kind with a non-zero counter.
  static std::uint32_t Held(int kind);
};

// Narrows a wide ASCII string.
std::string Narrow(const std::wstring& text);

// Whether the long runs are asked for in full (TAVREX_SWEEP=full, make sweep).
bool FullSweep();

// The command that runs a program of this build: empty natively, the
// emulator and its arguments for a build that runs under one.
const char* EmulatorCommand();

// Under emulation the floating point runs some hundred times slower than on
// the machine: one whole computation of pi takes minutes, a square root
// one. There the tests that compute them in whole are sampled, skipped
// with this message, unless the long runs are asked for.
#define TAVREX_SAMPLED_UNDER_EMULATION()                                  \
  if (*testsupport::EmulatorCommand() != 0 && !testsupport::FullSweep()) \
  GTEST_SKIP() << "sampled under emulation, where it takes minutes: "      \
                  "TAVREX_SWEEP=full runs it"

}  // namespace testsupport
