// Monthly archives of the measurement protocol. Every day file DD-MM-YYYY.log of the folder
// "protocol" is packed into the archive MM-YYYY.var beside it: a compound file (OLE2 structured
// storage, readable by other tools) with one stream per day file, named after it. A stream is
// a sequence of chunk records: the raw length (1 to 1000000, 32-bit little-endian), the packed
// length (32-bit little-endian) and the chunk compressed with zlib's compress2 at the default
// level. An empty day file gives an empty stream.
//
// An archive is never changed in place: packing writes the whole new archive (the streams kept
// and the streams packed) into a temporary file and renames it over the old one, so a packing
// run that is killed leaves the old archive whole, and a reader that opened the old archive
// keeps reading it undisturbed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

inline constexpr std::size_t kArchiveChunkSize = 1000000;

// Where the archive code says what it did with a damaged archive. Empty: standard error.
using ArchiveWarning = std::function<void(const std::string&)>;

// The archive of a day file: the part of its title after the first "-" with ".var", in the
// same folder ("07-12-2026.log" goes into "12-2026.var"); a title without "-" is used whole.
std::filesystem::path archive_path_for(const std::filesystem::path& protocol_dir,
                                       std::string_view day_file_name);

// What a protocol folder holds: its "*.var" archives that open, in name order, each with its
// streams in the archive's order, and its "*.log" day files in name order.
struct ProtocolFiles {
  struct Archive {
    std::filesystem::path file;
    std::vector<std::string> streams;
  };
  std::vector<Archive> archives;
  std::vector<std::filesystem::path> day_files;
};
ProtocolFiles list_protocol_files(const std::filesystem::path& protocol_dir);

// Whether a stream name may become a file in the working folder: not empty, no "/" or "\",
// not "." or "..", no control character, and short enough for a compound file's directory
// (31 characters).
bool safe_stream_name(std::string_view name);

class ProtocolArchive {
 public:
  ProtocolArchive() = default;
  ~ProtocolArchive();
  ProtocolArchive(const ProtocolArchive&) = delete;
  ProtocolArchive& operator=(const ProtocolArchive&) = delete;

  // Opens the archive file. An existing compound file is opened. Otherwise, with may_create
  // (packing), the archive starts empty and is written by the first pack; a file that is there
  // but is no compound file is moved aside first to "<name>.damaged" (or "<name>.damaged.N"),
  // never destroyed, and warn hears of it. Without may_create (listing, unpacking) such a file
  // is left alone and the archive has no storage. Returns has_storage().
  bool open(const std::filesystem::path& file, bool may_create, ArchiveWarning warn = {});
  void close();
  bool has_storage() const { return storage_; }
  const std::filesystem::path& file() const { return file_; }

  // The names of the streams in the archive's order. Storages inside the archive (which this
  // program never writes) are left out.
  std::vector<std::string> list() const;

  // Packs day files into the archive in one rewrite: each becomes the stream of its name,
  // replacing a stream of that name; the other streams are kept as they were. False (the
  // archive on disk unchanged) when there is no storage, a name is unsafe, a day file cannot
  // be read or the new archive cannot be written.
  struct Item {
    std::string stream;
    std::filesystem::path day_file;
  };
  bool pack(const std::vector<Item>& items);
  bool pack(std::string_view stream, const std::filesystem::path& day_file) {
    return pack({Item{std::string(stream), day_file}});
  }

  // Unpacks a stream into output_dir/stream (creating the folder). A chunk whose raw length is
  // 0 or above the chunk size, whose packed length runs past the stream, or that does not
  // inflate to its raw length ends the unpacking with false; no output file is left then.
  bool unpack(std::string_view stream, const std::filesystem::path& output_dir);

  // The sum of the raw lengths of a stream's chunk headers (the size of the day file it came
  // from), or nothing when the stream is missing or its chunk headers do not add up.
  std::optional<std::uint64_t> raw_length(std::string_view stream) const;

  // Why the last failing call failed, for messages and tests.
  const std::string& error() const { return error_; }

 private:
  bool fail(std::string what);

  std::filesystem::path file_;
  bool storage_ = false;
  // The open compound file (a GsfInfile), absent for an archive that is not written yet.
  void* infile_ = nullptr;
  std::string error_;
};

// What a packing run did.
struct PackRunResult {
  int packed = 0;     // day files packed into their archives
  int unchanged = 0;  // day files whose stream was up to date already
  int failed = 0;     // day files left unpacked (tried again at the next run)
};

// Packs every "*.log" file of protocol_dir other than current_file (compared without regard to
// case) into its monthly archive. A day file already packed and not changed since (its size
// equals its stream's raw length and it was last modified before the archive was written) is
// not packed again, so a start with a year of day files stays quick.
PackRunResult pack_old_day_files(const std::filesystem::path& protocol_dir,
                                 std::string_view current_file, ArchiveWarning warn = {});

// The day-file name of a local date: "%d-%m-%Y" + ".log".
std::string day_file_name(int year, int month, int day);
// The day-file name of the local date of a moment.
std::string day_file_name_of(std::int64_t unix_time);

// Deletes every "*.var" of protocol_dir whose title reads as month-year (the first two parts
// between "-", as decimal numbers) not later than the given month and year. Files whose title
// does not read so, and files that cannot be deleted, are left. Returns how many were deleted.
int clean_archives(const std::filesystem::path& protocol_dir, int year, int month);

}  // namespace kba604
