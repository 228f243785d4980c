#include "operations/regulation_control.h"

#include "model/value_format.h"
#include "platform/text.h"

namespace kba604 {

struct RegulationControl::Shared {
  struct Command {
    enum class Kind { Start, Stop, NetworkStart } kind;
    std::vector<int> rows;
    int choice = -1;
  };

  std::shared_ptr<DirectExchange> link;
  Parameter* state = nullptr;       // "r.st"
  Parameter* command = nullptr;     // "r-s", or none
  Parameter* permission = nullptr;  // "net.s", or none
  std::vector<std::string> choices;
  Events events;

  // Touched by the worker alone.
  std::array<RegulationAction, kMaxRows> pending{};
  std::array<int, kMaxRows> attempts{};

  std::mutex mutex;
  std::deque<Command> commands;
  platform::Event stop{platform::Event::Reset::Manual};
  // Set: a poll is due. It starts set, so the first poll follows the opening at once.
  platform::Event tick{platform::Event::Reset::Manual, true};
  platform::Event wake{platform::Event::Reset::Auto};

  void queue(Command c) {
    {
      std::lock_guard lock(mutex);
      commands.push_back(std::move(c));
    }
    wake.set();
  }

  void run() {
    if (permission != nullptr) {
      link->transact(nullptr, *permission, 1, false);
      link->changed(*permission);
      const int choice = find_item(choices, value_of(*permission));
      if (events.network_start_read) events.network_start_read(choice);
    }
    pending.fill(RegulationAction::None);
    attempts.fill(0);
    while (true) {
      const int signalled = platform::wait_any({&stop, &wake, &tick}, -1);
      if (signalled == 0 || signalled == platform::kWaitTimeout) break;
      if (signalled == 1) {
        run_commands();
        continue;
      }
      tick.reset();
      const RegulationPoll result = poll(0);
      if (events.polled) events.polled(result);
    }
    if (events.ended) events.ended();
  }

  void run_commands() {
    while (!stop.is_set()) {
      Command c;
      {
        std::lock_guard lock(mutex);
        if (commands.empty()) return;
        c = std::move(commands.front());
        commands.pop_front();
      }
      switch (c.kind) {
        case Command::Kind::Start:
        case Command::Kind::Stop: {
          const RegulationAction action =
              c.kind == Command::Kind::Start ? RegulationAction::Start : RegulationAction::Stop;
          attempts.fill(0);
          for (int row : c.rows) {
            if (row < 0 || row >= kMaxRows) continue;
            send(row, action);
            pending[static_cast<std::size_t>(row)] = action;
          }
          break;
        }
        case Command::Kind::NetworkStart:
          if (c.choice < 0 || c.choice >= static_cast<int>(choices.size())) break;
          {
            ValueWriteLock lock(*permission);
            permission->value = choices[static_cast<std::size_t>(c.choice)];
          }
          link->transact(nullptr, *permission, 0, false);
          link->changed(*permission);
          break;
      }
    }
  }

  // "r-s" with 1 or 0, to the row's object: the row number is the address offset.
  void send(int row, RegulationAction action) {
    {
      ValueWriteLock lock(*command);
      command->value = action == RegulationAction::Start ? "1" : "0";
      command->address_offset = row;
    }
    link->transact(nullptr, *command, 0, false);
    link->changed(*command);
  }

  // The views read the same parameters while the worker changes them.
  static std::string value_of(const Parameter& p) {
    ValueReadLock lock(p);
    return p.value;
  }

  RegulationPoll poll(int row) {
    RegulationPoll result;
    result.row = row;
    result.read_ok = link->transact(nullptr, *state, 1, false) == kRequestOk;
    link->changed(*state);
    result.value = value_of(*state);
    const std::size_t r = static_cast<std::size_t>(row);
    const RegulationAction action = pending[r];
    if (action == RegulationAction::None) return result;
    const int wanted = action == RegulationAction::Start ? 1 : 0;
    int position = -1;
    {
      ValueReadLock lock(*state);
      position = state_position(*state);
    }
    if (position == wanted) {
      pending[r] = RegulationAction::None;
    } else if (attempts[r] < kRepetitions) {
      ++attempts[r];
      send(row, action);
    } else {
      result.message =
          std::string(action == RegulationAction::Start ? kStartFailedText : kStopFailedText);
      pending[r] = RegulationAction::None;
    }
    return result;
  }
};

std::unique_ptr<RegulationControl> RegulationControl::create(std::shared_ptr<DirectExchange> link,
                                                             ParameterTable& table,
                                                             std::string* error) {
  Parameter* state = table.find_by_name("r.st");
  if (state == nullptr) {
    if (error != nullptr) *error = std::string(kRegulationStateMissingText);
    return nullptr;
  }
  auto shared = std::make_shared<Shared>();
  shared->link = std::move(link);
  shared->state = state;
  shared->command = table.find_by_name("r-s");
  shared->permission = table.find_by_name("net.s");
  if (shared->permission != nullptr)
    shared->choices = parse_format(shared->permission->format).items;
  return std::unique_ptr<RegulationControl>(new RegulationControl(std::move(shared)));
}

RegulationControl::RegulationControl(std::shared_ptr<Shared> shared)
    : shared_(std::move(shared)),
      rows_{
          {"1", shared_->state->shown_title(), shared_->state->short_name,
           Shared::value_of(*shared_->state)}},
      choices_(shared_->choices) {}

RegulationControl::~RegulationControl() {
  shared_->stop.set();
  worker_.join(platform::Thread::kDefaultJoinMs);
}

void RegulationControl::start(Events events) {
  if (started_) return;
  started_ = true;
  shared_->events = std::move(events);
  worker_.start([shared = shared_] { shared->run(); });
}

void RegulationControl::start_regulation(std::vector<int> rows) {
  if (shared_->command == nullptr) return;
  shared_->queue({Shared::Command::Kind::Start, std::move(rows)});
}

void RegulationControl::stop_regulation(std::vector<int> rows) {
  if (shared_->command == nullptr) return;
  shared_->queue({Shared::Command::Kind::Stop, std::move(rows)});
}

void RegulationControl::choose_network_start(int choice) {
  if (shared_->permission == nullptr) return;
  shared_->queue({Shared::Command::Kind::NetworkStart, {}, choice});
}

void RegulationControl::next_poll() {
  shared_->tick.set();
}

bool RegulationControl::cancel() {
  shared_->stop.set();
  return !worker_.running();
}

int RegulationControl::state_position(const Parameter& state) {
  const ValueFormat format = parse_format(state.format);
  if (format.kind == FormatKind::ItemList) return find_item(format.items, state.value);
  return platform::scan_int(state.value).value_or(-1);
}

}  // namespace kba604
