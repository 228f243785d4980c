#include "operations/scanner.h"

#include <chrono>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

namespace kba604 {

std::int64_t system_wall_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool AnyPollingOn(const DescBranch& branch) {
  for (const Parameter* p : branch.parameters()) {
    if (p->owns_polling_timer() && p->timer_armed()) return true;
  }
  for (const auto& child : branch.children()) {
    if (AnyPollingOn(*child)) return true;
  }
  return false;
}

int CollectPolled(const DescBranch& branch, std::vector<Parameter*>& list) {
  int count = 0;
  for (Parameter* p : branch.parameters()) {
    if (!p->owns_polling_timer()) continue;
    list.push_back(p);
    ++count;
  }
  for (const auto& child : branch.children()) count += CollectPolled(*child, list);
  return count;
}

// Everything the scanner thread uses, held by shared ownership so that a thread left running
// after a stop that timed out never touches a scanner that is gone.
struct Scanner::Core {
  struct Entry {
    Parameter* parameter;
    // Set while a snapshot of this parameter is held by the sink.
    std::shared_ptr<std::atomic<bool>> in_flight;
  };

  Core(ReadOne r, std::shared_ptr<std::recursive_mutex> lock, platform::Clock& c, WallClock w)
      : read(std::move(r)), link_lock(std::move(lock)), clock(c), wall(std::move(w)) {}

  std::optional<std::int64_t> poll_due();
  void poll(const Entry& entry, std::int64_t due);
  void loop();

  ReadOne read;
  std::shared_ptr<std::recursive_mutex> link_lock;
  platform::Clock& clock;
  WallClock wall;

  // Guards the list and the sink: the UI thread starts, stops and rewires while the scanner
  // thread polls. Held while the sink takes a snapshot, so a sink withdrawn by StopScanners is
  // never called afterwards.
  std::mutex mutex;
  std::vector<Entry> entries;
  PollSink* sink = nullptr;

