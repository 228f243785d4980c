// PreStart::CSetupCarrier: the logic of the connection-search dialog "Установка сетевых
// параметров программы", which opens at start when the connection check fails. The engineer
// edits the program's network settings in a table, tries again, scans the baud rates, restores
// the instrument's factory settings in the table, works offline or quits.
//
// The dialog's buttons only set events; a worker thread of its own waits for them and for its
// stop event, and runs every check under the link lock, so that the dialog stays responsive and
// can be interrupted. The stop event is the dialog's own rather than the device's: the device's
// worker takes its stop event back as soon as it is idle, and at start it always is. The front end
// binds its widgets to this object: it calls the On* handlers from its UI thread and hands what
// SetupCarrierView receives (some of it from the worker thread) over to that thread.
//
//   PreStart::CSetupCarrier carrier(*device, view);
//   carrier.OnInitDialog();            // the table filled, the worker started
//   ...                                 // buttons; view.end_dialog(1 or 2) ends it
//   carrier.close();                    // the worker stopped before the dialog goes
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/translatable.h"
#include "link/line_scan.h"
#include "model/parameter.h"
#include "operations/device.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {
namespace PreStart {

inline constexpr std::string_view kSetupCarrierTitle =
    KBA604_TR_NOOP("Messages", "Установка сетевых параметров программы");
inline constexpr std::string_view kPortColumn = KBA604_TR_NOOP("Messages", "Параметры порта");
inline constexpr std::string_view kValueColumn = KBA604_TR_NOOP("Messages", "Значение");
inline constexpr std::string_view kScanningStatus =
    KBA604_TR_NOOP("Messages", "Идет сканирование...");
inline constexpr std::string_view kScanningAtStatus =
    KBA604_TR_NOOP("Messages", "Идет сканирование на скорости %s...");
inline constexpr std::string_view kConnectedStatus =
    KBA604_TR_NOOP("Messages", "Связь установлена!");
inline constexpr std::string_view kNotConnectedStatus =
    KBA604_TR_NOOP("Messages", "Не удалось установить связь с прибором!");
inline constexpr std::string_view kInterruptingStatus =
    KBA604_TR_NOOP("Messages", "Прерывание операции...");

// The dialog's results.
inline constexpr int kResultConnected = 1;  // connected, or offline chosen
inline constexpr int kResultQuit = 2;       // "Выход": the start-up fails

// The buttons that wait for the worker to end before they complete.
enum class PendingCommand { None, Offline, Exit };

// What the dialog shows. The worker thread calls these too.
class SetupCarrierView {
 public:
  virtual ~SetupCarrierView() = default;
  // The status line; error marks a failure (only its presentation changes).
  virtual void show_status(std::string_view text, bool error) = 0;
  // The settings table (and the factory settings button) may be edited, or not while a check
  // runs.
  virtual void enable_table(bool enabled) = 0;
  // A row's value changed (scan, factory settings).
  virtual void show_row(std::size_t row, std::string_view value) = 0;
  // The dialog ends with kResultConnected or kResultQuit.
  virtual void end_dialog(int result) = 0;
  // The worker has ended with a button pressed meanwhile: the dialog completes it on its own
  // thread (CSetupCarrier::complete).
  virtual void post_command(PendingCommand command) = 0;
};

class CSetupCarrier {
 public:
  // One row of the settings table: a parameter of the program's network element.
  struct Row {
    std::string name;     // short name ("bPS")
    std::string caption;  // "Параметры порта"
    std::string value;    // "Значение"
  };

  // device and view must outlive the object.
  CSetupCarrier(Device& device, SetupCarrierView& view);
  // Stops the worker (close).
  ~CSetupCarrier();
  CSetupCarrier(const CSetupCarrier&) = delete;
  CSetupCarrier& operator=(const CSetupCarrier&) = delete;

  // Opening: fills the table from the program's network element, in element order, and starts
  // the worker.
  void OnInitDialog();
  std::vector<Row> rows() const;
  // Whether the table may be edited (no check runs).
  bool table_enabled() const { return !busy_.load(); }

  // An edit of a row in place: refused by the rules of the network settings (character format,
  // address rules, multiple of 8) and by the value's format. Nothing when the value was taken,
  // else the box that says why not (the old value stays); a box without text when a check runs
  // (the table is disabled then, and there is nothing to say).
  std::optional<BoxMessage> edit_row(std::size_t row, std::string_view text);

  // "Установить связь".
  void OnConnect();
  // "Сканирование сети".
  void OnScan();
  // "Заводские сетевые параметры прибора": 9600, 8, none, 1, 8-bit, address 16, COM1 into the
  // table and the element, then a connection attempt. Nothing while a check runs.
  void OnFactorySettings();
  // "Работать offline": when the worker has ended, mode flags exactly 0x0002 (automatic
  // reading off) and result 1; otherwise the worker is interrupted first.
  void OnOffline();
  // "Выход": when the worker has ended, result 2; otherwise the worker is interrupted first.
  void OnExit();
  // Completes a command that waited for the worker (what post_command asked for).
  void complete(PendingCommand command);

  // The line scan of the dialog: which instruments answer on the program's port, at which
  // addresses, speeds and character formats. It takes the line as a check does, so the table
  // and the check buttons wait for it. begin_line_scan (UI thread) claims it: false while a
  // check runs or once the worker has ended. run_line_scan then runs on a thread of the
  // caller's, never the UI thread, under the link lock, and gives the line back (the port
  // reopened with the program's settings, the table enabled); the program's settings are not
  // touched. cancel_line_scan, "Выход" and "Работать offline" end it before its next probe.
  bool begin_line_scan();
  std::vector<FoundInstrument> run_line_scan(const ScanPlan& plan, const ScanListener& listener);
  void cancel_line_scan() { line_scan_stop_.set(); }
  bool line_scan_running() const { return line_scan_.load(); }
  // A found instrument picked: its speed, character format, address length and address go into
  // the table and the program's element, and the connection is tried at them as with
  // "Установить связь" (success ends the dialog). The box that says why not when a check or
  // the scan runs (a box without text then) or the instrument's settings are none the program
  // may take.
  std::optional<BoxMessage> OnPickFound(const FoundInstrument& found);

  // Ends the worker and waits for it to return, however long the exchange in progress takes
  // (a stopped check makes no further request). Called before the dialog and its view go; safe
  // to call twice.
  void close();

  // Set by the worker when it ends.
  bool finished() const { return finished_.is_set(); }

 private:
  void worker();
  void run_connect();
  void run_scan();
  // Puts a value into a row and into the program's element.
  void set_row(std::size_t row, const std::string& value);
  std::optional<std::size_t> row_of(std::string_view name) const;
  void interrupt(PendingCommand command);
  void end_dialog(int result);

  Device& device_;
  SetupCarrierView& view_;

  platform::Event stop_{platform::Event::Reset::Manual};
  platform::Event connect_{platform::Event::Reset::Manual};
  platform::Event scan_{platform::Event::Reset::Manual};
  platform::Event finished_{platform::Event::Reset::Manual};
  std::atomic<PendingCommand> pending_{PendingCommand::None};
  // A check runs (or is about to): the table and the element belong to the worker.
  std::atomic<bool> busy_{false};
  std::atomic<bool> ended_{false};
  platform::Event line_scan_stop_{platform::Event::Reset::Manual};
  std::atomic<bool> line_scan_{false};

  mutable std::mutex mutex_;  // the rows
  std::vector<Row> rows_;
  platform::Thread thread_;
};

}  // namespace PreStart
}  // namespace kba604
