// The decimal fixed-point number: one digit per byte, digit index j weighing
// 10^(3 - j), held in a LargeBlock while it fits and in a temporary file
// ("Temp%05d.by" in the current directory) once it does not.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "store/work_pool.h"

enum DigitOrder : std::uint8_t {
  LeastSignificantFirst = 0,
  MostSignificantFirst = 1,
};

struct DecNumber {
  std::uint8_t memoryBacked = 0;
  std::uint8_t inMemory = 0;
  std::uint8_t digitOrder = LeastSignificantFirst;
  std::wstring fileName;
  std::uint8_t constructed = 0;
  Digit* block = nullptr;
  std::uint32_t capacity = 0;
  std::uint32_t length = 0;
  platform::FileHandle file = platform::kInvalidFile;
};

// Whether n's digits have a temporary file open.
inline bool HasOpenFile(const DecNumber& n) {
  return n.file != platform::kInvalidFile;
}

// Lifecycle. Every number made by Construct or CopyConstruct is ended by
// exactly one Destroy.
void Construct(DecNumber& n);
void CopyConstruct(DecNumber& n, const DecNumber& source);
DecNumber& Assign(DecNumber& destination, const DecNumber& source);
void Destroy(DecNumber& n);
// 0 when n has an open temporary file afterwards, 1 on failure.
int CreateTempFile(DecNumber& n);
// Gives n the open temporary file of `from`, whose bytes are whole where
// n's own file may not be: n's file is closed and deleted, `from` is left
// with none.
void TakeOverFile(DecNumber& n, DecNumber& from);

// Owns one DecNumber: constructs it on creation and destroys it on scope
// exit, so no early return can leak its block or its file. The lifecycle
// operations stay visible: Adopt() hands over a number made elsewhere and
// Copy() is CopyConstruct.
class ScopedNumber {
 public:
  ScopedNumber() { Construct(n_); }
  ~ScopedNumber() { Destroy(n_); }
  ScopedNumber(const ScopedNumber&) = delete;
  ScopedNumber& operator=(const ScopedNumber&) = delete;
  // Moving hands the block and file over; the source is left holding none.
  ScopedNumber(ScopedNumber&& other) noexcept : n_(std::move(other.n_)) {
    Release(other.n_);
  }
  ScopedNumber& operator=(ScopedNumber&&) = delete;

  // Takes over a number made elsewhere, block and file, after destroying the
  // one held so far; `other` is left holding none.
  void Adopt(DecNumber& other) {
    if (&other == &n_) return;
    Destroy(n_);
    n_ = std::move(other);
    Release(other);
  }

  // A new number sharing (or copying) the source's digits: CopyConstruct.
  static ScopedNumber Copy(const DecNumber& source) {
    return ScopedNumber(source);
  }

  DecNumber& operator*() { return n_; }
  const DecNumber& operator*() const { return n_; }
  DecNumber* operator->() { return &n_; }
  const DecNumber* operator->() const { return &n_; }

 private:
  explicit ScopedNumber(const DecNumber& source) { CopyConstruct(n_, source); }
  // Leaves a number whose block and file now belong to another holding
  // none: empty, and not in memory since it has no block.
  static void Release(DecNumber& n) {
    n.block = nullptr;
    n.file = platform::kInvalidFile;
    n.fileName.clear();
    n.inMemory = 0;
    n.length = 0;
  }
  DecNumber n_;
};
