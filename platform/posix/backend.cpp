// POSIX backend: files over descriptors, errno as the last-error code.
//
// Names arrive as 32-bit wchar_t code points and are handed to the kernel as
// UTF-8. Bytes of a returned path that are not valid UTF-8 come back as the
// code points U+DC80..U+DCFF and are turned into the same bytes on the way
// in, so any path the system hands out can be handed back unchanged.
// 64-bit file offsets on 32-bit systems too: without them fstat and lseek
// fail or wrap on files of 2 GiB and more, and off_t cannot even hold the
// 4 GiB bound of the size query.
#define _FILE_OFFSET_BITS 64

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/backend.h"
#include "platform/entry.h"
#include "platform/platform.h"
#include "platform/utf8.h"

static_assert(sizeof(off_t) == 8, "64-bit file offsets");

namespace platform {

const std::uint32_t kErrorFileExists = EEXIST;
const wchar_t kPathSeparator = L'/';
const wchar_t* const kExecutableSuffix = L"";

bool IsNotFound(std::uint32_t code) { return code == ENOENT || code == ENOTDIR; }

namespace backend {

namespace {

constexpr std::uint32_t kAttributeNormal = 0x80u;

// Keeps errno across clean-up calls that may overwrite it.
class KeepErrno {
 public:
  KeepErrno() : saved_(errno) {}
  ~KeepErrno() { errno = saved_; }

 private:
  int saved_;
};

// Wide name to the kernel's bytes; false (errno EILSEQ) for a code point
// that no name can hold.
bool ToNative(const wchar_t* name, std::string& out) {
  if (name == nullptr) {
    errno = EFAULT;
    return false;
  }
  out.clear();
  for (const wchar_t* p = name; *p != 0; ++p) {
    const auto c = static_cast<char32_t>(*p);
    if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - 0xDC00));  // an escaped raw byte
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      errno = EILSEQ;
      return false;
    } else {
      AppendUtf8(out, c);
    }
  }
  return true;
}

