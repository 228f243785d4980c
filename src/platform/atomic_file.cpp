#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>

namespace kba604::platform {
namespace {

std::mutex fault_mutex;
AtomicWriteFault fault_hook;

bool run_fault_hook(const std::filesystem::path& target) {
  AtomicWriteFault hook;
  {
    std::lock_guard lock(fault_mutex);
    hook = fault_hook;
  }
  return !hook || hook(target);
}

std::string random_suffix() {
  thread_local std::mt19937_64 rng{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())
                                                                << 32};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s(8, 'x');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

// fsync of the folder makes the rename itself durable.
void sync_folder(const std::filesystem::path& folder) {
  int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  ::fsync(dfd);
  ::close(dfd);
}

}  // namespace

void set_atomic_write_fault(AtomicWriteFault fault) {
  std::lock_guard lock(fault_mutex);
  fault_hook = std::move(fault);
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
  std::error_code ec;
  if (std::filesystem::is_symlink(target_, ec)) {
    std::filesystem::path resolved = std::filesystem::weakly_canonical(target_, ec);
    if (!ec) target_ = resolved;
  }
  const std::filesystem::path folder = target_.parent_path();
  struct stat st {};
  const bool replaces = ::stat(target_.c_str(), &st) == 0;
  for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
    temp_path_ = folder / ("." + target_.filename().string() + ".tmp-" + random_suffix());
    fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    fail("не удалось создать временный файл рядом с " + target_.string(), errno);
    temp_path_.clear();
    return;
  }
  if (replaces) ::fchmod(fd_, st.st_mode & 07777);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (!committed_) discard();
}

bool AtomicFileWriter::fail(std::string what, int err) {
  if (error_.empty()) {
    error_ = std::move(what);
    if (err != 0) error_ += ": " + std::string(std::strerror(err));
  }
  return false;
}

bool AtomicFileWriter::write(const void* data, std::size_t size) {
  if (!ok()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("не удалось записать " + temp_path_.string(), errno);
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFileWriter::commit(Durability durability) {
  if (committed_) return true;
  if (!ok()) {
    discard();
    return false;
  }
  const bool flushed = durability == Durability::Flushed;
  if (flushed && ::fsync(fd_) != 0) {
    fail("не удалось сбросить на диск " + temp_path_.string(), errno);
    discard();
    return false;
  }
  if (::close(fd_) != 0) {
    fd_ = -1;
    fail("не удалось закрыть " + temp_path_.string(), errno);
    discard();
    return false;
  }
  fd_ = -1;
  if (!run_fault_hook(target_)) {
    fail("сохранение " + target_.string() + " прервано", 0);
    discard();
    return false;
  }
  if (::rename(temp_path_.c_str(), target_.c_str()) != 0) {
    fail("не удалось заменить " + target_.string(), errno);
    discard();
    return false;
  }
  committed_ = true;
  if (flushed) sync_folder(target_.parent_path());
  return true;
}

void AtomicFileWriter::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (committed_) return;
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  if (error_.empty()) error_ = "save discarded";
}

bool write_file_atomically(const std::filesystem::path& target, std::string_view content,
                           std::string* error) {
  AtomicFileWriter writer(target);
  writer.write(content);
  bool ok = writer.commit();
  if (!ok && error != nullptr) *error = writer.error();
  return ok;
}

}  // namespace kba604::platform