  platform::Event stop{platform::Event::Reset::Manual};
  platform::Event wake{platform::Event::Reset::Auto};
};

Scanner::Scanner(ReadOne read, std::shared_ptr<std::recursive_mutex> link_lock,
                 platform::Clock& clock, WallClock wall)
    : core_(std::make_shared<Core>(std::move(read), std::move(link_lock), clock,
                                   wall ? std::move(wall) : WallClock(system_wall_ms))) {}

Scanner::~Scanner() {
  StopScanners();
}

void Scanner::set_sink(PollSink* sink) {
  std::lock_guard lock(core_->mutex);
  core_->sink = sink;
}

void Scanner::serve(const DescBranch* operational_root) {
  std::vector<Parameter*> list;
  if (operational_root != nullptr) CollectPolled(*operational_root, list);
  std::lock_guard lock(core_->mutex);
  core_->entries.clear();
  for (Parameter* p : list) {
    core_->entries.push_back({p, std::make_shared<std::atomic<bool>>(false)});
  }
}

int Scanner::StartScanners(const DescBranch* operational_root, Prompter* prompter) {
  if (running()) return 0;
  serve(operational_root);
  core_->stop.reset();
  try {
    thread_.start([core = core_] { core->loop(); });
  } catch (const std::system_error&) {
    if (prompter != nullptr) {
      prompter->show(kScannerThreadText, kScannerThreadCaption, PromptIcon::Error);
    }
    return 1;
  }
  started_ = true;
  return 0;
}

void Scanner::StopScanners(int timeout_ms) {
  core_->stop.set();
  // The thread waits on the stop event under the scanner's clock, but whether it has ended is
  // a question of real time.
  const bool ended = thread_.join(timeout_ms, platform::Clock::real());
  started_ = false;
  PollSink* sink = nullptr;
  {
    std::lock_guard lock(core_->mutex);
    for (const Core::Entry& e : core_->entries) e.parameter->DisarmTimer();
    core_->entries.clear();
    sink = core_->sink;
    // A thread still inside a read delivers nothing when it comes back.
    if (!ended) core_->sink = nullptr;
  }
  if (!ended) {
    // It keeps its own core; the scanner goes on with a fresh one.
    auto fresh = std::make_shared<Core>(core_->read, core_->link_lock, core_->clock, core_->wall);
    fresh->sink = sink;
    core_ = std::move(fresh);
  }
}

bool Scanner::running() const {
  return started_ && thread_.running();
}

int Scanner::arm(Parameter& parameter, std::int64_t delay_ms) {
  const int result = parameter.ArmTimer(core_->clock.now_ms() + std::max<std::int64_t>(delay_ms, 0));
  // The earliest due time may have changed.
  if (result == 0) core_->wake.set();
  return result;
}

int Scanner::disarm(Parameter& parameter) {
  return parameter.DisarmTimer();
}

std::optional<std::int32_t> Scanner::parse_period(std::string_view typed) {
  std::string text(typed);
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const auto last = text.find_last_not_of(" \t");
  text = text.substr(first, last - first + 1);
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
    return std::nullopt;
  }
  // The due times are 64-bit, so any period that fits the parameter's field is served
  // exactly; a longer one cannot be stored and is refused like a short one.
  if (value < kShortestPollingPeriodMs || value >= 2147483648.0) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

bool Scanner::change_period(Parameter& parameter, std::string_view typed, Prompter* prompter) {
  const std::optional<std::int32_t> period = parse_period(typed);
  if (!period) {
    if (prompter != nullptr) {
      prompter->show(kPollingPeriodText, kPollingPeriodCaption, PromptIcon::Error);
    }
    return false;
  }
  const bool was_armed = parameter.DisarmTimer() == 0;
  parameter.set_polling_period(*period);
  if (was_armed) arm(parameter);
  return true;
}

bool Scanner::AnyPollingOn() const {
  std::lock_guard lock(core_->mutex);
  for (const Core::Entry& e : core_->entries) {
    if (e.parameter->timer_armed()) return true;
  }
  return false;
}

std::vector<Parameter*> Scanner::polled() const {
  std::lock_guard lock(core_->mutex);
  std::vector<Parameter*> list;
  for (const Core::Entry& e : core_->entries) list.push_back(e.parameter);
  return list;
}

std::optional<std::int64_t> Scanner::poll_due() {
  return core_->poll_due();
}

std::optional<std::int64_t> Scanner::Core::poll_due() {
  std::vector<Entry> list;
  {
    std::lock_guard lock(mutex);
    list = entries;
  }
  std::optional<std::int64_t> earliest;
  for (const Entry& e : list) {
    if (stop.is_set()) return std::nullopt;
    Parameter& p = *e.parameter;
    if (!p.timer_armed()) continue;
    const std::int64_t due = p.next_due_ms();
    const std::int64_t now = clock.now_ms();
    if (due <= now) {
      // A parameter whose last value is still being handled lets this expiry pass.
      if (!e.in_flight->load()) poll(e, due);
      // A stop while the read was on the line may have handed the tree back to its owner:
      // a thread left behind by a stop that timed out touches none of its parameters again.
      if (stop.is_set()) return std::nullopt;
      // The next expiry keeps the period's phase; expiries missed meanwhile coalesce, as those
      // of a periodic timer do. An arming or a period change during the poll set its own.
      const std::int64_t period = std::max<std::int32_t>(p.polling_period(), 1);
      const std::int64_t after = clock.now_ms();
      std::int64_t next = due + period;
      if (next <= after) next += ((after - next) / period + 1) * period;
      if (p.timer_armed() && p.next_due_ms() == due) p.set_next_due_ms(next);
    }
    if (p.timer_armed()) {
      const std::int64_t next = p.next_due_ms();
      if (!earliest || next < *earliest) earliest = next;
    }
  }
  return earliest;
}

void Scanner::Core::poll(const Entry& entry, std::int64_t due) {
  Parameter& p = *entry.parameter;
  PollSnapshot snapshot;
  {
    std::lock_guard link(*link_lock);
    // The box may have been cleared while the poll waited for the line.
    if (!p.timer_armed()) return;
    snapshot.result = read(p);
    // An edit on the UI thread changes a value without the link lock, under the value lock.
    ValueReadLock values(p);
    snapshot.parameter = &p;
    snapshot.short_name = p.short_name;
    snapshot.address_offset = p.address_offset;
    snapshot.value = p.value;
    snapshot.note = p.note;
    snapshot.reply_length = p.last_reply_length;
    snapshot.reply = p.last_reply;
  }
  snapshot.clock_ms = clock.now_ms();
  snapshot.wall_ms = wall();
  snapshot.due_ms = due;
  // The ticket lets the parameter be polled again once the sink has dropped the snapshot.
  struct Ticket {
    explicit Ticket(std::shared_ptr<std::atomic<bool>> f) : flag(std::move(f)) {}
    ~Ticket() { flag->store(false); }
    std::shared_ptr<std::atomic<bool>> flag;
  };
  entry.in_flight->store(true);
  snapshot.ticket = std::make_shared<Ticket>(entry.in_flight);
  std::lock_guard lock(mutex);
  if (sink != nullptr) sink->polled(std::move(snapshot));
}

void Scanner::Core::loop() {
  for (;;) {
    const std::optional<std::int64_t> next = poll_due();
    if (stop.is_set()) break;
    int timeout = -1;
    if (next) {
      const std::int64_t wait = *next - clock.now_ms();
      timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, INT_MAX));
    }
    if (platform::wait_any({&stop, &wake}, timeout, clock) == 0) break;
  }
}

}  // namespace kba604
