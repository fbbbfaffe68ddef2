#include "log/log_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/log/log_test_support.h"

namespace {

using logtest::kByteOrderMark;
using logtest::RecordBytes;

struct Parsed {
  bool ok;
  std::vector<LogRecord> records;
  std::string error;
};

Parsed Parse(const std::string& bytes) {
  Parsed parsed{};
  parsed.ok = ParseLog(bytes, parsed.records, parsed.error);
  return parsed;
}

TEST(ParseLogTest, ReadsTheRecordsInOrder) {
  const Parsed parsed =
      Parse(kByteOrderMark + RecordBytes("0", "0", "Enter _tmain() function") +
            RecordBytes("70", "1", "ReadFile() function fail") +
            RecordBytes("FFFFFFFF", "A0", "Exit _tmain() function"));
  ASSERT_TRUE(parsed.ok) << parsed.error;
  ASSERT_EQ(parsed.records.size(), 3u);
  EXPECT_EQ(parsed.records[0].message, L"Enter _tmain() function");
  EXPECT_EQ(parsed.records[0].comCode, 0u);
  EXPECT_EQ(parsed.records[0].externalCode, 0u);
  EXPECT_EQ(parsed.records[1].comCode, 0x70u);
  EXPECT_EQ(parsed.records[1].externalCode, 1u);
  EXPECT_EQ(parsed.records[1].message, L"ReadFile() function fail");
  EXPECT_EQ(parsed.records[2].comCode, 0xFFFFFFFFu);
  EXPECT_EQ(parsed.records[2].externalCode, 0xA0u);
  for (const LogRecord& record : parsed.records) EXPECT_EQ(record.apiCode, 0u);
}

TEST(ParseLogTest, AByteOrderMarkAloneIsAnEmptyLog) {
  const Parsed parsed = Parse(kByteOrderMark);
  EXPECT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(parsed.records.empty());
}

TEST(ParseLogTest, AMessageMayHoldLineBreaks) {
  const Parsed parsed = Parse(kByteOrderMark + RecordBytes("0", "1", "a\r\nb"));
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.records[0].message, L"a\r\nb");
}

TEST(ParseLogTest, RejectsAFileWithoutByteOrderMarkOrOfOddLength) {
  const std::string record = RecordBytes("0", "0", "m");
  EXPECT_FALSE(Parse("").ok);
  EXPECT_FALSE(Parse(record).ok);
  EXPECT_FALSE(Parse("\xFE\xFF" + record).ok);
  const Parsed odd = Parse(kByteOrderMark + record + "x");
  EXPECT_FALSE(odd.ok);
  EXPECT_NE(odd.error.find("odd"), std::string::npos) << odd.error;
}

TEST(ParseLogTest, RejectsCodesNotInTheRecordsRendering) {
  // Lower case, leading zeros, no digits, more than 32 bits, a wrong prefix.
  for (const char* com : {"ff", "00", "07", "", "100000000", "-1"}) {
    const Parsed parsed = Parse(kByteOrderMark + RecordBytes(com, "0", "m"));
    EXPECT_FALSE(parsed.ok) << com;
    EXPECT_NE(parsed.error.find("Com info code"), std::string::npos)
        << parsed.error;
  }
  EXPECT_FALSE(Parse(kByteOrderMark + RecordBytes("0", "01", "m")).ok);
  const std::string apiNotZero = logtest::Utf16Record(
      "Com info code:0x0,Api info code:0xZ,External info code:0x0,"
      "External information:\r\nm\r\n\r\n");
  EXPECT_FALSE(Parse(kByteOrderMark + apiNotZero).ok);
}

TEST(ParseLogTest, RejectsARecordWithoutItsTail) {
  std::string record = RecordBytes("0", "0", "m");
  // Without the null unit the record never ends.
  const Parsed noNull =
      Parse(kByteOrderMark + record.substr(0, record.size() - 2));
  EXPECT_FALSE(noNull.ok);
  EXPECT_NE(noNull.error.find("null"), std::string::npos) << noNull.error;
  // A single line break before the null.
  const std::string shortTail = logtest::Utf16Record(
      "Com info code:0x0,Api info code:0x0,External info code:0x0,"
      "External information:\r\nm\r\n");
  EXPECT_FALSE(Parse(kByteOrderMark + shortTail).ok);
  // A file cut inside the header.
  EXPECT_FALSE(Parse(kByteOrderMark + record.substr(0, 20)).ok);
}

TEST(ParseLogTest, KeepsTheGoodRecordsAndNamesTheBadOne) {
  const std::string good = RecordBytes("0", "0", "Enter _tmain() function");
  std::string bad = RecordBytes("0", "0", "m");
  bad[0] = 'c';  // "com info code"
  const Parsed parsed = Parse(kByteOrderMark + good + good + bad);
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.records.size(), 2u);
  EXPECT_NE(parsed.error.find("record 3"), std::string::npos) << parsed.error;
  EXPECT_NE(parsed.error.find("byte 442"), std::string::npos) << parsed.error;
}

TEST(ParseLogTest, JoinsSurrogatePairsAndRejectsLoneHalves) {
  const std::string head = RecordBytes("0", "1", "");
  const std::string prefix = head.substr(0, head.size() - 10);
  const std::string tail = head.substr(head.size() - 10);

  const Parsed pair =
      Parse(kByteOrderMark + prefix + std::string("\x3D\xD8\x00\xDE", 4) + tail);
  ASSERT_TRUE(pair.ok) << pair.error;
  std::wstring expected;
  if constexpr (sizeof(wchar_t) == 2) {
    expected = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  } else {
    expected = {static_cast<wchar_t>(0x1F600)};
  }
  EXPECT_EQ(pair.records[0].message, expected);

  EXPECT_FALSE(Parse(kByteOrderMark + prefix + std::string("\x3D\xD8", 2) + tail).ok);
  EXPECT_FALSE(Parse(kByteOrderMark + prefix + std::string("\x00\xDE", 2) + tail).ok);
}

}  // namespace