// Length of the well-formed UTF-8 sequence at s (up to end), or 0.
std::size_t SequenceLength(const unsigned char* s, const unsigned char* end,
                           char32_t& c) {
  const unsigned char lead = s[0];
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - s) < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (s[i] & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

std::wstring FromNative(const std::string& text) {
  std::wstring out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = s + text.size();
  while (s < end) {
    char32_t c = *s;
    std::size_t length = 1;
    if (c >= 0x80) {
      length = SequenceLength(s, end, c);
      if (length == 0) c = 0xDC00 + *s, length = 1;
    }
    out.push_back(static_cast<wchar_t>(c));
    s += length;
  }
  return out;
}

// Descriptors travel as fd + 1 so that no open file is ever kNullFile.
FileHandle FromDescriptor(int fd) { return static_cast<FileHandle>(fd) + 1; }

bool ToDescriptor(FileHandle file, int& fd) {
  if (file == kNullFile || file == kInvalidFile || file - 1 > 0x7FFFFFFFu) {
    errno = EBADF;
    return false;
  }
  fd = static_cast<int>(file - 1);
  return true;
}

// Whole-count transfers: retried on interruption and continued after a
// partial transfer; stops short only at end of file or on an error.
template <typename Move>
bool TransferAll(Move move, std::uint32_t count, std::uint32_t& done) {
  done = 0;
  while (done < count) {
    const ssize_t moved = move(done, count - done);
    if (moved < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (moved == 0) break;
    done += static_cast<std::uint32_t>(moved);
  }
  return true;
}

bool ReadAll(int fd, unsigned char* buffer, std::uint32_t count,
             std::uint32_t& done) {
  return TransferAll(
      [&](std::uint32_t at, std::uint32_t left) {
        return ::read(fd, buffer + at, left);
      },
      count, done);
}

bool WriteAll(int fd, const unsigned char* buffer, std::uint32_t count,
              std::uint32_t& done) {
  return TransferAll(
      [&](std::uint32_t at, std::uint32_t left) {
        return ::write(fd, buffer + at, left);
      },
      count, done);
}

void CloseQuietly(int fd) {
  KeepErrno keep;
  ::close(fd);
}

// Copies the rest of `from` into `to` from their current offsets.
bool CopyContents(int from, int to) {
  unsigned char buffer[16384];
  for (;;) {
    std::uint32_t got = 0;
    if (!ReadAll(from, buffer, sizeof buffer, got)) return false;
    if (got == 0) return true;
    std::uint32_t put = 0;
    if (!WriteAll(to, buffer, got, put)) return false;
    if (put != got) {
      errno = ENOSPC;
      return false;
    }
  }
}

// Converts the result of a path query into the caller's buffer: the length,
// or `units` with a truncated terminated copy when it does not fit.
std::uint32_t StoreTruncated(const std::wstring& path, wchar_t* buffer,
                             std::uint32_t units) {
  if (units == 0) {
    errno = ERANGE;
    return 0;
  }
  if (path.size() + 1 > units) {
    path.copy(buffer, units - 1);
    buffer[units - 1] = 0;
    errno = ERANGE;
    return units;
  }
  path.copy(buffer, path.size());
  buffer[path.size()] = 0;
  return static_cast<std::uint32_t>(path.size());
}

std::uint64_t MonotonicMilliseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

// The cores a process may be given: the kernel's list of online cores
// ("0-3,6"), or every configured one where the list cannot be read.
std::uint64_t OnlineCores() {
  std::uint64_t mask = 0;
  const int fd = ::open("/sys/devices/system/cpu/online", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[256] = {};
    std::uint32_t got = 0;
    ReadAll(fd, reinterpret_cast<unsigned char*>(text), sizeof text - 1, got);
    CloseQuietly(fd);
    long first = -1, number = -1;
    for (std::uint32_t i = 0; i <= got; ++i) {
      const char c = text[i];
      if (c >= '0' && c <= '9') {
        number = (number < 0 ? 0 : number * 10) + (c - '0');
        if (number > 4096) break;
      } else if (c == '-') {
        first = number, number = -1;
      } else if (number >= 0) {
        for (long core = first < 0 ? number : first; core <= number && core < 64; ++core) {
          mask |= std::uint64_t{1} << core;
        }
        first = -1, number = -1;
      }
    }
  }
  if (mask != 0) return mask;
  const long count = ::sysconf(_SC_NPROCESSORS_CONF);
  if (count <= 0) return 0;
  return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

}  // namespace

}  // namespace backend

std::vector<std::wstring> Arguments(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(backend::FromNative(argv[i]));
  return arguments;
}

namespace backend {

void* localAlloc(std::uint32_t flags, std::size_t bytes) {
  if ((flags & kAllocZeroInit) != 0) return std::calloc(1, bytes);
  return std::malloc(bytes);
}

void localFree(void* block) { std::free(block); }

FileHandle createFile(const wchar_t* name, Disposition disposition,
                      Share /*share*/) {
  // Sharing has no counterpart here: POSIX never refuses a second opener.
  std::string native;
  if (!ToNative(name, native)) return kInvalidFile;
  int flags = O_RDWR | O_CLOEXEC;
  switch (disposition) {
    case Disposition::CreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case Disposition::CreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case Disposition::OpenExisting:
      break;
  }
  int fd;
  do {
    fd = ::open(native.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidFile : FromDescriptor(fd);
}

bool closeHandle(FileHandle file) {
  int fd;
  if (!ToDescriptor(file, fd)) return false;
  // Linux releases the descriptor even when close is interrupted.
  return ::close(fd) == 0 || errno == EINTR;
}

bool setFilePointer(FileHandle file, std::uint32_t offset) {
  int fd;
  if (!ToDescriptor(file, fd)) return false;
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool readFile(FileHandle file, void* buffer, std::uint32_t count,
              std::uint32_t* done) {
  std::uint32_t moved = 0;
  int fd;
  const bool ok = ToDescriptor(file, fd) &&
                  ReadAll(fd, static_cast<unsigned char*>(buffer), count, moved);
  if (done != nullptr) *done = moved;
  return ok;
}

bool writeFile(FileHandle file, const void* buffer, std::uint32_t count,
               std::uint32_t* done) {
  std::uint32_t moved = 0;
  int fd;
  const bool ok =
      ToDescriptor(file, fd) &&
      WriteAll(fd, static_cast<const unsigned char*>(buffer), count, moved);
  if (done != nullptr) *done = moved;
  return ok;
}

bool flushFileBuffers(FileHandle file) {
  int fd;
  if (!ToDescriptor(file, fd)) return false;
  return ::fsync(fd) == 0;
}

std::uint32_t getFileSize(FileHandle file) {
  int fd;
  struct stat info;
  if (!ToDescriptor(file, fd) || ::fstat(fd, &info) != 0) {
    return kInvalidFileSize;
  }
  if (info.st_size >= static_cast<off_t>(kInvalidFileSize)) {
    errno = EFBIG;
    return kInvalidFileSize;
  }
  return static_cast<std::uint32_t>(info.st_size);
}

bool copyFile(const wchar_t* from, const wchar_t* to) {
  // Fresh descriptors of their own: the copy works whatever this process
  // holds open, and leaves the offsets of held descriptors alone.
  std::string source, target;
  if (!ToNative(from, source) || !ToNative(to, target)) return false;
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  // A new copy gets the source's permissions, as on Windows: a copied
  // program can still be run.
  struct stat inInfo, outInfo;
  if (::fstat(in, &inInfo) != 0) {
    CloseQuietly(in);
    return false;
  }
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, inInfo.st_mode & 0777);
  if (out < 0) {
    CloseQuietly(in);
    return false;
  }
  bool ok = ::fstat(out, &outInfo) == 0;
  // A file copied onto itself already is its copy; truncating it first
  // would destroy it.
  const bool same = ok && inInfo.st_dev == outInfo.st_dev &&
                    inInfo.st_ino == outInfo.st_ino;
  if (ok && !same) ok = ::ftruncate(out, 0) == 0 && CopyContents(in, out);
  CloseQuietly(in);
  if (::close(out) != 0 && errno != EINTR) ok = false;
  return ok;
}

bool deleteFile(const wchar_t* name) {
  std::string native;
  return ToNative(name, native) && ::unlink(native.c_str()) == 0;
}

std::uint32_t getLastError() { return static_cast<std::uint32_t>(errno); }

void setLastError(std::uint32_t code) { errno = static_cast<int>(code); }

std::uint32_t getModuleFileName(wchar_t* buffer, std::uint32_t units) {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return 0;
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      break;
    }
    path.resize(path.size() * 2);
  }
  return StoreTruncated(FromNative(path), buffer, units);
}

std::uint32_t getCurrentDirectory(std::uint32_t units, wchar_t* buffer) {
  std::string path(256, '\0');
  while (::getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return 0;
    path.resize(path.size() * 2);
  }
  path.resize(path.find('\0'));
  const std::wstring wide = FromNative(path);
  if (wide.size() + 1 > units) {
    // Like the Windows call: the size needed, terminator included.
    if (units > 0) buffer[0] = 0;
    return static_cast<std::uint32_t>(wide.size() + 1);
  }
  return StoreTruncated(wide, buffer, units);
}

bool setCurrentDirectory(const wchar_t* path) {
  std::string native;
  return ToNative(path, native) && ::chdir(native.c_str()) == 0;
}

bool createDirectory(const wchar_t* path) {
  std::string native;
  return ToNative(path, native) && ::mkdir(native.c_str(), 0777) == 0;
}

std::uint32_t getFileAttributes(const wchar_t* path) {
  std::string native;
  struct stat info;
  if (!ToNative(path, native) || ::stat(native.c_str(), &info) != 0) {
    return kInvalidAttributes;
  }
  return S_ISDIR(info.st_mode) ? kAttributeDirectory : kAttributeNormal;
}

bool removeTree(const wchar_t* path) {
  std::string native;
  if (!ToNative(path, native)) return false;
  std::error_code error;
  std::filesystem::remove_all(native, error);
  if (error) errno = error.value();
  return !error;
}

ProcessHandle createProcess(const wchar_t* program, const wchar_t* directory,
                            std::uint64_t cores) {
  std::string path, where;
  if (!ToNative(program, path) || !ToNative(directory, where)) return kNoProcess;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int core = 0; core < 64; ++core) {
    if ((cores >> core) & 1u) CPU_SET(core, &set);
  }
  // The child reports a failure before exec through a pipe that exec
  // closes: an empty read means the program is running.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return kNoProcess;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(report[0]);
    int error = 0;
    char* argv[] = {path.data(), nullptr};
    if (::sched_setaffinity(0, sizeof set, &set) != 0 || ::chdir(where.c_str()) != 0) {
      error = errno;
    } else {
      ::execv(path.c_str(), argv);
      error = errno;
    }
    while (::write(report[1], &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
  }
  ::close(report[1]);
  if (pid < 0) {
    CloseQuietly(report[0]);
    return kNoProcess;
  }
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  CloseQuietly(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    errno = error;
    return kNoProcess;
  }
  return static_cast<ProcessHandle>(pid);
}

ProcessWait waitForProcess(ProcessHandle process, std::uint32_t milliseconds,
                           ProcessExit* end) {
  const auto pid = static_cast<pid_t>(process);
  const std::uint64_t deadline = MonotonicMilliseconds() + milliseconds;
  // Polled: a child's end cannot be waited for with a time limit. The
  // step grows so that a short run is seen at once and a long one costs
  // little.
  long step = 1;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      ProcessExit how;
      how.crashed = WIFSIGNALED(status);
      how.code = static_cast<std::uint32_t>(how.crashed ? WTERMSIG(status) : WEXITSTATUS(status));
      if (end != nullptr) *end = how;
      return ProcessWait::Exited;
    }
    if (done < 0 && errno != EINTR) return ProcessWait::Failed;
    const std::uint64_t now = MonotonicMilliseconds();
    if (now >= deadline) return ProcessWait::TimedOut;
    const auto pause = static_cast<long>(std::min<std::uint64_t>(step, deadline - now));
    struct timespec nap = {0, pause * 1000000L};
    ::nanosleep(&nap, nullptr);
    step = std::min<long>(step * 2, 20);
  }
}

