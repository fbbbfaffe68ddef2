#include "store/digits.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "log/log.h"

namespace {

// One contiguous run of storage and the part of the caller's buffer that
// matches it.
struct Run {
  std::uint32_t position;  // first storage position
  std::uint32_t offset;    // first buffer byte
  std::uint32_t count;     // bytes
};

// The stored part of the range low..high, for low < length. With order 0
// the range's missing top indices are the buffer's first bytes, with order
// 1 its last.
Run StoredRun(const DecNumber& n, std::uint32_t low, std::uint32_t high) {
  assert(low < n.length && low <= high);
  const std::uint32_t count = high - low + 1;
  if (high < n.length) {
    const std::uint32_t position =
        n.digitOrder == MostSignificantFirst ? low : n.length - 1 - high;
    return {position, 0, count};
  }
  const std::uint32_t stored = n.length - low;
  if (n.digitOrder == MostSignificantFirst) return {low, 0, stored};
  return {0, count - stored, stored};
}

// Positioned file transfers; false, with the error code in *error, when the
// positioning fails or fewer than `count` bytes moved (*done says how many).
bool ReadAt(platform::FileHandle file, std::uint32_t position, Digit* buffer,
            std::uint32_t count, std::uint32_t* error) {
  std::uint32_t done = 0;
  if (platform::SetFilePointer(file, position) &&
      platform::ReadFile(file, buffer, count, &done) && done == count) {
    return true;
  }
  *error = platform::GetLastError();
  return false;
}

bool WriteAt(platform::FileHandle file, std::uint32_t position,
             const Digit* buffer, std::uint32_t count, std::uint32_t* done,
             std::uint32_t* error) {
  *done = 0;
  if (platform::SetFilePointer(file, position) &&
      platform::WriteFile(file, buffer, count, done) && *done == count) {
    return true;
  }
  if (*done > count) *done = count;
  *error = platform::GetLastError();
  return false;
}

// The library's reversal: several times faster than swapping byte by byte,
// and a run reverses tens of thousands of numbers and loads every product's
// operands through here.
void ReverseBytes(Digit* bytes, std::uint32_t count) {
  std::reverse(bytes, bytes + count);
}

void ToggleOrder(DecNumber& n) {
  n.digitOrder = n.digitOrder == MostSignificantFirst ? LeastSignificantFirst
                                                      : MostSignificantFirst;
}

// Moves an in-memory number into its temporary file: the block's digits go
// to the start of the file. The number stays in memory, digits and length
// untouched, unless every byte arrived.
int Spill(DecNumber& n) {
  if (CreateTempFile(n) != 0) return 1;
  std::uint32_t done = 0;
  std::uint32_t error = 0;
  if (!WriteAt(n.file, 0, n.block, n.length, &done, &error)) {
    WriteLog(L"WriteFile() function fail", error, 1);
    return 1;
  }
  n.inMemory = 0;
  return 0;
}

// Streams n's file backwards, window by window, into t's file, each window
// reversed, so that t's byte q is n's byte length - 1 - q.
int ReverseIntoFile(const DecNumber& n, const DecNumber& t, Digit* window) {
  const std::uint32_t windows = (n.length + kWindow - 1) / kWindow;
  for (std::uint32_t i = 0; i < windows; ++i) {
    const bool last = i == windows - 1;
    const std::uint32_t count = last ? n.length - kWindow * i : kWindow;
    const std::uint32_t from = last ? 0 : n.length - kWindow * (i + 1);
    std::uint32_t error = 0;
    if (!ReadAt(n.file, from, window, count, &error)) {
      WriteLog(L"ReadFile() function fail", error, 1);
      return 1;
    }
    ReverseBytes(window, count);
    std::uint32_t done = 0;
    if (!WriteAt(t.file, kWindow * i, window, count, &done, &error)) {
      WriteLog(L"WriteFile() function fail", error, 1);
      return 1;
    }
  }
  return 0;
}

int ReverseOnFile(DecNumber& n) {
  if (!HasOpenFile(n)) return 1;

  // T is used for its file only; like any number it takes a block if one
  // is free. Its Destroy, on leaving this scope, closes and deletes its file
  // and gives the block back on every path.
  ScopedNumber t;
  if (CreateTempFile(*t) != 0) return 1;

  Digit* window = TakeBlock(SmallBlock);
  if (window == nullptr) {
    WriteLog(L"LocalAlloc() funcion fail 3", 0, 1);
    return 1;
  }
  const int result = ReverseIntoFile(n, *t, window);
  GiveBackBlock(window, SmallBlock);
  if (result != 0) return result;
  if (!platform::CopyFile(t->fileName.c_str(), n.fileName.c_str())) {
    // The copy may have broken off halfway through the number's file, but
    // T's holds the reversed digits whole: the number takes that one over.
    WriteLog(L"Copy file fail 1", 0, 1);
    TakeOverFile(n, *t);
  }
  ToggleOrder(n);
  return 0;
}

}  // namespace

