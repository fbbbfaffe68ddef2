// Reads a diagnostic log back: the byte-order mark and the records, each in
// the exact record format. Used by the tests and by the run's report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LogRecord {
  std::uint32_t comCode = 0;
  std::uint32_t apiCode = 0;
  std::uint32_t externalCode = 0;
  std::wstring message;
};

// Parses the whole file content. Returns false (with what was parsed so far
// in `records` and the reason in `error`) unless the bytes are exactly a
// byte-order mark followed by well-formed records.
bool ParseLog(const std::string& bytes, std::vector<LogRecord>& records,
              std::string& error);
