#include "measurement/day_series.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "platform/text.h"

namespace kba604 {
namespace {

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();
// Time stamps outside 1970 to 3000 are no date a recording wrote: a damaged record.
constexpr std::int64_t kLatestTime = 32503680000;
// Records between two looks at the cancel flag and the progress.
constexpr std::uint64_t kCheckEvery = 4096;

std::string lookup_key(std::string_view name, std::uint8_t offset) {
  std::string key = platform::fold_case(name);
  key += '\0';
  key += static_cast<char>(offset);
  return key;
}

}  // namespace

std::optional<double> plotted_number(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::array<char, 64> buffer{};
  std::copy(text.begin(), text.end(), buffer.begin());
  std::replace(buffer.begin(), buffer.begin() + text.size(), ',', '.');
  double v = 0;
  const char* end = buffer.data() + text.size();
  auto [stop, ec] = std::from_chars(buffer.data(), end, v);
  if (ec != std::errc() || stop != end || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string line_key(std::string_view short_name, int address_offset) {
  std::string key(short_name);
  if (address_offset != 0) key += "@" + std::to_string(address_offset);
  return key;
}

const DaySeries* DaySeriesSet::find(std::string_view key) const {
  for (const DaySeries& s : series) {
    if (s.key == key) return &s;
  }
  return nullptr;
}

std::optional<std::pair<std::int64_t, std::int64_t>> DaySeriesSet::extent() const {
  std::optional<std::pair<std::int64_t, std::int64_t>> range;
  for (const DaySeries& s : series) {
    if (s.times.empty()) continue;
    if (!range) range.emplace(s.times.front(), s.times.back());
    range->first = std::min(range->first, s.times.front());
    range->second = std::max(range->second, s.times.back());
  }
  return range;
}

std::string DaySeriesSet::problems() const {
  std::vector<std::string> parts;
  if (!error.empty()) parts.push_back("Не удалось прочитать " + day + ": " + error);
  if (cancelled) parts.push_back("чтение прервано");
  if (read_error) {
    parts.push_back(platform::format("ошибка чтения файла, %llu байт после неё не прочитаны",
                                     static_cast<unsigned long long>(unread_bytes)));
  } else if (torn) {
    parts.push_back(
        platform::format("последняя запись оборвана, %llu байт в конце файла не прочитаны",
                         static_cast<unsigned long long>(unread_bytes)));
  }
  if (unknown_records > 0) {
    parts.push_back(platform::format("%llu записей параметров, которых нет в описании, не показаны",
                                     static_cast<unsigned long long>(unknown_records)));
  }
  if (bad_times > 0) {
    parts.push_back(platform::format("%llu записей с неверным временем не показаны",
                                     static_cast<unsigned long long>(bad_times)));
  }
  std::string text;
  for (const std::string& p : parts) text += (text.empty() ? "" : "; ") + p;
  return text;
}

DaySeriesBuilder::DaySeriesBuilder(const ParameterTable& table) {
  decoders_.reserve(table.size());
  for (const Parameter& p : table) {
    Decoder d;
    // The fields that decoding reads, and not the value, which a scanner may be writing now.
    d.converter.short_name = p.short_name;
    d.converter.format = p.format;
    d.converter.decimals = p.decimals;
    d.converter.maximum = p.maximum;
    d.converter.minimum = p.minimum;
    d.indexed = p.indexed;
    d.title = p.shown_title();
    const auto offset = static_cast<std::uint8_t>(p.address_offset & 0xFF);
    by_name_.try_emplace(lookup_key(p.short_name, offset), decoders_.size());
    decoders_.push_back(std::move(d));
  }
}

const DaySeriesBuilder::Decoder* DaySeriesBuilder::decoder_of(std::string_view name,
                                                              std::uint8_t offset) const {
  auto it = by_name_.find(lookup_key(name, offset));
  return it == by_name_.end() ? nullptr : &decoders_[it->second];
}

// The lines of one reading, filled record by record.
class DaySeriesAccumulator {
 public:
  DaySeriesAccumulator(const DaySeriesBuilder& builder, DaySeriesSet& set)
      : builder_(builder), set_(set) {}

  void add(const DayRecord& r) {
    ++set_.records;
    if (r.time < 0 || r.time > kLatestTime) {
      ++set_.bad_times;
      return;
    }
    Line* line = line_of(r);
    if (line == nullptr) {
      ++set_.unknown_records;
      return;
    }
    DaySeries& s = set_.series[line->series];
    s.times.push_back(r.time);
    s.values.push_back(value_of(*line, r));
    if (std::isnan(s.values.back())) ++s.gaps;
  }

  void finish() {
    std::vector<DaySeries> kept;
    for (DaySeries& s : set_.series) {
      // A parameter whose values are no numbers (an item of a list) has no line.
      if (s.gaps == s.size()) continue;
      if (!std::is_sorted(s.times.begin(), s.times.end())) sort_by_time(s);
      // A long day's arrays grew by doubling: they give back what they do not use.
      s.times.shrink_to_fit();
      s.values.shrink_to_fit();
      kept.push_back(std::move(s));
    }
    std::sort(kept.begin(), kept.end(),
              [](const DaySeries& a, const DaySeries& b) { return a.key < b.key; });
    set_.series = std::move(kept);
  }

 private:
  struct Line {
    std::size_t series = 0;
    const DaySeriesBuilder::Decoder* decoder = nullptr;
    // Polled values repeat: the last reply and its number are kept, and decoding, the dearest
    // step, runs only when the reply changes.
    bool last_valid = false;
    std::uint8_t last_length = 0;
    std::array<std::uint8_t, 255> last_data{};
    double last_value = kGap;
  };

  Line* line_of(const DayRecord& r) {
    auto& slot = by_record_[r.address_offset];
    auto it = slot.find(r.name_key());
    if (it == slot.end()) {
      const DaySeriesBuilder::Decoder* d = builder_.decoder_of(r.name_text(), r.address_offset);
      std::ptrdiff_t index = -1;
      if (d != nullptr) {
        // Names match without regard to case: "READ" and "rEAd" are one parameter, one line,
        // named as the description names it.
        auto [known, fresh] =
            line_of_decoder_.try_emplace(d, static_cast<std::ptrdiff_t>(lines_.size()));
        index = known->second;
        if (fresh) {
          Line line;
          line.series = set_.series.size();
          line.decoder = d;
          lines_.push_back(line);
          DaySeries s;
          s.short_name = d->converter.short_name;
          s.address_offset = r.address_offset;
          s.key = line_key(s.short_name, r.address_offset);
          s.title = d->title;
          set_.series.push_back(std::move(s));
        }
      }
      it = slot.emplace(r.name_key(), index).first;
    }
    return it->second < 0 ? nullptr : &lines_[static_cast<std::size_t>(it->second)];
  }

  static double value_of(Line& line, const DayRecord& r) {
    if (r.error) return kGap;
    if (!line.last_valid || line.last_length != r.length ||
        std::memcmp(line.last_data.data(), r.data.data(), r.length) != 0) {
      std::string text;
      const int result = line.decoder->converter.ConvertFromData(r.data.data(), r.length,
                                                                 line.decoder->indexed, text);
      std::optional<double> number;
      if (result == kDecoded) number = plotted_number(text);
      line.last_value = number ? *number : kGap;
      line.last_valid = true;
      line.last_length = r.length;
      std::memcpy(line.last_data.data(), r.data.data(), r.length);
    }
    return line.last_value;
  }

  static void sort_by_time(DaySeries& s) {
    std::vector<std::size_t> order(s.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&s](std::size_t a, std::size_t b) { return s.times[a] < s.times[b]; });
    std::vector<std::int64_t> times(s.size());
    std::vector<double> values(s.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      times[i] = s.times[order[i]];
      values[i] = s.values[order[i]];
    }
    s.times = std::move(times);
    s.values = std::move(values);
  }

  const DaySeriesBuilder& builder_;
  DaySeriesSet& set_;
  std::vector<Line> lines_;
  // By address offset, then the eight name bytes: the index into lines_, or -1 for a parameter
  // the description does not have.
  std::array<std::unordered_map<std::uint64_t, std::ptrdiff_t>, 256> by_record_;
  std::unordered_map<const DaySeriesBuilder::Decoder*, std::ptrdiff_t> line_of_decoder_;
};

DaySeriesSet DaySeriesBuilder::read(const std::filesystem::path& file,
                                    const std::atomic<bool>* cancel,
                                    const std::function<void(int)>& progress) const {
  DaySeriesSet set;
  set.day = file.filename().string();
  DayFileReader reader;
  std::string why;
  if (!reader.open(file, &why)) {
    set.error = why;
    return set;
  }
  set.file_size = reader.size();
  DaySeriesAccumulator lines(*this, set);
  DayRecord record;
  int shown = -1;
  std::uint64_t count = 0;
  while (reader.next(record)) {
    lines.add(record);
    if (++count % kCheckEvery != 0) continue;
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
      set.cancelled = true;
      break;
    }
    if (progress && reader.size() > 0) {
      const int percent =
          static_cast<int>(std::min<std::uint64_t>(100, reader.position() * 100 / reader.size()));
      if (percent > shown) progress(shown = percent);
    }
  }
  set.read_error = reader.failed();
  if (!set.cancelled) {
    set.torn = reader.torn();
    // A file that grew while it was read (the current day) counts its end as it was at the
    // opening.
    if ((set.torn || set.read_error) && reader.size() > reader.position()) {
      set.unread_bytes = reader.size() - reader.position();
    }
  }
  lines.finish();
  if (progress && shown < 100) progress(100);
  return set;
}

DaySeriesSet DaySeriesBuilder::build(const std::vector<DayRecord>& records) const {
  DaySeriesSet set;
  DaySeriesAccumulator lines(*this, set);
  for (const DayRecord& r : records) lines.add(r);
  lines.finish();
  return set;
}

// ---- thinning for the plot ------------------------------------------------------------------

namespace {

// The values of one column since its last break: the first, smallest, largest and last.
struct ColumnPoints {
  bool any = false;
  std::size_t first = 0, low = 0, high = 0, last = 0;

