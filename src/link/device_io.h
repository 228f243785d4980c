// DeviceIO: the request layer of the device link and the program's one link object. It owns the
// serial port, the program's own network settings and the link lock, and offers the exchanges
// of the rest of the program: one parameter (with its access attributes), the attributes alone,
// and the raw Modbus exchange that switches an instrument back to the ТАЛВ protocol.
//
// Every exchange holds the link lock (re-entrant) for its whole duration, so requests of the
// user-interface thread, the worker, the scanners and the search worker interleave request by
// request. Nothing waits for a person or for the control channel while holding it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <semaphore>
#include <string>
#include <vector>

#include "app/application.h"
#include "link/net_rs485.h"
#include "link/sio.h"
#include "model/parameter.h"
#include "platform/settings_store.h"

namespace kba604 {

// Where the announcements of changed port settings go ("!netparam …"): the control channel.
class NetParamChannel {
 public:
  virtual ~NetParamChannel() = default;
  virtual void announce(const std::string& line) = 0;
};

// Results of transact_parameter.
inline constexpr int kRequestOk = 0;
inline constexpr int kRequestFailed = 1;       // the frame exchange failed
inline constexpr int kRequestUndecodable = 2;  // "Не могу раскодировать ответ"
inline constexpr int kRequestNoWriteForm = 3;    // read-only commands ("dev", "ver", "exit")
inline constexpr int kRequestNotEncodable = 4;   // the value cannot be encoded
inline constexpr int kRequestBadEcho = 6;        // the switch-back echo differs
inline constexpr int kRequestWriteRefused = 51;  // network error 0x33, write not repeated
inline constexpr int kRequestAttributesFailed = 200;
inline constexpr int kRequestAttributesSize = 201;

// Results of exchange_raw.
inline constexpr int kRawOk = 0;
inline constexpr int kRawAddressTooLong = -1;
inline constexpr int kRawTimeout = 2;
inline constexpr int kRawLineErrors = 3;
inline constexpr int kRawAddressMismatch = 5;

// The network error code of a write forbidden by the access attributes.
inline constexpr std::uint8_t kEditingForbidden = 0x33;

// The words for a result of exchange_raw; empty for the codes without words.
std::string raw_exchange_text(int code);
// The outcome of a result of exchange_raw (or kRequestBadEcho for an echo that differs).
ExchangeOutcome raw_exchange_outcome(int code);

class DeviceIO {
 public:
  // app and settings must outlive the link. settings holds the [Ports] mapping and the
  // program's port settings. Without an opener the port opens POSIX terminals.
  DeviceIO(CKBA604App& app, platform::SettingsStore& settings, Sio::LineOpener opener = {});
  virtual ~DeviceIO();
  DeviceIO(const DeviceIO&) = delete;
  DeviceIO& operator=(const DeviceIO&) = delete;

  // Reads (request_bit 1) or writes (0) one parameter, with its attributes where they travel.
  // trace, when given, receives the lines of the single-parameter dialog. Leaves the error text
  // in the parameter's note and the reply in its last-reply copy. In the Modbus modes the
  // switch-back command is sent instead (parameter may then be none). Attributes travel with
  // the value unless the program's mode "Не передавать атрибуты параметров" is on or the
  // caller exchanges them on its own (without_attributes). Results: kRequest…; the parameter's
  // outcome tells the kind of failure (a time-out, a refusal and its code...), and its note
  // holds the outcome's words.
  int transact_parameter(std::vector<std::string>* trace, Parameter* parameter, int request_bit,
                         bool value_as_position, bool without_attributes = false);

  // Reads or writes the access attributes of a parameter. 0, 200 (exchange failed) or 201 (reply
  // of the wrong size), with the failure's words in *error_text and, when outcome is given, its
  // kind in *outcome (AttributeFailure with the frame's outcome as cause, or
  // AttributeReplySize).
  int exchange_attributes(int request_bit, bool* editable, std::uint16_t hash, bool indexed,
                          int index, bool* factory, std::string* error_text,
                          ExchangeOutcome* outcome = nullptr);

