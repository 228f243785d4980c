// ParameterExchange: the exchange of one parameter with the instrument, on which every
// operation is built: ReadParameter, CompareParameter, WriteParameter and WriteValue, with
// their log lines, counters and failure limits and the instrument's own rules (stale
// parameters after a write, counts changed one step at a time, initialisation values,
// check-only parameters and protected attributes).
//
// It holds what one exchange touches: the parameter table, the stop event, the counters of
// the running operation, the consecutive failures, the comparison's differences, the forced
// re-reads and the view the log goes to. The operation engine (DeviceOperations) builds its
// walks, its worker and its windows on top of it; the link is reached only through the
// protected link_* operations, which Device implements with the request layer.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "app/application.h"
#include "app/notifications.h"
#include "app/operation_view.h"
#include "model/object_with_parameters.h"
#include "model/parameter_table.h"
#include "operations/operation_hooks.h"
#include "operations/reread_set.h"
#include "platform/event.h"

namespace kba604 {

// Result codes of the per-parameter operations besides 0 (done) and the request layer's codes.
namespace exchange_result {
inline constexpr int kStopped = -1;        // the stop event was set
inline constexpr int kCompareStopped = 3;  // a comparison was stopped
inline constexpr int kNotInitialised = 5;  // not written: the value is "Нет данных"
inline constexpr int kNegativeIndex = 6;   // skipped: the linear index is negative
}  // namespace exchange_result

class ParameterExchange : public ParameterOperations {
 public:
  explicit ParameterExchange(CKBA604App& app);
  ~ParameterExchange() override;
  ParameterExchange(const ParameterExchange&) = delete;
  ParameterExchange& operator=(const ParameterExchange&) = delete;

  ParameterTable& table() { return table_; }
  const ParameterTable& table() const { return table_; }
  // The view operations report into; none means operations run without a window (their log
  // is dropped, counters and notes still change).
  void set_view(OperationView* view) { view_.store(view); }
  void set_listener(OperationListener* listener) { listener_.store(listener); }
  OperationListener* listener() const { return listener_.load(); }
  // Where the change of each parameter of the table is announced (parameter_changed with its
  // position in the table), from the thread that changed it, after the value lock is released;
  // none announces nothing.
  void set_notification_sink(NotificationSink* sink) { sink_.store(sink); }
  // Announces that an exchange changed a parameter of the table (value, note, outcome,
  // attributes); nothing for a parameter outside it. Also for the exchanges the dialogs make
  // outside the engine. Any thread, never under the value lock.
  void notify_changed(const Parameter& parameter);

  // ---- the per-parameter operations (worker thread; ParameterOperations) ----------------------
  // Each leaves the request's words in the parameter's note and its outcome beside it.
  bool stop_requested() override;
  int ReadParameter(Parameter& parameter, bool count_timeouts) override;
  int WriteParameter(Parameter& parameter, int mode) override;
  int CompareParameter(Parameter& parameter) override;
  int WriteValue(Parameter& parameter, int mode);
  void add_done(int count) override;
  void log_branch(const std::string& line) override;
  // Appends a line to the log of the open window; nothing without a window.
  void AddLogLine(std::string_view text, bool bold = false, LogColour colour = log_colour::kNormal,
                  bool italic = false);

  // ---- state ---------------------------------------------------------------------------------
  platform::Event& stop_event() { return stop_; }
  int total() const { return total_.load(); }
  int done() const { return done_.load(); }
  int errors() const { return errors_.load(); }
  int consecutive_failures() const { return consecutive_failures_.load(); }
  int difference_count() const { return difference_count_.load(); }
  int skipped_count() const { return skipped_count_.load(); }
  std::string difference_text() const;
  // The forced re-reads collected by the running operation.
  ReReadSet reread_set() const;
  // Set when one of the network settings "bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr" was
  // written; the network settings then offer the APLY command. The reader clears it.
  bool network_settings_written() const { return network_settings_written_.load(); }
  void clear_network_settings_written() { network_settings_written_.store(false); }
  // Whether the operation's window is open.
  bool window_open() const { return window_open_.load(); }
  // Characters in the log of the open window.
  std::size_t log_length() const { return log_length_.load(); }

 protected:
  // ---- the link (Device implements these with DeviceIO) --------------------------------------
  // One request for the parameter: request_bit 1 reads, 0 writes its value. Attributes travel
  // with the value as the link decides, never when without_attributes is set. Returns the
  // request layer's result and leaves its words in the parameter's note and its outcome in
  // the parameter's outcome.
  virtual int link_transact(Parameter& parameter, int request_bit, bool without_attributes) = 0;
  // The parameter's attributes alone: request_bit 0 sends its editable and factory flags, 1
  // reads them. 0, 200 (the exchange failed) or 201 (a reply of the wrong size); a failure
  // leaves its words and outcome in the parameter.
  virtual int link_exchange_attributes(Parameter& parameter, int request_bit) = 0;
  // Set when the program ends; every walk stops.
  virtual platform::Event& link_exit_event() = 0;

  void set_total(int total);
  void add_errors(int count);
  void set_errors(int count);
  void publish_counters();
  CKBA604App& app_;
  ParameterTable table_;
  std::atomic<OperationView*> view_{nullptr};
  std::atomic<OperationListener*> listener_{nullptr};
  std::atomic<NotificationSink*> sink_{nullptr};
  platform::Event stop_{platform::Event::Reset::Manual};
  std::atomic<int> total_{0}, done_{0}, errors_{0};
  std::atomic<int> difference_count_{0}, skipped_count_{0};
  std::atomic<bool> window_open_{false};
  std::atomic<std::size_t> log_length_{0};

  mutable std::mutex mutex_;  // guards the difference text, the re-read set and what the
                              // engine adds (its group list)
  std::string difference_text_;
  ReReadSet reread_;

 private:
  // The ordinary write of a value with its log line (line is its beginning), error-log line,
  // network-settings flag and failure limit.
  int write_text(Parameter& parameter, const std::string& text, const std::string& line);
  int step_count(Parameter& parameter, int mode);
  bool open_attributes(Parameter& parameter, bool& saved_editable, bool& saved_factory);
  void close_attributes(Parameter& parameter, bool saved_editable, bool saved_factory);
  void note_read_outcome(Parameter& parameter, int result);
  // A lost port stops the operation at once, as five time-outs in a row do; the next request
  // tries to open the port again.
  void note_lost_port(const Parameter& parameter);
  void note_write_failure(int result, const Parameter& parameter);
  void append_error_log(const Parameter& parameter);
  std::string indexed_name(const Parameter& parameter) const;

  std::atomic<int> consecutive_failures_{0};
  std::atomic<bool> network_settings_written_{false};
};

}  // namespace kba604
