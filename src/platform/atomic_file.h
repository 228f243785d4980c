// Saving a file so that it is either the old one or the new one, never half-written: the data
// goes into a temporary file in the same folder, which is flushed to disk with its folder and
// then renamed over the target. A failed or interrupted save leaves the old file as it was and
// removes the temporary file.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kba604::platform {

class AtomicFileWriter {
 public:
  // Creates the temporary file beside target (a symbolic link is followed, so the file it
  // points at is replaced). The new file gets the permissions of the file it replaces, or the
  // usual ones for a new file (0666 less the umask).
  explicit AtomicFileWriter(std::filesystem::path target);
  // Discards the temporary file unless commit() succeeded.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // False when the temporary file could not be created or a write failed; error() says why.
  bool ok() const { return fd_ >= 0 && error_.empty(); }
  const std::string& error() const { return error_; }

  bool write(const void* data, std::size_t size);
  bool write(std::string_view data) { return write(data.data(), data.size()); }

  // The temporary file, for a library that writes a file by name (a compound-file archive);
  // commit() then flushes whatever it wrote.
  const std::filesystem::path& temp_path() const { return temp_path_; }
  const std::filesystem::path& target() const { return target_; }

  // How far commit() goes: a file that holds data flushes it to disk before the rename; a
  // scratch copy (a file unpacked into temp/ for a report, whose data is kept elsewhere) is only
  // renamed, so that no reader ever sees it half-written.
  enum class Durability { Flushed, Scratch };
  // Flushes the data and the folder to disk (unless Scratch) and renames the temporary file over
  // the target. False (the target untouched) on any failure.
  bool commit(Durability durability = Durability::Flushed);
  // Drops the temporary file; the target stays as it was.
  void discard();

 private:
  bool fail(std::string what, int err);

  std::filesystem::path target_;
  std::filesystem::path temp_path_;
  int fd_ = -1;
  bool committed_ = false;
  std::string error_;
};

// Writes the whole content atomically. False (with the reason in *error when given) on failure.
bool write_file_atomically(const std::filesystem::path& target, std::string_view content,
                           std::string* error = nullptr);

// For tests: a function called in commit() after the data is on disk and before the rename.
// When it returns false the save fails there, as a crash or a full disk at that moment would.
// Process-wide; pass an empty function to remove it.
using AtomicWriteFault = std::function<bool(const std::filesystem::path& target)>;
void set_atomic_write_fault(AtomicWriteFault fault);

}  // namespace kba604::platform
