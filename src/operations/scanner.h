// Background polling of the operational parameters. Each parameter that owns a polling timer
// can be armed (its check box in the operational branch): from then on it is read every period
// and what the read brought is handed to a poll sink, independently of the operations of the
// worker. One scanner thread serves every polled parameter, however many: it keeps each
// parameter's next due time and waits until the earliest of them, or until it is woken by an
// arming, a period change or its stop event.
//
//   Scanner scanner(read_one, device->link_lock());
//   scanner.set_sink(&sink);
//   scanner.StartScanners(operational_root, prompter);  // once the tree view is built
//   scanner.arm(*parameter);                             // the box is ticked
//   ...
//   scanner.StopScanners();  // before the description goes, and at the end
//
// A poll reads the parameter under the link lock, so polls take turns with the requests of a
// running operation, and takes a snapshot of what the read left (value, note, reply bytes,
// address offset, time) under the same lock, since a later exchange overwrites the parameter.
// The sink gets the snapshot on the scanner thread and must not block on the UI thread; a
// front end queues it. While a snapshot of a parameter is still held by the sink, a due poll of
// that parameter is left out (as the expiries of a periodic timer coalesce), so that values are
// handed on in poll order and each before its parameter is polled again.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/prompter.h"
#include "app/translatable.h"
#include "description/desc_branch.h"
#include "model/parameter.h"
#include "operations/operation_hooks.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

// The box of a refused period.
inline constexpr std::string_view kPollingPeriodText = KBA604_TR_NOOP(
    "Messages",
    "Период опроса должен быть задан числом в миллисекундах.\nПериод опроса не может быть меньше "
    "1000 миллисекунд");
inline constexpr std::string_view kPollingPeriodCaption =
    KBA604_TR_NOOP("Messages", "Неудалось изменить период опроса");
// The box of a scanner thread that cannot be created.
inline constexpr std::string_view kScannerThreadText = KBA604_TR_NOOP(
    "Messages", "Не могу запустить поток (ScanThread), необходимый для работы сканеров");
inline constexpr std::string_view kScannerThreadCaption = "Error";

inline constexpr std::int32_t kShortestPollingPeriodMs = 1000;

// Wall-clock time in milliseconds since 1970-01-01 UTC. Tests give one that follows their
// manual clock.
using WallClock = std::function<std::int64_t()>;
std::int64_t system_wall_ms();

// What one poll left in its parameter, taken under the link lock right after the read.
struct PollSnapshot {
  // Identifies the row; the receiver reads nothing else of it (a later poll may be changing it).
  Parameter* parameter = nullptr;
  std::string short_name;
  std::int32_t address_offset = 0;
  std::string value;
  std::string note;
  // The request layer's result of the read (0: read).
  int result = 0;
  std::uint8_t reply_length = 0;
  std::array<std::uint8_t, MyConverter::kLastReplyCapacity> reply{};
  // When the poll was made: monotonic (the scanner's clock) and wall-clock time.
  std::int64_t clock_ms = 0;
  std::int64_t wall_ms = 0;
  // The due time the poll served (monotonic), for measuring how late polls come.
  std::int64_t due_ms = 0;
  // Held while the snapshot is being handled; its parameter is polled again only after the
  // last copy is gone.
  std::shared_ptr<void> ticket;
};

class PollSink {
 public:
  virtual ~PollSink() = default;
  // Called on the scanner thread, in poll order. Must not wait for the UI thread.
  virtual void polled(PollSnapshot snapshot) = 0;
};

// Whether any parameter of the branch or of its sub-branches owns an armed timer.
bool AnyPollingOn(const DescBranch& branch);
// Appends every parameter of the branch and its sub-branches that owns a timer, in tree order
// (the branch's own list first, then its sub-branches); returns how many were appended.
int CollectPolled(const DescBranch& branch, std::vector<Parameter*>& list);

class Scanner final : public PollingGuard {
 public:
  // One read request for the parameter; returns the request layer's result and leaves value,
  // note and reply in the parameter.
  using ReadOne = std::function<int(Parameter&)>;

  // link_lock is shared with its owner (an aliasing pointer into the device), so that a
  // scanner thread left running after a stop that timed out still has it; read should hold
  // the device the same way. The clock must outlive every scanner thread (the real clock, or a
  // test's).
  Scanner(ReadOne read, std::shared_ptr<std::recursive_mutex> link_lock,
          platform::Clock& clock = platform::Clock::real(), WallClock wall = system_wall_ms);
  // Stops the thread (bounded).
  ~Scanner() override;
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Where the snapshots go; none drops them. Set before arming.
  void set_sink(PollSink* sink);

  // Collects the parameters that own a timer in the operational branch (none: no branch), in
  // place of those served so far.
  void serve(const DescBranch* operational_root);
  // Collects the polled parameters of the operational branch and starts the scanner thread.
  // 0 when it runs (or already ran); 1 when the thread could not be created, which is said
  // once through the prompter. A root of none serves nothing until started again.
  int StartScanners(const DescBranch* operational_root, Prompter* prompter);
  // Sets the stop event, waits up to timeout_ms for the thread (a thread still running is left
  // to end on its own), disarms every armed timer and forgets the list. Call it before the
  // parameters go.
  void StopScanners(int timeout_ms = platform::Thread::kDefaultJoinMs);
  bool running() const;

  // The check box of an operational row: ticking arms the parameter's timer with its first
  // poll one period (and delay_ms) from now, clearing disarms it. The results of ArmTimer and
  // DisarmTimer. Arming many parameters at once with delays spread over a period keeps their
  // polls from all coming due together.
  int arm(Parameter& parameter, std::int64_t delay_ms = 0);
  int disarm(Parameter& parameter);

  // The period column of an operational row: the typed text is a number of milliseconds, at
  // least 1000; a fraction is cut off. An accepted period restarts an armed timer with it.
  // Anything else shows the refusal through the prompter (when given) and keeps the old
  // period; false then.
  bool change_period(Parameter& parameter, std::string_view typed, Prompter* prompter);
  // The same rule without a box: the period a text stands for, if it is acceptable.
  static std::optional<std::int32_t> parse_period(std::string_view typed);

  // PollingGuard: whether any collected parameter is armed.
  bool AnyPollingOn() const override;
  // The parameters served, in collection order.
  std::vector<Parameter*> polled() const;

  // One pass of the scanner thread: polls every armed parameter that is due (in collection
  // order) and returns the earliest due time left, or nothing when none is armed. The thread
  // calls it; tests may call it instead of starting the thread.
  std::optional<std::int64_t> poll_due();

 private:
  struct Core;

  std::shared_ptr<Core> core_;
  platform::Thread thread_;
  bool started_ = false;
};

}  // namespace kba604
