// The diagnostic log: one UTF-16LE file per weekday in the "log" directory
// beside the executable, written one record per call.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct LogFile {
  wchar_t statusText[platform::kPathUnits] = {};
  wchar_t logFileName[platform::kPathUnits] = {};
  std::int32_t logDirEntered = 0;
  platform::FileHandle handle = platform::kNullFile;
  std::int32_t openResult = 0;
};

extern LogFile logFile;

// Writes one record; returns 0 always. Lost while the log is not open.
int WriteLog(const wchar_t* message, std::uint32_t comCode,
             std::uint32_t externalCode);

// A failure record with no platform error code.
inline void LogFailure(const wchar_t* message) { WriteLog(message, 0, 1); }

// Opens the file named by log.logFileName in the log directory; 0 created,
// 1 creation failed, 2 size query failed, 3 byte-order mark not written.
int OpenLogFile(LogFile& log);

// Cuts `path` at its last separator into `out` (both kPathUnits units, may
// alias). Leaves `out` unchanged for a null or over-long path or a directory.
int DirectoryOfPath(const wchar_t* path, wchar_t (&out)[platform::kPathUnits]);

// Safe formatting into a kPathUnits buffer. Returns false, leaving an empty
// string, when the text does not fit.
bool FormatToBuffer(wchar_t (&buffer)[platform::kPathUnits],
                    const wchar_t* format, ...);

// Start-up and shut-down of the process-wide log: names the file from the
// local weekday and opens it; closes it.
void SetUpLog();
void CloseLog();
