#include "measurement/data_logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "platform/text.h"

namespace kba604 {
namespace {

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

bool whole_number(std::string_view text, long long& out) {
  if (text.empty() || text.size() > 18) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool parse_poll_list(std::string_view text, std::vector<PollRequest>& out, std::string& error) {
  out.clear();
  std::size_t begin = 0;
  while (begin <= text.size()) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    std::string item = trimmed(text.substr(begin, comma - begin));
    begin = comma + 1;
    if (item.empty()) {
      error = "--poll: пустой элемент в \"" + std::string(text) + "\"";
      return false;
    }
    PollRequest request;
    if (const auto eq = item.find('='); eq != std::string::npos) {
      const std::optional<std::int32_t> period = Scanner::parse_period(item.substr(eq + 1));
      if (!period) {
        error = "--poll: период в \"" + item + "\" должен быть числом миллисекунд, не меньше 1000";
        return false;
      }
      request.period_ms = period;
      item.erase(eq);
    }
    if (const auto at = item.find('@'); at != std::string::npos) {
      long long offset = 0;
      if (!whole_number(item.substr(at + 1), offset) || offset > 255) {
        error = "--poll: смещение адреса в \"" + item + "\" должно быть числом от 0 до 255";
        return false;
      }
      request.offset = static_cast<int>(offset);
      item.erase(at);
    }
    request.name = trimmed(item);
    if (request.name.empty()) {
      error = "--poll: элемент без имени параметра";
      return false;
    }
    out.push_back(std::move(request));
    if (comma == text.size()) break;
  }
  return true;
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string iso_local_time(std::int64_t wall_ms) {
  const platform::LocalTimeMs local = platform::local_time_ms(wall_ms);
  char date[40];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local.tm);
  const long offset = local.tm.tm_gmtoff;
  const long magnitude = offset < 0 ? -offset : offset;
  return platform::format("%s.%03d%c%02ld:%02ld", date, local.millis,
                          offset < 0 ? '-' : '+', magnitude / 3600, magnitude % 3600 / 60);
}

DataLogger::DataLogger(Scanner& scanner, Recording& recording, platform::Clock& clock,
                       std::FILE* status)
    : scanner_(scanner), recording_(recording), clock_(clock), status_(status) {}

DataLogger::~DataLogger() {
  finish();
}

bool DataLogger::begin(const DescBranch& operational, const LoggerSettings& settings,
                       std::string& error) {
  std::vector<Parameter*> all;
  CollectPolled(operational, all);
  std::vector<std::pair<Parameter*, std::optional<std::int32_t>>> chosen;
  if (settings.polls.empty()) {
    for (Parameter* p : all) chosen.emplace_back(p, std::nullopt);
  }
  for (const PollRequest& r : settings.polls) {
    bool found = false;
    for (Parameter* p : all) {
      if (!platform::iequals(p->short_name, r.name)) continue;
      if (r.offset && p->address_offset != *r.offset) continue;
      found = true;
      // A parameter named twice takes the later period.
      auto same = std::find_if(chosen.begin(), chosen.end(),
                               [p](const auto& c) { return c.first == p; });
      if (same != chosen.end()) {
        if (r.period_ms) same->second = r.period_ms;
      } else {
        chosen.emplace_back(p, r.period_ms);
      }
    }
    if (!found) {
      error = "--poll: нет оперативного параметра \"" + r.name + "\"" +
              (r.offset ? " со смещением адреса " + std::to_string(*r.offset) : std::string());
      return false;
    }
  }
  if (chosen.empty()) {
    error = "нет оперативных параметров для опроса";
    return false;
  }
  if (!settings.csv_path.empty()) {
    csv_fd_ = ::open(settings.csv_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (csv_fd_ < 0) {
      error = "не удалось создать " + settings.csv_path + ": " + std::strerror(errno);
      return false;
    }
    write_row("time,name,offset,value,error\r\n");
  }

  chosen_.clear();
  for (auto& [p, period] : chosen) {
    if (period) p->set_polling_period(*period);
    chosen_.push_back(p);
  }
  start_ms_ = clock_.now_ms();
  duration_ms_ = settings.duration_s * 1000;
  begun_ = true;
  recording_.set_recording(true);
  scanner_.set_sink(this);
  if (!scanner_.running()) scanner_.serve(&operational);
  // The first polls are spread over the shortest period, so that the line is not asked for
  // every parameter at the same moment.
  std::int64_t shortest = INT32_MAX;
  for (Parameter* p : chosen_) shortest = std::min<std::int64_t>(shortest, p->polling_period());
  const auto n = static_cast<std::int64_t>(chosen_.size());
  for (std::int64_t i = 0; i < n; ++i) scanner_.arm(*chosen_[i], i * shortest / n);
  print_status(false);
  return true;
}

bool DataLogger::finished() const {
  return duration_ms_ > 0 && clock_.now_ms() - start_ms_ >= duration_ms_;
}

void DataLogger::wait(platform::Event& stop) {
  for (;;) {
    if (finished()) return;
    // The status is refreshed every second, and the wait ends with the duration.
    std::int64_t step = 1000;
    if (duration_ms_ > 0) step = std::min(step, start_ms_ + duration_ms_ - clock_.now_ms());
    if (stop.wait(static_cast<int>(std::max<std::int64_t>(step, 0)), clock_)) return;
    tick();
  }
}

void DataLogger::tick() {
  recording_.daily_tick();
  print_status(false);
}

void DataLogger::finish() {
  if (!begun_) return;
  begun_ = false;
  for (Parameter* p : chosen_) scanner_.disarm(*p);
  // After this no poll is delivered to the logger any more.
  scanner_.set_sink(nullptr);
  recording_.set_recording(false);
  {
    std::lock_guard lock(csv_mutex_);
    if (csv_fd_ >= 0) {
      if (::fsync(csv_fd_) != 0 && errno != EINVAL) ++lost_rows_;
      ::close(csv_fd_);
      csv_fd_ = -1;
    }
  }
  print_status(true);
}

void DataLogger::polled(PollSnapshot s) {
  ++polls_;
  const bool failed = !s.note.empty();
  if (failed) ++failures_;
  if (!recording_.record(s)) ++lost_records_;
  if (csv_fd_ >= 0) {
    // A value left from before a failed poll is no measurement: the row shows the error only.
    write_row(iso_local_time(s.wall_ms) + "," + csv_field(s.short_name) + "," +
              std::to_string(s.address_offset) + "," + csv_field(failed ? "" : s.value) + "," +
              csv_field(s.note) + "\r\n");
  }
}

void DataLogger::write_row(const std::string& row) {
  std::lock_guard lock(csv_mutex_);
  if (csv_fd_ < 0) return;
  struct stat before {};
  const bool sized = ::fstat(csv_fd_, &before) == 0;
  ssize_t written;
  do {
    written = ::write(csv_fd_, row.data(), row.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(row.size())) {
    ++lost_rows_;
    // A torn row would run into the next one.
    if (written > 0 && sized && ::ftruncate(csv_fd_, before.st_size) == 0) {
      ::lseek(csv_fd_, before.st_size, SEEK_SET);
    }
  }
}

void DataLogger::print_status(bool final_line) {
  if (status_ == nullptr) return;
  std::string line = platform::format("kba604: запись параметров: %zu, опросов: %d, неудачных: %d",
                                      chosen_.size(), polls_.load(), failures_.load());
  if (lost_records_.load() + lost_rows_.load() > 0) {
    line += platform::format(", не записано записей: %d, строк CSV: %d", lost_records_.load(),
                             lost_rows_.load());
  }
  if (!final_line && duration_ms_ > 0) {
    const std::int64_t left = std::max<std::int64_t>(0, start_ms_ + duration_ms_ - clock_.now_ms());
    line += platform::format(", осталось %lld с", static_cast<long long>((left + 999) / 1000));
  }
  // On a terminal the line is rewritten in place; elsewhere each refresh is a line of its own.
  const bool terminal = ::isatty(::fileno(status_)) == 1;
  if (terminal) {
    std::fprintf(status_, "\r%s\033[K%s", line.c_str(), final_line ? "\n" : "");
  } else {
    std::fprintf(status_, "%s\n", line.c_str());
  }
  std::fflush(status_);
}

}  // namespace kba604
