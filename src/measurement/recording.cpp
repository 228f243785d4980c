#include "measurement/recording.h"

#include <ctime>

namespace kba604 {

Recording::Recording(std::filesystem::path program_directory, WallClock wall)
    : directory_(std::move(program_directory)),
      wall_(wall ? std::move(wall) : WallClock(system_wall_ms)),
      parameter_(std::make_unique<Parameter>()) {
  parameter_->title = std::string(kProtocolFileTitle);
  parameter_->short_name = std::string(kProtocolFileShortName);
  parameter_->format = "string";
  parameter_->value = day_file_name(wall_() / 1000);
  current_ = parameter_->value;
}

void Recording::set_current(std::string name) {
  parameter_->value = name;
  std::lock_guard lock(mutex_);
  current_ = std::move(name);
}

void Recording::pack_older_days() {
  if (packing_) packing_(protocol_folder(), current_file());
}

void Recording::start() {
  set_current(day_file_name(wall_() / 1000));
  pack_older_days();
}

bool Recording::daily_tick() {
  const auto now = static_cast<std::time_t>(wall_() / 1000);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return false;
  if (local.tm_hour != 9 || local.tm_min != 12) return false;
  set_current(day_file_name(now));
  if (views_changed_) views_changed_();
  pack_older_days();
  return true;
}

bool Recording::recording() const {
  std::lock_guard lock(mutex_);
  return recording_;
}

void Recording::set_recording(bool on) {
  std::lock_guard lock(mutex_);
  recording_ = on;
}

std::optional<std::string> Recording::accepted_file_name(std::string_view typed) {
  std::string name(typed);
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  constexpr std::string_view kExtension = ".log";
  if (name.size() < kExtension.size() ||
      name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0) {
    name += kExtension;
  }
  return name;
}

bool Recording::set_file_name(std::string_view typed, Prompter* prompter) {
  const std::optional<std::string> name = accepted_file_name(typed);
  if (!name) {
    if (prompter != nullptr) {
      prompter->show(kProtocolFileRefusedText, kProtocolFileRefusedCaption, PromptIcon::Error);
    }
    return false;
  }
  set_current(*name);
  return true;
}

std::string Recording::current_file() const {
  std::lock_guard lock(mutex_);
  return current_;
}

MeasurementRecord Recording::record_of(const PollSnapshot& poll) {
  MeasurementRecord r;
  // The poll's own time: a record handed on through a queue still tells when it was measured.
  r.time_stamp = record_time_stamp(poll.wall_ms / 1000);
  r.short_name = poll.short_name;
  r.address_offset = poll.address_offset;
  r.error = !poll.note.empty();
  r.data.assign(poll.reply.begin(), poll.reply.begin() + poll.reply_length);
  return r;
}

bool Recording::record(const PollSnapshot& poll) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (!recording_) return false;
    name = current_;
  }
  return append_record(protocol_folder() / name, encode_record(record_of(poll)));
}

}  // namespace kba604
