// The operation engine of the device: what the engineer asks of the instrument as a whole, a
// branch or one parameter (read, write all, write changed, write erroneous, compare,
// initialise, EEPROM image read and write, and the group operations), carried out one at a
// time by one worker thread while an operation view shows the log and the counters.
//
// The engine builds on the exchange of one parameter (ParameterExchange: the per-parameter
// operations, the counters and the log); Device derives from the link (DeviceIO) and from this
// class and implements the protected link_* operations with the request layer, so that every
// exchange is one ordinary request of the link. The whole-instrument commands of the document
// (initialisation, the EEPROM image into and from a file) are in device_commands.h.
//
// Threads. Operations are started on the UI thread (Start*), which opens the view and sets the
// operation's auto-reset event; the worker waits for the events, performs the operation and
// ends it with FinishOperation. The stop event (manual reset) is set by the view's button, by
// the failure limits and when the port cannot be opened, and every walk tests it before and
// after each parameter. The worker holds its device by shared ownership: create devices with
// std::make_shared, and call shutdown() before letting the last owner go.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/operation_view.h"
#include "model/object_with_parameters.h"
#include "model/parameter_table.h"
#include "operations/operation_hooks.h"
#include "operations/parameter_exchange.h"
#include "operations/reread_set.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

// Operation codes: the view's title and the operation the worker performs.
namespace operation_code {
inline constexpr int kRead = 1;
inline constexpr int kWriteAll = 4;
inline constexpr int kWriteChanged = 5;
inline constexpr int kCompare = 6;
inline constexpr int kInitialise = 7;
inline constexpr int kEepromRead = 8;
inline constexpr int kEepromWrite = 9;
inline constexpr int kGroupRead = 17;
inline constexpr int kGroupWrite = 18;
inline constexpr int kGroupCompare = 19;
}  // namespace operation_code

// What a group operation does with each parameter of its list.
namespace group_kind {
inline constexpr int kNone = 0;
inline constexpr int kRead = 1;
inline constexpr int kWrite = 2;
inline constexpr int kCompare = 3;
}  // namespace group_kind

class DeviceOperations : public ParameterExchange, public OperationControl {
 public:
  explicit DeviceOperations(CKBA604App& app);
  ~DeviceOperations() override;
  DeviceOperations(const DeviceOperations&) = delete;
  DeviceOperations& operator=(const DeviceOperations&) = delete;

  // ---- wiring (UI thread, before operations run) -------------------------------------------
  // The root of the main tree: a write from it uses mode 2, and the forced re-reads search
  // the whole tree from it. Every reload of the description sets it anew (or to none); the
  // link then takes the access level the table was loaded at.
  void set_tree_root(ObjectWithParameters* root) {
    tree_root_.store(root);
    description_changed();
  }
  ObjectWithParameters* tree_root() const { return tree_root_.load(); }
  // Restricts the next read, write or compare to this parameter; cleared when it has run.
  void set_single_target(Parameter* parameter) { single_target_.store(parameter); }
  Parameter* single_target() const { return single_target_.load(); }
  // Drops every reference into the parameter table (current element, single target, group
  // list, re-read set, tree root) before the description is reloaded. Only while idle.
  void forget_description();

  // ---- the worker ----------------------------------------------------------------------------
  // Starts the worker thread (once). The device must be owned by a std::shared_ptr.
  void start_worker(std::shared_ptr<DeviceOperations> self);
  // Ends the worker: sets the exit event and the stop event and waits up to timeout_ms. True
  // when the worker has ended; false when it was left running on its own (it holds the device,
  // and whatever was handed to keep_while_worker_runs).
  bool shutdown(int timeout_ms = platform::Thread::kDefaultJoinMs);
  // Keeps an object alive until the worker has ended: what a worker left running after
  // shutdown may still use (the description trees its operation walks). Released on the
  // worker thread as it ends, or with the device.
  void keep_while_worker_runs(std::shared_ptr<void> object);
  // Whether an operation is being performed or waits for the worker, or an exchange outside
  // the worker runs (see begin_outside_exchange).
  bool busy() const { return !idle_.is_set() || outside_exchanges_.load() > 0; }
  // A word of the control channel reads or writes one parameter on a thread of its own, off
  // the UI thread. While such an exchange runs the device counts as busy: no operation starts,
  // the window holds its commands back and no description is replaced under the parameter.
  // begin on the UI thread before the exchange is handed over, end when it is over.
  void begin_outside_exchange() { outside_exchanges_.fetch_add(1); }
  void end_outside_exchange() { outside_exchanges_.fetch_sub(1); }
  // What the worker runs once when the next operation started (with the forced re-reads that
  // follow it) has ended, before it becomes idle: the asynchronous commands finish there. Taken
  // by the next start that opens its window; an empty function clears it.
  void set_completion(std::function<void()> completion);
  // Waits until the worker has finished every operation started so far (forced re-reads
  // included); true when it has, false after timeout_ms (-1: no limit).
  bool wait_idle(int timeout_ms = -1);

  // ---- starting operations (UI thread) --------------------------------------------------------
  // Each sets the current element, computes the total, clears done and errors and opens the
  // view with the operation's code. False when nothing was started: another window stayed open
  // (see open_window), or there was nothing to do.
  bool StartRead(ObjectWithParameters& element);
  bool StartWriteAll(ObjectWithParameters& element);
  bool StartWriteChanged(ObjectWithParameters& element);
  // The element's writable parameters with an error note go into the group list and are
  // written as a group; with none, "Ошибочных параметров не обнаружено!" is shown and nothing
  // starts.
  bool StartWriteErroneous(ObjectWithParameters& element);
  bool StartCompare(ObjectWithParameters& element);
  // Initialisation of the element (the root of the tree); refused below the maximum access
  // level with its message.
  bool StartInit(ObjectWithParameters& element);
  // The EEPROM image operations over the whole table.
  bool StartEepromRead();
  bool StartEepromWrite();
  // A group operation over the listed parameters: kind 1 read, 2 write, 3 compare.
  bool StartGroup(int kind, std::vector<Parameter*> parameters);
  // Immediate write mode: a parameter the engineer has just changed goes to the instrument at
  // once, without a window, as a write of the changed parameters of the whole tree. Nothing
  // when the mode is off or the parameter carries no change.
  void immediate_write(const Parameter& changed);

