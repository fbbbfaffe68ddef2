// tavrex-logcat FILE...
// Prints the records of a diagnostic log as plain text, one line each:
// the three codes and the message. The log is UTF-16LE with a null code
// unit after every record, which a terminal cannot show. Exits 1 when a file
// is not a well-formed log (after printing the records it could read), 2
// when a file cannot be read.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/log_reader.h"
#include "platform/utf8.h"

namespace {

// Messages are UTF-16 in the file; the terminal wants UTF-8. Line breaks
// and other controls are shown escaped so that one record stays one line.
std::string Printable(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xd800 && c < 0xdc00 &&
        i + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xdc00 && low < 0xe000) {
        c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
        ++i;
      }
    }
    if ((c >= 0xd800 && c < 0xe000) || c > 0x10ffff) c = 0xfffd;
    char escaped[16];
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      platform::AppendUtf8(out, c);
    }
  }
  return out;
}

int Show(const char* name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::printf("%s: cannot be read\n", name);
    return 2;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<LogRecord> records;
  std::string error;
  const bool wellFormed = ParseLog(bytes, records, error);
  std::printf("%s: %zu bytes, %zu record%s\n", name, bytes.size(),
              records.size(), records.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < records.size(); ++i) {
    const LogRecord& r = records[i];
    std::printf("  %2zu. [Com 0x%X, Api 0x%X, External 0x%X] %s\n", i + 1,
                static_cast<unsigned>(r.comCode),
                static_cast<unsigned>(r.apiCode),
                static_cast<unsigned>(r.externalCode),
                Printable(r.message).c_str());
  }
  if (!wellFormed) {
    std::printf("%s: MALFORMED: %s\n", name, error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LOGFILE...\n", argv[0]);
    return 2;
  }
  int result = 0;
  for (int i = 1; i < argc; ++i) {
    const int shown = Show(argv[i]);
    if (shown > result) result = shown;
  }
  return result;
}
