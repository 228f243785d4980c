// What a large recorded day costs the trend view: a day of 20 parameters polled every second
// (1 728 000 records, about 40 MB, one poll in 200 failed), read into lines, thinned for a plot
// 1000 pixels wide, and shown in a TrendView on the offscreen platform.
//
//   QT_QPA_PLATFORM=offscreen build/<preset>/bin/bench_ui_trend_day [parameters, default 20]
//
// Prints, with processor time of the thread:
//   - reading into lines (on the worker), against a bare pass of the day-file reader over the
//     same file (the price of decoding each reply with its parameter's format), and against
//     the 2 s a reading with its progress on show may take (aim: below 1);
//   - the lines' memory against the file's size (aim: below 1);
//   - the points the chart holds per line and pixel column (aim: at most 8) and against the
//     points of the day;
//   - showing the whole day, painting it, and moving an hour's window through it (on the UI
//     thread), against the 100 ms a person notices (aim: below 1).
#include <QApplication>
#include <QDateTime>
#include <QPixmap>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "measurement/day_file_reader.h"
#include "measurement/day_series.h"
#include "model/parameter_table.h"
#include "ui/trend_view.h"

using namespace kba604;
namespace fs = std::filesystem;

namespace {

double cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::vector<std::uint8_t> float_bytes(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
          static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int parameters = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const fs::path folder =
      fs::temp_directory_path() / ("kba604-bench-trend-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path file = folder / "07-12-2026.log";

  ParameterTable table(static_cast<std::size_t>(parameters), "parameters.zip");
  for (int p = 0; p < parameters; ++p) {
    table[static_cast<std::size_t>(p)].short_name = "rEAd";
    table[static_cast<std::size_t>(p)].format = "float";
    table[static_cast<std::size_t>(p)].address_offset = p;
  }
  std::uint64_t records = 0;
  {
    std::mt19937 gen(7);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<std::uint8_t> bytes;
    const std::int64_t start = 1796637600;
    for (int s = 0; s < 86400; ++s) {
      for (int p = 0; p < parameters; ++p) {
        const bool failed = gen() % 200 == 0;
        const float v = 20.0f + 10.0f * std::sin(static_cast<float>(s) / 3000.0f + p) +
                        static_cast<float>(gen() % 100) / 100.0f;
        encode_day_record(make_day_record(start + s, "rEAd", static_cast<std::uint8_t>(p), failed,
                                          failed ? std::vector<std::uint8_t>{} : float_bytes(v)),
                          bytes);
        ++records;
      }
      if (bytes.size() > (1 << 20)) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        bytes.clear();
      }
    }
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  const double file_mb = static_cast<double>(fs::file_size(file)) / 1e6;

  // A bare pass of the reader (the file is in the page cache for both passes).
  double t0 = cpu_ms();
  {
    DayFileReader reader;
    reader.open(file);
    DayRecord r;
    std::uint64_t n = 0;
    while (reader.next(r)) ++n;
    if (n != records)
      std::fprintf(stderr, "reader saw %llu records\n", static_cast<unsigned long long>(n));
  }
  const double bare_ms = cpu_ms() - t0;

  t0 = cpu_ms();
  auto day = std::make_shared<DaySeriesSet>(DaySeriesBuilder(table).read(file));
  const double read_ms = cpu_ms() - t0;
  std::uint64_t memory = 0, points = 0;
  for (const DaySeries& s : day->series) {
    memory += s.times.capacity() * sizeof(std::int64_t) + s.values.capacity() * sizeof(double);
    points += s.size();
  }

  TrendView view;
  view.resize(1100, 600);
  t0 = cpu_ms();
  view.show_day(day, "07.12.2026");
  const double show_ms = cpu_ms() - t0;
  std::uint64_t drawn = 0;
  for (const QString& key : view.lines())
    drawn += static_cast<std::uint64_t>(view.drawn_points(key));

  // Painting the whole day once (offscreen, into a picture of the view).
  view.show();
  QApplication::processEvents();
  t0 = cpu_ms();
  const QPixmap picture = view.grab();
  const double paint_ms = cpu_ms() - t0;

  view.set_window_seconds(3600);
  const int steps = 24;
  t0 = cpu_ms();
  for (int h = 0; h < steps; ++h) {
    view.set_range_start(QDateTime::fromSecsSinceEpoch(1796637600 + h * 3600));
  }
  const double move_ms = (cpu_ms() - t0) / steps;

  std::printf("day: %d parameters, %llu records, %.1f MB\n", parameters,
              static_cast<unsigned long long>(records), file_mb);
  std::printf(
      "read into lines: %.0f ms, bare reader: %.0f ms (ratio %.1f), ratio to 2 s %.2f (aim < 1)\n",
      read_ms, bare_ms, read_ms / bare_ms, read_ms / 2000);
  std::printf("lines' memory: %.1f MB, ratio to the file %.2f (aim < 1)\n",
              static_cast<double>(memory) / 1e6, static_cast<double>(memory) / 1e6 / file_mb);
  const int columns = view.plot_columns();
  std::printf(
      "points drawn: %llu of %llu (ratio %.4f), per line and column %.2f of %d columns (aim <= "
      "8)\n",
      static_cast<unsigned long long>(drawn), static_cast<unsigned long long>(points),
      static_cast<double>(drawn) / static_cast<double>(points),
      static_cast<double>(drawn) / parameters / columns, columns);
  std::printf("show the whole day: %.1f ms, ratio to 100 ms %.2f (aim < 1)\n", show_ms,
              show_ms / 100);
  std::printf("paint the whole day: %.1f ms (%dx%d), ratio to 100 ms %.2f (aim < 1)\n", paint_ms,
              picture.width(), picture.height(), paint_ms / 100);
  std::printf("move an hour's window: %.1f ms, ratio to 100 ms %.2f (aim < 1)\n", move_ms,
              move_ms / 100);
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
