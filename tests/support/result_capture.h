// Captures the bytes of every file the program forces to disk, read back
// through the file's own handle just before the flush. The computation's
// padded result is the only such file, and it is deleted right after, so
// this is the one moment its digits can be seen.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace testsupport {

class FlushCapture {
 public:
  FlushCapture() : saved_(platform::calls.flushFileBuffers) {
    Captured().clear();
    Flushes() = 0;
    Next() = saved_;
    platform::calls.flushFileBuffers = &Hook;
  }
  ~FlushCapture() { platform::calls.flushFileBuffers = saved_; }
  FlushCapture(const FlushCapture&) = delete;
  FlushCapture& operator=(const FlushCapture&) = delete;

  // The bytes of the last file flushed, and how many flushes there were.
  static std::string& Captured() {
    static std::string bytes;
    return bytes;
  }
  static int& Flushes() {
    static int count = 0;
    return count;
  }

 private:
  using FlushFn = bool (*)(platform::FileHandle);
  static FlushFn& Next() {
    static FlushFn next = nullptr;
    return next;
  }
  static bool Hook(platform::FileHandle file) {
    const platform::Calls& real = platform::RealCalls();
    ++Flushes();
    std::string bytes(real.getFileSize(file), '\0');
    std::uint32_t done = 0;
    if (real.setFilePointer(file, 0) &&
        real.readFile(file, bytes.data(),
                      static_cast<std::uint32_t>(bytes.size()), &done)) {
      bytes.resize(done);
      Captured() = bytes;
    }
    return Next()(file);
  }

  FlushFn saved_;
};

}  // namespace testsupport
