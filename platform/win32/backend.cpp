// Win32 backend: the KERNEL32 calls themselves, plus one repair.
//
// Files are opened for read and write with FILE_SHARE_READ (temporary number
// files) or FILE_SHARE_READ | FILE_SHARE_WRITE (the log). A by-name CopyFileW
// from or onto a file this process holds open that way fails with
// ERROR_SHARING_VIOLATION, yet the number store copies between files it holds
// open. So the backend remembers every handle it opened, with the file's full
// path, until it is closed. A copy between two files neither of which is held
// is CopyFileW itself. When either side is held, the bytes go through the
// held handle (or a fresh handle for the side that is not held): the source
// from offset 0 to its end, the target from offset 0 and cut at the end of
// the copy. The held handles' file positions are put back afterwards.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The platform layer's wrappers share their names with these macros.
#undef CreateFile
#undef CopyFile
#undef DeleteFile
#undef GetModuleFileName
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef CreateDirectory
#undef GetFileAttributes
#undef CreateProcess

#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string>

#include "platform/backend.h"
#include "platform/entry.h"
#include "platform/platform.h"

namespace platform {

const std::uint32_t kErrorFileExists = ERROR_FILE_EXISTS;
const wchar_t kPathSeparator = L'\\';
const wchar_t* const kExecutableSuffix = L".exe";

bool IsNotFound(std::uint32_t code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

std::vector<std::wstring> Arguments(int argc, wchar_t** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
  return arguments;
}

namespace backend {

namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Keeps the last-error code across book-keeping calls.
class KeepLastError {
 public:
  KeepLastError() : saved_(::GetLastError()) {}
  ~KeepLastError() { ::SetLastError(saved_); }

 private:
  DWORD saved_;
};

// The full path of a name, allocated with malloc; null on failure.
wchar_t* FullPath(const wchar_t* name) {
  const DWORD needed = ::GetFullPathNameW(name, 0, nullptr, nullptr);
  if (needed == 0) return nullptr;
  auto* path = static_cast<wchar_t*>(std::malloc(needed * sizeof(wchar_t)));
  if (path == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const DWORD length = ::GetFullPathNameW(name, needed, path, nullptr);
  if (length == 0 || length >= needed) {
    std::free(path);
    return nullptr;
  }
  return path;
}

// Handles this process holds open, with their files' full paths. Plain
// pointers, no destructor: handles may still be closed by exit handlers that
// run after this translation unit's own static objects are gone.
struct HeldFile {
  HANDLE handle;
  wchar_t* path;
};
HeldFile* heldFiles = nullptr;
std::size_t heldCount = 0;
std::size_t heldCapacity = 0;

// Without an entry a file can still be used; only copies involving it then
// meet the sharing violation.
void RememberHeld(HANDLE handle, const wchar_t* name) {
  KeepLastError keep;
  if (heldCount == heldCapacity) {
    const std::size_t capacity = heldCapacity == 0 ? 16 : heldCapacity * 2;
    void* grown = std::realloc(heldFiles, capacity * sizeof(HeldFile));
    if (grown == nullptr) return;
    heldFiles = static_cast<HeldFile*>(grown);
    heldCapacity = capacity;
  }
  wchar_t* path = FullPath(name);
  if (path == nullptr) return;
  heldFiles[heldCount++] = HeldFile{handle, path};
}

void ForgetHeld(HANDLE handle) {
  for (std::size_t i = 0; i < heldCount; ++i) {
    if (heldFiles[i].handle == handle) {
      std::free(heldFiles[i].path);
      heldFiles[i] = heldFiles[--heldCount];
      return;
    }
  }
}

// Windows file names compare without regard to case.
HANDLE FindHeld(const wchar_t* path) {
  for (std::size_t i = 0; i < heldCount; ++i) {
    if (::_wcsicmp(heldFiles[i].path, path) == 0) return heldFiles[i].handle;
  }
  return nullptr;
}

bool Position(HANDLE file, LONGLONG& offset) {
  LARGE_INTEGER where;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!::SetFilePointerEx(file, zero, &where, FILE_CURRENT)) return false;
  offset = where.QuadPart;
  return true;
}

bool Seek(HANDLE file, LONGLONG offset) {
  LARGE_INTEGER where;
  where.QuadPart = offset;
  return ::SetFilePointerEx(file, where, nullptr, FILE_BEGIN) != 0;
}

// Copies all of `in` over `out` from offset 0 and ends `out` there.
bool Stream(HANDLE in, HANDLE out) {
  if (!Seek(in, 0) || !Seek(out, 0)) return false;
  char buffer[16384];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(in, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) break;
    DWORD put = 0;
    if (!::WriteFile(out, buffer, got, &put, nullptr)) return false;
    if (put != got) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
  }
  return ::SetEndOfFile(out) != 0;
}

// The copy when either file is held: through the held handles, fresh
// handles with full sharing for a side that is not held.
bool CopyThroughHandles(const wchar_t* from, HANDLE heldIn, const wchar_t* to,
                        HANDLE heldOut) {
  HANDLE in = heldIn;
  if (in == nullptr) {
    in = ::CreateFileW(from, GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
  }
  HANDLE out = heldOut;
  if (out == nullptr) {
    out = ::CreateFileW(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      if (heldIn == nullptr) {
        KeepLastError keep;
        ::CloseHandle(in);
      }
      return false;
    }
  }
  LONGLONG inAt = 0;
  LONGLONG outAt = 0;
  bool ok = (heldIn == nullptr || Position(in, inAt)) &&
            (heldOut == nullptr || Position(out, outAt)) && Stream(in, out);
  {
    KeepLastError keep;
    if (heldIn != nullptr) Seek(in, inAt);
    if (heldOut != nullptr) Seek(out, outAt);
    if (heldIn == nullptr) ::CloseHandle(in);
    if (heldOut == nullptr && !::CloseHandle(out)) ok = false;
  }
  return ok;
}

}  // namespace

void* localAlloc(std::uint32_t flags, std::size_t bytes) {
  return ::LocalAlloc(flags, bytes);
}

void localFree(void* block) { ::LocalFree(block); }

FileHandle createFile(const wchar_t* name, Disposition disposition,
                      Share share) {
  DWORD creation = OPEN_EXISTING;
  switch (disposition) {
    case Disposition::CreateNew:
      creation = CREATE_NEW;
      break;
    case Disposition::OpenExisting:
      creation = OPEN_EXISTING;
      break;
    case Disposition::CreateAlways:
      creation = CREATE_ALWAYS;
      break;
  }
  const DWORD sharing = share == Share::Read
                            ? FILE_SHARE_READ
                            : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, sharing,
                              nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
  RememberHeld(file, name);
  return reinterpret_cast<FileHandle>(file);
}

bool closeHandle(FileHandle file) {
  ForgetHeld(ToHandle(file));
  return ::CloseHandle(ToHandle(file)) != 0;
}

bool setFilePointer(FileHandle file, std::uint32_t offset) {
  // With a high part the offset is read unsigned, and the all-ones low word
  // is not mistaken for failure.
  LONG high = 0;
  ::SetLastError(NO_ERROR);
  const DWORD low = ::SetFilePointer(ToHandle(file), static_cast<LONG>(offset),
                                     &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR;
}

bool readFile(FileHandle file, void* buffer, std::uint32_t count,
              std::uint32_t* done) {
  DWORD moved = 0;
  const BOOL ok = ::ReadFile(ToHandle(file), buffer, count, &moved, nullptr);
  if (done != nullptr) *done = moved;
  return ok != 0;
}

bool writeFile(FileHandle file, const void* buffer, std::uint32_t count,
               std::uint32_t* done) {
  DWORD moved = 0;
  const BOOL ok = ::WriteFile(ToHandle(file), buffer, count, &moved, nullptr);
  if (done != nullptr) *done = moved;
  return ok != 0;
}

bool flushFileBuffers(FileHandle file) {
  return ::FlushFileBuffers(ToHandle(file)) != 0;
}

std::uint32_t getFileSize(FileHandle file) {
  // Without its high part the size of a file of 4 GiB or more would wrap;
  // such a file is too large for the 32-bit answer, as on POSIX.
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(ToHandle(file), &size)) return kInvalidFileSize;
  if (size.QuadPart >= static_cast<LONGLONG>(kInvalidFileSize)) {
    ::SetLastError(ERROR_FILE_TOO_LARGE);
    return kInvalidFileSize;
  }
  return static_cast<std::uint32_t>(size.QuadPart);
}

bool copyFile(const wchar_t* from, const wchar_t* to) {
  wchar_t* fromPath = FullPath(from);
  wchar_t* toPath = fromPath == nullptr ? nullptr : FullPath(to);
  bool ok;
  if (toPath == nullptr) {
    ok = ::CopyFileW(from, to, FALSE) != 0;
  } else if (::_wcsicmp(fromPath, toPath) == 0) {
    // A file copied onto itself already is its copy.
    ok = ::GetFileAttributesW(from) != INVALID_FILE_ATTRIBUTES;
  } else {
    HANDLE in = FindHeld(fromPath);
    HANDLE out = FindHeld(toPath);
    ok = in == nullptr && out == nullptr
             ? ::CopyFileW(from, to, FALSE) != 0
             : CopyThroughHandles(from, in, to, out);
  }
  KeepLastError keep;
  std::free(fromPath);
  std::free(toPath);
  return ok;
}

bool deleteFile(const wchar_t* name) { return ::DeleteFileW(name) != 0; }

std::uint32_t getLastError() { return ::GetLastError(); }

void setLastError(std::uint32_t code) { ::SetLastError(code); }

std::uint32_t getModuleFileName(wchar_t* buffer, std::uint32_t units) {
  if (units == 0) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, units);
  // Older systems leave a path that fills the buffer unterminated.
  if (length >= units) {
    buffer[units - 1] = 0;
    return units;
  }
  return length;
}

std::uint32_t getCurrentDirectory(std::uint32_t units, wchar_t* buffer) {
  return ::GetCurrentDirectoryW(units, buffer);
}

bool setCurrentDirectory(const wchar_t* path) {
  return ::SetCurrentDirectoryW(path) != 0;
}

bool createDirectory(const wchar_t* path) {
  return ::CreateDirectoryW(path, nullptr) != 0;
}

std::uint32_t getFileAttributes(const wchar_t* path) {
  return ::GetFileAttributesW(path);
}

// By hand rather than by the standard library's filesystem, which the
// static executable would carry whole, the program's own image included.
// A link to a directory goes, not what it names; a name that is not there
// is removed already.
bool removeTree(const wchar_t* path) {
  const DWORD attributes = ::GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ::SetFileAttributesW(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    return ::DeleteFileW(path) != 0;
  }
  bool emptied = true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    const std::wstring directory = std::wstring(path) + L"\\";
    WIN32_FIND_DATAW entry;
    const HANDLE search = ::FindFirstFileW((directory + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
          emptied = removeTree((directory + name).c_str()) && emptied;
        }
      } while (::FindNextFileW(search, &entry));
      ::FindClose(search);
    }
  }
  return ::RemoveDirectoryW(path) != 0 && emptied;
}

