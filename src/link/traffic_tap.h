// The traffic tap of the serial line: every transfer of the port (the characters written, the
// characters read back or why none came, and how long it took) handed to a traffic monitor or a
// trace file, without ever holding up the line.
//
//   auto tap = std::make_shared<TrafficTap>();  // bounded: what a slow reader leaves is dropped
//   sio.add_tap(tap);                           // from now on every transfer is recorded
//   for (TrafficRecord& r : tap->take()) ...    // the reader's side, any thread
//   sio.remove_tap(tap.get());                  // without taps a transfer tests one flag
//
// The tap sits below the frame codec: a repetition of a request is a transfer of its own, and
// a time-out is a transfer that read nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"

namespace kba604 {

// One transfer of the serial line.
struct TrafficRecord {
  std::uint64_t sequence = 0;      // counts every transfer the tap saw, dropped ones included
  std::int64_t wall_ms = 0;        // when the transfer began, milliseconds since 1970
  std::int64_t round_trip_us = 0;  // from the beginning of the transfer to its end
  int address_length = 8;          // the port's address length, for decoding the frames
  int result = 0;                  // the transfer's result (Sio::kReceived, kTimeout, ...)
  std::string request;             // the characters written
  std::string reply;               // the characters read
};

// The wall-clock time of a record: milliseconds since 1970.
std::int64_t traffic_wall_ms();

class TrafficTap {
 public:
  static constexpr std::size_t kDefaultCapacity = 4096;

  explicit TrafficTap(std::size_t capacity = kDefaultCapacity);
  TrafficTap(const TrafficTap&) = delete;
  TrafficTap& operator=(const TrafficTap&) = delete;

  // The line's side: queues the record, numbering it, or drops it when the queue is full. Holds
  // the queue's mutex only to push.
  void record(TrafficRecord record);
  // The reader's side: every queued record, oldest first.
  std::vector<TrafficRecord> take();
  // Records dropped because the reader did not keep up, and records seen in all.
  std::uint64_t dropped() const;
  std::uint64_t seen() const;
  std::size_t capacity() const { return capacity_; }
  // Signalled while records wait to be taken.
  platform::Event& ready() { return ready_; }

 private:
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<TrafficRecord> queue_;
  std::uint64_t seen_ = 0;
  std::uint64_t dropped_ = 0;
  platform::Event ready_{platform::Event::Reset::Manual};
};

}  // namespace kba604
