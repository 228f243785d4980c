// The regulation dialog's work without its window: the instrument's regulation state "r.st" in
// a table of up to eight objects, start and stop over the network with the command "r-s", the
// permission "net.s" to start over the network, and the polling that watches whether a start or
// stop took effect, repeating it twice before giving up.
//
// Threads. Every exchange runs on the control's own worker thread, never on the UI thread: the
// opening read of "net.s", the polls of "r.st" and the commands the buttons queue. After each
// poll the worker reports to the dialog (events.polled) and waits for its tick: the dialog
// shows the value and any message, then calls next_poll(), so a poll never overtakes the
// showing of the previous one. cancel() sets the stop event; the worker ends after the
// exchange it is in, and events.ended tells the dialog it may close. The events run on the
// worker thread: a window queues them to its own thread.
//
// The regulation state is an item list ("Режим СТОП", "Режим РАБОТА", ...): a start counts as
// confirmed when the state's item position is 1 and a stop when it is 0.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/translatable.h"
#include "model/parameter_table.h"
#include "operations/direct_exchange.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

inline constexpr std::string_view kRegulationCaption =
    KBA604_TR_NOOP("Messages", "Запуск / Остановка регулирования");
inline constexpr std::string_view kRegulationStateMissingText =
    KBA604_TR_NOOP("Messages", "Не найден параметр \"r.st\"!");
inline constexpr std::string_view kStartFailedText = KBA604_TR_NOOP(
    "Messages",
    "Попытка запуска прибора по сети RS485 неудачна.\n Возможно управление прибором по сети "
    "заблокировано параметром NET.S");
inline constexpr std::string_view kStopFailedText = KBA604_TR_NOOP(
    "Messages",
    "Попытка остановки прибора по сети RS485 неудачна.\n Возможно управление прибором по сети "
    "заблокировано параметром NET.S");

// A start or stop waiting for the instrument to confirm it.
enum class RegulationAction { None, Start, Stop };

// One row of the dialog's table.
struct RegulationRow {
  std::string object;  // "№ объекта"
  std::string title;   // "Описание"
  std::string name;    // "Параметр"
  std::string value;   // "Значение"
};

// What one poll brings to the dialog.
struct RegulationPoll {
  int row = 0;
  std::string value;  // the state as read, or the last known one after a failed read
  bool read_ok = false;
  std::string message;  // a start or stop failure to show (exclamation icon), or ""
};

class RegulationControl {
 public:
  static constexpr int kMaxRows = 8;
  // Repetitions of a start or stop that the instrument has not confirmed, after the click.
  static constexpr int kRepetitions = 2;

  struct Events {
    // The current value of "net.s" after the opening read: its position among the choices,
    // or -1.
    std::function<void(int choice)> network_start_read;
    std::function<void(const RegulationPoll&)> polled;
    std::function<void()> ended;
  };

  // Finds the parameters in the table; without "r.st" there is no control and *error holds
  // "Не найден параметр \"r.st\"!".
  static std::unique_ptr<RegulationControl> create(std::shared_ptr<DirectExchange> link,
                                                   ParameterTable& table, std::string* error);
  // Stops the worker and waits for it a bounded time; a worker still in an exchange then ends
  // on its own, holding what it uses.
  ~RegulationControl();
  RegulationControl(const RegulationControl&) = delete;
  RegulationControl& operator=(const RegulationControl&) = delete;

  // The table's rows (one: object "1", the instrument's "r.st"), as at opening.
  const std::vector<RegulationRow>& rows() const { return rows_; }
  // The entries of "Запуск по сети:": the value names of "net.s"; empty without it.
  const std::vector<std::string>& network_start_choices() const { return choices_; }

  // Starts the worker: it reads "net.s", clears the pending actions and polls. Once.
  void start(Events events);
  // "Запустить" and "Остановить": the attempt counts are cleared and, for every listed row,
  // "r-s" is written with 1 (start) or 0 (stop) at the row's address offset and the row waits
  // for the confirmation. Queued to the worker; nothing without "r-s".
  void start_regulation(std::vector<int> rows);
  void stop_regulation(std::vector<int> rows);
  // An entry of "Запуск по сети:" chosen: "net.s" takes its text and is written. Queued;
  // nothing without "net.s".
  void choose_network_start(int choice);
  // The dialog has shown the last poll: the next one may start.
  void next_poll();
  // "Отмена": true when the dialog may close at once (no worker runs); otherwise the worker
  // ends after its current exchange and events.ended follows.
  bool cancel();
  bool running() const { return worker_.running(); }

  // The position of the regulation state among its items (0 stop, 1 run), or, for a state
  // that is a number, the number; -1 when unknown.
  static int state_position(const Parameter& state);

  struct Shared;

 private:
  explicit RegulationControl(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::vector<RegulationRow> rows_;
  std::vector<std::string> choices_;
  bool started_ = false;
  platform::Thread worker_;
};

}  // namespace kba604