bool terminateProcess(ProcessHandle process) {
  return ::kill(static_cast<pid_t>(process), SIGKILL) == 0;
}

// The wait that saw the end reaped the process; nothing is held.
void closeProcess(ProcessHandle) {}

std::uint32_t getCoreCount() {
  const long count = ::sysconf(_SC_NPROCESSORS_CONF);
  return count > 0 ? static_cast<std::uint32_t>(count) : 0u;
}

bool getProcessAffinity(std::uint64_t* own, std::uint64_t* system) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return false;
  const std::uint64_t online = OnlineCores();
  if (online == 0) return false;
  std::uint64_t mask = 0;
  for (int core = 0; core < 64; ++core) {
    if (CPU_ISSET(core, &set)) mask |= std::uint64_t{1} << core;
  }
  if (own != nullptr) *own = mask;
  if (system != nullptr) *system = online;
  return true;
}

int getLocalDayOfWeek() {
  const std::time_t now = std::time(nullptr);
  struct tm local;
  if (::localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_wday;
}

std::int64_t time() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::uint64_t milliseconds() { return MonotonicMilliseconds(); }

void pause(std::uint32_t milliseconds) {
  struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void srand(unsigned seed) { std::srand(seed); }

// The C library's generator reaches 2^31 - 1 here; the program's names
// expect the 15-bit range of the Windows runtime.
int rand() { return std::rand() & 0x7FFF; }

}  // namespace backend

}  // namespace platform
