#include "measurement/day_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/file_read.h"
#include "platform/text.h"

namespace kba604 {

std::vector<std::uint8_t> encode_record(const MeasurementRecord& record) {
  const std::size_t n = std::min(record.data.size(), kRecordDataCapacity);
  std::vector<std::uint8_t> bytes(kRecordHeaderSize + n, 0);
  const auto stamp = static_cast<std::uint64_t>(record.time_stamp);
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(stamp >> (8 * i));
  const std::string name = platform::to_cp1251(record.short_name);
  std::memcpy(&bytes[8], name.data(), std::min(name.size(), kRecordNameSize));
  bytes[16] = static_cast<std::uint8_t>(record.address_offset & 0xFF);
  bytes[17] = record.error ? 1 : 0;
  bytes[18] = static_cast<std::uint8_t>(n);
  std::copy_n(record.data.begin(), n, bytes.begin() + kRecordHeaderSize);
  return bytes;
}

std::int64_t record_time_stamp(std::int64_t unix_seconds) {
  const auto t = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr || local.tm_year < 0) return 0;
  local.tm_isdst = -1;
  const std::time_t back = std::mktime(&local);
  return back == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(back);
}

std::string day_file_name(std::int64_t unix_seconds) {
  const auto t = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d-%m-%Y", &local);
  return std::string(text) + ".log";
}

bool append_record(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes,
                   std::string* error) {
  // Not blocking on open: a FIFO of the day file's name would otherwise wait for a reader, and
  // the poll that records with it would never end. Only a regular file takes records.
  const int fd =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    if (error) *error = file.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat before {};
  const bool sized = ::fstat(fd, &before) == 0;
  if (sized && !S_ISREG(before.st_mode)) {
    ::close(fd);
    if (error) *error = file.string() + ": " + platform::unwritable_kind(file);
    return false;
  }
  ssize_t written;
  do {
    written = ::write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  bool ok = written == static_cast<ssize_t>(bytes.size());
  if (!ok) {
    const int code = written < 0 ? errno : ENOSPC;
    if (error) *error = file.string() + ": " + std::strerror(code);
    // Records follow each other without markers: a torn one would garble every later record.
    if (written > 0 && sized && ::ftruncate(fd, before.st_size) != 0 && error) {
      *error += "; оборванную запись не удалось убрать";
    }
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    if (error) *error = file.string() + ": " + std::strerror(errno);
  }
  return ok;
}

}  // namespace kba604
