// Reading a whole input file into memory the safe way: only a regular file is read (a folder, a
// device node, a FIFO or a socket is refused before it is opened, so that reading never blocks
// on a pipe nor touches a serial line), a file larger than any real input is refused before it
// is read, and a file that is cut short while being read is told apart from a complete one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace kba604::platform {

// No configuration, EEPROM image, description or day file comes near this.
inline constexpr std::uint64_t kLargestInputFile = 64ull * 1024 * 1024;

enum class FileReadStatus {
  Ok,
  Missing,     // there is no such file
  Folder,      // a folder, not a file
  NotRegular,  // a device node, a FIFO or a socket
  TooLarge,    // larger than the limit: not read
  CutShort,    // the file got shorter while it was read
  Failed,      // the system refused to open or read it
};

struct FileRead {
  FileReadStatus status = FileReadStatus::Failed;
  // Why, in the program's words (Russian), with the system's own text where it has one; empty
  // when the file was read.
  std::string reason;
  bool ok() const { return status == FileReadStatus::Ok; }
};

// Reads the whole regular file at path into bytes (cleared first; left empty on failure).
FileRead read_regular_file(const std::filesystem::path& path, std::string& bytes,
                           std::uint64_t largest = kLargestInputFile);

// Opens a regular file at path for reading front to back, without reading it (a day file, an
// archive's day file being packed): the same refusals as read_regular_file but no size limit,
// since the caller reads through a buffer. Returns the descriptor (blocking reads, close-on-exec),
// or -1 with the status and reason in result.
int open_regular_file(const std::filesystem::path& path, FileRead& result);

// For tests: called once the file is open and its size known, before the first byte is read
// (a test cuts the file short there, as another program writing it at that moment would).
// Process-wide; pass an empty function to remove it.
void set_file_read_hook(std::function<void(const std::filesystem::path&)> hook);

// Why a file named to be written cannot be: a folder or a file that is no regular file (a FIFO,
// a device node) is refused; empty when it may be written (also when it does not exist yet).
std::string unwritable_kind(const std::filesystem::path& path);

}  // namespace kba604::platform
