#include "description/gzip_file.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "platform/file_read.h"

namespace kba604::description {
namespace {

// A gzip member has at least a 10-byte header and an 8-byte trailer.
constexpr std::size_t kMinimumGzipSize = 18;

}  // namespace

std::string gzip_fault_text(GzipStatus status) {
  switch (status) {
    case GzipStatus::Ok:
      return "нет ошибок";
    case GzipStatus::Missing:
      return "файл не найден";
    case GzipStatus::Unreadable:
      return "файл не удается прочитать";
    case GzipStatus::TooShort:
      return "файл слишком короткий для сжатого потока";
    case GzipStatus::Corrupt:
      return "сжатый поток поврежден";
    case GzipStatus::Truncated:
      return "сжатый поток обрывается";
    case GzipStatus::LengthMismatch:
      return "длина, записанная в конце файла, не совпадает с длиной потока";
    case GzipStatus::TrailingData:
      return "после сжатого потока есть лишние данные";
  }
  return "неизвестная ошибка";
}

GzipStatus read_file_bytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  out.clear();
  // Only a regular file of a sane size: a folder, FIFO or device node put in the data folder's
  // place is refused instead of blocking the start-up.
  std::string bytes;
  const platform::FileRead read = platform::read_regular_file(path, bytes);
  if (read.status == platform::FileReadStatus::Missing) return GzipStatus::Missing;
  if (!read.ok()) return GzipStatus::Unreadable;
  out.assign(bytes.begin(), bytes.end());
  return GzipStatus::Ok;
}

std::uint64_t max_inflated_size(std::size_t compressed_size) {
  // Deflate packs at most 258 bytes into one match of at least two bits: about 1032:1.
  return static_cast<std::uint64_t>(compressed_size) * 1032u + 1024u;
}

GzipReader::GzipReader(const std::uint8_t* data, std::size_t size) : size_(size) {
  if (size < kMinimumGzipSize) {
    status_ = GzipStatus::TooShort;
    return;
  }
  if (data[0] != 0x1F || data[1] != 0x8B) {
    status_ = GzipStatus::Corrupt;
    return;
  }
  const std::uint8_t* t = data + size - 4;
  trailer_length_ = std::uint32_t{t[0]} | (std::uint32_t{t[1]} << 8) | (std::uint32_t{t[2]} << 16) |
                    (std::uint32_t{t[3]} << 24);
  if (trailer_length_ > max_inflated_size(size)) {
    status_ = GzipStatus::LengthMismatch;
    return;
  }
  zs_.next_in = const_cast<Bytef*>(data);
  zs_.avail_in = static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
  // 16 + MAX_WBITS: a gzip wrapper only; a raw or zlib stream is a fault here.
  if (inflateInit2(&zs_, 16 + MAX_WBITS) != Z_OK) {
    status_ = GzipStatus::Corrupt;
    return;
  }
  initialised_ = true;
}

GzipReader::~GzipReader() {
  if (initialised_) inflateEnd(&zs_);
}

std::size_t GzipReader::read(std::uint8_t* out, std::size_t count) {
  if (status_ != GzipStatus::Ok || ended_ || count == 0) return 0;
  std::size_t got = 0;
  while (got < count) {
    std::size_t want = std::min<std::size_t>(count - got, std::numeric_limits<uInt>::max());
    zs_.next_out = out + got;
    zs_.avail_out = static_cast<uInt>(want);
    int rc = inflate(&zs_, Z_NO_FLUSH);
    std::size_t produced = want - zs_.avail_out;
    got += produced;
    total_out_ += produced;
    if (rc == Z_STREAM_END) {
      ended_ = true;
      break;
    }
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR) {
      // No progress possible: the input is used up before the stream's end.
      status_ = GzipStatus::Truncated;
      break;
    }
    if (rc == Z_DATA_ERROR && zs_.msg != nullptr &&
        std::strcmp(zs_.msg, "incorrect length check") == 0) {
      status_ = GzipStatus::LengthMismatch;
    } else {
      status_ = GzipStatus::Corrupt;
    }
    break;
  }
  return got;
}

GzipStatus GzipReader::finish() {
  std::uint8_t sink[4096];
  while (status_ == GzipStatus::Ok && !ended_) {
    if (read(sink, sizeof sink) == 0 && status_ == GzipStatus::Ok && !ended_) {
      status_ = GzipStatus::Truncated;
    }
  }
  if (status_ != GzipStatus::Ok) return status_;
  if (zs_.avail_in != 0 || zs_.total_in != size_) return status_ = GzipStatus::TrailingData;
  if (static_cast<std::uint32_t>(total_out_) != trailer_length_) {
    return status_ = GzipStatus::LengthMismatch;
  }
  return status_;
}

std::vector<std::uint8_t> gzip_compress(const std::uint8_t* data, std::size_t size) {
  z_stream zs{};
  // 16 + MAX_WBITS: a gzip wrapper. Without deflateSetHeader the header carries no name and
  // the modification time 0.
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return {};
  }
  std::vector<std::uint8_t> out(deflateBound(&zs, static_cast<uLong>(size)) + 64);
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&zs, Z_FINISH);
  std::size_t produced = out.size() - zs.avail_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) return {};
  out.resize(produced);
  return out;
}

}  // namespace kba604::description
