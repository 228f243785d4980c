// The trace file of a run ("--trace:FILE"): the traffic monitor's lines of every transfer of
// the serial line, written as they come by a thread of its own, so that the line never waits
// for the disk. The file ends with a line that counts the transfers and any the writer lost.
//
//   TrafficTrace trace;
//   if (!trace.open(path, &error)) ...
//   trace.attach(sio);
//   trace.set_names(traffic_names(table));  // whenever the description is loaded
//   ...
//   trace.stop();                            // detaches, writes what is left, closes
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "link/sio.h"
#include "link/traffic_log.h"
#include "link/traffic_tap.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

class TrafficTrace {
 public:
  TrafficTrace() = default;
  ~TrafficTrace();
  TrafficTrace(const TrafficTrace&) = delete;
  TrafficTrace& operator=(const TrafficTrace&) = delete;

  // Creates (or empties) the file; false with the reason when it cannot.
  bool open(const std::filesystem::path& path, std::string* error);
  // Starts recording the port's transfers and writing them.
  void attach(Sio& sio);
  // The names the lines give the hashes; any thread.
  void set_names(TrafficNames names);
  // Detaches from the port, writes what is left and the closing line, closes the file. Once.
  void stop();
  // False once a write failed (a full disk): the reason stays in error().
  bool good() const;
  std::string error() const;

 private:
  void run();
  void write_pending();

  std::shared_ptr<TrafficTap> tap_ = std::make_shared<TrafficTap>();
  Sio* sio_ = nullptr;
  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  mutable std::mutex mutex_;  // the names, the log and the error
  TrafficNames names_;
  TrafficLog log_;
  std::uint64_t written_ = 0;
  std::string error_;
  platform::Event stop_{platform::Event::Reset::Manual};
  platform::Thread writer_;
  bool stopped_ = false;
};

}  // namespace kba604
