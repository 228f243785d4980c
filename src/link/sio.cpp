#include "link/sio.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/port_list.h"
#include "platform/port_names.h"

namespace kba604 {
namespace {

constexpr int kAcceptedRates[] = {110,   300,   600,   1200,  2400,  4800,   9600,  14400,
                                  19200, 28800, 38400, 56000, 57600, 115200, 128000};

// Parity code → line parity; false for a code above 5.
bool line_parity(int code, platform::Parity* parity) {
  switch (code) {
    case 0:
    case 3:
      *parity = platform::Parity::None;
      return true;
    case 1:
      *parity = platform::Parity::Even;
      return true;
    case 2:
      *parity = platform::Parity::Mark;
      return true;
    case 4:
      *parity = platform::Parity::Odd;
      return true;
    case 5:
      *parity = platform::Parity::Space;
      return true;
    default:
      return false;
  }
}

// What a transfer notes for itself when the exit event cut its write short; not shown.
const char* const kWriteInterruptedNote = "Прерывание записи вследствии выхода!\n";

int left_ms(std::int64_t deadline_us, std::int64_t now_us) {
  std::int64_t left = deadline_us - now_us;
  return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

}  // namespace

Sio::Sio(std::recursive_mutex& link_lock, platform::Clock& clock,
         const platform::SettingsStore& settings, LineOpener opener)
    : link_lock_(link_lock), clock_(clock), settings_(settings), opener_(std::move(opener)) {
  if (!opener_) {
    opener_ = [&clock](const std::string& path) {
      return platform::open_terminal_line(path, clock);
    };
  }
}

Sio::~Sio() {
  std::lock_guard lock(link_lock_);
  close_locked();
}

std::string Sio::port_name() const {
  std::lock_guard lock(name_mutex_);
  return port_name_;
}

void Sio::set_port_name(std::string name) {
  std::lock_guard lock(name_mutex_);
  port_name_ = std::move(name);
}

float Sio::character_time() const {
  std::lock_guard lock(link_lock_);
  return character_time_;
}

std::uint16_t Sio::reply_wait() const {
  std::lock_guard lock(link_lock_);
  return reply_wait_;
}

Sio::Timeouts Sio::timeouts() const {
  std::lock_guard lock(link_lock_);
  return timeouts_;
}

void Sio::set_read_constant(std::uint32_t ms) {
  std::lock_guard lock(link_lock_);
  if (!line_) return;
  timeouts_.read_constant = ms;
  reply_wait_ = static_cast<std::uint16_t>(
      std::min<std::uint32_t>(timeouts_.read_multiplier * 28 + ms, 0xFFFF));
}

void Sio::set_remark_sink(RemarkSink sink) {
  std::lock_guard lock(link_lock_);
  remark_sink_ = std::move(sink);
}

void Sio::set_reply_wait(std::uint16_t ms) {
  std::lock_guard lock(link_lock_);
  if (line_) reply_wait_ = ms;
}

bool Sio::rate_accepted(int baud) {
  for (int r : kAcceptedRates) {
    if (r == baud) return true;
  }
  return false;
}

bool Sio::is_open() const {
  std::lock_guard lock(link_lock_);
  return line_ != nullptr;
}

std::string Sio::open_fault() const {
  std::lock_guard lock(link_lock_);
  return open_fault_;
}

bool Sio::settings_refused() const {
  std::lock_guard lock(link_lock_);
  return settings_refused_;
}

std::string Sio::lost_note() const {
  std::lock_guard lock(link_lock_);
  return lost_note_;
}

std::string Sio::last_note() const {
  std::lock_guard lock(link_lock_);
  return last_note_;
}

std::string Sio::list_ports() const {
  return join_port_list(platform::port_mappings(settings_), platform::onboard_serial_ports(),
                        platform::device_exists);
}

int Sio::open_port() {
  std::lock_guard lock(link_lock_);
  return open_locked(true);
}

int Sio::open_locked(bool keep_open) {
  character_time_ = 0;
  reply_wait_ = 0;
  // A second opening replaces the first; the old descriptor is not left behind.
  close_locked();
  const int result = open_line(keep_open);
  if (result == 0 && lost_ && keep_open) {
    lost_ = false;
    const std::string name = port_name();
    if (loss_listener_) {
      loss_listener_(
          false, "порт " + name + " (" + platform::port_device(settings_, name) + ") снова открыт");
    }
  }
  return result;
}

int Sio::open_line(bool keep_open) {
  const std::string name = port_name();
  const std::string path = platform::port_device(settings_, name);
  open_fault_.clear();
  settings_refused_ = false;
  errno = 0;
  std::unique_ptr<platform::SerialLine> line = path.empty() ? nullptr : opener_(path);
  const int open_errno = errno;
  const std::string port = name + " (" + path + ")";
  if (!line) {
    open_fault_ = path.empty() ? "для порта " + name + " не указано устройство"
                               : "не удалось открыть порт " + port + ": " +
                                     (open_errno != 0 ? std::strerror(open_errno)
                                                      : "устройство не открывается");
    return -1;
  }
  if (!line->query_state()) {
    open_fault_ =
        "порт " + port + " не является последовательным портом: состояние линии не читается";
    return -2;
  }

  // The settings are checked after the opening, in this order, so that the codes are those of a
  // port that exists. Each refusal names the value refused.
  auto refuse = [&](int code, const std::string& what) {
    open_fault_ = "порт " + port + " не принимает " + what;
    settings_refused_ = true;
    return code;
  };
  platform::SerialSettings s;
  if (!line_parity(parity_code_.load(), &s.parity)) {
    return refuse(-2, "код четности " + std::to_string(parity_code_.load()));
  }
  s.data_bits = data_bits_.load();
  if (s.data_bits < 5 || s.data_bits > 8) {
    return refuse(-3, "число бит данных " + std::to_string(s.data_bits) + " (бывает 5-8)");
  }
  s.stop_bits = stop_bits_.load();
  if (s.stop_bits != 1 && s.stop_bits != 2) {
    return refuse(-2, "число стоповых бит " + std::to_string(s.stop_bits) + " (бывает 1 или 2)");
  }
  s.baud_rate = baud_rate_.load();
  if (!rate_accepted(s.baud_rate)) {
    return refuse(-2, "скорость " + std::to_string(s.baud_rate) +
                          " бод (такой скорости нет в "
                          "списке скоростей порта)");
  }

  // A character counts as 10 bits, plus the parity bit and the second stop bit; the data-bit
  // count does not enter.
  const bool parity_on = s.parity != platform::Parity::None;
  const float char_time =
      static_cast<float>(10000 + (parity_on ? 1000 : 0) + (s.stop_bits == 2 ? 1000 : 0)) /
      static_cast<float>(s.baud_rate);
  character_time_ = char_time;
  char_us_ = static_cast<double>(10 + (parity_on ? 1 : 0) + (s.stop_bits == 2 ? 1 : 0)) * 1e6 /
             static_cast<double>(s.baud_rate);
  if (!line->apply(s)) {
    const std::string why = line->last_error();
    return refuse(-4, "настройки " + std::to_string(s.baud_rate) + " бод, " +
                          std::to_string(s.data_bits) + " бит данных, стоповых бит " +
                          std::to_string(s.stop_bits) + (why.empty() ? "" : ": " + why));
  }

  // The read interval is the silence that ends a Modbus RTU reply (3.5 characters) and 1.5
  // characters otherwise; the reply wait leaves room for a 28-character reply plus 50 ms.
  const double k = protocol_mode_.load() == kProtocolModbusRtu ? 3.5 : 1.5;
  timeouts_.read_interval = static_cast<std::uint32_t>(std::ceil(k * double{char_time}));
  timeouts_.read_multiplier =
      static_cast<std::uint32_t>(std::ceil(timeouts_.read_interval + double{char_time}));
  timeouts_.read_constant = 50;
  timeouts_.write_multiplier = 0;
  timeouts_.write_constant = 500;
  reply_wait_ =
      static_cast<std::uint16_t>(timeouts_.read_multiplier * 28 + timeouts_.read_constant);

  // A remark costs speed, not the exchange: said once per device, the port stays in use.
  if (const std::string remark = line->opening_remark(); !remark.empty()) {
    const std::string said = "порт " + port + ": " + remark + "; обмен может идти медленнее";
    if (told_remarks_.insert(said).second) {
      if (remark_sink_) {
        remark_sink_(said);
      } else {
        std::fprintf(stderr, "kba604: %s\n", said.c_str());
      }
    }
  }
  line->purge();
  line_ = std::move(line);
  ++generation_;
  keep_open_ = keep_open;
  temporary_open_ = !keep_open;
  kernel_rs485_ = false;
  kernel_rs485_tried_ = false;
  return 0;
}

void Sio::close_port() {
  std::lock_guard lock(link_lock_);
  // Closed on purpose: no longer waiting for the device to come back.
  lost_ = false;
  close_locked();
}

void Sio::set_loss_listener(LossListener listener) {
  std::lock_guard lock(link_lock_);
  loss_listener_ = std::move(listener);
}

bool Sio::reopen_if_back() {
  std::lock_guard lock(link_lock_);
  if (!lost_ || line_) return false;
  if (!platform::device_exists(platform::port_device(settings_, port_name()))) return false;
  if (open_locked(true) != 0) {
    // Back, but not usable yet (still being set up by the system): the next look tries again.
    keep_open_ = true;
    return false;
  }
  return true;
}

void Sio::close_locked() {
  keep_open_ = false;
  temporary_open_ = false;
  if (!line_) return;
  // A purge that fails (the device is gone) does not keep the descriptor open.
  line_->purge();
  if (kernel_rs485_) line_->set_kernel_rs485(false);
  line_.reset();
  ++generation_;
}

void Sio::lose_line() {
  const std::string why = line_ ? line_->last_error() : std::string();
  const std::string name = port_name();
  lost_note_ = "Последовательный порт " + name + " (" + platform::port_device(settings_, name) +
               ") пропал: " + (why.empty() ? "устройство не отвечает на вызовы" : why);
  line_.reset();
  temporary_open_ = false;
  ++generation_;
  if (keep_open_ && !lost_) {
    lost_ = true;
    if (loss_listener_) loss_listener_(true, lost_note_);
  }
}

int Sio::purge_port() {
  std::lock_guard lock(link_lock_);
  if (!line_) return -2;
  return line_->purge() ? 0 : -1;
}

platform::LineWait Sio::sleep_until(std::int64_t until_us) {
  for (;;) {
    if (exit_event_.is_set()) return platform::LineWait::Exit;
    const std::int64_t left = until_us - clock_.now_us();
    if (left <= 0) return platform::LineWait::Ready;
    if (left > 2000) {
      // Whole milliseconds on the exit event, leaving the last one for the fine sleep.
      pollfd p{exit_event_.fd(), POLLIN, 0};
      clock_.poll(&p, 1, static_cast<int>(left / 1000) - 1);
      continue;
    }
    clock_.sleep_us(left);
  }
}

platform::LineWait Sio::wait_characters(std::int64_t start_us, std::size_t count,
                                        std::int64_t deadline_us) {
  using platform::LineWait;
  const auto char_us = static_cast<std::int64_t>(std::ceil(char_us_));
  // The last stop bit cannot be out before the frame's line time from the write.
  const std::int64_t line_end =
      start_us + static_cast<std::int64_t>(std::ceil(static_cast<double>(count) * char_us_));
  // Nothing can be learnt before the last character has begun: sleep through the frame.
  LineWait w = sleep_until(std::min(line_end - char_us, deadline_us));
  if (w != LineWait::Ready) return w;
  // A quarter of a character between two looks at the transmitter: RTS falls well within a
  // character time of the last stop bit.
  const std::int64_t step = std::max<std::int64_t>(20, char_us / 4);
  for (;;) {
    bool empty = false;
    if (line_->transmitter_empty(&empty)) {
      if (empty) return LineWait::Ready;
    } else {
      const int queued = line_->output_queued();
      if (queued <= 0) {
        // The driver's queue is empty, or it cannot say: the last character may still be in
        // the transmitter (or in a USB adapter's own buffer). It has left one character time
        // after it was handed over, and never before the frame's line time.
        const std::int64_t end =
            queued == 0 ? std::max(line_end, clock_.now_us() + char_us) : line_end;
        return sleep_until(std::min(end, deadline_us));
      }
      const std::int64_t now = clock_.now_us();
      if (now >= deadline_us) return LineWait::Timeout;
      // The queue empties when its last character moves into the transmitter: look again a
      // step after that is due, so that the moment is not missed by a whole character.
      w = sleep_until(std::min(now + (queued - 1) * char_us + step, deadline_us));
      if (w != LineWait::Ready) return w;
      continue;
    }
    const std::int64_t now = clock_.now_us();
    if (now >= deadline_us) return LineWait::Timeout;
    w = sleep_until(std::min(now + step, deadline_us));
    if (w != LineWait::Ready) return w;
  }
}

Sio::TemporaryOpening::TemporaryOpening(Sio& sio) : sio_(sio) {
  std::lock_guard lock(sio_.link_lock_);
  if (!sio_.line_) sio_.open_locked(false);
  if (sio_.line_ && sio_.temporary_open_) {
    ++sio_.temporary_users_;
    counted_ = true;
    generation_ = sio_.generation_;
  }
}

Sio::TemporaryOpening::~TemporaryOpening() {
  if (!counted_) return;
  std::lock_guard lock(sio_.link_lock_);
  --sio_.temporary_users_;
  if (sio_.temporary_users_ == 0 && sio_.temporary_open_ && sio_.generation_ == generation_) {
    sio_.close_locked();
  }
}

void Sio::add_tap(std::shared_ptr<TrafficTap> tap) {
  if (tap == nullptr) return;
  std::lock_guard lock(tap_mutex_);
  taps_.push_back(std::move(tap));
  tapped_.store(true);
}

void Sio::remove_tap(const TrafficTap* tap) {
  std::lock_guard lock(tap_mutex_);
  std::erase_if(taps_, [tap](const std::shared_ptr<TrafficTap>& t) { return t.get() == tap; });
  tapped_.store(!taps_.empty());
}

int Sio::transfer(const char* frame, std::size_t count, char* reply, std::size_t* received) {
  std::lock_guard lock(link_lock_);
  if (!tapped_.load(std::memory_order_relaxed))
    return transfer_locked(frame, count, reply, received);
  // Shared with the taps' owners: a tap removed during the transfer still takes its record.
  std::vector<std::shared_ptr<TrafficTap>> taps;
  {
    std::lock_guard hold(tap_mutex_);
    taps = taps_;
  }
  if (taps.empty()) return transfer_locked(frame, count, reply, received);
  TrafficRecord record;
  record.wall_ms = traffic_wall_ms();
  record.address_length = address_length_.load();
  const std::int64_t started = clock_.now_us();
  const int result = transfer_locked(frame, count, reply, received);
  record.round_trip_us = clock_.now_us() - started;
  record.result = result;
  record.request.assign(frame, count);
  record.reply.assign(reply, std::min(*received, kMaxReply));
  for (std::size_t i = 0; i + 1 < taps.size(); ++i) taps[i]->record(record);
  taps.back()->record(std::move(record));
  return result;
}

int Sio::transfer_locked(const char* frame, std::size_t count, char* reply, std::size_t* received) {
  *received = 0;
  std::memset(reply, 0, kMaxReply);
  last_note_.clear();

  bool opened_here = false;
  if (!line_) {
    // A port that was open for good and lost its device is opened for good again; any other
    // closed port is opened for this transfer only.
    const bool recover = keep_open_;
    open_locked(recover);
    if (!line_) {
      keep_open_ = recover;
      lost_note_ = "Последовательный порт пропал, " + open_fault_;
      return kLost;
    }
    opened_here = !recover;
  }
  const std::uint64_t generation = generation_;
  int result = exchange_on_open_line(frame, count, reply, received);
  if (opened_here && generation_ == generation) close_locked();
  return result;
}

int Sio::exchange_on_open_line(const char* frame, std::size_t count, char* reply,
                               std::size_t* received) {
  if (!line_->purge()) {
    lose_line();
    return kLost;
  }
  // Once the program is told to exit, nothing more goes onto the line: a request (and each of
  // its repetitions) ends before its frame is written.
  if (exit_event_.is_set()) {
    last_note_ = kWriteInterruptedNote;
    return kUnavailable;
  }
  switch (write_frame(frame, count)) {
    case platform::LineWait::Ready:
      break;
    case platform::LineWait::Exit:
      last_note_ = kWriteInterruptedNote;
      return kUnavailable;
    case platform::LineWait::Timeout:
      // The line takes no characters (a wedged adapter): no reply can come. The port is closed
      // and the next request opens it afresh.
      line_->purge();
      lose_line();
      return kTimeout;
    case platform::LineWait::Failed:
      lose_line();
      return kLost;
  }
  return read_reply(reply, received);
}

platform::LineWait Sio::write_frame(const char* frame, std::size_t count) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame);
  // The write time-out, plus the line time of the frame itself: a semi-automatic converter
  // waits for the last character to leave, which at the lowest rates takes longer than the
  // time-out alone.
  const int write_time =
      static_cast<int>(timeouts_.write_constant) +
      static_cast<int>(std::ceil(static_cast<double>(count) * double{character_time_}));
  const bool automatic = converter_automatic() != 0;

