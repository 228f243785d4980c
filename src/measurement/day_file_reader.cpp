#include "measurement/day_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_read.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// Big enough that a whole record (at most 19 + 255 bytes) always fits after a refill.
constexpr std::size_t kBufferSize = 1 << 20;

std::int64_t read_le64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<std::int64_t>(v);
}

}  // namespace

std::string DayRecord::name_text() const {
  std::size_t n = 0;
  while (n < name.size() && name[n] != '\0') ++n;
  std::string_view raw(name.data(), n);
  bool plain = std::all_of(raw.begin(), raw.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return plain ? std::string(raw) : platform::from_cp1251(raw);
}

std::uint64_t DayRecord::name_key() const {
  std::uint64_t key = 0;
  std::memcpy(&key, name.data(), sizeof key);
  return key;
}

std::size_t decode_day_record(const std::uint8_t* bytes, std::size_t size, DayRecord& record) {
  if (size < kDayRecordHeaderSize) return 0;
  std::size_t n = bytes[18];
  if (size < kDayRecordHeaderSize + n) return 0;
  record.time = read_le64(bytes);
  bool ended = false;
  for (std::size_t i = 0; i < kDayRecordNameSize; ++i) {
    char c = static_cast<char>(bytes[8 + i]);
    if (c == '\0') ended = true;
    record.name[i] = ended ? '\0' : c;
  }
  record.address_offset = bytes[16];
  // Any non-zero flag byte counts as an error: a record never claims a value it did not get.
  record.error = bytes[17] != 0;
  record.length = static_cast<std::uint8_t>(n);
  std::memcpy(record.data.data(), bytes + kDayRecordHeaderSize, n);
  return kDayRecordHeaderSize + n;
}

void encode_day_record(const DayRecord& record, std::vector<std::uint8_t>& out) {
  auto t = static_cast<std::uint64_t>(record.time);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(t >> (8 * i)));
  for (char c : record.name) out.push_back(static_cast<std::uint8_t>(c));
  out.push_back(record.address_offset);
  out.push_back(record.error ? 1 : 0);
  out.push_back(record.length);
  out.insert(out.end(), record.data.begin(), record.data.begin() + record.length);
}

DayRecord make_day_record(std::int64_t time, std::string_view name, std::uint8_t address_offset,
                          bool error, const std::vector<std::uint8_t>& data) {
  DayRecord r;
  r.time = time;
  std::memcpy(r.name.data(), name.data(), std::min(name.size(), r.name.size()));
  r.address_offset = address_offset;
  r.error = error;
  r.length = static_cast<std::uint8_t>(std::min<std::size_t>(data.size(), r.data.size()));
  std::copy_n(data.begin(), r.length, r.data.begin());
  return r;
}

DayFileReader::~DayFileReader() { close(); }

bool DayFileReader::open(const std::filesystem::path& path, std::string* error) {
  close();
  // Only a regular file: a FIFO named like a day file would otherwise hold the reader forever.
  platform::FileRead refused;
  fd_ = platform::open_regular_file(path, refused);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    if (error) {
      *error = "файл " + path.string() +
               " не читается: " + (fd_ < 0 ? refused.reason : std::string(std::strerror(errno)));
    }
    close();
    return false;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  buffer_.resize(kBufferSize);
  return true;
}

void DayFileReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  begin_ = end_ = 0;
  eof_ = torn_ = failed_ = false;
  size_ = consumed_ = 0;
}

bool DayFileReader::refill() {
  if (eof_ || fd_ < 0) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ < buffer_.size()) {
    ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failed_ = true;
      eof_ = true;
      return false;
    }
    if (got == 0) {
      eof_ = true;
      break;
    }
    end_ += static_cast<std::size_t>(got);
  }
  return true;
}

bool DayFileReader::next(DayRecord& record) {
  for (;;) {
    std::size_t used = decode_day_record(buffer_.data() + begin_, end_ - begin_, record);
    if (used > 0) {
      begin_ += used;
      consumed_ += used;
      return true;
    }
    if (eof_ || !refill()) {
      torn_ = !failed_ && end_ > begin_;
      return false;
    }
  }
}

}  // namespace kba604
