// The serial line under the program's one port. The link's transfer runs on this small set of
// operations; the POSIX termios line implements them, and tests put a scripted line in its place.
// Every wait takes the exit event, so a transfer that writes or waits ends at once when the
// program exits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"

namespace kba604::platform {

enum class Parity { None, Even, Odd, Mark, Space };

struct SerialSettings {
  int baud_rate = 9600;
  int data_bits = 8;  // 5..8
  Parity parity = Parity::None;
  int stop_bits = 1;  // 1 or 2
};

// How a wait on the line ended.
enum class LineWait {
  Ready,    // the line is ready (input arrived, or the write or drain finished)
  Timeout,  // the time ran out first
  Exit,     // the exit event was signalled
  Failed,   // the device is gone (unplugged adapter, hung-up terminal) or refused the call
};

class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Whether the current line state can be read (a path that is not a terminal cannot).
  virtual bool query_state() = 0;
  // Applies the settings in raw mode and reads them back; false when the device refused them or
  // reports other ones.
  virtual bool apply(const SerialSettings& settings) = 0;
  // Drops all pending input and output; false when the device refused.
  virtual bool purge() = 0;
  // Raises or drops RTS. A device without modem lines (a pseudo-terminal) ignores it.
  virtual void set_rts(bool on) = 0;
  // Switches the driver's own RS-485 direction control (RTS raised while sending) on or off;
  // false when the driver has none.
  virtual bool set_kernel_rs485(bool on) = 0;

  // What the driver can tell of the characters that have not left yet, so that a semi-automatic
  // converter's RTS falls right after the last one. transmitter_empty: the UART's own
  // "transmitter empty" status (output queue, holding and shift register all empty); false when
  // the driver cannot say. output_queued: the characters still in the driver's output queue
  // (not counting what the adapter itself holds); -1 when the driver cannot say.
  virtual bool transmitter_empty(bool* /*empty*/) { return false; }
  virtual int output_queued() { return -1; }

  // Writes all bytes, waiting for room in the output queue up to timeout_ms.
  virtual LineWait write(const std::uint8_t* data, std::size_t count, Event* exit,
                         int timeout_ms) = 0;
  // Waits until every written character has left the line, up to timeout_ms.
  virtual LineWait drain(Event* exit, int timeout_ms) = 0;
  // Waits until input is ready to be read, up to timeout_ms.
  virtual LineWait wait_input(Event* exit, int timeout_ms) = 0;
  // Reads the data that has arrived, at most cap bytes, without waiting. Stops after a line
  // error or break and sets line_error then (the bytes before it are returned; what follows is
  // kept for the next read). Returns the number of data bytes, or -1 when the device is gone.
  virtual int read(std::uint8_t* buffer, std::size_t cap, bool* line_error) = 0;
  // Why the last call failed (the settings refused, the device gone): the system's own text;
  // empty when it did not say.
  virtual std::string last_error() const { return {}; }
  // What the opening could not set up that costs speed but not the exchange (a USB adapter
  // whose driver refuses the low-latency mode); empty when nothing.
  virtual std::string opening_remark() const { return {}; }
};

// Where the opening asks the driver for its low-latency mode (ASYNC_LOW_LATENCY): a USB serial
// adapter otherwise holds what it received for its latency timer (16 ms on common adapters)
// before it hands it over, which every exchange pays for twice.
enum class LowLatency {
  UsbAdapters,  // terminals on the USB bus
  Always,       // every terminal (a pseudo-terminal refuses it)
};

// The POSIX terminal line: open with O_NOCTTY|O_NONBLOCK|O_CLOEXEC, exclusive (TIOCEXCL, cleared
// again before closing), RTS and DTR dropped at once, the low-latency mode asked for where
// low_latency says (a refusal is the line's opening remark, not a failure). Waits go through the
// clock. Returns null when the device cannot be opened (missing, busy, no permission).
std::unique_ptr<SerialLine> open_terminal_line(const std::string& path, Clock& clock,
                                               LowLatency low_latency = LowLatency::UsbAdapters);

// Whether a terminal device sits on the USB bus (its device in sysfs lies under a USB port).
bool terminal_on_usb(int fd);

// Numbers N of the on-board ports /dev/ttySN that have hardware behind them, ascending.
std::vector<int> onboard_serial_ports();

// Whether a device path exists (a symlink must lead somewhere).
bool device_exists(const std::string& path);

// Decodes input read with PARMRK: a data byte 0xFF arrives as FF FF, a line error as FF 00 x and
// a break as FF 00 00. Keeps its state across reads, since a mark may be split between them.
class ParmrkDecoder {
 public:
  enum class Step { Data, Nothing, LineError };

  // Feeds one byte read from the terminal; on Data, *out is the data byte.
  Step feed(std::uint8_t byte, std::uint8_t* out);
  void reset() { state_ = 0; }
  // True between the bytes of a mark.
  bool inside_mark() const { return state_ != 0; }

 private:
  int state_ = 0;  // 0 plain, 1 after FF, 2 after FF 00
};

}  // namespace kba604::platform
