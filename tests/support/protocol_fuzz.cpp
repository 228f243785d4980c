#include "support/protocol_fuzz.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "measurement/day_series.h"
#include "model/parameter_table.h"

namespace kba604::test {
namespace fs = std::filesystem;

namespace {

// A private folder per process, emptied before each input.
const fs::path& scratch() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("kba604-protocol-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(d);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() /
                         ("kba604-protocol-fuzz-" + std::to_string(::getpid())),
                     ec);
    });
    return d;
  }();
  return dir;
}

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "protocol fuzz: %s\n", what);
  std::abort();
}

}  // namespace

void fuzz_day_file_input(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  DayRecord record;
  while (std::size_t used = decode_day_record(data + at, size - at, record)) {
    if (used != kDayRecordHeaderSize + record.length || used > size - at) broken("record length");
    at += used;
  }
  // The file reader must agree with the buffer decoder.
  fs::path file = scratch() / "day.log";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  DayFileReader reader;
  if (!reader.open(file)) broken("cannot open the day file");
  while (reader.next(record)) {
  }
  if (reader.position() != at || reader.torn() != (at < size)) broken("file reader disagrees");

  // The same bytes as lines to plot, decoded with a few formats, and thinned for drawing.
  static ParameterTable table(4, "parameters.zip");
  static const bool described = [] {
    const char* names[] = {"rEAd", "r.Cn", "Set.P", "r.Mod"};
    const char* formats[] = {"float", "DEC_dot", "STORED_DOT", "Стоп:Пуск"};
    for (std::size_t i = 0; i < 4; ++i) {
      table[i].short_name = names[i];
      table[i].format = formats[i];
    }
    return true;
  }();
  (void)described;
  DaySeriesSet day = DaySeriesBuilder(table).read(file);
  if (day.torn != (at < size) || day.unread_bytes != size - at) broken("series disagree");
  for (const DaySeries& s : day.series) {
    if (s.times.size() != s.values.size() || !std::is_sorted(s.times.begin(), s.times.end())) {
      broken("series out of order");
    }
    if (s.size() == 0) continue;
    for (int columns : {1, 7, 500}) {
      for (const auto& stretch : plot_stretches(s, s.times.front() * 1000, s.times.back() * 1000,
                                                columns, 5)) {
        for (const PlotPoint& p : stretch) {
          if (p.value != p.value) broken("a gap drawn as a point");
        }
      }
    }
  }
}

void fuzz_archive_input(const std::uint8_t* data, std::size_t size) {
  std::error_code ec;
  fs::remove_all(scratch() / "out", ec);
  fs::path file = scratch() / "12-2026.var";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ProtocolArchive archive;
  if (!archive.open(file, false)) return;
  for (const std::string& name : archive.list()) {
    archive.raw_length(name);
    archive.unpack(name, scratch() / "out");
  }
  // Nothing may have been written beside the output folder.
  for (const auto& entry : fs::directory_iterator(scratch())) {
    std::string n = entry.path().filename().string();
    if (n != "12-2026.var" && n != "out" && n != "day.log") broken("wrote outside its folder");
  }
}

}  // namespace kba604::test
