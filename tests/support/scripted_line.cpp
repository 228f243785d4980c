#include "support/scripted_line.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

namespace kba604::test {

namespace {
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

struct Arrival {
  std::int64_t at_us;
  std::uint8_t byte;
  bool error;  // a line error or break instead of a character
};

const char* parity_letter(platform::Parity p) {
  switch (p) {
    case platform::Parity::None:
      return "N";
    case platform::Parity::Even:
      return "E";
    case platform::Parity::Odd:
      return "O";
    case platform::Parity::Mark:
      return "M";
    case platform::Parity::Space:
      return "S";
  }
  return "?";
}
}  // namespace

struct ScriptedLine::State {
  explicit State(platform::ManualClock& c) : clock(c) {}

  platform::ManualClock& clock;
  mutable std::mutex mutex;
  std::deque<LineResponse> script;
  std::function<LineResponse(const std::string&)> responder;
  bool present = true;
  bool hang = false;
  bool refuse_settings = false;
  bool state_unreadable = false;
  bool kernel_rs485 = false;
  TransmitterReport report = TransmitterReport::Nothing;
  double sent_until_ns = 0;

  bool open = false;
  bool dead = false;  // the open line lost its device
  int opens = 0;
  platform::SerialSettings settings;
  std::string pending;  // characters of the request being written
  std::deque<Arrival> input;
  std::int64_t flood_from = kNever;
  std::int64_t exit_at = kNever;
  platform::Event* exit_event = nullptr;
  std::vector<std::string> requests;
  std::vector<LineEvent> events;

  void log(std::string what) { events.push_back({clock.now_us(), std::move(what)}); }

  double char_ns() const {
    const int bits = 10 + (settings.parity != platform::Parity::None ? 1 : 0) +
                     (settings.stop_bits == 2 ? 1 : 0);
    return 1e9 * bits / std::max(1, settings.baud_rate);
  }

  std::int64_t char_us() const {
    const int bits = 10 + (settings.parity != platform::Parity::None ? 1 : 0) +
                     (settings.stop_bits == 2 ? 1 : 0);
    return std::max<std::int64_t>(1, 1000000LL * bits / std::max(1, settings.baud_rate));
  }

  // The program has stopped writing and listens: the request is complete.
  void finish_request() {
    if (pending.empty()) return;
    std::string request = std::move(pending);
    pending.clear();
    requests.push_back(request);
    LineResponse r;
    if (!script.empty()) {
      r = std::move(script.front());
      script.pop_front();
    } else if (responder) {
      r = responder(request);
    }
    const std::int64_t t0 = clock.now_us() + std::int64_t{r.delay_ms} * 1000;
    switch (r.kind) {
      case LineResponse::Kind::Reply:
        for (char c : r.bytes) input.push_back({t0, static_cast<std::uint8_t>(c), false});
        break;
      case LineResponse::Kind::LineError:
        for (char c : r.bytes) input.push_back({t0, static_cast<std::uint8_t>(c), false});
        input.push_back({t0, 0, true});
        break;
      case LineResponse::Kind::Flood:
        flood_from = t0;
        break;
      case LineResponse::Kind::Vanish:
        dead = true;
        present = false;
        break;
      case LineResponse::Kind::Exit:
        exit_at = t0;
        exit_event = r.exit;
        break;
      case LineResponse::Kind::Silence:
      case LineResponse::Kind::Hang:
        break;
    }
  }

  std::int64_t next_arrival() const {
    std::int64_t next = flood_from;
    if (!input.empty()) next = std::min(next, input.front().at_us);
    return next;
  }
};

class ScriptedLine::Line final : public platform::SerialLine {
 public:
  explicit Line(std::shared_ptr<State> s) : s_(std::move(s)) {}
  ~Line() override {
    std::lock_guard lock(s_->mutex);
    s_->finish_request();
    s_->open = false;
    s_->log("close");
  }

