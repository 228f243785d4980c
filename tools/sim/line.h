// A serial line with one or more virtual instruments on it: a new pseudo-terminal (or a real
// terminal device), a thread that hears every frame the program on the other side sends and lets
// each instrument answer at its own line settings, the faults of the line, the frame log and the
// instruments' EEPROM file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/description.h"
#include "sim/frame_dispatch.h"
#include "sim/instrument.h"
#include "sim/options.h"

namespace kba604::sim {

class Line {
 public:
  using Reporter = std::function<void(const std::string&)>;

  // Sets up the terminal, restores the state file and starts serving. Null with a message when
  // the terminal cannot be set up. Messages on the way (a damaged state file, description
  // records the instruments cannot take) go to `report` (default: standard error).
  static std::unique_ptr<Line> start(const SimOptions& options,
                                     std::shared_ptr<const Description> description,
                                     std::string* error, Reporter report = {});
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // The terminal the program connects to: the pseudo-terminal's path or the device.
  const std::string& path() const { return path_; }

  // Ends serving; safe to call from a signal handler.
  void request_stop();
  // Waits until serving has ended, the state is saved and the terminal is released.
  void wait();

  std::size_t size() const { return instruments_.size(); }
  // Runs f on instrument i between two frames.
  template <class F>
  decltype(auto) with_instrument(std::size_t i, F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(*instruments_.at(i));
  }
  // Seconds since the line started (the instruments' clock).
  double now() const;

 private:
  struct Transmission {
    std::size_t position = 0;  // where the request ended in the chunk heard
    std::size_t station = 0;
    std::string bytes;
    LineSettings settings;
    unsigned address = 0;
    // On a real line the request's last character arrives only after its line time: the reply
    // waits for that too.
    double not_before = 0;
    // The instrument's own work before it answers (writing its EEPROM).
    double delay = 0;
  };

  Line(const SimOptions& options, std::shared_ptr<const Description> description, Reporter report);
  bool open_terminal(std::string* error);
  void serve();
  // A chunk of characters from the program: every instrument hears it at its own settings,
  // the replies go out (colliding when several answer one request) and a device takes the new
  // settings of an instrument.
  void hear(const char* data, std::size_t count);

  // ---- frame dispatch (under mutex_): characters into the frames of each instrument -------
  void dispatch(std::size_t s, const std::string& chunk, double now, std::vector<Transmission>& out,
                std::vector<std::size_t>& reapply);
  void dispatch_modbus(std::size_t s, const std::string& chunk, double now,
                       std::vector<Transmission>& out);
  // Characters at other settings than the instrument's: no frame, now and then noise taken
  // for a frame of its own, which it answers.
  void hear_noise(std::size_t s, const std::string& chunk, std::vector<Transmission>& out);

  // ---- per-command handling (under mutex_): one frame, answered by its instrument --------
  void answer_talv(std::size_t s, const std::string& body, std::size_t position, double now,
                   std::vector<Transmission>& out);
  void answer_modbus(std::size_t s, const Bytes& packet, bool rtu, std::size_t position,
                     double not_before, std::vector<Transmission>& out);

  // Replies to the same request from several instruments collide on the line.
  void send_replies(std::vector<Transmission>& out);
  void schedule_save(double now);
  void reapply_settings(const std::vector<std::size_t>& stations);
  // When a request of `characters` begun at `started` has fully arrived at the line's speed.
  double heard_at(double started, std::size_t characters, const LineSettings& settings) const;
  std::string faulty(std::size_t s, const Packet& reply, const Packet& request);
  std::string garbage(std::size_t length);
  void transmit(const Transmission& t);
  bool pause(double seconds);
  void write_all(const std::string& bytes);
  void log(const char* direction, const std::string& bytes, const LineSettings& settings,
           const std::string& note);
  void load_state();
  void save_state();

  SimOptions options_;
  std::shared_ptr<const Description> description_;
  Reporter report_;
  std::vector<std::unique_ptr<Instrument>> instruments_;
  std::vector<FrameReceiver> receivers_;
  std::vector<int> reply_counts_;
  std::mutex mutex_;
  std::mt19937 rng_;

  int terminal_fd_ = -1;  // pseudo-terminal master or the device
  int keep_fd_ = -1;      // our own descriptor of the pseudo-terminal's other side
  int stop_fd_ = -1;
  bool device_ = false;
  std::string path_;
  std::string link_;
  FILE* log_ = nullptr;
  std::int64_t start_ns_ = 0;
  bool save_pending_ = false;
  int times_heard_ = 0;  // reads from the terminal, for --hang-up-after
  double save_due_ = 0;
  bool state_failed_ = false;
  std::thread thread_;
  std::once_flag joined_;
};

}  // namespace kba604::sim
