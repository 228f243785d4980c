// Loading the full shipped description (the parameter table and the three trees): time per
// load and the peak heap while loading, against inflating the same files alone.
//
//   build/<preset>/bin/bench_description_load [repetitions]
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "description/description_loader.h"
#include "description/record_files.h"
#include "description/gzip_file.h"
#include "support/description_files.h"

namespace {

// Heap accounting: every allocation of the process passes through here.
std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};

void* counted_alloc(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  long long now = g_current += static_cast<long long>(malloc_usable_size(p));
  long long peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void counted_free(void* p) {
  if (p == nullptr) return;
  g_current -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

void* operator new(std::size_t size) {
  return counted_alloc(size);
}
void* operator new[](std::size_t size) {
  return counted_alloc(size);
}
void operator delete(void* p) noexcept {
  counted_free(p);
}
void operator delete[](void* p) noexcept {
  counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  counted_free(p);
}

int main(int argc, char** argv) {
  using namespace kba604;
  int repetitions = argc > 1 ? std::atoi(argv[1]) : 50;
  if (repetitions < 1) repetitions = 1;
  auto folder = test::shipped_description_folder();

  // Inflating the four files alone: the floor any loader has to pay.
  std::size_t compressed = 0, inflated = 0;
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < repetitions; ++r) {
    compressed = inflated = 0;
    std::vector<const char*> files = {description::kParametersFile};
    for (const char* tree : description::kTreeFiles) files.push_back(tree);
    for (const char* name : files) {
      std::vector<std::uint8_t> bytes;
      description::read_file_bytes(folder / name, bytes);
      description::GzipReader reader(bytes.data(), bytes.size());
      std::vector<std::uint8_t> out(reader.trailer_length());
      out.resize(reader.read(out.data(), out.size()));
      reader.finish();
      compressed += bytes.size();
      inflated += out.size();
    }
  }
  double inflate_ms = ms_since(start) / repetitions;

  // The full load, as the program does it at start.
  long long heap_before = g_current.load();
  g_peak = heap_before;
  std::size_t parameters = 0;
  start = std::chrono::steady_clock::now();
  for (int r = 0; r < repetitions; ++r) {
    ParameterTable table;
    DescriptionRequest request;
    request.data_folder = folder;
    DescriptionLoad load = load_description(table, request, nullptr);
    if (load.refused || !load.main_tree) {
      std::fprintf(stderr, "bench_description_load: the description in %s did not load\n",
                   folder.c_str());
      return 1;
    }
    parameters = table.size();
  }
  double load_ms = ms_since(start) / repetitions;
  long long peak_heap = g_peak.load() - heap_before;

  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);

  std::printf("description: %zu parameter records, %zu bytes compressed, %zu bytes inflated\n",
              parameters, compressed, inflated);
  std::printf("load (all four files): %.3f ms per load over %d loads\n", load_ms, repetitions);
  std::printf("inflate only:          %.3f ms; load / inflate = %.2f\n", inflate_ms,
              load_ms / inflate_ms);
  std::printf("per parameter record:  %.2f us\n", load_ms * 1000.0 / parameters);
  std::printf("peak heap while loading: %.1f KiB; peak / inflated size = %.2f\n",
              peak_heap / 1024.0, static_cast<double>(peak_heap) / inflated);
  std::printf("process peak RSS: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
