// Request/reply exchanges through the real serial code over a pseudo-terminal:
//   (a) exchanges per second against a responder that answers at once (the program's own cost
//       per exchange), automatic converter;
//   (b) with a responder that paces both directions at 9600 baud (it answers only after the
//       request's characters would have arrived, plus a turnaround, and sends its reply one
//       character time after another), the ratio of the measured time to the line-time limit:
//       the sum of the character times of every frame in the responder's log plus its
//       turnarounds;
//   (c) the CPU time of the requesting thread per exchange in both converter modes at 9600 baud
//       (the semi-automatic one sleeps until the frame has left the line before it drops RTS;
//       aim < 1 ms).
// Usage: bench_link_exchange [exchanges for (a), default 20000] [exchanges for (b)/(c), default
// 60]
#include <poll.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/prompter.h"
#include "link/device_io.h"
#include "link/frame_codec.h"
#include "link/traffic_tap.h"
#include "model/talv_codec.h"
#include "platform/settings_store.h"
#include "support/pty_pair.h"

using namespace kba604;

namespace {

std::int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void sleep_until_ns(std::int64_t t) {
  timespec ts{static_cast<time_t>(t / 1000000000), static_cast<long>(t % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
  }
}

double thread_cpu_ms() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return u.ru_utime.tv_sec * 1e3 + u.ru_utime.tv_usec / 1e3 + u.ru_stime.tv_sec * 1e3 +
         u.ru_stime.tv_usec / 1e3;
}

// The "dev" reply of an instrument at address 16 ("KBA604", sent last character first).
std::string dev_reply() {
  std::uint8_t packet[12] = {0x10, 0x16, 0xD6, 0x81, '4', '0', '6', 'A', 'B', 'K'};
  const std::uint16_t sum = hash_buffer(packet, 10);
  packet[10] = static_cast<std::uint8_t>(sum >> 8);
  packet[11] = static_cast<std::uint8_t>(sum & 0xFF);
  return "#" + encode_buffer(packet, 12) + "\r";
}

// Plays the instrument on the master side. With a character time of 0 it answers at once;
// otherwise it lets each request take its line time from its first character, waits the
// turnaround and sends the reply one character time per character. It logs the characters of
// every frame in both directions and the turnarounds it made.
class Responder {
 public:
  Responder(int master, double char_ms, double turnaround_ms)
      : master_(master),
        char_ns_(static_cast<std::int64_t>(char_ms * 1e6)),
        turnaround_ns_(static_cast<std::int64_t>(turnaround_ms * 1e6)),
        reply_(dev_reply()) {
    thread_ = std::thread([this] { run(); });
  }
  ~Responder() {
    stop_ = true;
    thread_.join();
  }
  std::int64_t line_ns() const {
    return logged_chars_.load() * char_ns_ + turnarounds_.load() * turnaround_ns_;
  }
  long frames() const { return frames_.load(); }

 private:
  void run() {
    std::string request;
    std::int64_t first = 0;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      if (request.empty()) first = now_ns();
      request.append(buf, static_cast<std::size_t>(n));
      if (request.find('\r') == std::string::npos) continue;
      if (char_ns_ > 0) {
        // The terminal hands the request over at once: its characters would have taken their
        // line time from the moment the first one was seen.
        const std::int64_t reply_at =
            first + static_cast<std::int64_t>(request.size()) * char_ns_ + turnaround_ns_;
        for (std::size_t i = 0; i < reply_.size(); ++i) {
          // Character i is complete one character time after it began.
          sleep_until_ns(reply_at + static_cast<std::int64_t>(i + 1) * char_ns_);
          write_all(&reply_[i], 1);
        }
      } else {
        write_all(reply_.data(), reply_.size());
      }
      logged_chars_ += static_cast<std::int64_t>(request.size() + reply_.size());
      turnarounds_ += 1;
      frames_ += 2;
      request.clear();
    }
  }
  void write_all(const char* data, std::size_t count) {
    while (count > 0) {
      ssize_t n = ::write(master_, data, count);
      if (n > 0) {
        data += n;
        count -= static_cast<std::size_t>(n);
      }
    }
  }

  int master_;
  std::int64_t char_ns_;
  std::int64_t turnaround_ns_;
  std::string reply_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> logged_chars_{0};
  std::atomic<std::int64_t> turnarounds_{0};
  std::atomic<long> frames_{0};
};

struct Run {
  double wall_ms;
  double cpu_ms;
  int failures;
};

