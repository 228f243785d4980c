// Sio: the program's one serial port. It opens a port by its logical name, sets speed, character
// format and time-outs for the ТАЛВ protocol, and performs one transfer at a time: purge, write a
// frame, wait for the reply and read it. It also drives the transmit direction of a
// semi-automatic RS-485 converter.
//
// Sio does not lock by itself against concurrent transfers: the link lock of DeviceIO, which Sio
// is given, is held by the frame exchange around every transfer and its repetitions. Sio takes
// the same (re-entrant) lock for opening, closing and each transfer, so that the port is never
// opened or closed under another thread's exchange.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "link/traffic_tap.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/serial_line.h"
#include "platform/settings_store.h"

namespace kba604 {

// Protocol modes of the link: how a reply ends.
inline constexpr int kProtocolTalv = 0;         // carriage return
inline constexpr int kProtocolModbusRtu = 1;    // silence of 3.5 character times
inline constexpr int kProtocolModbusAscii = 2;  // carriage return

class Sio {
 public:
  using LineOpener = std::function<std::unique_ptr<platform::SerialLine>(const std::string& path)>;

  // A transfer reads at most this many characters of a reply.
  static constexpr std::size_t kMaxReply = 29;

  // Results of transfer.
  static constexpr int kReceived = 0;
  static constexpr int kTimeout = 2;
  static constexpr int kLineError = 3;
  // The port went away under the transfer (the device node vanished, EIO or a hang-up, the other
  // side of a pseudo-terminal closed), or a port that is closed could not be opened for it:
  // lost_note() says which port and why. No repetition can reach the instrument then.
  static constexpr int kLost = 4;
  static constexpr int kUnavailable = -1;

  struct Timeouts {
    std::uint32_t read_interval = 0;
    std::uint32_t read_multiplier = 0;
    std::uint32_t read_constant = 0;
    std::uint32_t write_multiplier = 0;
    std::uint32_t write_constant = 0;
  };

  // link_lock, clock and settings must outlive the port. The settings' [Ports] section maps the
  // logical port names to devices; it is read afresh at every opening. Without an opener the
  // port opens POSIX terminals.
  Sio(std::recursive_mutex& link_lock, platform::Clock& clock,
      const platform::SettingsStore& settings, LineOpener opener = {});
  ~Sio();
  Sio(const Sio&) = delete;
  Sio& operator=(const Sio&) = delete;

  // Opens the port with the current settings and keeps it open. 0, or: -1 the port could not be
  // opened; -2 its state could not be read, the parity code is above 5, the stop bits are
  // neither 1 nor 2 or the rate is not accepted; -3 data bits outside 5..8; -4 the device
  // refused the settings. After a failure the port is closed.
  int open_port();
  // Closes the port (purging it first); nothing when it is closed.
  void close_port();
  // -2 when closed, 0 when both directions were purged, -1 when not.
  int purge_port();
  // Hands every transfer from now on to the tap (the traffic monitor, a trace file), until it
  // is removed. Any thread; never waits for a transfer. Without taps a transfer tests one flag.
  void add_tap(std::shared_ptr<TrafficTap> tap);
  void remove_tap(const TrafficTap* tap);
  // Purges, writes count characters of frame and waits for the reply. reply must hold
  // kMaxReply characters; *received is how many were read. Returns 0 (something was read),
  // 2 (time-out, nothing received), 3 (line error or break, nothing read) or -1 (the port could
  // not be opened, the device is gone, or the exit event was signalled during the write or the
  // wait). A closed port is opened for this transfer only. A write that the line does not take
  // within the write time-out (500 ms plus the frame's own line time) ends in 2 and closes the
  // port; the next transfer opens it again.
  int transfer(const char* frame, std::size_t count, char* reply, std::size_t* received);
  // The present ports as "COM1:COM3:…".
  std::string list_ports() const;

  bool is_open() const;
  // Why the last opening failed, in the program's words with the system's reason; empty after a
  // good one.
  std::string open_fault() const;
  // Whether the last opening failed on the settings (the device exists but refused or cannot take
  // them) rather than on the device itself.
  bool settings_refused() const;
  // Signalled at program exit: a transfer that writes or waits ends at once.
  platform::Event& exit_event() { return exit_event_; }
  // What the last transfer noted for itself (the text of an interrupted write); not shown.
  std::string last_note() const;
  // Which port was lost by the last transfer that returned kLost, with the system's reason: a
  // sentence of its own, without the closing full stop.
  std::string lost_note() const;
  // Where the remarks of an opening go (a driver that refuses the low-latency mode): each
  // remark once per device for the life of the port, called under the link lock, so it must not
  // wait. By default a line on standard error.
  using RemarkSink = std::function<void(const std::string&)>;
  void set_remark_sink(RemarkSink sink);

  // A port open for good whose device went away under a transfer is lost until it is opened
  // again (by the next transfer, or by reopen_if_back). The listener hears each change, with
  // the lost note or the words of the reopening; it is called under the link lock from the
  // thread that made the change, so it must not wait.
  using LossListener = std::function<void(bool lost, const std::string& text)>;
  void set_loss_listener(LossListener listener);
  bool lost() const { return lost_.load(); }
  // A lost port whose device node exists again is opened for good; true when it was.
  bool reopen_if_back();

  // Holds the port open for one request: opens it when closed and closes it again at the end,
  // unless meanwhile it was opened for good, or closed, or another request still holds it.
  class TemporaryOpening {
   public:
    explicit TemporaryOpening(Sio& sio);
    ~TemporaryOpening();
    TemporaryOpening(const TemporaryOpening&) = delete;
    TemporaryOpening& operator=(const TemporaryOpening&) = delete;

