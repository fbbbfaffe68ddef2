// Addition, subtraction, halving, doubling and normalisation, one 100-digit
// window at a time, so that numbers held in files cost no more memory than
// numbers held in LargeBlocks.
#include "arith/additive.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "log/log.h"
#include "store/digits.h"
#include "store/work_pool.h"

namespace {

// One SmallBlock held for the life of the object (null when the pool had
// none; the pool has then written its record).
class Window {
 public:
  Window() : bytes_(TakeBlock(SmallBlock)) {}
  ~Window() { GiveBackBlock(bytes_, SmallBlock); }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  explicit operator bool() const { return bytes_ != nullptr; }
  Digit* get() const { return bytes_; }

 private:
  Digit* bytes_;
};

// Number of 100-digit windows that cover `length` digits.
std::uint32_t WindowCount(std::uint32_t length) {
  return (length + kWindow - 1) / kWindow;
}

std::uint32_t Low(std::uint32_t window) { return window * kWindow; }
std::uint32_t High(std::uint32_t window) { return window * kWindow + kWindow - 1; }

// Buffer position of digit index j (0..99) of a window read from n.
std::uint32_t PositionInWindow(const DecNumber& n, std::uint32_t j) {
  return n.digitOrder == MostSignificantFirst ? j : kWindow - 1 - j;
}

// Carries a window of position sums, least significant first, into digits
// in place, and returns the carry out. Each position keeps the truncating
// remainder by 10 of its sum and the carry (read as signed 8 bits), and
// the quotient carries on.
int CarryWindow(Digit* s, int carry) {
  Digit lowest = 0, highest = 0;
  for (std::uint32_t k = 0; k < kWindow; ++k) {
    lowest = std::min(lowest, s[k]);
    highest = std::max(highest, s[k]);
  }
  if (lowest < -18 || highest > 18 || carry < -1 || carry > 1) {
    for (std::uint32_t k = 0; k < kWindow; ++k) {
      const Digit v = static_cast<Digit>(s[k] + carry);
      s[k] = static_cast<Digit>(v % 10);
      carry = v / 10;
    }
    return carry;
  }
  // Sums of two digits and a carry lie within 19 of zero, so every carry is
  // -1, 0 or 1, found by comparison. Rather than walk the carry's path one
  // position at a time, all carries are settled together, every position at
  // once, from the guess of none, until a pass changes none: pass p makes the
  // carries into the first p positions right, and only the one true set of
  // carries is left unchanged by a pass.
  Digit in[kWindow + 1] = {};  // in[k]: the carry into position k
  Digit next[kWindow + 1];
  in[0] = static_cast<Digit>(carry);
  next[0] = in[0];
  for (Digit changed = 1; changed != 0;) {
    changed = 0;
    for (std::uint32_t k = 0; k < kWindow; ++k) {
      const Digit v = static_cast<Digit>(s[k] + in[k]);
      next[k + 1] = static_cast<Digit>((v >= 10) - (v <= -10));
      changed |= static_cast<Digit>(next[k + 1] ^ in[k + 1]);
    }
    std::memcpy(in, next, sizeof in);
  }
  for (std::uint32_t k = 0; k < kWindow; ++k) {
    s[k] = static_cast<Digit>(s[k] + in[k] - 10 * in[k + 1]);
  }
  return in[kWindow];
}

// The empty number an operation hands back when it could not work.
ScopedNumber Failed(const wchar_t* message) {
  LogFailure(message);
  return ScopedNumber();
}

// a + sign * b, window by window from the least significant.
ScopedNumber AddSigned(const DecNumber& a, const DecNumber& b, int sign,
                       const wchar_t* noBlock, const wchar_t* overflow) {
  Window bufferA;
  if (!bufferA) return Failed(noBlock);
  Window bufferB;
  if (!bufferB) return Failed(noBlock);
  ScopedNumber r;

  Digit* da = bufferA.get();
  Digit* db = bufferB.get();
  int carry = 0;
  for (std::uint32_t w = WindowCount(std::max(a.length, b.length)); w-- > 0;) {
    ReadDigits(a, Low(w), High(w), da);
    ReadDigits(b, Low(w), High(w), db);
    for (std::uint32_t k = 0; k < kWindow; ++k) {
      db[k] = static_cast<Digit>(da[k] + sign * db[k]);
    }
    carry = CarryWindow(db, carry);
    AppendDigits(*r, 0, kWindow - 1, db);
  }
  if (carry != 0) LogFailure(overflow);
  return ScopedNumber::Copy(*r);
}

}  // namespace

