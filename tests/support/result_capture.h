// Captures the bytes of every file the program forces to disk, read back
// through the file's own handle just before the flush. The computation's
// padded result is the only such file, and it is deleted right after, so
// this is the one moment its digits can be seen.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace testsupport {

// The whole content of an open file, read beneath any hooks or faults;
// empty when its size cannot be had (taken as a length, the failure value
// would ask for 4 GiB).
inline std::string BytesThroughHandle(platform::FileHandle file) {
  const platform::Calls& real = platform::RealCalls();
  const std::uint32_t size = real.getFileSize(file);
  if (size == platform::kInvalidFileSize) return {};
  std::string bytes(size, '\0');
  std::uint32_t done = 0;
  if (!real.setFilePointer(file, 0) ||
      !real.readFile(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &done)) {
    return {};
  }
  bytes.resize(done);
  return bytes;
}

class FlushCapture {
 public:
  FlushCapture() : saved_(platform::calls.flushFileBuffers) {
    captured.clear();
    flushes = 0;
    next = saved_;
    platform::calls.flushFileBuffers = &Hook;
  }
  ~FlushCapture() { platform::calls.flushFileBuffers = saved_; }
  FlushCapture(const FlushCapture&) = delete;
  FlushCapture& operator=(const FlushCapture&) = delete;

  // The bytes of the last file flushed, and how many flushes there were.
  static inline std::string captured;
  static inline int flushes = 0;

 private:
  using FlushFn = bool (*)(platform::FileHandle);
  static inline FlushFn next = nullptr;
  static bool Hook(platform::FileHandle file) {
    ++flushes;
    captured = BytesThroughHandle(file);
    return next(file);
  }

  FlushFn saved_;
};

}  // namespace testsupport