  bool query_state() override {
    std::lock_guard lock(s_->mutex);
    return !s_->state_unreadable;
  }
  bool apply(const platform::SerialSettings& settings) override {
    std::lock_guard lock(s_->mutex);
    if (s_->refuse_settings) return false;
    s_->settings = settings;
    s_->log("apply " + std::to_string(settings.baud_rate) + " " +
            std::to_string(settings.data_bits) + " " + parity_letter(settings.parity) + " " +
            std::to_string(settings.stop_bits));
    return true;
  }
  bool purge() override {
    std::lock_guard lock(s_->mutex);
    if (s_->dead) return false;
    s_->finish_request();
    const std::int64_t now = s_->clock.now_us();
    // What has arrived is dropped; what is still on its way arrives later.
    while (!s_->input.empty() && s_->input.front().at_us <= now) s_->input.pop_front();
    s_->flood_from = kNever;
    s_->exit_at = kNever;
    s_->log("purge");
    return true;
  }
  void set_rts(bool on) override {
    std::lock_guard lock(s_->mutex);
    s_->log(on ? "rts+" : "rts-");
  }
  bool set_kernel_rs485(bool on) override {
    std::lock_guard lock(s_->mutex);
    if (!s_->kernel_rs485) return false;
    s_->log(on ? "rs485 on" : "rs485 off");
    return true;
  }
  platform::LineWait write(const std::uint8_t* data, std::size_t count, platform::Event* exit,
                           int timeout_ms) override {
    std::lock_guard lock(s_->mutex);
    if (s_->dead) return platform::LineWait::Failed;
    if (s_->hang) {
      if (exit != nullptr && exit->is_set()) return platform::LineWait::Exit;
      s_->clock.advance_ms(timeout_ms);
      return platform::LineWait::Timeout;
    }
    s_->pending.append(reinterpret_cast<const char*>(data), count);
    s_->sent_until_ns =
        std::max(s_->sent_until_ns, static_cast<double>(s_->clock.now_us()) * 1000.0) +
        static_cast<double>(count) * s_->char_ns();
    s_->log("write " + std::string(reinterpret_cast<const char*>(data), count));
    return platform::LineWait::Ready;
  }
  bool transmitter_empty(bool* empty) override {
    std::lock_guard lock(s_->mutex);
    if (s_->report != TransmitterReport::Status) return false;
    *empty = static_cast<double>(s_->clock.now_us()) * 1000.0 >= s_->sent_until_ns;
    return true;
  }
  int output_queued() override {
    std::lock_guard lock(s_->mutex);
    if (s_->report != TransmitterReport::OutputQueue) return -1;
    const double left = s_->sent_until_ns - static_cast<double>(s_->clock.now_us()) * 1000.0;
    // The character being sent has left the queue.
    return left <= 0 ? 0 : std::max(0, static_cast<int>(std::ceil(left / s_->char_ns())) - 1);
  }
  platform::LineWait drain(platform::Event*, int) override {
    std::lock_guard lock(s_->mutex);
    if (s_->dead) return platform::LineWait::Failed;
    s_->log("drain");
    return platform::LineWait::Ready;
  }
  platform::LineWait wait_input(platform::Event* exit, int timeout_ms) override {
    std::lock_guard lock(s_->mutex);
    s_->finish_request();
    if (s_->dead) return platform::LineWait::Failed;
    if (exit != nullptr && exit->is_set()) return platform::LineWait::Exit;
    const std::int64_t now = s_->clock.now_us();
    const std::int64_t limit = now + std::int64_t{timeout_ms} * 1000;
    const std::int64_t next = s_->next_arrival();
    if (next <= now) return platform::LineWait::Ready;
    if (s_->exit_at <= limit && s_->exit_at < next) {
      s_->clock.advance_us(std::max<std::int64_t>(0, s_->exit_at - now));
      s_->exit_at = kNever;
      if (s_->exit_event != nullptr) s_->exit_event->set();
      return platform::LineWait::Exit;
    }
    if (next <= limit) {
      s_->clock.advance_us(next - now);
      return platform::LineWait::Ready;
    }
    s_->clock.advance_us(limit - now);
    return platform::LineWait::Timeout;
  }
  int read(std::uint8_t* buffer, std::size_t cap, bool* line_error) override {
    std::lock_guard lock(s_->mutex);
    *line_error = false;
    if (s_->dead) return -1;
    const std::int64_t now = s_->clock.now_us();
    std::size_t out = 0;
    while (out < cap && !s_->input.empty() && s_->input.front().at_us <= now) {
      Arrival a = s_->input.front();
      s_->input.pop_front();
      if (a.error) {
        *line_error = true;
        return static_cast<int>(out);
      }
      buffer[out++] = a.byte;
    }
    if (s_->flood_from <= now) {
      // The flood delivers 16 characters per read, at the line's speed.
      std::size_t n = std::min<std::size_t>(16, cap - out);
      for (std::size_t i = 0; i < n; ++i) buffer[out++] = 'G';
      s_->clock.advance_us(static_cast<std::int64_t>(n) * s_->char_us());
    }
    return static_cast<int>(out);
  }