  // Sends data (address first) in the current Modbus framing and returns the reply's data
  // (after the address). reply must hold 32 bytes. Results: kRaw… and 4, 6 of modbus.h.
  int exchange_raw(const std::uint8_t* data, int count, std::uint8_t* reply, int* reply_count);

  // Closes the port, takes the program's network settings into it and opens it again, unless
  // the program runs silent or without a port (-1 then). On failure sets 2 in the exit flags
  // (cleared on success) and, when asked and no command-line switch was given, says so in a
  // box. Returns the result of opening.
  int reopen_port(bool show_message);
  // Copies the program's network settings into the port; returns the "!netparam" lines for
  // the values that changed (announce sends them).
  std::vector<std::string> load_port_settings();
  // Sends announcements on the control channel, when the "uni" switch was given and a channel
  // exists. Never called under the link lock.
  void announce(const std::vector<std::string>& lines);

  // What the line said last, for the connection indicator: the instrument answered (a refusal
  // is an answer too), nothing usable came back, or the port would not open. Unknown after the
  // port was opened with new settings, until the next request.
  enum class LinkState { Unknown, Answers, Silent, PortClosed };
  LinkState link_state() const { return link_state_.load(); }

  Sio& sio() { return sio_; }
  std::recursive_mutex& link_lock() { return link_lock_; }
  CKBA604App& app() { return app_; }
  Elements::NetRS485prg& program_settings() { return program_settings_; }

  // The program-wide protocol mode: 0 ТАЛВ, 1 Modbus RTU, 2 Modbus ASCII.
  int protocol_mode() const { return sio_.protocol_mode(); }
  void set_protocol_mode(int mode) { sio_.set_protocol_mode(mode); }
  // Set when the description was loaded at the maximum access level: attribute requests are
  // then "M.s.t.r." and the factory attribute can be seen and changed.
  bool max_access() const { return max_access_.load(); }
  void set_max_access(bool on) { max_access_.store(on); }
  // Whether a configuration document is open (the attribute list is then sent as its bytes
  // 0xAC..0xAF at the maximum access level).
  void set_document_open(bool open) { document_open_.store(open); }
  // Whether the instrument on the line named itself the KBA604 the last time it was asked who
  // it is ("dev"); commands meant for this model alone (the calibration) wait for it.
  bool identified() const { return identified_.load(); }
  void set_identified(bool identified) { identified_.store(identified); }
  void set_control_channel(NetParamChannel* channel);
  // Created with the link for the operation engine: one holder at a time.
  std::binary_semaphore& semaphore() { return semaphore_; }

 private:
  struct RequestState;
  // The steps of transact_parameter on the request's own copy of what it changes.
  int request(std::vector<std::string>* trace, const Parameter& p, RequestState& state,
              int request_bit, bool value_as_position, bool without_attributes);
  // A value write or read of one frame and the decoding of its reply, shared by the first
  // write and its repetition.
  int value_exchange(std::vector<std::string>* trace, const Parameter& p, RequestState& state,
                     int request_bit, const std::vector<std::uint8_t>& data);
  int switch_back(Parameter* parameter);

  CKBA604App& app_;
  std::recursive_mutex link_lock_;
  Sio sio_;
  Elements::NetRS485prg program_settings_;
  std::atomic<bool> max_access_{false};
  std::atomic<LinkState> link_state_{LinkState::Unknown};
  std::atomic<bool> document_open_{false};
  std::atomic<bool> identified_{false};
  std::binary_semaphore semaphore_{1};
  std::mutex channel_mutex_;
  // The last reason of a failed opening told in quiet mode, so that the connection check's
  // several reopenings say it once.
  std::mutex fault_mutex_;
  std::string told_fault_;
  NetParamChannel* channel_ = nullptr;
};

}  // namespace kba604
