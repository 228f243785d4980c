// A serial line in memory with a scripted device behind it. Each request the program writes is
// answered by the next scripted response (or by a responder function): a reply after a delay,
// silence, a line error, a flood of characters without a carriage return, a vanished device, a
// line that takes no characters, or the exit event signalled during the wait. Time passes only
// on the test clock, so time-outs cost nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/sio.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/serial_line.h"

namespace kba604::test {

struct LineResponse {
  enum class Kind { Reply, Silence, LineError, Flood, Vanish, Hang, Exit };
  Kind kind = Kind::Silence;
  std::string bytes;  // Reply: the characters; LineError: the characters before the error
  int delay_ms = 0;   // from the end of the request to the first character (or to the exit)
  platform::Event* exit = nullptr;

  static LineResponse reply(std::string bytes, int delay_ms = 5) {
    return {Kind::Reply, std::move(bytes), delay_ms, nullptr};
  }
  static LineResponse silence() { return {Kind::Silence, {}, 0, nullptr}; }
  static LineResponse line_error(std::string before = {}, int delay_ms = 5) {
    return {Kind::LineError, std::move(before), delay_ms, nullptr};
  }
  // Characters without a carriage return, without end, starting after delay_ms.
  static LineResponse flood(int delay_ms = 2) { return {Kind::Flood, {}, delay_ms, nullptr}; }
  // The device node disappears while the program waits (an adapter unplugged).
  static LineResponse vanish() { return {Kind::Vanish, {}, 0, nullptr}; }
  // The exit event is signalled delay_ms into the wait.
  static LineResponse exit_after(platform::Event& exit, int delay_ms) {
    return {Kind::Exit, {}, delay_ms, &exit};
  }
};

// What the line's driver tells of the characters still to be sent.
enum class TransmitterReport {
  Nothing,      // both queries refused (a pseudo-terminal refuses the status, many USB adapters)
  Status,       // the UART's "transmitter empty" status
  OutputQueue,  // only the count of characters in the driver's queue (the last one not counted)
};

// One entry of the line's log, with the test clock's time.
struct LineEvent {
  std::int64_t at_us;
  std::string what;  // "open", "close", "purge", "apply 9600 8 N 1", "rts+", "rts-",
                     // "write <bytes>", "drain"
};

class ScriptedLine {
 public:
  explicit ScriptedLine(platform::ManualClock& clock);
  ~ScriptedLine();

  // The opener to give to Sio.
  Sio::LineOpener opener();

  void push(LineResponse r);
  // Drops the responses not used yet.
  void clear_script();
  // Answers requests when no scripted response is left; without one the device is silent.
  void set_responder(std::function<LineResponse(const std::string& request)> responder);

  // Device conditions.
  void set_present(bool present);          // the device node exists
  void set_hang(bool hang);                // writes never complete
  void set_refuse_settings(bool refuse);   // apply fails
  void set_state_unreadable(bool refuse);  // query_state fails
  void set_kernel_rs485(bool supported);   // the driver has its own RS-485 mode
  void set_transmitter_report(TransmitterReport report);
  // When the last character written so far has left the line, in nanoseconds of the test
  // clock: every character takes its exact line time from when it was written or from the end
  // of the one before.
  double sent_until_ns() const;

  std::vector<std::string> requests() const;  // every request, in order
  std::vector<LineEvent> events() const;
  void clear_log();
  bool is_open() const;
  int open_count() const;
  platform::SerialSettings settings() const;  // the last settings applied

 private:
  class Line;
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kba604::test
