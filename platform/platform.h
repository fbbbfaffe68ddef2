// The one door to the operating system and the C runtime.
//
// Every call the program makes to the system goes through the table `Calls`.
// Production code calls the wrappers below (platform::ReadFile, ...), each an
// inline jump through the table; a test replaces any entry to make that call
// fail or misbehave (see platform/fault.h) and restores the table afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An open file. kNullFile is "never opened"; kInvalidFile (all bits set) is
// what a failed creation returns.
using FileHandle = std::uintptr_t;
inline constexpr FileHandle kNullFile = 0;
inline constexpr FileHandle kInvalidFile = ~FileHandle{0};

// LocalAlloc flags.
inline constexpr std::uint32_t kAllocFixed = 0x00;
inline constexpr std::uint32_t kAllocZeroInit = 0x40;

enum class Disposition : std::uint8_t {
  CreateNew,     // fail with kErrorFileExists when the name exists
  OpenExisting,  // fail when the name does not exist
  CreateAlways,  // create, or truncate an existing file
};

// Sharing granted to other openers; access is always read and write.
enum class Share : std::uint8_t { Read, ReadWrite };

inline constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
inline constexpr std::uint32_t kAttributeDirectory = 0x10u;

// Buffer size, in code units with the terminator, of every path the program
// forms.
inline constexpr std::uint32_t kPathUnits = 500;

// Last-error code of a CreateNew on an existing name: 80 on Windows, EEXIST
// on POSIX.
extern const std::uint32_t kErrorFileExists;
// Directory separator of the platform's paths.
extern const wchar_t kPathSeparator;

struct Calls {
  // Memory. Returns null on failure; kAllocZeroInit gives zeroed bytes.
  void* (*localAlloc)(std::uint32_t flags, std::size_t bytes);
  void (*localFree)(void* block);

  // Files. Names are relative to the current directory unless absolute.
  FileHandle (*createFile)(const wchar_t* name, Disposition disposition,
                           Share share);
  bool (*closeHandle)(FileHandle file);
  // Positions the next read or write at `offset` bytes from the start.
  bool (*setFilePointer)(FileHandle file, std::uint32_t offset);
  // Both report the bytes actually moved in *done; a short count is not an
  // error here, the caller decides.
  bool (*readFile)(FileHandle file, void* buffer, std::uint32_t count,
                   std::uint32_t* done);
  bool (*writeFile)(FileHandle file, const void* buffer, std::uint32_t count,
                    std::uint32_t* done);
  bool (*flushFileBuffers)(FileHandle file);
  std::uint32_t (*getFileSize)(FileHandle file);  // kInvalidFileSize on failure
  // Whole-file copy by name, overwriting the target. Succeeds while this
  // process holds either file open.
  bool (*copyFile)(const wchar_t* from, const wchar_t* to);
  bool (*deleteFile)(const wchar_t* name);

  // The thread's last-error code (GetLastError, or errno on POSIX).
  std::uint32_t (*getLastError)();
  void (*setLastError)(std::uint32_t code);

  // Directories and paths. Buffers hold `units` code units with terminator.
  // Returns the length written, or `units` when the path did not fit
  // (the buffer is then left terminated but truncated), or 0 on failure.
  std::uint32_t (*getModuleFileName)(wchar_t* buffer, std::uint32_t units);
  // Returns the length, 0 on failure, or the units needed when too small.
  std::uint32_t (*getCurrentDirectory)(std::uint32_t units, wchar_t* buffer);
  bool (*setCurrentDirectory)(const wchar_t* path);
  bool (*createDirectory)(const wchar_t* path);
  std::uint32_t (*getFileAttributes)(const wchar_t* path);

  // Clock and the runtime's generator.
  int (*getLocalDayOfWeek)();  // 0 Sunday ... 6 Saturday
  std::int64_t (*time)();      // seconds
  void (*srand)(unsigned seed);
  int (*rand)();               // 0 ... 32767
};

// The table in force. Tests may assign to its entries; Restore() puts back
// the backend's own.
extern Calls calls;
// The backend's own table, never modified.
const Calls& RealCalls();
void Restore();

inline void* LocalAlloc(std::uint32_t flags, std::size_t bytes) {
  return calls.localAlloc(flags, bytes);
}
inline void LocalFree(void* block) { calls.localFree(block); }
inline FileHandle CreateFile(const wchar_t* name, Disposition disposition,
                             Share share) {
  return calls.createFile(name, disposition, share);
}
inline bool CloseHandle(FileHandle file) { return calls.closeHandle(file); }
inline bool SetFilePointer(FileHandle file, std::uint32_t offset) {
  return calls.setFilePointer(file, offset);
}
inline bool ReadFile(FileHandle file, void* buffer, std::uint32_t count,
                     std::uint32_t* done) {
  return calls.readFile(file, buffer, count, done);
}
inline bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count,
                      std::uint32_t* done) {
  return calls.writeFile(file, buffer, count, done);
}
inline bool FlushFileBuffers(FileHandle file) {
  return calls.flushFileBuffers(file);
}
inline std::uint32_t GetFileSize(FileHandle file) {
  return calls.getFileSize(file);
}
inline bool CopyFile(const wchar_t* from, const wchar_t* to) {
  return calls.copyFile(from, to);
}
inline bool DeleteFile(const wchar_t* name) { return calls.deleteFile(name); }
inline std::uint32_t GetLastError() { return calls.getLastError(); }
inline void SetLastError(std::uint32_t code) { calls.setLastError(code); }
inline std::uint32_t GetModuleFileName(wchar_t* buffer, std::uint32_t units) {
  return calls.getModuleFileName(buffer, units);
}
inline std::uint32_t GetCurrentDirectory(std::uint32_t units, wchar_t* buffer) {
  return calls.getCurrentDirectory(units, buffer);
}
inline bool SetCurrentDirectory(const wchar_t* path) {
  return calls.setCurrentDirectory(path);
}
inline bool CreateDirectory(const wchar_t* path) {
  return calls.createDirectory(path);
}
inline std::uint32_t GetFileAttributes(const wchar_t* path) {
  return calls.getFileAttributes(path);
}
inline int GetLocalDayOfWeek() { return calls.getLocalDayOfWeek(); }
inline std::int64_t Time() { return calls.time(); }
inline void Srand(unsigned seed) { calls.srand(seed); }
inline int Rand() { return calls.rand(); }

}  // namespace platform
