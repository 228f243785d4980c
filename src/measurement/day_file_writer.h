// The measurement protocol's day files, writing side. A day file is a plain sequence of records
// without header or terminator, one per poll, all numbers little-endian:
//
//   offset size
//   0      8    time stamp: signed seconds since 1970-01-01 UTC of the local date and time of
//               the poll taken as local time (the system decides daylight saving, as mktime
//               does); 0 when the local year is before 1900
//   8      8    short name in Windows-1251, followed by a zero byte when shorter than 8; the
//               rest zero (a name of 8 characters has no zero, a longer one is cut at 8)
//   16     1    the parameter's address offset, low 8 bits
//   17     1    error flag: 1 when the poll left a note (the exchange failed), else 0
//   18     1    n: data bytes of the reply that follow (at most 31)
//   19     n    the reply's data bytes as the instrument sent them
//
// With the error flag set, n = 0 means that the instrument did not answer and n > 0 that the
// bytes are the instrument's refusal. A file is opened for one record and closed at once, so
// the archive packing and the report export may read it at any time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

inline constexpr std::size_t kRecordHeaderSize = 19;
inline constexpr std::size_t kRecordNameSize = 8;
inline constexpr std::size_t kRecordDataCapacity = 31;

// One record as the poll left it.
struct MeasurementRecord {
  std::int64_t time_stamp = 0;
  std::string short_name;  // UTF-8; written in Windows-1251
  std::int32_t address_offset = 0;
  bool error = false;
  std::vector<std::uint8_t> data;  // at most kRecordDataCapacity bytes are written
};

// The record's bytes.
std::vector<std::uint8_t> encode_record(const MeasurementRecord& record);

// The time stamp of a poll made at unix_seconds: its local date and time converted back as
// local time, with daylight saving left to the system; 0 for a local year before 1900.
std::int64_t record_time_stamp(std::int64_t unix_seconds);

// The day file's name of the local date at unix_seconds: "%d-%m-%Y" and ".log", e.g.
// "07-12-2026.log".
std::string day_file_name(std::int64_t unix_seconds);

// Appends the bytes to the file (created when missing, never truncated) in one write and closes
// it. A write that the file system cut short is taken back, so the file never ends in a torn
// record. False when the file cannot be opened or written; error then says why.
bool append_record(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes,
                   std::string* error = nullptr);

}  // namespace kba604
