// The day-file reader against records laid out by hand, byte by byte, as the recorder writes
// them: fields, names that fill their field, error records and a torn last record.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "measurement/day_file_reader.h"
#include "measurement/day_file_writer.h"
#include "support/fifo_guard.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

void write_bytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// 2026-12-07 10:00:00 UTC, "rEAd" at offset 2, two data bytes; then "r.Cn.abc" (eight
// characters, no terminating zero) with the error flag and no data.
const std::vector<std::uint8_t> kTwoRecords = {
    0xA0, 0x83, 0x16, 0x6B, 0x00, 0x00, 0x00, 0x00, 'r', 'E', 'A', 'd', 0,   0,   0,   0,
    0x02, 0x00, 0x02, 0x12, 0x34,  // 21 bytes
    0xA1, 0x83, 0x16, 0x6B, 0x00, 0x00, 0x00, 0x00, 'r', '.', 'C', 'n', '.', 'a', 'b', 'c',
    0xFF, 0x01, 0x00};  // 19 bytes

TEST(DayFileReader, ReadsEveryFieldOfHandMadeRecords) {
  test::TestHome home;
  fs::path file = home.root() / "07-12-2026.log";
  write_bytes(file, kTwoRecords);
  DayFileReader reader;
  ASSERT_TRUE(reader.open(file));
  EXPECT_EQ(reader.size(), 40u);
  DayRecord r;
  ASSERT_TRUE(reader.next(r));
  EXPECT_EQ(r.time, 1796637600);
  EXPECT_EQ(r.name_text(), "rEAd");
  EXPECT_EQ(r.address_offset, 2);
  EXPECT_FALSE(r.error);
  ASSERT_EQ(r.length, 2);
  EXPECT_EQ(r.data[0], 0x12);
  EXPECT_EQ(r.data[1], 0x34);
  ASSERT_TRUE(reader.next(r));
  EXPECT_EQ(r.name_text(), "r.Cn.abc");  // the reader takes at most eight characters
  EXPECT_EQ(r.address_offset, 0xFF);
  EXPECT_TRUE(r.error);
  EXPECT_EQ(r.length, 0);
  EXPECT_FALSE(reader.next(r));
  EXPECT_FALSE(reader.torn());
  EXPECT_EQ(reader.position(), 40u);
}

TEST(DayFileReader, TornLastRecordEndsReadingAtTheLastWholeOne) {
  test::TestHome home;
  fs::path file = home.root() / "d.log";
  DayRecord r;
  // Cut inside the header of the second record, and inside its data.
  for (std::size_t cut : {21u + 5u, 21u + 18u}) {
    std::vector<std::uint8_t> bytes(kTwoRecords.begin(), kTwoRecords.begin() + cut);
    write_bytes(file, bytes);
    DayFileReader reader;
    ASSERT_TRUE(reader.open(file));
    EXPECT_TRUE(reader.next(r));
    EXPECT_FALSE(reader.next(r)) << cut;
    EXPECT_TRUE(reader.torn());
    EXPECT_EQ(reader.position(), 21u);
  }
  std::vector<std::uint8_t> data_cut(kTwoRecords.begin(), kTwoRecords.begin() + 20);
  write_bytes(file, data_cut);
  DayFileReader reader;
  ASSERT_TRUE(reader.open(file));
  EXPECT_FALSE(reader.next(r));
  EXPECT_TRUE(reader.torn());
  // An empty file is a day without records, not a torn one.
  write_bytes(file, {});
  ASSERT_TRUE(reader.open(file));
  EXPECT_FALSE(reader.next(r));
  EXPECT_FALSE(reader.torn());
  EXPECT_FALSE(reader.open(home.root() / "missing.log"));
  EXPECT_FALSE(reader.open(home.root()));
}

TEST(DayFileReader, RecordsAcrossBufferRefillsAndJunkAfterTheNameEnd) {
  test::TestHome home;
  fs::path file = home.root() / "big.log";
  // Enough records of varying length that several straddle the reader's buffer boundary.
  std::vector<std::uint8_t> bytes;
  const int count = 60000;
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(i % 32), static_cast<std::uint8_t>(i));
    encode_day_record(make_day_record(1000 + i, i % 2 ? "Set.P" : "r.OUt", i % 3, false, data),
                      bytes);
  }
  // A name whose bytes after the terminating zero are not cleared names the same parameter.
  std::vector<std::uint8_t> junk = {0, 0, 0, 0, 0, 0, 0, 0, 'S', 'e', 't', '.', 'P', 0, 'x', 'y',
                                    1, 0, 0};
  bytes.insert(bytes.end(), junk.begin(), junk.end());
  write_bytes(file, bytes);
  DayFileReader reader;
  ASSERT_TRUE(reader.open(file));
  DayRecord r;
  int seen = 0;
  bool all_match = true;
  while (reader.next(r)) {
    if (seen < count) {
      all_match = all_match && r.time == 1000 + seen && r.length == seen % 32 &&
                  (r.length == 0 || r.data[r.length - 1] == static_cast<std::uint8_t>(seen)) &&
                  r.address_offset == seen % 3;
    }
    ++seen;
  }
  EXPECT_TRUE(all_match);
  EXPECT_EQ(seen, count + 1);
  EXPECT_EQ(r.name_text(), "Set.P");
  EXPECT_EQ(r.name_key(), make_day_record(0, "Set.P", 0, false, {}).name_key());
  EXPECT_FALSE(reader.torn());
}

// Only a regular file is read as a day file or takes records: a FIFO under a day file's name
// (nobody writes into it) is refused at once with its reason instead of holding the report or
// the poll that records, and so are a folder and a device node.
TEST(DayFileReader, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
  test::TestHome home;
  const fs::path fifo = home.root() / "01-12-2026.log";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  DayFileReader reader;
  std::string error;
  EXPECT_TRUE(
      test::returns_without_waiting(fifo, [&] { EXPECT_FALSE(reader.open(fifo, &error)); }));
  EXPECT_NE(error.find("не обычный файл"), std::string::npos) << error;
  EXPECT_NE(error.find(fifo.string()), std::string::npos) << error;
  error.clear();
  EXPECT_TRUE(test::returns_without_waiting(fifo, [&] {
    EXPECT_FALSE(append_record(fifo, {1, 2, 3}, &error));
  }));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);

  error.clear();
  EXPECT_FALSE(reader.open(home.root(), &error));
  EXPECT_NE(error.find("папка"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(reader.open("/dev/null", &error));
  EXPECT_NE(error.find("не обычный файл"), std::string::npos) << error;
  EXPECT_FALSE(append_record("/dev/null", {1, 2, 3}, &error));
  EXPECT_NE(error.find("не обычный файл"), std::string::npos) << error;

  // A regular file still takes its records and reads them back.
  const fs::path day = home.root() / "02-12-2026.log";
  std::vector<std::uint8_t> bytes;
  encode_day_record(make_day_record(1'765'000'000, "rEAd", 0, false, {7}), bytes);
  ASSERT_TRUE(append_record(day, bytes, &error)) << error;
  ASSERT_TRUE(reader.open(day, &error)) << error;
  DayRecord record;
  ASSERT_TRUE(reader.next(record));
  EXPECT_EQ(record.name_text(), "rEAd");
}

}  // namespace
}  // namespace kba604
