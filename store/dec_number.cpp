#include "store/dec_number.h"

#include <cstring>
#include <cwchar>

#include "log/log.h"

namespace {

constexpr int kTempNameAttempts = 100;

// The file stays behind if the system refuses; at least say so.
void DeleteTempFile(const wchar_t* name) {
  if (!platform::DeleteFile(name)) {
    WriteLog(L"DeleteFile() function fail", platform::GetLastError(), 1);
  }
}

// Whole-file copy of `from`'s digits over `to`'s file. A source without an
// open file has nothing of its own to copy; copying by whatever name it
// still carries could pick up a file that belongs to someone else.
bool CopyDigitFile(const DecNumber& from, const DecNumber& to) {
  if (!HasOpenFile(from)) return false;
  return platform::CopyFile(from.fileName.c_str(), to.fileName.c_str());
}

// Writes the first `count` bytes of `digits` to the start of n's open file.
// On failure returns false and leaves the error code in *error.
bool WriteAtStart(const DecNumber& n, const Digit* digits, std::uint32_t count,
                  std::uint32_t* error) {
  std::uint32_t done = 0;
  if (!platform::SetFilePointer(n.file, 0) ||
      !platform::WriteFile(n.file, digits, count, &done) || done != count) {
    *error = platform::GetLastError();
    return false;
  }
  return true;
}

// Assign from an in-memory source into a destination that got no block:
// the digits go to the destination's file instead. If even that fails the
// destination is left an empty number, never one that claims digits it
// does not hold.
void AssignIntoFile(DecNumber& d, const DecNumber& s) {
  d.memoryBacked = 0;
  d.inMemory = 0;
  d.capacity = 0;
  if (CreateTempFile(d) != 0) {
    d.length = 0;
    return;
  }
  std::uint32_t error = 0;
  if (!WriteAtStart(d, s.block, s.length, &error)) {
    WriteLog(L"WriteFile() function fail", error, 1);
    d.length = 0;
  }
}

// What a number claims about its digits: copied from a source by copy and
// assignment, and put back when the digits could not be brought in.
struct Claim {
  std::uint8_t memoryBacked, inMemory, digitOrder, constructed;
  std::uint32_t capacity, length;
};

Claim ClaimOf(const DecNumber& n) {
  return {n.memoryBacked, n.inMemory, n.digitOrder, n.constructed, n.capacity,
          n.length};
}

void SetClaim(DecNumber& n, const Claim& c) {
  n.memoryBacked = c.memoryBacked;
  n.inMemory = c.inMemory;
  n.digitOrder = c.digitOrder;
  n.constructed = c.constructed;
  n.capacity = c.capacity;
  n.length = c.length;
}

// Assign from a file-stored source. A copy can break off after writing
// part of its target, so a destination whose value lives in its file gets
// the copy in a fresh file, taken over only once it is whole; on any
// failure the destination keeps the value it had.
void AssignFromFile(DecNumber& d, const DecNumber& s, const Claim& before) {
  // An empty source has no digits to copy, and may have no file to copy
  // them from: the destination is empty as it claims.
  if (s.length == 0) return;
  const bool valueInFile =
      HasOpenFile(d) && before.inMemory == 0 && before.length > 0;
  DecNumber fresh;
  DecNumber& target = valueInFile ? fresh : d;
  if (CreateTempFile(target) != 0) {
    SetClaim(d, before);
    return;
  }
  if (!CopyDigitFile(s, target)) {
    WriteLog(L"Copy file fail", 0, 1);
    SetClaim(d, before);
  } else if (valueInFile) {
    TakeOverFile(d, fresh);
  }
  Destroy(fresh);
}

}  // namespace

void Construct(DecNumber& n) {
  n.fileName.clear();
  n.file = platform::kInvalidFile;
  n.block = TakeBlock(LargeBlock);
  if (n.block != nullptr) {
    n.memoryBacked = 1;
    n.inMemory = 1;
    n.capacity = kLargeBlockBytes;
  } else {
    n.memoryBacked = 0;
    n.inMemory = 0;
    n.capacity = 0;
  }
  n.digitOrder = LeastSignificantFirst;
  n.length = 0;
  n.constructed = 1;
}

