// A pseudo-terminal pair for tests of the real serial code: the program opens the terminal side
// by its path (or a symlink to it, which a [Ports] mapping can name), the test plays the device
// on the master side. An optional responder thread answers every request (the characters up to
// a carriage return, or up to a pause) with what a function returns.
#pragma once

#include <termios.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kba604::test {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The terminal the program opens, e.g. /dev/pts/7.
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  // The terminal settings the program has put on the line.
  termios settings() const;
  // The output rate as termios2 reports it (rates outside the POSIX list included); 0 when
  // unavailable.
  unsigned output_rate() const;

  // Writes to the program.
  void write(std::string_view bytes);
  // Reads what the program wrote, until `until` arrives or timeout_ms pass.
  std::string read(int timeout_ms, char until = '\r');

  // Answers each request with respond(request); an empty answer is silence. Requests end at a
  // carriage return, or after a pause of 5 ms for frames without one. Writes the answer after
  // delay_ms.
  void start_responder(std::function<std::string(const std::string&)> respond, int delay_ms = 0);
  void stop_responder();
  std::vector<std::string> requests() const;

  // The device goes away: the master side closes (the terminal hangs up and its path vanishes).
  void vanish();

 private:
  int master_ = -1;
  int slave_keep_ = -1;  // keeps the terminal's state while the program closes and reopens it
  std::string path_;
  std::thread responder_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

}  // namespace kba604::test