  void add(std::size_t i, const std::vector<double>& v) {
    if (!any) {
      any = true;
      first = low = high = last = i;
      return;
    }
    if (v[i] < v[low]) low = i;
    if (v[i] > v[high]) high = i;
    last = i;
  }
  void flush(const DaySeries& s, std::vector<PlotPoint>& out) {
    if (!any) return;
    std::array<std::size_t, 4> picks{first, low, high, last};
    std::sort(picks.begin(), picks.end());
    const std::size_t* end = std::unique(picks.begin(), picks.end());
    for (const std::size_t* p = picks.begin(); p != end; ++p) {
      out.push_back(PlotPoint{s.times[*p] * 1000, s.values[*p]});
    }
    any = false;
  }
};

void join_shortest_gaps(std::vector<std::vector<PlotPoint>>& stretches, std::size_t max_stretches) {
  if (max_stretches == 0) max_stretches = 1;
  if (stretches.size() <= max_stretches) return;
  // The gaps between stretches, by length; the longest max_stretches - 1 stay.
  std::vector<std::int64_t> gaps;
  for (std::size_t k = 1; k < stretches.size(); ++k) {
    gaps.push_back(stretches[k].front().ms - stretches[k - 1].back().ms);
  }
  std::vector<std::int64_t> sorted = gaps;
  const std::size_t kept_gaps = max_stretches - 1;
  std::nth_element(sorted.begin(),
                   sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() - kept_gaps - 1),
                   sorted.end());
  const std::int64_t threshold = sorted[sorted.size() - kept_gaps - 1];
  // Gaps longer than the threshold stay; of those equal to it, only as many as still fit.
  std::size_t longer = static_cast<std::size_t>(std::count_if(
      gaps.begin(), gaps.end(), [threshold](std::int64_t g) { return g > threshold; }));
  std::size_t equal_kept = kept_gaps - longer;
  std::vector<std::vector<PlotPoint>> joined;
  joined.push_back(std::move(stretches[0]));
  for (std::size_t k = 1; k < stretches.size(); ++k) {
    const std::int64_t g = gaps[k - 1];
    bool keep = g > threshold;
    if (!keep && g == threshold && equal_kept > 0) {
      keep = true;
      --equal_kept;
    }
    if (keep) {
      joined.push_back(std::move(stretches[k]));
    } else {
      joined.back().insert(joined.back().end(), stretches[k].begin(), stretches[k].end());
    }
  }
  stretches = std::move(joined);
}

}  // namespace

