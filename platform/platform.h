// The one door to the operating system and the C runtime.
//
// Every call the program makes to the system goes through the table `Calls`.
// Production code calls the wrappers below (platform::ReadFile, ...), each an
// inline jump through the table; a test replaces any entry to make that call
// fail or misbehave (see tests/support/fault.h) and restores the table
// afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

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
// Whether a last-error code says that a name does not exist.
bool IsNotFound(std::uint32_t code);
// Directory separator of the platform's paths.
extern const wchar_t kPathSeparator;
// What the platform's executables' names end with: "" on POSIX, ".exe" on
// Windows.
extern const wchar_t* const kExecutableSuffix;

// A started process. kNoProcess is what a failed start returns.
using ProcessHandle = std::uintptr_t;
inline constexpr ProcessHandle kNoProcess = 0;

enum class ProcessWait : std::uint8_t { Exited, TimedOut, Failed };

// How a process ended: its exit code, or, when it crashed, the signal
// (POSIX) or exception code (Windows) that ended it.
struct ProcessExit {
  std::uint32_t code = 0;
  bool crashed = false;
};

// Every call, once; the table, its wrappers, the backends' declarations and
// the tests' fault injector are all made from this list.
//   CALL(Name, member, signature, failure): a call on memory, files or
//     directories, which the fault injector counts and can fail. `failure`
//     is what the call returns when it fails; NoFailure{} for a call that
//     cannot fail, which is only counted.
//   STATE(Name, member, signature): the thread's error code, the clock and
//     the generator, which never fail and are left alone.
// platform::Name() jumps through the entry Calls::member, which each
// backend provides as backend::member.
#define TAVREX_PLATFORM_CALLS(CALL, STATE)                                    \
  /* Memory. kAllocZeroInit gives zeroed bytes. */                            \
  CALL(LocalAlloc, localAlloc, void*(std::uint32_t flags, std::size_t bytes), \
       nullptr)                                                               \
  CALL(LocalFree, localFree, void(void* block), NoFailure{})                  \
  /* Files. Names are relative to the current directory unless absolute. */   \
  CALL(CreateFile, createFile,                                                \
       FileHandle(const wchar_t* name, Disposition disposition, Share share), \
       kInvalidFile)                                                          \
  CALL(CloseHandle, closeHandle, bool(FileHandle file), false)                \
  /* Positions the next read or write at `offset` bytes from the start. */    \
  CALL(SetFilePointer, setFilePointer,                                        \
       bool(FileHandle file, std::uint32_t offset), false)                    \
  /* Both report the bytes actually moved in *done; a short count is not an   \
     error here, the caller decides. */                                       \
  CALL(ReadFile, readFile,                                                    \
       bool(FileHandle file, void* buffer, std::uint32_t count,               \
            std::uint32_t* done),                                             \
       false)                                                                 \
  CALL(WriteFile, writeFile,                                                  \
       bool(FileHandle file, const void* buffer, std::uint32_t count,         \
            std::uint32_t* done),                                             \
       false)                                                                 \
  CALL(FlushFileBuffers, flushFileBuffers, bool(FileHandle file), false)      \
  CALL(GetFileSize, getFileSize, std::uint32_t(FileHandle file),              \
       kInvalidFileSize)                                                      \
  /* Whole-file copy by name, overwriting the target. Succeeds while this     \
     process holds either file open. */                                       \
  CALL(CopyFile, copyFile, bool(const wchar_t* from, const wchar_t* to),      \
       false)                                                                 \
  CALL(DeleteFile, deleteFile, bool(const wchar_t* name), false)              \
  /* The thread's last-error code (GetLastError, or errno on POSIX). */       \
  STATE(GetLastError, getLastError, std::uint32_t())                          \
  STATE(SetLastError, setLastError, void(std::uint32_t code))                 \
  /* Directories and paths. Buffers hold `units` code units with terminator.  \
     Returns the length written, or `units` when the path did not fit (the    \
     buffer is then left terminated but truncated), or 0 on failure. */      \
  CALL(GetModuleFileName, getModuleFileName,                                  \
       std::uint32_t(wchar_t* buffer, std::uint32_t units), 0u)               \
  /* Returns the length, 0 on failure, or the units needed when too small. */ \
  CALL(GetCurrentDirectory, getCurrentDirectory,                              \
       std::uint32_t(std::uint32_t units, wchar_t* buffer), 0u)               \
  CALL(SetCurrentDirectory, setCurrentDirectory, bool(const wchar_t* path),   \
       false)                                                                 \
  CALL(CreateDirectory, createDirectory, bool(const wchar_t* path), false)    \
  CALL(GetFileAttributes, getFileAttributes,                                  \
       std::uint32_t(const wchar_t* path), kInvalidAttributes)                \
  /* Removes a file, or a directory with everything in it. */                \
  CALL(RemoveTree, removeTree, bool(const wchar_t* path), false)              \
  /* Processes, for the core tester; the program itself starts none. Starts  \
     `program` with no arguments in `directory`, held to the cores of the     \
     mask `cores` before it runs any code of its own. */                      \
  CALL(CreateProcess, createProcess,                                          \
       ProcessHandle(const wchar_t* program, const wchar_t* directory,        \
                     std::uint64_t cores),                                    \
       kNoProcess)                                                            \
  /* Waits up to `milliseconds` for the process to end; once it has, *end     \
     says how. */                                                             \
  CALL(WaitForProcess, waitForProcess,                                        \
       ProcessWait(ProcessHandle process, std::uint32_t milliseconds,         \
                   ProcessExit* end),                                         \
       ProcessWait::Failed)                                                   \
  CALL(TerminateProcess, terminateProcess, bool(ProcessHandle process), false) \
  /* Releases a process that was waited for to its end. */                    \
  CALL(CloseProcess, closeProcess, void(ProcessHandle process), NoFailure{})  \
  /* Logical cores of the machine; 0 on failure. */                           \
  CALL(GetCoreCount, getCoreCount, std::uint32_t(), 0u)                       \
  /* Masks of the cores this process runs on and of those a process may be    \
     given, core 0 the lowest bit. */                                         \
  CALL(GetProcessAffinity, getProcessAffinity,                                \
       bool(std::uint64_t* own, std::uint64_t* system), false)                \
  /* Clock and the runtime's generator. */                                    \
  STATE(GetLocalDayOfWeek, getLocalDayOfWeek, int()) /* 0 Sunday...6 */       \
  STATE(Time, time, std::int64_t()) /* seconds */                             \
  STATE(Milliseconds, milliseconds, std::uint64_t()) /* steady, from boot */   \
  STATE(Pause, pause, void(std::uint32_t milliseconds))                      \
  STATE(Srand, srand, void(unsigned seed))                                    \
  STATE(Rand, rand, int()) /* 0 ... 32767 */

// The failure value of a call that cannot fail.
struct NoFailure {};

struct Calls {
#define TAVREX_ENTRY(Name, member, signature, ...) \
  std::add_pointer_t<signature> member;
  TAVREX_PLATFORM_CALLS(TAVREX_ENTRY, TAVREX_ENTRY)
#undef TAVREX_ENTRY
};

// The table in force. Tests may assign to its entries; Restore() puts back
// the backend's own.
extern Calls calls;
// The backend's own table, never modified.
const Calls& RealCalls();
void Restore();

// The wrapper of an entry: a function of the entry's own signature.
template <auto kMember, typename = decltype(kMember)>
struct Wrapper;
template <auto kMember, typename R, typename... A>
struct Wrapper<kMember, R (*Calls::*)(A...)> {
  static R Invoke(A... args) { return (calls.*kMember)(args...); }
};

#define TAVREX_WRAPPER(Name, member, ...) \
  inline constexpr auto& Name = Wrapper<&Calls::member>::Invoke;
TAVREX_PLATFORM_CALLS(TAVREX_WRAPPER, TAVREX_WRAPPER)
#undef TAVREX_WRAPPER

}  // namespace platform
