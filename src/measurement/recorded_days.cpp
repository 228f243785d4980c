#include "measurement/recorded_days.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <map>

#include "files/protocol_archive.h"
#include "platform/text.h"

namespace kba604 {
namespace fs = std::filesystem;
namespace {

// Reads "DD-MM-YYYY.log" into the day's date; false for any other name.
bool parse_day_name(std::string_view name, RecordedDay& day) {
  if (name.size() != 14 || !platform::iequals(name.substr(10), ".log") || name[2] != '-' ||
      name[5] != '-') {
    return false;
  }
  auto number = [&](std::size_t at, std::size_t length, int& out) {
    auto [end, ec] = std::from_chars(name.data() + at, name.data() + at + length, out);
    return ec == std::errc() && end == name.data() + at + length;
  };
  int d = 0, m = 0, y = 0;
  if (!number(0, 2, d) || !number(3, 2, m) || !number(6, 4, y)) return false;
  if (d < 1 || d > 31 || m < 1 || m > 12 || y < 1900) return false;
  day.year = y;
  day.month = m;
  day.day = d;
  return true;
}

// A folder of its own under temp_dir for one unpacking.
fs::path private_folder(const fs::path& temp_dir) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  fs::create_directories(temp_dir, ec);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path folder = temp_dir / platform::format("trend-%ld-%u", static_cast<long>(::getpid()),
                                                  counter.fetch_add(1));
    if (fs::create_directory(folder, ec)) return folder;
  }
  return {};
}

}  // namespace

std::string RecordedDay::date_text() const {
  return dated() ? platform::format("%02d.%02d.%04d", day, month, year) : name;
}

std::vector<RecordedDay> recorded_days(const fs::path& protocol_dir) {
  std::map<std::string, RecordedDay> days;
  auto entry = [&days](const std::string& name) -> RecordedDay& {
    auto [it, fresh] = days.try_emplace(name);
    if (fresh) {
      it->second.name = name;
      parse_day_name(name, it->second);
    }
    return it->second;
  };
  const ProtocolFiles found = list_protocol_files(protocol_dir);
  for (const fs::path& file : found.day_files) entry(file.filename().string()).on_disk = true;
  for (const ProtocolFiles::Archive& archive : found.archives) {
    for (const std::string& stream : archive.streams) {
      if (!safe_stream_name(stream)) continue;
      RecordedDay& day = entry(stream);
      if (day.archive.empty()) day.archive = archive.file;
    }
  }
  std::vector<RecordedDay> list;
  for (auto& [name, day] : days) list.push_back(std::move(day));
  std::stable_sort(list.begin(), list.end(), [](const RecordedDay& a, const RecordedDay& b) {
    if (a.dated() != b.dated()) return a.dated();
    if (!a.dated()) return false;  // kept in name order
    if (a.year != b.year) return a.year > b.year;
    if (a.month != b.month) return a.month > b.month;
    return a.day > b.day;
  });
  return list;
}

DaySeriesSet load_recorded_day(const DaySeriesBuilder& builder, const RecordedDay& day,
                               const fs::path& protocol_dir, const fs::path& temp_dir,
                               const std::atomic<bool>* cancel,
                               const std::function<void(int)>& progress) {
  std::error_code ec;
  if (day.on_disk && safe_stream_name(day.name) &&
      fs::is_regular_file(protocol_dir / day.name, ec)) {
    DaySeriesSet set = builder.read(protocol_dir / day.name, cancel, progress);
    // A day file that cannot be read may still have its packed copy.
    if (set.error.empty() || day.archive.empty()) return set;
  }
  DaySeriesSet set;
  set.day = day.name;
  set.from_archive = true;
  if (day.archive.empty() || !safe_stream_name(day.name)) {
    set.error = "дня нет ни в папке протокола, ни в архивах";
    return set;
  }
  ProtocolArchive archive;
  if (!archive.open(day.archive, false)) {
    set.error = "архив " + day.archive.filename().string() + " не открывается";
    return set;
  }
  const fs::path folder = private_folder(temp_dir);
  if (folder.empty()) {
    set.error = "нет папки для распаковки в " + temp_dir.string();
    return set;
  }
  if (!archive.unpack(day.name, folder)) {
    set.error = "день не распакован из архива " + day.archive.filename().string() +
                (archive.error().empty() ? std::string() : " (" + archive.error() + ")");
  } else {
    archive.close();
    set = builder.read(folder / day.name, cancel, progress);
    set.day = day.name;
    set.from_archive = true;
  }
  fs::remove_all(folder, ec);
  return set;
}

}  // namespace kba604
