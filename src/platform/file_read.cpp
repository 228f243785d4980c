#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace kba604::platform {
namespace {

std::mutex hook_mutex;
std::function<void(const std::filesystem::path&)> read_hook;

void run_read_hook(const std::filesystem::path& path) {
  std::function<void(const std::filesystem::path&)> hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = read_hook;
  }
  if (hook) hook(path);
}

constexpr const char* kFolderText = "это папка, а не файл";
constexpr const char* kNotRegularText = "это не обычный файл (устройство, канал или сокет)";

FileRead failure(FileReadStatus status, std::string reason, std::string& bytes) {
  bytes.clear();
  return {status, std::move(reason)};
}

FileRead from_errno(int err, std::string& bytes) {
  return failure(err == ENOENT ? FileReadStatus::Missing : FileReadStatus::Failed,
                 std::strerror(err), bytes);
}

FileRead of_kind(const struct stat& st, std::uint64_t largest, std::string& bytes) {
  if (S_ISDIR(st.st_mode)) return failure(FileReadStatus::Folder, kFolderText, bytes);
  if (!S_ISREG(st.st_mode)) return failure(FileReadStatus::NotRegular, kNotRegularText, bytes);
  if (static_cast<std::uint64_t>(st.st_size) > largest) {
    return failure(FileReadStatus::TooLarge,
                   "файл больше " + std::to_string(largest / (1024 * 1024)) +
                       " МиБ, такой не может быть входным файлом программы",
                   bytes);
  }
  return {FileReadStatus::Ok, {}};
}

}  // namespace

void set_file_read_hook(std::function<void(const std::filesystem::path&)> hook) {
  std::lock_guard lock(hook_mutex);
  read_hook = std::move(hook);
}

FileRead read_regular_file(const std::filesystem::path& path, std::string& bytes,
                           std::uint64_t largest) {
  bytes.clear();
  // The kind is looked at before opening: opening a FIFO or a terminal has effects of its own.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return from_errno(errno, bytes);
  if (FileRead kind = of_kind(st, largest, bytes); !kind.ok()) return kind;

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return from_errno(errno, bytes);
  // The name may have been given to another file meanwhile: what counts is what was opened.
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return from_errno(err, bytes);
  }
  if (FileRead kind = of_kind(st, largest, bytes); !kind.ok()) {
    ::close(fd);
    return kind;
  }
  const std::uint64_t expected = static_cast<std::uint64_t>(st.st_size);
  run_read_hook(path);
  bytes.reserve(static_cast<std::size_t>(expected));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return from_errno(err, bytes);
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    // A file that grows while it is read is read up to the limit, never past it.
    if (bytes.size() > largest) {
      ::close(fd);
      return failure(
          FileReadStatus::TooLarge,
          "файл вырос больше " + std::to_string(largest / (1024 * 1024)) + " МиБ во время чтения",
          bytes);
    }
  }
  ::close(fd);
  if (bytes.size() < expected) {
    return failure(FileReadStatus::CutShort, "файл укорочен во время чтения", bytes);
  }
  return {FileReadStatus::Ok, {}};
}

int open_regular_file(const std::filesystem::path& path, FileRead& result) {
  std::string unused;
  constexpr std::uint64_t kAnySize = ~std::uint64_t{0};
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    result = from_errno(errno, unused);
    return -1;
  }
  if (result = of_kind(st, kAnySize, unused); !result.ok()) return -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    result = from_errno(errno, unused);
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    result = from_errno(errno, unused);
    ::close(fd);
    return -1;
  }
  if (result = of_kind(st, kAnySize, unused); !result.ok()) {
    ::close(fd);
    return -1;
  }
  // A regular file reads the same either way; the caller's reads may then simply block.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  result = {FileReadStatus::Ok, {}};
  return fd;
}

std::string unwritable_kind(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return kFolderText;
  if (!S_ISREG(st.st_mode)) return kNotRegularText;
  return {};
}

}  // namespace kba604::platform
