// Helpers for the log and start-up tests: a stand-in executable path and
// weekday, and the record bytes as the file must hold them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/platform.h"

namespace logtest {

// Puts the platform table back as it was, whatever a test replaced.
class CallsGuard {
 public:
  CallsGuard() : saved_(platform::calls) {}
  ~CallsGuard() { platform::calls = saved_; }
  CallsGuard(const CallsGuard&) = delete;
  CallsGuard& operator=(const CallsGuard&) = delete;

 private:
  platform::Calls saved_;
};

inline std::wstring fakeModulePath;
inline int fakeDayOfWeek = 0;

// GetModuleFileName over fakeModulePath, with the platform's contract for a
// path that does not fit: truncated, terminated, and `units` returned.
inline std::uint32_t FakeModuleFileName(wchar_t* buffer, std::uint32_t units) {
  if (units == 0) return 0;
  const std::size_t fits = units - 1;
  const std::size_t copied =
      fakeModulePath.size() < fits ? fakeModulePath.size() : fits;
  fakeModulePath.copy(buffer, copied);
  buffer[copied] = 0;
  return fakeModulePath.size() > fits ? units
                                      : static_cast<std::uint32_t>(copied);
}

inline int FakeDayOfWeek() { return fakeDayOfWeek; }

// Makes the process believe its executable is `exe` and today is `day`, so
// that the log lands inside a scratch directory instead of beside the test
// binary. Restores the table on destruction.
class FakeExecutable {
 public:
  FakeExecutable(const std::filesystem::path& exe, int day) {
    fakeModulePath = exe.wstring();
    fakeDayOfWeek = day;
    platform::calls.getModuleFileName = &FakeModuleFileName;
    platform::calls.getLocalDayOfWeek = &FakeDayOfWeek;
  }

 private:
  CallsGuard guard_;
};

// The path as a string of wchar_t, joined with the platform's separator.
inline std::wstring Join(std::initializer_list<std::wstring> parts) {
  std::wstring joined;
  bool first = true;
  for (const std::wstring& part : parts) {
    if (!first) joined += platform::kPathSeparator;
    joined += part;
    first = false;
  }
  return joined;
}

// An ASCII text as UTF-16LE bytes with its terminating null unit.
inline std::string Utf16Record(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  bytes.append(2, '\0');
  return bytes;
}

// The bytes of one record as the log must hold them.
inline std::string RecordBytes(const std::string& com,
                               const std::string& external,
                               const std::string& message) {
  return Utf16Record("Com info code:0x" + com + ",Api info code:0x0" +
                     ",External info code:0x" + external +
                     ",External information:\r\n" + message + "\r\n\r\n");
}

inline const std::string kByteOrderMark = "\xFF\xFE";

}  // namespace logtest
