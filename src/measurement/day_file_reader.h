// Reading the measurement protocol's day files: a plain sequence of records (time stamp, short
// name, address offset, error flag, reply length, reply bytes) without header or terminator.
// A day file is appended to record by record while the program polls, so its last record may be
// torn (the program or the machine stopped in the middle of an append); reading then ends at
// the last whole record and says that bytes were left over.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kba604 {

// The fixed part of a record: time stamp (8), name (8), address offset, error flag, length.
inline constexpr std::size_t kDayRecordHeaderSize = 19;
inline constexpr std::size_t kDayRecordNameSize = 8;

struct DayRecord {
  // Seconds since 1970-01-01 00:00:00 UTC of the local time of writing.
  std::int64_t time = 0;
  // The name field with every byte after the first zero byte cleared, so that two records of
  // the same parameter always carry the same eight bytes.
  std::array<char, kDayRecordNameSize> name{};
  // Low 8 bits of the parameter's address offset.
  std::uint8_t address_offset = 0;
  // The exchange that produced the record failed.
  bool error = false;
  std::uint8_t length = 0;
  std::array<std::uint8_t, 255> data{};

  // The short name as text (at most eight characters; Windows-1251 bytes become UTF-8).
  std::string name_text() const;
  // The eight name bytes as one number, for quick lookups.
  std::uint64_t name_key() const;
};

// Decodes the record at the start of bytes. Returns the record's length, or 0 when the bytes
// end before the record does.
std::size_t decode_day_record(const std::uint8_t* bytes, std::size_t size, DayRecord& record);

// Appends the stored form of a record (the writer's layout) to out. Used by the tests and the
// benchmark to build day files.
void encode_day_record(const DayRecord& record, std::vector<std::uint8_t>& out);
// A record of name (at most eight bytes kept) with the given fields.
DayRecord make_day_record(std::int64_t time, std::string_view name, std::uint8_t address_offset,
                          bool error, const std::vector<std::uint8_t>& data);

// Reads one day file front to back through a buffer, so that files of any size take little
// memory. Not thread-safe; one reader per file.
class DayFileReader {
 public:
  DayFileReader() = default;
  ~DayFileReader();
  DayFileReader(const DayFileReader&) = delete;
  DayFileReader& operator=(const DayFileReader&) = delete;

  // Opens the file; false (with the reason in *error when given) when it cannot be read.
  bool open(const std::filesystem::path& path, std::string* error = nullptr);
  void close();

  // The next whole record; false at the end of the file, on a torn last record or on a read
  // error (see torn() and failed()).
  bool next(DayRecord& record);

  // Size of the file when it was opened, and the bytes of the whole records read so far.
  std::uint64_t size() const { return size_; }
  std::uint64_t position() const { return consumed_; }
  // Whether the file ended inside a record (its bytes after the last whole record are ignored).
  bool torn() const { return torn_; }
  bool failed() const { return failed_; }

 private:
  bool refill();

  int fd_ = -1;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool torn_ = false;
  bool failed_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t consumed_ = 0;
};

}  // namespace kba604