Run run_exchanges(DeviceIO& io, int count) {
  std::uint8_t data[kMaxReplyData];
  int n = 0;
  std::string error;
  int failures = 0;
  const double cpu0 = thread_cpu_ms();
  const std::int64_t t0 = now_ns();
  for (int i = 0; i < count; ++i) {
    if (!exchange_frame(io, 1, 0xD681, nullptr, 0, 0, data, &n, &error).ok() || n != 6) ++failures;
  }
  return {(now_ns() - t0) / 1e6, thread_cpu_ms() - cpu0, failures};
}

}  // namespace

int main(int argc, char** argv) {
  const int fast_count = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int paced_count = argc > 2 ? std::atoi(argv[2]) : 60;

  StderrPrompter prompter;
  CKBA604App app(prompter);
  test::PtyPair pty;
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM9", pty.path());
  settings.set_value("port_number", "9");
  DeviceIO io(app, settings);
  io.sio().set_converter_automatic(1);
  if (io.reopen_port(false) != 0) {
    std::fprintf(stderr, "cannot open %s\n", pty.path().c_str());
    return 1;
  }

  {
    Responder instant(pty.master(), 0, 0);
    run_exchanges(io, 200);  // warm-up
    const Run r = run_exchanges(io, fast_count);
    std::printf(
        "(a) instant responder, automatic converter: %d exchanges in %.1f ms = %.0f "
        "exchanges/s (aim >= 5000: %s), %.1f us CPU per exchange, %d failed\n",
        fast_count, r.wall_ms, fast_count / (r.wall_ms / 1000.0),
        fast_count / (r.wall_ms / 1000.0) >= 5000 ? "met" : "NOT met",
        r.cpu_ms * 1000.0 / fast_count, r.failures);
  }

  {
    // (d) The traffic monitor's tap against the instant responder: five interleaved runs
    // without any tap, with the monitor's tap made but the monitor closed (not attached), and
    // with it open (attached, its queue taken after each run); the ratios of the medians to
    // the runs without a tap.
    Responder instant(pty.master(), 0, 0);
    const int per_run = std::max(fast_count / 10, 100);
    auto tap = std::make_shared<TrafficTap>(static_cast<std::size_t>(per_run));
    std::vector<double> none, closed, open;
    for (int round = 0; round < 5; ++round) {
      none.push_back(run_exchanges(io, per_run).wall_ms);
      // The monitor was opened and closed again: its tap exists, the line no longer feeds it.
      io.sio().add_tap(tap);
      io.sio().remove_tap(tap.get());
      closed.push_back(run_exchanges(io, per_run).wall_ms);
      io.sio().add_tap(tap);
      open.push_back(run_exchanges(io, per_run).wall_ms);
      io.sio().remove_tap(tap.get());
      tap->take();
    }
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    const double base = median(none);
    std::printf(
        "(d) traffic tap, %d exchanges a run, medians of 5 interleaved runs: no tap %.1f ms, "
        "monitor closed %.1f ms (ratio %.4f, aim <= 1.02: %s), monitor open %.1f ms (ratio "
        "%.4f), %llu records dropped\n",
        per_run, base, median(closed), median(closed) / base,
        median(closed) / base <= 1.02 ? "met" : "NOT met", median(open), median(open) / base,
        static_cast<unsigned long long>(tap->dropped()));
  }

  const double char_ms = io.sio().character_time();
  const double turnaround_ms = 2.0;
  for (int automatic : {1, 0}) {
    io.sio().set_converter_automatic(automatic);
    Responder paced(pty.master(), char_ms, turnaround_ms);
    const Run r = run_exchanges(io, paced_count);
    const double limit_ms = paced.line_ns() / 1e6;
    std::printf(
        "(b) 9600 baud paced responder, %s converter: %d exchanges in %.1f ms, line-time "
        "limit %.1f ms (%ld frames, %.4f ms per character, %.1f ms turnaround), ratio "
        "%.4f (aim <= 1.05: %s), %d failed\n",
        automatic ? "automatic" : "semi-automatic", paced_count, r.wall_ms, limit_ms,
        paced.frames(), char_ms, turnaround_ms, r.wall_ms / limit_ms,
        r.wall_ms / limit_ms <= 1.05 ? "met" : "NOT met", r.failures);
    std::printf("(c) CPU time per exchange, %s converter at 9600 baud: %.3f ms (aim < 1 ms: %s)\n",
                automatic ? "automatic" : "semi-automatic", r.cpu_ms / paced_count,
                r.cpu_ms / paced_count < 1.0 ? "met" : "NOT met");
  }
  return 0;
}
