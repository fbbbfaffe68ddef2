#include "log/log.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <string>

LogFile logFile;

namespace {

using platform::kPathUnits;

constexpr wchar_t kProgramName[] = L"Tavrex";
constexpr wchar_t kLogDirName[] = L"log";

// Appends one code point as UTF-16LE. wchar_t is UTF-16 on Windows and
// UTF-32 elsewhere; the file is UTF-16LE on every platform.
void AppendCodeUnit(std::string& bytes, std::uint32_t unit) {
  bytes.push_back(static_cast<char>(unit & 0xFF));
  bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

void AppendUtf16Le(std::string& bytes, const wchar_t* text) {
  for (; *text != 0; ++text) {
    const auto c = static_cast<std::uint32_t>(*text);
    if constexpr (sizeof(wchar_t) == 2) {
      AppendCodeUnit(bytes, c);
    } else if (c >= 0x10000 && c <= 0x10FFFF) {
      AppendCodeUnit(bytes, 0xD800 + ((c - 0x10000) >> 10));
      AppendCodeUnit(bytes, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      AppendCodeUnit(bytes, 0xFFFD);  // no UTF-16 form
    } else {
      AppendCodeUnit(bytes, c);
    }
  }
}

// Neither before the opening nor after a failed creation.
bool LogIsOpen() {
  return logFile.handle != platform::kNullFile &&
         logFile.handle != platform::kInvalidFile;
}

// Length of `text` if it fits a kPathUnits buffer with its terminator,
// kPathUnits otherwise. Never reads past the buffer size.
std::size_t BoundedLength(const wchar_t* text) {
  std::size_t length = 0;
  while (length < kPathUnits && text[length] != 0) ++length;
  return length;
}

// Joins directory, separator and name into `out`, which may be `directory`
// itself; false, `out` untouched, when they do not fit.
bool JoinPath(const wchar_t* directory, const wchar_t* name,
              wchar_t (&out)[kPathUnits]) {
  const std::size_t head = BoundedLength(directory);
  const std::size_t tail = BoundedLength(name);
  if (head + 1 + tail >= kPathUnits) return false;
  if (out != directory) std::wmemcpy(out, directory, head);
  out[head] = platform::kPathSeparator;
  std::wmemcpy(out + head + 1, name, tail);
  out[head + 1 + tail] = 0;
  return true;
}

bool IsDirectory(const wchar_t* path) {
  const std::uint32_t attributes = platform::GetFileAttributes(path);
  return attributes != platform::kInvalidAttributes &&
         (attributes & platform::kAttributeDirectory) != 0;
}

// The module path cut to its directory, with the log directory appended, in
// place; false when it cannot be named: no module path, or a path that does
// not fit.
bool NameLogDirectory(wchar_t (&path)[kPathUnits], std::uint32_t length) {
  // A truncated path names some other directory; an empty one would put
  // the log at the root.
  if (length == 0 || length >= kPathUnits || path[0] == 0) return false;
  DirectoryOfPath(path, path);
  return JoinPath(path, kLogDirName, path);
}

int FailOpen(LogFile& log, const wchar_t* format, int result) {
  const auto code = static_cast<std::int32_t>(platform::GetLastError());
  FormatToBuffer(log.statusText, format, static_cast<long>(code));
  return result;
}

// Creates the file `name` (relative to the current directory unless full)
// and writes its byte-order mark.
int CreateLog(LogFile& log, const wchar_t* name) {
  log.handle = platform::CreateFile(name,
                                    platform::Disposition::CreateAlways,
                                    platform::Share::ReadWrite);
  if (log.handle == platform::kInvalidFile) {
    return FailOpen(log, L"CreateFile failed LastErrorCode=%ld", 1);
  }
  if (platform::GetFileSize(log.handle) == platform::kInvalidFileSize) {
    return FailOpen(log, L"GetFileSize failed LastErrorCode=%ld", 2);
  }
  static const unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
  std::uint32_t written = 0;
  const bool ok =
      platform::WriteFile(log.handle, kByteOrderMark, 2, &written);
  if (!ok || written != 2) {
    return FailOpen(log, L"WriteFile failed LastErrorCode=%ld", 3);
  }
  return 0;
}

}  // namespace

int WriteLog(const wchar_t* message, std::uint32_t comCode,
             std::uint32_t externalCode) {
  // Before the log is open, or after it could not be created, the record is
  // lost; no call reaches the system with a handle that names no file.
  if (!LogIsOpen()) return 0;
  // The record is "Com info code:0x%lX,Api info code:0x%lX,External info
  // code:0x%lX,External information:\r\n%s\r\n\r\n" and its terminating
  // null; the head is bounded, the message is not.
  wchar_t head[128];
  std::swprintf(head, sizeof head / sizeof head[0],
                L"Com info code:0x%lX,Api info code:0x%lX,"
                L"External info code:0x%lX,External information:\r\n",
                static_cast<unsigned long>(comCode), 0ul,
                static_cast<unsigned long>(externalCode));
  std::string record;
  AppendUtf16Le(record, head);
  AppendUtf16Le(record, message != nullptr ? message : L"");
  AppendUtf16Le(record, L"\r\n\r\n");
  AppendCodeUnit(record, 0);
  std::uint32_t written = 0;
  platform::WriteFile(logFile.handle, record.data(),
                      static_cast<std::uint32_t>(record.size()), &written);
  return 0;
}

int OpenLogFile(LogFile& log) {
  wchar_t dir[kPathUnits] = {};
  const std::uint32_t moduleLength =
      platform::GetModuleFileName(dir, kPathUnits);
  wchar_t saved[kPathUnits] = {};
  const std::uint32_t savedLength =
      platform::GetCurrentDirectory(kPathUnits, saved);
  // Without the way back the process must not leave its directory: the
  // temporary files are made relative to it.
  const bool canReturn = savedLength > 0 && savedLength < kPathUnits;
  const bool named = NameLogDirectory(dir, moduleLength);

  log.logDirEntered = 0;
  wchar_t fullName[kPathUnits];
  const wchar_t* name = log.logFileName;
  if (named) {
    platform::CreateDirectory(dir);  // an existing directory is fine
    if (canReturn) {
      log.logDirEntered = platform::SetCurrentDirectory(dir) ? 1 : 0;
    } else if (IsDirectory(dir) && JoinPath(dir, log.logFileName, fullName)) {
      // The log still goes beside the executable, named in full. Where
      // there is no such directory (it could not be made, or the module
      // path names none), the log goes to the working directory, as it
      // does when the directory cannot be entered.
      name = fullName;
    }
  }
  const int result = CreateLog(log, name);
  if (canReturn) platform::SetCurrentDirectory(saved);
  return result;
}

int DirectoryOfPath(const wchar_t* path, wchar_t (&out)[kPathUnits]) {
  if (path == nullptr) return 0;
  const std::size_t length = BoundedLength(path);
  if (length >= kPathUnits) return 0;
  wchar_t copy[kPathUnits] = {};
  std::wmemcpy(copy, path, length);
  if (IsDirectory(copy)) return 0;
  // Position 0 stays: a path that starts with its only separator keeps it.
  for (std::size_t i = length; i >= 1; --i) {
    if (copy[i] == platform::kPathSeparator) {
      copy[i] = 0;
      break;
    }
  }
  std::wmemcpy(out, copy, kPathUnits);
  return 0;
}

bool FormatToBuffer(wchar_t (&buffer)[kPathUnits], const wchar_t* format,
                    ...) {
  std::va_list args;
  va_start(args, format);
  const int length = std::vswprintf(buffer, kPathUnits, format, args);
  va_end(args);
  // Runtimes disagree on what a text that does not fit returns (-1, or the
  // length it needed); neither leaves a usable string.
  if (length < 0 || length >= static_cast<int>(kPathUnits)) {
    buffer[0] = 0;
    return false;
  }
  return true;
}

void SetUpLog() {
  CloseLog();  // a second set-up must not leak the first file
  logFile = LogFile{};
  FormatToBuffer(logFile.logFileName, L"%ls-%d.log", kProgramName,
                 platform::GetLocalDayOfWeek());
  logFile.openResult = OpenLogFile(logFile);
}

void CloseLog() {
  if (LogIsOpen()) platform::CloseHandle(logFile.handle);
  logFile.handle = platform::kNullFile;
}