  // The driver's own RS-485 mode, where it has one, raises RTS exactly while the characters
  // leave; it is used for the semi-automatic converter and switched off again for the automatic
  // one.
  if (!automatic && !kernel_rs485_tried_) {
    kernel_rs485_ = line_->set_kernel_rs485(true);
    kernel_rs485_tried_ = true;
  } else if (automatic && kernel_rs485_) {
    line_->set_kernel_rs485(false);
    kernel_rs485_ = false;
    kernel_rs485_tried_ = false;
  }

  if (automatic) return line_->write(bytes, count, &exit_event_, write_time);
  if (kernel_rs485_) {
    platform::LineWait w = line_->write(bytes, count, &exit_event_, write_time);
    return w == platform::LineWait::Ready ? line_->drain(&exit_event_, write_time) : w;
  }

  // Semi-automatic converter: RTS high from before the first character until the last one has
  // left the line. The frame goes out in one write; the wait for its end sleeps.
  const std::int64_t start = clock_.now_us();
  const std::int64_t deadline = start + std::int64_t{write_time} * 1000;
  line_->set_rts(true);
  platform::LineWait w = line_->write(bytes, count, &exit_event_, write_time);
  if (w == platform::LineWait::Ready) w = wait_characters(start, count, deadline);
  // Dropped on every way out, so an interrupted frame never leaves the bus held in transmit.
  if (line_) line_->set_rts(false);
  return w;
}

