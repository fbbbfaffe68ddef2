#include "log/log_reader.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace {

// The file as UTF-16 code units, with the reader's position in it.
class Units {
 public:
  explicit Units(const std::string& bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size() / 2; }
  std::uint32_t at(std::size_t i) const {
    return static_cast<unsigned char>(bytes_[2 * i]) |
           static_cast<std::uint32_t>(
               static_cast<unsigned char>(bytes_[2 * i + 1]))
               << 8;
  }

 private:
  const std::string& bytes_;
};

class Parser {
 public:
  Parser(const Units& units, std::string& error)
      : units_(units), error_(error) {}

  bool AtEnd() const { return pos_ == units_.size(); }

  bool Record(std::size_t number, LogRecord& record) {
    number_ = number;
    return Literal("Com info code:0x") && Hex("Com info code", record.comCode) &&
           Literal(",Api info code:0x") &&
           Hex("Api info code", record.apiCode) &&
           Literal(",External info code:0x") &&
           Hex("External info code", record.externalCode) &&
           Literal(",External information:\r\n") && Message(record.message);
  }

 private:
  bool Fail(const std::string& what) {
    error_ = "record " + std::to_string(number_) + " at byte " +
             std::to_string(2 + 2 * pos_) + ": " + what;
    return false;
  }

  static std::string Show(std::string_view text) {
    std::string shown;
    for (char c : text) {
      if (c == '\r') shown += "\\r";
      else if (c == '\n') shown += "\\n";
      else shown += c;
    }
    return shown;
  }

  bool Literal(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (pos_ + i >= units_.size()) {
        return Fail("file ends inside \"" + Show(text) + "\"");
      }
      if (units_.at(pos_ + i) != static_cast<unsigned char>(text[i])) {
        pos_ += i;
        return Fail("expected \"" + Show(text.substr(i)) + "\"");
      }
    }
    pos_ += text.size();
    return true;
  }

  static int HexValue(std::uint32_t unit) {
    if (unit >= '0' && unit <= '9') return static_cast<int>(unit - '0');
    if (unit >= 'A' && unit <= 'F') return static_cast<int>(unit - 'A' + 10);
    return -1;
  }

  // Upper-case hexadecimal without leading zeros, at most 32 bits.
  bool Hex(const char* field, std::uint32_t& value) {
    const std::size_t start = pos_;
    std::uint64_t v = 0;
    while (pos_ < units_.size() && HexValue(units_.at(pos_)) >= 0) {
      v = v * 16 + static_cast<std::uint64_t>(HexValue(units_.at(pos_)));
      ++pos_;
      if (pos_ - start > 8) {
        pos_ = start;
        return Fail(std::string(field) + " has more than 8 digits");
      }
    }
    const std::size_t digits = pos_ - start;
    if (digits == 0) {
      return Fail(std::string(field) + " has no upper-case hex digits");
    }
    if (digits > 1 && units_.at(start) == '0') {
      pos_ = start;
      return Fail(std::string(field) + " has a leading zero");
    }
    value = static_cast<std::uint32_t>(v);
    return true;
  }

  // The text up to the record's terminating null, which must end in
  // CR LF CR LF; surrogate pairs become one character where wchar_t is wide.
  bool Message(std::wstring& message) {
    std::size_t end = pos_;
    while (end < units_.size() && units_.at(end) != 0) ++end;
    if (end == units_.size()) return Fail("no terminating null code unit");
    constexpr std::string_view kTail = "\r\n\r\n";
    if (end - pos_ < kTail.size()) {
      return Fail("message does not end in \\r\\n\\r\\n");
    }
    for (std::size_t i = 0; i < kTail.size(); ++i) {
      if (units_.at(end - kTail.size() + i) !=
          static_cast<unsigned char>(kTail[i])) {
        pos_ = end - kTail.size();
        return Fail("message does not end in \\r\\n\\r\\n");
      }
    }
    const std::size_t stop = end - kTail.size();
    message.clear();
    while (pos_ < stop) {
      const std::uint32_t unit = units_.at(pos_);
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return Fail("unpaired low surrogate in the message");
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        const std::uint32_t low = pos_ + 1 < stop ? units_.at(pos_ + 1) : 0;
        if (low < 0xDC00 || low > 0xDFFF) {
          return Fail("unpaired high surrogate in the message");
        }
        if constexpr (sizeof(wchar_t) == 2) {
          message.push_back(static_cast<wchar_t>(unit));
          message.push_back(static_cast<wchar_t>(low));
        } else {
          message.push_back(static_cast<wchar_t>(
              0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        }
        pos_ += 2;
        continue;
      }
      message.push_back(static_cast<wchar_t>(unit));
      ++pos_;
    }
    pos_ = end + 1;
    return true;
  }

  const Units& units_;
  std::string& error_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

}  // namespace

bool ParseLog(const std::string& bytes, std::vector<LogRecord>& records,
              std::string& error) {
  records.clear();
  error.clear();
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xFE) {
    error = "no byte-order mark FF FE at the start";
    return false;
  }
  if (bytes.size() % 2 != 0) {
    error = "odd byte count " + std::to_string(bytes.size()) +
            ": not UTF-16";
    return false;
  }
  const std::string body = bytes.substr(2);
  const Units units(body);
  Parser parser(units, error);
  for (std::size_t number = 1; !parser.AtEnd(); ++number) {
    LogRecord record;
    if (!parser.Record(number, record)) return false;
    records.push_back(std::move(record));
  }
  return true;
}