 private:
  std::shared_ptr<State> s_;
};

ScriptedLine::ScriptedLine(platform::ManualClock& clock) : state_(std::make_shared<State>(clock)) {}

ScriptedLine::~ScriptedLine() = default;

Sio::LineOpener ScriptedLine::opener() {
  std::shared_ptr<State> s = state_;
  return [s](const std::string&) -> std::unique_ptr<platform::SerialLine> {
    std::lock_guard lock(s->mutex);
    // A missing device cannot be opened, and a port is exclusive.
    if (!s->present || s->open) return nullptr;
    s->open = true;
    s->dead = false;
    ++s->opens;
    s->log("open");
    return std::make_unique<Line>(s);
  };
}

void ScriptedLine::push(LineResponse r) {
  std::lock_guard lock(state_->mutex);
  state_->script.push_back(std::move(r));
}

void ScriptedLine::clear_script() {
  std::lock_guard lock(state_->mutex);
  state_->script.clear();
}

void ScriptedLine::set_responder(std::function<LineResponse(const std::string&)> responder) {
  std::lock_guard lock(state_->mutex);
  state_->responder = std::move(responder);
}

void ScriptedLine::set_present(bool present) {
  std::lock_guard lock(state_->mutex);
  state_->present = present;
}
void ScriptedLine::set_hang(bool hang) {
  std::lock_guard lock(state_->mutex);
  state_->hang = hang;
}
void ScriptedLine::set_refuse_settings(bool refuse) {
  std::lock_guard lock(state_->mutex);
  state_->refuse_settings = refuse;
}
void ScriptedLine::set_state_unreadable(bool refuse) {
  std::lock_guard lock(state_->mutex);
  state_->state_unreadable = refuse;
}
void ScriptedLine::set_kernel_rs485(bool supported) {
  std::lock_guard lock(state_->mutex);
  state_->kernel_rs485 = supported;
}

void ScriptedLine::set_transmitter_report(TransmitterReport report) {
  std::lock_guard lock(state_->mutex);
  state_->report = report;
}
double ScriptedLine::sent_until_ns() const {
  std::lock_guard lock(state_->mutex);
  return state_->sent_until_ns;
}

std::vector<std::string> ScriptedLine::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}
std::vector<LineEvent> ScriptedLine::events() const {
  std::lock_guard lock(state_->mutex);
  return state_->events;
}
void ScriptedLine::clear_log() {
  std::lock_guard lock(state_->mutex);
  state_->events.clear();
  state_->requests.clear();
}
bool ScriptedLine::is_open() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}
int ScriptedLine::open_count() const {
  std::lock_guard lock(state_->mutex);
  return state_->opens;
}
platform::SerialSettings ScriptedLine::settings() const {
  std::lock_guard lock(state_->mutex);
  return state_->settings;
}

}  // namespace kba604::test