std::vector<std::vector<PlotPoint>> plot_stretches(const DaySeries& s, std::int64_t from_ms,
                                                   std::int64_t to_ms, int columns,
                                                   std::size_t max_stretches) {
  std::vector<std::vector<PlotPoint>> stretches;
  if (s.size() == 0) return stretches;
  columns = std::max(1, columns);
  if (to_ms <= from_ms) to_ms = from_ms + 1;
  auto by_ms = [](std::int64_t t, std::int64_t ms) { return t * 1000 < ms; };
  const std::size_t in_first = static_cast<std::size_t>(
      std::lower_bound(s.times.begin(), s.times.end(), from_ms, by_ms) - s.times.begin());
  const std::size_t in_end = static_cast<std::size_t>(
      std::upper_bound(s.times.begin(), s.times.end(), to_ms,
                       [](std::int64_t ms, std::int64_t t) { return ms < t * 1000; }) -
      s.times.begin());
  // One poll on either side, so the line runs to the edges of the range.
  const std::size_t first = in_first > 0 ? in_first - 1 : 0;
  const std::size_t end = std::min(s.size(), in_end + 1);

  std::vector<PlotPoint> current;
  auto end_stretch = [&] {
    if (!current.empty()) stretches.push_back(std::move(current));
    current.clear();
  };

  if (in_end - in_first <= 2 * static_cast<std::size_t>(columns)) {
    for (std::size_t i = first; i < end; ++i) {
      if (std::isnan(s.values[i])) {
        end_stretch();
      } else {
        current.push_back(PlotPoint{s.times[i] * 1000, s.values[i]});
      }
    }
    end_stretch();
    join_shortest_gaps(stretches, max_stretches);
    return stretches;
  }

  const double width = static_cast<double>(to_ms - from_ms) / columns;
  auto column_of = [&](std::int64_t t) {
    const double c = std::floor(static_cast<double>(t * 1000 - from_ms) / width);
    return static_cast<long>(std::clamp(c, -1.0, static_cast<double>(columns)));
  };
  ColumnPoints acc;
  long acc_column = std::numeric_limits<long>::min();
  bool any_value = false;
  bool pending_gap = false;
  std::int64_t last_ms = 0;
  for (std::size_t i = first; i < end; ++i) {
    if (std::isnan(s.values[i])) {
      pending_gap = any_value;
      continue;
    }
    const std::int64_t ms = s.times[i] * 1000;
    const long c = column_of(s.times[i]);
    if (c != acc_column) {
      acc.flush(s, current);
      acc_column = c;
    }
    // A gap narrower than a column could not be seen: the answers around it stay joined.
    if (pending_gap && static_cast<double>(ms - last_ms) > width) {
      acc.flush(s, current);
      end_stretch();
    }
    pending_gap = false;
    acc.add(i, s.values);
    any_value = true;
    last_ms = ms;
  }
  acc.flush(s, current);
  end_stretch();
  join_shortest_gaps(stretches, max_stretches);
  return stretches;
}

}  // namespace kba604