  // The compare report after a compare window has closed: the skipped count, then the
  // differences or "Отличий не обнаружено".
  void ReportCompare();

  // Ends every operation: the forced re-read group when allowed and needed, else the pause of
  // up to 2 s, the button "Закрыть", closing or the closing hint, and the stop event cleared.
  void FinishOperation(bool allow_reread);

  // ---- the view's controls (UI thread; OperationControl) -------------------------------------
  void button_pressed() override;
  void auto_close_toggled(bool ticked) override;

  // ---- state -----------------------------------------------------------------------------------
  // Whether the last operation started (with any re-read that followed it) was stopped before
  // its end: the button, the failure limits, a port that would not open, the exit event.
  bool operation_stopped() const { return operation_stopped_.load(); }
  int group_kind() const { return group_kind_.load(); }
  std::vector<Parameter*> group_list() const;
  // Whether the last EEPROM read went through the whole list without being stopped (an image
  // of it may be saved).
  bool eeprom_read_complete() const { return eeprom_read_complete_.load(); }

 protected:
  // ---- the link (Device implements these with DeviceIO, besides those of ParameterExchange) ---
  virtual bool link_port_open() = 0;
  // Opens the port for good; false when it cannot be opened.
  virtual bool link_open_port() = 0;
  // Purges the port, clears its event mask and closes it.
  virtual void link_close_port() = 0;
  // Whether the description was loaded at the maximum access level.
  virtual bool link_max_access() const = 0;
  // The description was loaded anew (or released): the link follows the table.
  virtual void description_changed() {}

 private:
  enum class Wake {
    Read,
    WriteAll,
    WriteChanged,
    Compare,
    Initialise,
    EepromRead,
    Group,
    Exit,
    Stop,
    EepromWrite
  };

  void worker_loop();
  // Performs one operation event; returns the operation code it ran under.
  int perform(Wake wake);
  void perform_read();
  void perform_write(bool all);
  void perform_compare();
  void perform_initialise();
  void perform_eeprom_read();
  void perform_eeprom_write();
  void perform_group();

  // Opening the window: waits for a previous window (10 steps of 200 ms), clears the stop
  // event, opens the view, empties the re-read set, sets the group kind for the group codes and
  // sets the operation's event. False when the previous window stayed open.
  bool open_window(int code, platform::Event& event);
  bool start_eeprom_operation(int code, std::initializer_list<std::string_view> excluded,
                              platform::Event& event);
  // Waits up to 10 steps of 200 ms for a previous window to close and the worker to become
  // idle; false when either is still the case.
  bool wait_for_previous_window();
  void close_window();
  // Sets an operation's event; wait_idle waits for it from now on.
  void schedule(platform::Event& event);
  bool any_operation_pending() const;
  // The parameters of the element and its sub-branches, in walk order.
  static std::vector<Parameter*> walk_parameters(ObjectWithParameters& element);
  static int count_writes(ObjectWithParameters& element, int mode);
  static int count_visits(ObjectWithParameters& element, int mode);

  std::atomic<ObjectWithParameters*> tree_root_{nullptr};
  std::atomic<ObjectWithParameters*> current_element_{nullptr};
  std::atomic<Parameter*> single_target_{nullptr};

  // Operation events (auto reset), in the worker's order of precedence.
  platform::Event read_{platform::Event::Reset::Auto};
  platform::Event write_all_{platform::Event::Reset::Auto};
  platform::Event write_changed_{platform::Event::Reset::Auto};
  platform::Event compare_{platform::Event::Reset::Auto};
  platform::Event initialise_{platform::Event::Reset::Auto};
  platform::Event eeprom_read_{platform::Event::Reset::Auto};
  platform::Event group_{platform::Event::Reset::Auto};
  platform::Event eeprom_write_{platform::Event::Reset::Auto};
  // Set while no operation is pending or running; idle_mutex_ orders setting an event against
  // the worker's test for pending events.
  platform::Event idle_{platform::Event::Reset::Manual, true};
  std::mutex idle_mutex_;
  std::atomic<int> outside_exchanges_{0};
  platform::Event window_closed_{platform::Event::Reset::Manual, true};

  std::atomic<int> group_kind_{group_kind::kNone};
  // An immediate write waits for the worker: it writes the changes of the whole tree.
  std::atomic<bool> immediate_write_pending_{false};
  std::atomic<OperationButton> button_{OperationButton::Stop};
  std::atomic<std::int64_t> start_ms_{0};
  // The code of the window the next or running operation belongs to.
  std::atomic<int> current_code_{0};
  // Parameters the running EEPROM operation works on.
  std::vector<Parameter*> eeprom_list_;
  std::atomic<bool> operation_stopped_{false};
  // Whether the last EEPROM read went through the whole list without being stopped.
  std::atomic<bool> eeprom_read_complete_{false};

  std::vector<Parameter*> group_list_;  // under mutex_
  // The completion set for the next start, and the one of the running operation; under mutex_.
  std::function<void()> next_completion_;
  std::function<void()> completion_;
  std::vector<std::shared_ptr<void>> kept_;  // under mutex_

  platform::Thread worker_;
};

}  // namespace kba604