   private:
    Sio& sio_;
    bool counted_ = false;
    std::uint64_t generation_ = 0;
  };

  // Connection settings, copied in from the program's network settings before each opening.
  std::string port_name() const;
  void set_port_name(std::string name);
  int baud_rate() const { return baud_rate_.load(); }
  void set_baud_rate(int v) { baud_rate_.store(v); }
  int parity_code() const { return parity_code_.load(); }  // 0 none, 1 even, 2 mark, 3 none,
  void set_parity_code(int v) { parity_code_.store(v); }   // 4 odd, 5 space
  int stop_bits() const { return stop_bits_.load(); }
  void set_stop_bits(int v) { stop_bits_.store(v); }
  int data_bits() const { return data_bits_.load(); }
  void set_data_bits(int v) { data_bits_.store(v); }
  int address_length() const { return address_length_.load(); }  // 8 or 11
  void set_address_length(int v) { address_length_.store(v); }
  int device_address() const { return device_address_.load(); }
  void set_device_address(int v) { device_address_.store(v); }
  // 1: the converter switches direction by itself; 0: RTS is raised while sending. Any
  // non-zero value of the flag counts as 1.
  int converter_automatic() const { return converter_->load() != 0 ? 1 : 0; }
  void set_converter_automatic(int v) { converter_->store(v != 0 ? 1 : 0); }
  void flip_converter() { converter_->store(converter_automatic() != 0 ? 0 : 1); }
  // Makes the port use a flag that lives elsewhere (the program's RS-485 direction mode, which
  // the menu switches), so that a switch of either side is the same switch.
  void share_converter_flag(std::atomic<int>& flag) { converter_ = &flag; }
  // The program-wide protocol mode (0 ТАЛВ, 1 Modbus RTU, 2 Modbus ASCII).
  int protocol_mode() const { return protocol_mode_.load(); }
  void set_protocol_mode(int m) { protocol_mode_.store(m); }

  // Derived by the last opening.
  float character_time() const;
  std::uint16_t reply_wait() const;
  Timeouts timeouts() const;
  // The read time-out constant (50 ms after each opening) and with it the reply wait, for one
  // exchange that the instrument answers late; set it under the link lock, with the port held
  // open, and put the saved value back after the exchange.
  void set_read_constant(std::uint32_t ms);
  // The reply wait alone, for probes that give up sooner than an ordinary request; holds until
  // the next opening. Set it under the link lock, with the port open.
  void set_reply_wait(std::uint16_t ms);
  // Whether the port takes this baud rate.
  static bool rate_accepted(int baud);

 private:
  int open_locked(bool keep_open);
  // The opening itself, after the old line is closed.
  int open_line(bool keep_open);
  void close_locked();
  // The device went away under a transfer: forget the handle; a port that was open for good is
  // opened again by the next transfer.
  void lose_line();
  int transfer_locked(const char* frame, std::size_t count, char* reply, std::size_t* received);
  int exchange_on_open_line(const char* frame, std::size_t count, char* reply,
                            std::size_t* received);
  platform::LineWait write_frame(const char* frame, std::size_t count);
  // The semi-automatic converter's wait: sleeps until the last of count characters written at
  // start_us has left the line (the transmitter's own status where the driver reports it, else
  // the output queue and the frame's line time), or until the exit event or deadline_us.
  platform::LineWait wait_characters(std::int64_t start_us, std::size_t count,
                                     std::int64_t deadline_us);
  // Sleeps until the clock reaches until_us; Exit as soon as the exit event is signalled.
  platform::LineWait sleep_until(std::int64_t until_us);
  int read_reply(char* reply, std::size_t* received);

  std::recursive_mutex& link_lock_;
  platform::Clock& clock_;
  const platform::SettingsStore& settings_;
  LineOpener opener_;

  std::unique_ptr<platform::SerialLine> line_;
  std::atomic<bool> tapped_{false};
  std::mutex tap_mutex_;
  std::vector<std::shared_ptr<TrafficTap>> taps_;
  platform::Event exit_event_{platform::Event::Reset::Manual, false};
  std::atomic<int> own_converter_{0};
  std::atomic<int>* converter_ = &own_converter_;
  mutable std::mutex name_mutex_;
  std::string port_name_ = "COM1";
  std::atomic<int> baud_rate_{9600};
  std::atomic<int> parity_code_{3};
  std::atomic<int> stop_bits_{1};
  std::atomic<int> data_bits_{8};
  std::atomic<int> address_length_{8};
  std::atomic<int> device_address_{16};
  std::atomic<int> protocol_mode_{kProtocolTalv};
  Timeouts timeouts_;
  float character_time_ = 0;
  double char_us_ = 0;  // the character time in microseconds, exactly
  std::uint16_t reply_wait_ = 0;

  // Opening bookkeeping, under the link lock.
  bool keep_open_ = false;       // opened for good (not only for one request)
  bool temporary_open_ = false;  // the current opening belongs to temporary users
  int temporary_users_ = 0;
  std::uint64_t generation_ = 0;  // changes with every opening and closing
  bool kernel_rs485_ = false;     // the driver drives RTS while sending
  bool kernel_rs485_tried_ = false;
  std::string last_note_;
  std::string open_fault_;
  std::string lost_note_;
  bool settings_refused_ = false;
  RemarkSink remark_sink_;
  LossListener loss_listener_;
  // Read without the link lock (a window's indicator must never wait for an exchange).
  std::atomic<bool> lost_{false};
  std::set<std::string> told_remarks_;
};

}  // namespace kba604