ScopedNumber DecAdd(const DecNumber& a, const DecNumber& b) {
  return AddSigned(a, b, 1, L"LocalAlloc() funcion fail 3",
                   L"Error:Data overflow 1");
}

ScopedNumber DecSub(const DecNumber& a, const DecNumber& b) {
  return AddSigned(a, b, -1, L"LocalAlloc() function fail 3",
                   L"Error:Data overflow 2");
}

// Long division by 2 from the most significant digit. The quotient comes out
// most significant first, so it is reversed once at the end.
ScopedNumber DecHalve(const DecNumber& a) {
  Window input;
  if (!input) return Failed(L"LocalAlloc() function fail");
  Window output;
  if (!output) return Failed(L"LocalAlloc() function fail");
  ScopedNumber r;

  Digit* in = input.get();
  Digit* out = output.get();
  int remainder = 0;
  const std::uint32_t windows = WindowCount(a.length);
  for (std::uint32_t w = 0; w < windows; ++w) {
    ReadDigits(a, Low(w), High(w), in);
    for (std::uint32_t k = 0; k < kWindow; ++k) {
      const Digit v = static_cast<Digit>(10 * remainder + in[kWindow - 1 - k]);
      const int q = v / 2;
      remainder = v - 2 * q;
      out[k] = static_cast<Digit>(q);
    }
    AppendDigits(*r, 0, kWindow - 1, out);
  }
  // The storage holds the digits most significant first although the order
  // field never said so: reversing flips the bytes and the field, and the
  // field goes back to what the bytes now are. A reversal that failed (in a
  // file; it has said why) leaves them the wrong way round for every
  // reader: the half is then empty, as when the operation cannot work.
  if (ReverseDigits(*r) != 0) return ScopedNumber();
  r->digitOrder = LeastSignificantFirst;
  return ScopedNumber::Copy(*r);
}

ScopedNumber DecDouble(const DecNumber& a) {
  Window input;
  if (!input) return Failed(L"LocalAlloc() function fail");
  Window output;
  if (!output) return Failed(L"LocalAlloc() function fail");
  ScopedNumber r;

  Digit* in = input.get();
  Digit* out = output.get();
  int carry = 0;
  for (std::uint32_t w = WindowCount(a.length); w-- > 0;) {
    ReadDigits(a, Low(w), High(w), in);
    for (std::uint32_t k = 0; k < kWindow; ++k) out[k] = static_cast<Digit>(2 * in[k]);
    carry = CarryWindow(out, carry);
    AppendDigits(*r, 0, kWindow - 1, out);
  }
  // A carry out of the thousands digit is dropped: doubling never reports.
  return ScopedNumber::Copy(*r);
}

int DecTopSign(const DecNumber& n, std::uint8_t& sign) {
  Window window;
  if (!window) {
    LogFailure(L"LocalAlloc() function fail");
    return 1;
  }
  // Empty, or nothing but zeros in the top block: not negative.
  sign = 1;
  if (n.length == 0) return 0;
  Digit* digits = window.get();
  ReadDigits(n, 0, kWindow - 1, digits);
  for (std::uint32_t j = 0; j < kWindow; ++j) {
    const Digit d = digits[PositionInWindow(n, j)];
    if (d != 0) {
      sign = d > 0 ? 1 : 0;
      break;
    }
  }
  return 0;
}

int NormalizeBlock(Digit* buffer, const DecNumber& n, std::uint8_t sign,
                   std::int8_t& carry) {
  assert(buffer != nullptr);
  if (n.digitOrder == MostSignificantFirst) return 0;
  int c = carry;
  for (std::uint32_t k = 0; k < kWindow; ++k) {
    const int v = sign == 1 ? buffer[k] + c : c - buffer[k];
    int q = v / 10;
    int r = v - 10 * q;
    if (r < 0) {
      r += 10;
      q -= 1;
    }
    buffer[k] = static_cast<Digit>(r);
    c = q;
  }
  carry = static_cast<std::int8_t>(c);
  return 0;
}

int DecNormalize(DecNumber& n) {
  if (n.digitOrder == MostSignificantFirst) return 0;
  std::uint8_t sign = 1;
  DecTopSign(n, sign);
  Window window;
  if (!window) {
    LogFailure(L"LocalAlloc() function fail");
    return 1;
  }
  Digit* digits = window.get();
  std::int8_t carry = 0;
  for (std::uint32_t w = WindowCount(n.length); w-- > 0;) {
    ReadDigits(n, Low(w), High(w), digits);
    NormalizeBlock(digits, n, sign, carry);
    // Positions past the length are dropped by the write.
    WriteDigits(n, Low(w), High(w), digits);
  }
  // A carry out of the thousands digit is dropped.
  return 0;
}