ProcessHandle createProcess(const wchar_t* program, const wchar_t* directory,
                            std::uint64_t cores) {
  const auto mask = static_cast<DWORD_PTR>(cores);
  if (mask != cores || mask == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kNoProcess;
  }
  // A crash ends the process with its exception code instead of waiting
  // on a dialog; children inherit the error mode.
  static const UINT quiet = ::SetErrorMode(::SetErrorMode(0) | SEM_FAILCRITICALERRORS |
                                           SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  (void)quiet;
  std::wstring command = L"\"";
  command += program;
  command += L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  // Suspended until it is held to its cores, so that none of its code runs
  // elsewhere.
  if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, directory, &startup, &started)) {
    return kNoProcess;
  }
  if (!::SetProcessAffinityMask(started.hProcess, mask) ||
      ::ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
    KeepLastError keep;
    ::TerminateProcess(started.hProcess, 1);
    ::WaitForSingleObject(started.hProcess, INFINITE);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return kNoProcess;
  }
  ::CloseHandle(started.hThread);
  return reinterpret_cast<ProcessHandle>(started.hProcess);
}

ProcessWait waitForProcess(ProcessHandle process, std::uint32_t milliseconds,
                           ProcessExit* end) {
  const HANDLE handle = reinterpret_cast<HANDLE>(process);
  switch (::WaitForSingleObject(handle, milliseconds)) {
    case WAIT_OBJECT_0: {
      DWORD code = 0;
      if (!::GetExitCodeProcess(handle, &code)) return ProcessWait::Failed;
      if (end != nullptr) {
        // Exception codes carry the error severity in their top bits.
        end->code = code;
        end->crashed = code >= 0xC0000000u;
      }
      return ProcessWait::Exited;
    }
    case WAIT_TIMEOUT:
      return ProcessWait::TimedOut;
    default:
      return ProcessWait::Failed;
  }
}

bool terminateProcess(ProcessHandle process) {
  return ::TerminateProcess(reinterpret_cast<HANDLE>(process), 1) != 0;
}

void closeProcess(ProcessHandle process) { ::CloseHandle(reinterpret_cast<HANDLE>(process)); }

std::uint32_t getCoreCount() { return ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS); }

bool getProcessAffinity(std::uint64_t* own, std::uint64_t* system) {
  DWORD_PTR process = 0, machine = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &machine)) return false;
  if (own != nullptr) *own = process;
  if (system != nullptr) *system = machine;
  return true;
}

int getLocalDayOfWeek() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return now.wDayOfWeek;
}

std::int64_t time() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::uint64_t milliseconds() { return ::GetTickCount64(); }

void pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void srand(unsigned seed) { std::srand(seed); }

int rand() { return std::rand() & 0x7FFF; }

}  // namespace backend

}  // namespace platform
