// The description files are single-member gzip streams. Their last four bytes (the gzip
// trailer) hold the decompressed length modulo 2^32, which the loader takes before it inflates;
// a damaged file must never make it allocate or read past what the file can really hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

namespace kba604::description {

enum class GzipStatus {
  Ok,
  Missing,         // the file does not exist
  Unreadable,      // it exists but cannot be read
  TooShort,        // fewer bytes than a gzip header and trailer
  Corrupt,         // not a gzip stream, or the compressed data is damaged
  Truncated,       // the compressed data ends before the stream's end
  LengthMismatch,  // the trailer's length disagrees with the stream or the file size
  TrailingData,    // bytes after the end of the (single) compressed member
};

// A short Russian description of the fault, for the loader's message.
std::string gzip_fault_text(GzipStatus status);

// Reads a whole file into memory. Missing or Unreadable when that fails.
GzipStatus read_file_bytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out);

// Inflates a gzip stream held in memory, piece by piece. The caller keeps `data` alive.
class GzipReader {
 public:
  GzipReader(const std::uint8_t* data, std::size_t size);
  ~GzipReader();
  GzipReader(const GzipReader&) = delete;
  GzipReader& operator=(const GzipReader&) = delete;

  // The decompressed length from the trailer; valid when status() is Ok after construction.
  std::uint32_t trailer_length() const { return trailer_length_; }

  // Reads up to `count` decompressed bytes into `out` and returns how many it got. Fewer
  // than asked means the stream ended or failed: see at_end() and status().
  std::size_t read(std::uint8_t* out, std::size_t count);

  // The stream reached its end and its own checks (CRC, length) passed.
  bool at_end() const { return ended_; }
  GzipStatus status() const { return status_; }
  std::uint64_t total_out() const { return total_out_; }

  // After reading, checks that nothing follows the stream's end and that the trailer agrees
  // with what was inflated. Reads and discards whatever is left of the stream first.
  GzipStatus finish();

 private:
  z_stream zs_{};
  bool initialised_ = false;
  bool ended_ = false;
  GzipStatus status_ = GzipStatus::Ok;
  std::uint32_t trailer_length_ = 0;
  std::uint64_t total_out_ = 0;
  std::size_t size_ = 0;
};

// The largest decompressed size that `compressed_size` bytes of deflate data can hold. Used to
// reject trailer lengths that no real stream of that size could have.
std::uint64_t max_inflated_size(std::size_t compressed_size);

// Compresses `data` into a single-member gzip stream with modification time 0, so that the
// same input always gives the same bytes.
std::vector<std::uint8_t> gzip_compress(const std::uint8_t* data, std::size_t size);

}  // namespace kba604::description