int ReadDigits(const DecNumber& n, std::uint32_t low, std::uint32_t high,
               Digit* buffer) {
  if (low > high) return 1;
  const std::uint32_t count = high - low + 1;
  if (low >= n.length) {
    std::memset(buffer, 0, count);
    return 0;
  }
  const Run run = StoredRun(n, low, high);
  // The indices past the end read as zero, stored or not.
  std::memset(buffer, 0, run.offset);
  std::memset(buffer + run.offset + run.count, 0,
              count - run.offset - run.count);

  if (n.inMemory == 1) {
    std::memcpy(buffer + run.offset, n.block + run.position, run.count);
    return 0;
  }
  if (!HasOpenFile(n)) return 1;
  std::uint32_t error = 0;
  if (!ReadAt(n.file, run.position, buffer + run.offset, run.count, &error)) {
    WriteLog(L"ReadFile() function fail", error, 1);
    return 1;
  }
  return 0;
}

int ReadInIndexOrder(const DecNumber& n, std::uint32_t low, std::uint32_t high,
                     Digit* buffer) {
  if (ReadDigits(n, low, high, buffer) != 0) return 1;
  if (n.digitOrder != MostSignificantFirst) ReverseBytes(buffer, high - low + 1);
  return 0;
}

int WriteDigits(DecNumber& n, std::uint32_t low, std::uint32_t high,
                const Digit* buffer) {
  if (low > high) return 1;
  if (low >= n.length) return 0;
  // Indices at or past the end have no storage: their bytes are dropped.
  const Run run = StoredRun(n, low, high);

  if (n.inMemory == 1) {
    std::memcpy(n.block + run.position, buffer + run.offset, run.count);
    return 0;
  }
  if (!HasOpenFile(n)) return 1;
  std::uint32_t done = 0;
  std::uint32_t error = 0;
  if (!WriteAt(n.file, run.position, buffer + run.offset, run.count, &done,
               &error)) {
    WriteLog(L"WriteFile() function fail", error, 1);
    return 1;
  }
  return 0;
}

int AppendDigits(DecNumber& n, std::uint32_t low, std::uint32_t high,
                 const Digit* buffer) {
  if (low > high) return 1;
  const std::uint32_t count = high - low + 1;

  if (n.inMemory == 1) {
    if (std::uint64_t{n.length} + count <= n.capacity) {
      std::memcpy(n.block + n.length, buffer, count);
      n.length += count;
      return 0;
    }
    // Past the block: the number moves into its file for good.
    if (Spill(n) != 0) return 1;
  }

  if (CreateTempFile(n) != 0) return 1;
  std::uint32_t done = 0;
  std::uint32_t error = 0;
  if (!WriteAt(n.file, n.length, buffer, count, &done, &error)) {
    WriteLog(L"WriteFile() function fail", error, 1);
    n.length += done;
    return 1;
  }
  n.length += count;
  return 0;
}

int ReverseDigits(DecNumber& n) {
  if (n.inMemory == 1) {
    ReverseBytes(n.block, n.length);
    ToggleOrder(n);
    return 0;
  }
  return ReverseOnFile(n);
}
