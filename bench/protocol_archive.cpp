// Speed of the measurement protocol's files: packing and unpacking a day file against bare
// compress2/uncompress on the same chunks, a start that finds a year of packed, unchanged day
// files, and the records per second of the report export (HTML pages and the workbook).
//   bench_protocol_archive [megabytes of the day file, default 40]
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "measurement/report_export.h"

using namespace kba604;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of this thread: on a machine shared with other work the wall clock says more
// about the neighbours than about the code, so the ratios compare processor time.
double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A day of polling: ten parameters every second, values drifting as measured values do.
std::vector<std::uint8_t> day_bytes(std::size_t at_least, std::size_t* records) {
  std::vector<std::uint8_t> out;
  std::mt19937 gen(7);
  const char* names[] = {"rEAd", "Set.P", "r.OUt", "r.St", "rEAd", "rEAd", "r.Cn", "rtC", "T.in", "r.kEY"};
  std::int64_t t = 1796601600;
  *records = 0;
  while (out.size() < at_least) {
    for (int i = 0; i < 10; ++i) {
      float v = 20.0f + static_cast<float>(gen() % 1000) / 100.0f;
      std::uint32_t bits;
      std::memcpy(&bits, &v, 4);
      std::vector<std::uint8_t> data = {static_cast<std::uint8_t>(bits >> 24),
                                        static_cast<std::uint8_t>(bits >> 16),
                                        static_cast<std::uint8_t>(bits >> 8),
                                        static_cast<std::uint8_t>(bits)};
      bool error = gen() % 200 == 0;
      if (error) data.clear();
      encode_day_record(make_day_record(t, names[i], static_cast<std::uint8_t>(i < 4 ? 0 : i - 3),
                                        error, data),
                        out);
      ++*records;
    }
    ++t;
  }
  return out;
}

