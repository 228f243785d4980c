// The start options parsed from the command line. Read by the link, the operations, the
// document and the control channel from several threads; the start-up watcher clears part of
// them when the command given on the command line has finished, so the fields are atomics and
// the texts sit behind a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kba604 {

class StartOptions {
 public:
  // ModeFlags
  static constexpr std::uint16_t kAutoReadOn = 0x0001;
  static constexpr std::uint16_t kAutoReadOff = 0x0002;
  static constexpr std::uint16_t kAutoWriteOn = 0x0004;
  static constexpr std::uint16_t kAutoWriteOff = 0x0008;
  static constexpr std::uint16_t kTest = 0x0010;
  static constexpr std::uint16_t kSilent = 0x0020;
  static constexpr std::uint16_t kNoPort = 0x0040;
  static constexpr std::uint16_t kUniGiven = 0x0080;
  static constexpr std::uint16_t kNewNetParam = 0x0100;
  // SwitchFlags
  static constexpr std::uint32_t kWrite = 0x01;
  static constexpr std::uint32_t kLineSettingsGiven = 0x02;
  static constexpr std::uint32_t kClose = 0x04;
  static constexpr std::uint32_t kAply = 0x08;
  static constexpr std::uint32_t kCalibrate = 0x10;
  static constexpr std::uint32_t kAnySwitch = 0x20;
  static constexpr std::uint32_t kRead = 0x40;
  static constexpr std::uint32_t kRecord = 0x80;  // the data logger ("record")
  // geometry mask
  static constexpr std::uint8_t kXGiven = 0x1, kYGiven = 0x2, kWGiven = 0x4, kHGiven = 0x8;
  // Presentation switches: how the program shows its work, not what it does. They are no
  // switches of the command line for its rules (no SwitchFlags 0x20) and outlive the automation.
  static constexpr std::uint8_t kHeadless = 0x1;  // "headless": no window, messages on stderr

  // LineSettings: bits 0-1 control channel (1 stdio, 2 pipe, 3 socket); bits 2-3 parity
  // (1 even, 2 odd, 3 none); bits 4-7 data length; bits 8-11 address length; bits 12-13 RS-485
  // mode (1 auto, 2 off, 3 on); 0 in a field means not given.
  std::atomic<std::uint16_t> mode_flags{0};
  std::atomic<std::uint16_t> line_settings{0};
  std::atomic<std::uint32_t> switch_flags{0};
  std::atomic<std::uint8_t> geometry_mask{0};
  std::atomic<std::uint8_t> port{0};
  std::atomic<std::uint32_t> bps{0};
  std::atomic<std::int32_t> x{0}, y{0}, w{0}, h{0};
  std::atomic<std::uint8_t> presentation{0};

  std::string uni() const { return locked_copy(uni_); }
  std::string addr() const { return locked_copy(addr_); }
  std::string sbit() const { return locked_copy(sbit_); }
  void set_uni(std::string v) { locked_set(uni_, std::move(v)); }
  void set_addr(std::string v) { locked_set(addr_, std::move(v)); }
  void set_sbit(std::string v) { locked_set(sbit_, std::move(v)); }

  bool any_switch() const { return switch_flags.load() & kAnySwitch; }
  bool no_port() const { return mode_flags.load() & kNoPort; }
  bool headless() const { return presentation.load() & kHeadless; }
  // Quiet mode: the program was started with command-line switches; nothing waits in a modal
  // box then.
  bool quiet() const { return any_switch(); }

  int control_channel() const { return line_settings.load() & 0x3; }
  int parity() const { return (line_settings.load() >> 2) & 0x3; }
  int data_length() const { return (line_settings.load() >> 4) & 0xF; }
  int address_length() const { return (line_settings.load() >> 8) & 0xF; }
  int rs485_mode() const { return (line_settings.load() >> 12) & 0x3; }

  // Everything to zero, as before parsing.
  void clear();
  // What the start-up watcher clears when the command-line command has finished: SwitchFlags,
  // geometry, port, bps, addr, sbit, x, y, w, h. ModeFlags, LineSettings and uni stay.
  void clear_after_automation();

 private:
  std::string locked_copy(const std::string& s) const {
    std::lock_guard lock(mutex_);
    return s;
  }
  void locked_set(std::string& s, std::string v) {
    std::lock_guard lock(mutex_);
    s = std::move(v);
  }

  mutable std::mutex mutex_;
  std::string uni_;   // at most 11 characters
  std::string addr_;  // at most 5 characters
  std::string sbit_;  // at most 5 characters
};

}  // namespace kba604
