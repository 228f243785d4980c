#include "model/archive.h"

#include <cstring>

#include "platform/text.h"

namespace kba604 {

void ArchiveWriter::write_u16(std::uint16_t v) {
  write_u8(static_cast<std::uint8_t>(v));
  write_u8(static_cast<std::uint8_t>(v >> 8));
}

void ArchiveWriter::write_u32(std::uint32_t v) {
  write_u16(static_cast<std::uint16_t>(v));
  write_u16(static_cast<std::uint16_t>(v >> 16));
}

void ArchiveWriter::write_f64(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  write_u32(static_cast<std::uint32_t>(bits));
  write_u32(static_cast<std::uint32_t>(bits >> 32));
}

void ArchiveWriter::write_string(std::string_view utf8) {
  std::string text = platform::to_cp1251(utf8);
  std::size_t n = text.size();
  if (n < 0xFF) {
    write_u8(static_cast<std::uint8_t>(n));
  } else if (n < 0xFFFE) {
    write_u8(0xFF);
    write_u16(static_cast<std::uint16_t>(n));
  } else {
    write_u8(0xFF);
    write_u16(0xFFFF);
    write_u32(static_cast<std::uint32_t>(n));
  }
  bytes_.append(text);
}

const char* ArchiveReader::take(std::size_t count, const char* what) {
  if (count > remaining()) {
    throw ArchiveError(ArchiveError::Kind::EndOfFile,
                       std::string("unexpected end of data while reading ") + what);
  }
  const char* p = data_.data() + pos_;
  pos_ += count;
  return p;
}

std::uint8_t ArchiveReader::read_u8() {
  return static_cast<std::uint8_t>(*take(1, "a byte"));
}

std::uint16_t ArchiveReader::read_u16() {
  const auto* p = reinterpret_cast<const unsigned char*>(take(2, "a 16-bit number"));
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ArchiveReader::read_u32() {
  const auto* p = reinterpret_cast<const unsigned char*>(take(4, "a 32-bit number"));
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

double ArchiveReader::read_f64() {
  std::uint64_t lo = read_u32();
  std::uint64_t hi = read_u32();
  std::uint64_t bits = lo | (hi << 32);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string ArchiveReader::read_string() {
  std::size_t n = read_u8();
  if (n == 0xFF) {
    std::uint16_t n16 = read_u16();
    if (n16 == 0xFFFE) {
      // The marker of a Unicode string: our files hold Windows-1251 strings only.
      throw ArchiveError(ArchiveError::Kind::Malformed, "unexpected Unicode string marker");
    }
    if (n16 < 0xFFFF) {
      n = n16;
    } else {
      std::uint32_t n32 = read_u32();
      if (n32 == 0xFFFFFFFFu) {
        // Announces a 64-bit length, which no string of ours ever needs.
        throw ArchiveError(ArchiveError::Kind::Malformed, "string length out of range");
      }
      n = n32;
    }
  }
  const char* p = take(n, "a string");
  return platform::from_cp1251(std::string_view(p, n));
}

std::string_view ArchiveReader::read_bytes(std::size_t count) {
  const char* p = take(count, "raw bytes");
  return std::string_view(p, count);
}

}  // namespace kba604
