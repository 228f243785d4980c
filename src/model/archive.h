// The archive layout shared by configuration files ("*.604"), EEPROM images ("*.eep") and the
// persistence of elements: little-endian integers and length-prefixed strings. A string's
// length prefix is one byte when the length is below 255; otherwise the byte 0xFF and a 16-bit
// length when that is below 0xFFFE; otherwise 0xFF, 0xFFFF and a 32-bit length. The characters
// follow in Windows-1251 without a terminator; inside the program strings are UTF-8, so the
// writer and reader convert at this edge, and lengths count Windows-1251 bytes.
//
// Writing goes into memory; the caller saves the bytes in one piece (a file is never left
// half-written). Reading works on the whole file in memory and raises ArchiveError, which
// tells a premature end of the data (the file simply stops, which loaders take silently) from
// a malformed record (which they report).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kba604 {

class ArchiveError : public std::runtime_error {
 public:
  enum class Kind {
    EndOfFile,  // the data ended inside an item
    Malformed,  // an item that this layout never produces (e.g. a Unicode string marker)
  };
  ArchiveError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }
  bool end_of_file() const { return kind_ == Kind::EndOfFile; }

 private:
  Kind kind_;
};

class ArchiveWriter {
 public:
  void write_u8(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void write_bool(bool v) { write_u8(v ? 1 : 0); }
  void write_u16(std::uint16_t v);
  void write_u32(std::uint32_t v);
  void write_i32(std::int32_t v) { write_u32(static_cast<std::uint32_t>(v)); }
  void write_f64(double v);
  // A UTF-8 text, stored as its Windows-1251 form with the length prefix.
  void write_string(std::string_view utf8);
  // Raw bytes, no prefix.
  void write_bytes(std::string_view bytes) { bytes_.append(bytes); }

  const std::string& bytes() const { return bytes_; }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class ArchiveReader {
 public:
  // The reader keeps a view: data must outlive it.
  explicit ArchiveReader(std::string_view data) : data_(data) {}

  std::uint8_t read_u8();
  bool read_bool() { return read_u8() != 0; }
  std::uint16_t read_u16();
  std::uint32_t read_u32();
  std::int32_t read_i32() { return static_cast<std::int32_t>(read_u32()); }
  double read_f64();
  // A length-prefixed Windows-1251 text, returned as UTF-8.
  std::string read_string();
  // count raw bytes.
  std::string_view read_bytes(std::size_t count);

  std::size_t position() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return data_.size() - pos_; }
  bool at_end() const { return pos_ >= data_.size(); }

 private:
  const char* take(std::size_t count, const char* what);

  std::string_view data_;
  std::size_t pos_ = 0;
};

// One direction of a persistence. Serialize operations take an Archive that either stores
// into a writer or loads from a reader, so that one operation describes both directions of a
// record and they cannot drift apart.
class Archive {
 public:
  explicit Archive(ArchiveWriter& writer) : writer_(&writer) {}
  explicit Archive(ArchiveReader& reader) : reader_(&reader) {}

  bool is_storing() const { return writer_ != nullptr; }
  // Valid only in the matching direction.
  ArchiveWriter& writer() { return *writer_; }
  ArchiveReader& reader() { return *reader_; }

 private:
  ArchiveWriter* writer_ = nullptr;
  ArchiveReader* reader_ = nullptr;
};

}  // namespace kba604
