// The virtual instrument's line: how close its paced replies come to the time the frames need
// on a real line (from the frame log), and how many requests it serves when pacing is off.
//
//   build/<preset>/bin/bench_sim_line [requests]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "model/talv_codec.h"
#include "sim/frame.h"
#include "sim/frame_log.h"
#include "support/virtual_instrument.h"

namespace {

// The program's side of the line, as small as it gets: raw mode at 9600 8N1.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, B9600);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~Port() { ::close(fd_); }
  bool exchange(const std::string& frame) {
    if (::write(fd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
      return false;
    std::string got;
    pollfd p{fd_, POLLIN, 0};
    while (got.find('\r') == std::string::npos) {
      if (poll(&p, 1, 1000) <= 0) return false;
      char buffer[64];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got[0] == '#';
  }

 private:
  int fd_;
};

// Reads of "dev" and of the eight sensor types in turn; seconds for all of them.
double run(kba604::test::VirtualInstrument& sim, int requests, int* failures) {
  Port port(sim.path());
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < requests; ++i) {
    kba604::sim::Packet p;
    p.address = 16;
    p.read = true;
    p.hash = kba604::hash_name(i % 9 == 0 ? "dev" : "in-t");
    if (i % 9 != 0) p.data = {0, static_cast<std::uint8_t>(i % 9 - 1)};
    if (!port.exchange(kba604::sim::encode_frame(p, 8))) ++*failures;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int requests = argc > 1 ? std::atoi(argv[1]) : 200;
  std::filesystem::path log = std::filesystem::temp_directory_path() / "bench_sim_line.log";
  int failures = 0;
  double paced = 0;
  {
    kba604::test::VirtualInstrument sim({"--time-scale", "1", "--log", log.string()});
    paced = run(sim, requests, &failures);
  }
  std::vector<kba604::sim::LoggedFrame> frames;
  std::string error;
  if (!kba604::sim::read_frame_log(log.string(), frames, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::filesystem::remove(log);
  double heard = 0;
  double sent = 0;
  for (const auto& f : frames) (f.sent ? sent : heard) += f.line_seconds();
  double turnaround = 0.002 * requests;
  double unpaced = 0;
  {
    kba604::test::VirtualInstrument sim({"--time-scale", "0"});
    unpaced = run(sim, requests, &failures);
  }
  std::printf("requests                     %d (failed: %d)\n", requests, failures);
  // The instrument answers a request only after the request's own line time, then after its
  // turnaround, and sends the reply a character time after another.
  std::printf("line time of the requests    %.3f s at 9600 baud\n", heard);
  std::printf("line time of the replies     %.3f s (+ %.3f s turnaround)\n", sent, turnaround);
  std::printf("line-time limit of the run   %.3f s on a real line\n", heard + sent + turnaround);
  std::printf("paced exchange, wall clock   %.3f s\n", paced);
  std::printf("ratio wall / limit           %.3f (1: the exchange takes exactly its line time)\n",
              paced / (heard + sent + turnaround));
  std::printf("unpaced exchange             %.3f s, %.0f requests/s\n", unpaced,
              requests / unpaced);
  return failures == 0 ? 0 : 1;
}
