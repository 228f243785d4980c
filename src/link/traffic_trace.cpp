#include "link/traffic_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kba604 {

TrafficTrace::~TrafficTrace() {
  stop();
}

bool TrafficTrace::open(const std::filesystem::path& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  path_ = path;
  log_.set_names([this](std::uint16_t hash) {
    // Called by the writer with the mutex held.
    auto it = names_.find(hash);
    return it != names_.end() ? it->second : std::string();
  });
  return true;
}

void TrafficTrace::attach(Sio& sio) {
  if (file_ == nullptr || sio_ != nullptr) return;
  sio_ = &sio;
  sio.add_tap(tap_);
  // The writer waits only for its two events and the disk: it is joined without a limit.
  writer_.start([this] { run(); });
}

void TrafficTrace::set_names(TrafficNames names) {
  std::lock_guard lock(mutex_);
  names_ = std::move(names);
}

void TrafficTrace::run() {
  while (platform::wait_any({&stop_, &tap_->ready()}, -1) == 1) write_pending();
}

void TrafficTrace::write_pending() {
  std::vector<TrafficRecord> records = tap_->take();
  if (records.empty()) return;
  std::lock_guard lock(mutex_);
  for (TrafficRecord& r : records) {
    const TrafficEntry entry = log_.add(std::move(r));
    for (const std::string& line : traffic_lines(entry)) {
      std::fputs(line.c_str(), file_);
      std::fputc('\n', file_);
    }
    ++written_;
  }
  if (std::fflush(file_) != 0 && error_.empty()) error_ = std::strerror(errno);
}

void TrafficTrace::stop() {
  if (stopped_ || file_ == nullptr) return;
  stopped_ = true;
  if (sio_ != nullptr) sio_->remove_tap(tap_.get());
  stop_.set();
  writer_.join(-1);
  write_pending();
  {
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "-- передач: %llu, не записано: %llu --\n",
                 static_cast<unsigned long long>(tap_->seen()),
                 static_cast<unsigned long long>(tap_->dropped()));
    if (std::fflush(file_) != 0 && error_.empty()) error_ = std::strerror(errno);
  }
  std::fclose(file_);
  file_ = nullptr;
}

bool TrafficTrace::good() const {
  std::lock_guard lock(mutex_);
  return error_.empty();
}

std::string TrafficTrace::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace kba604