void CopyConstruct(DecNumber& n, const DecNumber& source) {
  n.fileName.clear();
  n.file = platform::kInvalidFile;
  n.block = nullptr;
  SetClaim(n, ClaimOf(source));

  if (source.memoryBacked == 1 && source.inMemory == 1 &&
      source.block != nullptr) {
    // A result handed out of an operation: share the bytes, copy nothing.
    ShareLargeBlock(source.block);
    n.block = source.block;
    return;
  }
  // A file-stored source (or a copy of a spilled one) lives in a file of
  // its own; it holds no block even when it carries the memory mark. An
  // empty one needs no file until its first append.
  n.inMemory = 0;
  if (source.length == 0) return;
  if (CreateTempFile(n) != 0) {
    n.length = 0;
  } else if (!CopyDigitFile(source, n)) {
    // What the copy left is not the source's digits: the new number is
    // empty rather than claiming them.
    WriteLog(L"Copy file fail 1", 0, 1);
    n.length = 0;
  }
}

DecNumber& Assign(DecNumber& d, const DecNumber& s) {
  if (&d == &s) return d;

  const Claim before = ClaimOf(d);
  SetClaim(d, ClaimOf(s));

  if (s.memoryBacked == 1) {
    if (d.block == nullptr) {
      d.block = TakeBlock(LargeBlock);
      if (d.block == nullptr) WriteLog(L"LocalAlloc() funcion fail 3", 0, 1);
    }
    if (s.inMemory == 1) {
      if (d.block == nullptr) {
        AssignIntoFile(d, s);
      } else if (d.block != s.block) {
        std::memcpy(d.block, s.block, s.length);
      }
      return d;
    }
  }

  // The source's digits are in its file: the destination gets a copy of it.
  AssignFromFile(d, s, before);
  return d;
}

void Destroy(DecNumber& n) {
  if (n.block != nullptr) GiveBackBlock(n.block, LargeBlock);
  if (HasOpenFile(n)) {
    platform::CloseHandle(n.file);
    DeleteTempFile(n.fileName.c_str());
  }
  n.fileName.clear();
  n.block = nullptr;
  n.file = platform::kInvalidFile;
  n.inMemory = 0;
  n.length = 0;
}

void TakeOverFile(DecNumber& n, DecNumber& from) {
  if (HasOpenFile(n)) {
    platform::CloseHandle(n.file);
    DeleteTempFile(n.fileName.c_str());
  }
  n.file = from.file;
  n.fileName = std::move(from.fileName);
  from.file = platform::kInvalidFile;
  from.fileName.clear();
}

int CreateTempFile(DecNumber& n) {
  if (HasOpenFile(n)) return 0;

  // Reseeded on every call: two calls within the same second draw the same
  // names, and the second steps past the ones the first has taken.
  platform::Srand(static_cast<unsigned>(platform::Time()));
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    wchar_t name[32];
    std::swprintf(name, sizeof name / sizeof name[0], L"Temp%05d.by",
                  platform::Rand());
    n.fileName = name;

    platform::FileHandle created = platform::CreateFile(
        name, platform::Disposition::CreateNew, platform::Share::Read);
    if (created != platform::kInvalidFile) {
      platform::CloseHandle(created);
      const platform::FileHandle reopened = platform::CreateFile(
          name, platform::Disposition::OpenExisting, platform::Share::Read);
      if (reopened == platform::kInvalidFile) {
        // The name is ours alone; leave no empty file behind and no name
        // that a later Destroy could take for its own.
        DeleteTempFile(name);
        n.fileName.clear();
        return 1;
      }
      n.file = reopened;
      return 0;
    }

    const std::uint32_t error = platform::GetLastError();
    if (error != platform::kErrorFileExists) {
      WriteLog(L"CreateFile() function fail", error, 1);
      return 1;
    }
  }
  return 1;
}