namespace {

// The shortest reply of the instrument's own protocol: the start, four characters of address
// and count, four of hash, four of checksum and the carriage return.
constexpr std::size_t kShortestTalvReply = 14;

}  // namespace

int Sio::read_reply(char* reply, std::size_t* received) {
  const bool ends_on_cr = protocol_mode_.load() != kProtocolModbusRtu;
  std::int64_t deadline = clock_.now_us() + std::int64_t{reply_wait_} * 1000;
  std::size_t kept = 0;
  std::uint8_t chunk[64];
  for (;;) {
    switch (line_->wait_input(&exit_event_, left_ms(deadline, clock_.now_us()))) {
      case platform::LineWait::Ready:
        break;
      case platform::LineWait::Exit:
        std::memset(reply, 0, kMaxReply);
        return kUnavailable;
      case platform::LineWait::Failed:
        std::memset(reply, 0, kMaxReply);
        lose_line();
        return kLost;
      case platform::LineWait::Timeout:
        if (!ends_on_cr && kept > 0) {
          // Modbus RTU: 3.5 character times of silence end the reply.
          *received = kept;
          return kReceived;
        }
        // Characters without a carriage return do not make a reply.
        std::memset(reply, 0, kMaxReply);
        return kTimeout;
    }
    bool line_error = false;
    int n = line_->read(chunk, sizeof chunk, &line_error);
    if (n < 0) {
      std::memset(reply, 0, kMaxReply);
      lose_line();
      return kLost;
    }
    for (int i = 0; i < n; ++i) {
      // Only the first characters are kept; a longer reply is cut (and later fails its
      // checksum). Reading goes on to find the carriage return and to empty the input.
      if (kept < kMaxReply) reply[kept++] = static_cast<char>(chunk[i]);
      if (ends_on_cr && chunk[i] == '\r') {
        *received = kept;
        return kReceived;
      }
    }
    if (line_error) {
      // A break or a line error before the reply was complete.
      std::memset(reply, 0, kMaxReply);
      return kLineError;
    }
    if (!ends_on_cr && kept > 0) {
      if (kept == kMaxReply) {
        *received = kept;
        return kReceived;
      }
      deadline = clock_.now_us() + std::int64_t{timeouts_.read_interval} * 1000;
    } else if (clock_.now_us() >= deadline) {
      // Characters keep coming, but no carriage return within the reply wait: a peer that
      // floods the line does not hold the transfer beyond it.
      std::memset(reply, 0, kMaxReply);
      return kTimeout;
    } else if (protocol_mode_.load() == kProtocolTalv && kept < kShortestTalvReply) {
      // The rest of the shortest reply cannot be on the line before its line time: wait for
      // it in one sleep rather than waking for every character or two as they arrive. A
      // shorter, damaged reply is only seen that much later.
      const auto rest_us =
          static_cast<std::int64_t>(static_cast<double>(kShortestTalvReply - kept) * char_us_);
      const std::int64_t left_us = deadline - clock_.now_us();
      if (rest_us > 0 && left_us > 0) clock_.sleep_us(std::min(rest_us, left_us));
    }
  }
}

}  // namespace kba604