void write_file(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 40;
  const fs::path root = fs::temp_directory_path() / ("kba604-bench-protocol-" + std::to_string(::getpid()));
  const fs::path protocol = root / "protocol";
  fs::create_directories(protocol);
  fs::create_directories(root / "temp");

  std::size_t records = 0;
  const std::vector<std::uint8_t> day = day_bytes(megabytes * 1000000, &records);
  write_file(protocol / "06-12-2026.log", day);

  // Bare zlib on the same chunks, output buffers allocated once as packing does.
  std::vector<std::uint8_t> packed_chunks;
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset, length in packed_chunks
  std::vector<std::uint8_t> buffer(kArchiveChunkSize * 12 / 10);
  auto bare_pack = [&] {
    packed_chunks.clear();
    spans.clear();
    for (std::size_t at = 0; at < day.size(); at += kArchiveChunkSize) {
      std::size_t n = std::min(kArchiveChunkSize, day.size() - at);
      uLongf size = buffer.size();
      compress2(buffer.data(), &size, day.data() + at, n, Z_DEFAULT_COMPRESSION);
      spans.emplace_back(packed_chunks.size(), size);
      packed_chunks.insert(packed_chunks.end(), buffer.begin(), buffer.begin() + size);
    }
  };
  std::vector<std::uint8_t> raw(kArchiveChunkSize);
  auto bare_unpack = [&] {
    for (std::size_t i = 0; i < spans.size(); ++i) {
      uLongf size = raw.size();
      uncompress(raw.data(), &size, packed_chunks.data() + spans[i].first, spans[i].second);
    }
  };

  // Five runs of each, interleaved, so that a neighbour's burst falls on both sides; the
  // ratios are those of the medians.
  constexpr int kRuns = 5;
  std::vector<double> bare_pack_runs, pack_runs, bare_unpack_runs, unpack_runs;
  ProtocolArchive archive;
  bool packed = true;
  bool unpacked = true;
  for (int run = 0; run < kRuns; ++run) {
    double cpu = cpu_ms();
    bare_pack();
    bare_pack_runs.push_back(cpu_ms() - cpu);
    fs::remove(protocol / "12-2026.var");
    archive.open(protocol / "12-2026.var", true);
    cpu = cpu_ms();
    packed = archive.pack("06-12-2026.log", protocol / "06-12-2026.log") && packed;
    pack_runs.push_back(cpu_ms() - cpu);
  }
  for (int run = 0; run < kRuns; ++run) {
    double cpu = cpu_ms();
    bare_unpack();
    bare_unpack_runs.push_back(cpu_ms() - cpu);
    cpu = cpu_ms();
    unpacked = archive.unpack("06-12-2026.log", root / "temp") && unpacked;
    unpack_runs.push_back(cpu_ms() - cpu);
    fs::remove(root / "temp" / "06-12-2026.log");
  }
  archive.close();
  if (!packed || !unpacked) {
    std::fprintf(stderr, "packing or unpacking failed: %s\n", archive.error().c_str());
    return 1;
  }
  const double bare_pack_ms = median(bare_pack_runs);
  const double pack_ms = median(pack_runs);
  const double bare_unpack_ms = median(bare_unpack_runs);
  const double unpack_ms = median(unpack_runs);

  // The report: every record of the day into HTML pages, then into a workbook.
  ParameterTable table(10, "parameters.zip");
  const char* names[] = {"rEAd", "Set.P", "r.OUt", "r.St", "rEAd", "rEAd", "r.Cn", "rtC", "T.in", "r.kEY"};
  for (int i = 0; i < 10; ++i) {
    table[i].short_name = names[i];
    table[i].title = names[i];
    table[i].format = i == 3 ? "Стоп:Пуск" : i >= 6 && i <= 7 ? "DEC_dot" : "float";
    table[i].address_offset = i < 4 ? 0 : i - 3;
  }
  ReportExport report(table, root);
  ReportRequest request;
  request.by_period = false;
  request.file_name = "06-12-2026.log";
  double cpu = cpu_ms();
  ReportResult html = report.run(request, nullptr, nullptr);
  const double html_ms = cpu_ms() - cpu;
  request.output = ReportOutput::Spreadsheet;
  cpu = cpu_ms();
  ReportResult xlsx = report.run(request, nullptr, nullptr);
  const double xlsx_ms = cpu_ms() - cpu;

  // A start with a year of packed, unchanged day files (small ones: the check reads the chunk
  // headers only, so their size matters little).
  fs::remove_all(protocol);
  fs::create_directories(protocol);
  std::size_t small_records = 0;
  const std::vector<std::uint8_t> small = day_bytes(60000, &small_records);
  for (int d = 0; d < 365; ++d) {
    std::string name = day_file_name_of(1767268800 + static_cast<std::int64_t>(d) * 86400);
    write_file(protocol / name, small);
    fs::last_write_time(protocol / name, fs::last_write_time(protocol / name) - std::chrono::minutes(5));
  }
  auto start = Clock::now();
  PackRunResult first = pack_old_day_files(protocol, "01-01-2030.log");
  const double first_run_ms = ms_since(start);
  start = Clock::now();
  PackRunResult again = pack_old_day_files(protocol, "01-01-2030.log");
  const double again_ms = ms_since(start);

  const double mb = static_cast<double>(day.size()) / 1e6;
  std::printf("day file: %.1f MB, %zu records, %zu chunks (times: processor time of the thread, "
              "medians of 5 interleaved runs; the start: wall clock)\n",
              mb, records, spans.size());
  std::printf("pack:   %8.1f ms (%.1f MB/s); bare compress2  %8.1f ms; throughput ratio %.3f\n",
              pack_ms, mb / pack_ms * 1000, bare_pack_ms, bare_pack_ms / pack_ms);
  std::printf("unpack: %8.1f ms (%.1f MB/s); bare uncompress %8.1f ms; throughput ratio %.3f\n",
              unpack_ms, mb / unpack_ms * 1000, bare_unpack_ms, bare_unpack_ms / unpack_ms);
  std::printf("report, HTML pages: %zu records in %.1f ms, %.2f million records/s (%zu pages)\n",
              html.records, html_ms, static_cast<double>(html.records) / html_ms / 1000,
              html.pages.size());
  std::printf("report, workbook:   %zu records in %.1f ms, %.2f million records/s\n", xlsx.records,
              xlsx_ms, static_cast<double>(xlsx.records) / xlsx_ms / 1000);
  std::printf("start with 365 day files: first run packs %d in %.1f ms; next start %.1f ms "
              "(%d unchanged, %d packed; goal under 100 ms)\n",
              first.packed, first_run_ms, again_ms, again.unchanged, again.packed);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
