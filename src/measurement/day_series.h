// A recorded day turned into lines to plot: for every parameter (short name and address offset)
// whose replies decode to numbers, the times of its polls and their values, with the failed
// polls (a time-out, a refusal of the instrument) and the values that are no number kept as
// gaps, never as zeros. The replies are decoded with the formats of the parameters of the
// description in use, as the report export does.
//
// A day of many parameters polled every second is tens of megabytes of records: the series keep
// two plain arrays per parameter, and plot_stretches() thins a time range down to what a given
// number of pixel columns can show (the smallest and largest value of each column), so a view
// never holds more than a few points per column.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "measurement/day_file_reader.h"
#include "model/my_converter.h"
#include "model/parameter_table.h"

namespace kba604 {

// The number a value text stands for on a plot: the whole text, blanks around it aside, a
// decimal comma taken as a point (the C library prints one in a Russian locale), read the same
// in every locale. Nothing for a text that is no finite number.
std::optional<double> plotted_number(std::string_view text);

// The name of a parameter's line: its short name, with "@" and the address offset when that is
// not 0.
std::string line_key(std::string_view short_name, int address_offset);

// One parameter's polls of a day, in time order. values[i] is NaN where the poll failed or its
// value is no number.
struct DaySeries {
  std::string key;
  std::string short_name;
  std::uint8_t address_offset = 0;
  std::string title;
  std::vector<std::int64_t> times;  // seconds since 1970 (UTC)
  std::vector<double> values;
  std::size_t gaps = 0;

  std::size_t size() const { return times.size(); }
};

// A day read for plotting, with what could not be read of it.
struct DaySeriesSet {
  std::string day;  // the day file's name, "07-12-2026.log"
  bool from_archive = false;
  std::vector<DaySeries> series;  // by key
  std::uint64_t records = 0;      // whole records read
  std::uint64_t file_size = 0;
  // The file ended inside a record (a stop in the middle of an append), and the bytes after the
  // last whole record (a torn record, or what followed a read error).
  bool torn = false;
  std::uint64_t unread_bytes = 0;
  bool read_error = false;
  // Records of parameters that the description in use does not have (their replies cannot be
  // decoded), and records whose time stamp is no date of this era (a damaged file).
  std::uint64_t unknown_records = 0;
  std::uint64_t bad_times = 0;
  bool cancelled = false;
  // Why nothing at all could be read; empty when the file was read.
  std::string error;

  const DaySeries* find(std::string_view key) const;
  // The earliest and the latest poll of any line, in seconds.
  std::optional<std::pair<std::int64_t, std::int64_t>> extent() const;
  // What was read and what was not, in the user's words: empty when every byte of the file
  // became a point or a gap of a line.
  std::string problems() const;
};

// Reads day files into series. It copies what decoding needs from the parameter table when it
// is made (on the thread that owns the table), so reading can then run on a worker while the
// table is reloaded or goes.
class DaySeriesBuilder {
 public:
  explicit DaySeriesBuilder(const ParameterTable& table);

  // Reads a whole day file. cancel, when given, is tested every few thousand records; progress,
  // when given, hears the share of the file read (0 to 100) whenever it grows.
  DaySeriesSet read(const std::filesystem::path& file, const std::atomic<bool>* cancel = nullptr,
                    const std::function<void(int)>& progress = {}) const;
  // The series of records already decoded.
  DaySeriesSet build(const std::vector<DayRecord>& records) const;

 private:
  friend class DaySeriesAccumulator;
  struct Decoder {
    MyConverter converter;
    bool indexed = false;
    std::string title;
  };
  // The first parameter of the table with a name (compared without regard to case) and an
  // address offset, as the report export takes it.
  const Decoder* decoder_of(std::string_view name, std::uint8_t offset) const;

  std::vector<Decoder> decoders_;
  std::unordered_map<std::string, std::size_t> by_name_;  // folded name + '\0' + offset
};

// A point as drawn: time in milliseconds since 1970 and its value.
struct PlotPoint {
  std::int64_t ms = 0;
  double value = 0;
  friend bool operator==(const PlotPoint&, const PlotPoint&) = default;
};

// The points of a series to draw from from_ms to to_ms across `columns` pixel columns, as
// unbroken stretches: a line is broken where a gap (a failed poll, a value that is no number)
// lies between two points. A range with at most two points per column gives every point and
// breaks at every gap. A denser one gives, per column, the first value, the smallest and the
// largest in the order they came and the last (so steps and spikes stay where they were), and
// breaks only at gaps wider than a column: a narrower one could not be seen, and a line broken
// there would only cost a chart series per failed poll. The poll just before the range and the
// one just after it are taken too, so a line runs to the edges. At most max_stretches come
// back: beyond that, the stretches separated by the shortest gaps are joined.
std::vector<std::vector<PlotPoint>> plot_stretches(const DaySeries& series, std::int64_t from_ms,
                                                   std::int64_t to_ms, int columns,
                                                   std::size_t max_stretches = 64);

}  // namespace kba604
