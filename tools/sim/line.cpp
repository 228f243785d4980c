#include "sim/line.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "model/talv_codec.h"
#include "platform/atomic_file.h"
#include "platform/terminal.h"
#include "sim/line_settings.h"

namespace kba604::sim {
namespace {

std::int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c >= 0x21 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out.empty() ? "-" : out;
}

// Time the Modbus RTU receiver waits after the last character before it drops a partial frame.
double rtu_gap(const LineSettings& s) {
  return std::max(0.005, 3.5 * s.character_seconds());
}

}  // namespace

Line::Line(const SimOptions& options, std::shared_ptr<const Description> description,
           Reporter report)
    : options_(options), description_(std::move(description)), report_(std::move(report)) {
  if (!report_)
    report_ = [](const std::string& m) { std::fprintf(stderr, "kba604-sim: %s\n", m.c_str()); };
  std::uint32_t seed = options_.line.seed_given ? options_.line.seed : std::random_device{}();
  rng_.seed(seed);
  for (std::size_t i = 0; i < options_.instruments.size(); ++i) {
    instruments_.push_back(std::make_unique<Instrument>(
        options_.instruments[i], description_, options_.line.time_scale,
        seed + static_cast<std::uint32_t>(i) * 7919u));
  }
  receivers_.resize(instruments_.size());
  reply_counts_.assign(instruments_.size(), 0);
}

std::unique_ptr<Line> Line::start(const SimOptions& options,
                                  std::shared_ptr<const Description> description,
                                  std::string* error, Reporter report) {
  if (options.instruments.empty()) {
    if (error) *error = "no instrument on the line";
    return nullptr;
  }
  std::unique_ptr<Line> line(new Line(options, std::move(description), std::move(report)));
  for (const std::string& w : line->instruments_.front()->warnings())
    line->report_("description: " + w);
  line->load_state();
  if (!line->open_terminal(error)) return nullptr;
  line->start_ns_ = monotonic_ns();
  line->thread_ = std::thread([l = line.get()] { l->serve(); });
  return line;
}

Line::~Line() {
  request_stop();
  wait();
  if (stop_fd_ >= 0) close(stop_fd_);
}

double Line::now() const {
  return static_cast<double>(monotonic_ns() - start_ns_) / 1e9;
}

void Line::request_stop() {
  if (stop_fd_ < 0) return;
  std::uint64_t one = 1;
  ssize_t rc = ::write(stop_fd_, &one, sizeof one);
  (void)rc;
}

void Line::wait() {
  std::call_once(joined_, [this] {
    if (thread_.joinable()) thread_.join();
  });
}

bool Line::open_terminal(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) return fail(std::string("eventfd: ") + std::strerror(errno));
  const LineSettings& first = instruments_.front()->line_settings();
  std::string why;
  if (!options_.line.device.empty()) {
    device_ = true;
    path_ = options_.line.device;
    terminal_fd_ = platform::open_terminal(path_, /*non_blocking=*/true);
    if (terminal_fd_ < 0) return fail(path_ + ": " + std::strerror(errno));
    if (!apply_line_settings(terminal_fd_, first, &why)) return fail(path_ + ": " + why);
  } else {
    terminal_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_fd_ < 0 || grantpt(terminal_fd_) != 0 || unlockpt(terminal_fd_) != 0)
      return fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    char name[256];
    if (ptsname_r(terminal_fd_, name, sizeof name) != 0)
      return fail(std::string("ptsname: ") + std::strerror(errno));
    path_ = name;
    // Our own descriptor of the other side keeps the terminal and its settings alive while the
    // program closes and reopens its port.
    keep_fd_ = platform::open_terminal(path_, /*non_blocking=*/false);
    if (keep_fd_ < 0) return fail(path_ + ": " + std::strerror(errno));
    if (!apply_line_settings(keep_fd_, first, &why)) return fail(path_ + ": " + why);
    int flags = fcntl(terminal_fd_, F_GETFL);
    fcntl(terminal_fd_, F_SETFL, flags | O_NONBLOCK);
  }
  if (!options_.line.link.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status st = fs::symlink_status(options_.line.link, ec);
    if (fs::exists(st) && !fs::is_symlink(st))
      return fail(options_.line.link + " exists and is not a symbolic link; not replacing it");
    if (fs::is_symlink(st)) fs::remove(options_.line.link, ec);
    if (symlink(path_.c_str(), options_.line.link.c_str()) != 0)
      return fail(options_.line.link + ": " + std::strerror(errno));
    link_ = options_.line.link;
  }
  if (!options_.line.log_path.empty()) {
    if (options_.line.log_path == "-") {
      log_ = stderr;
    } else {
      log_ = std::fopen(options_.line.log_path.c_str(), "w");
      if (!log_) return fail(options_.line.log_path + ": " + std::strerror(errno));
      std::setvbuf(log_, nullptr, _IOLBF, 0);
    }
  }
  return true;
}

void Line::serve() {
  // Signals belong to the program's main thread.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  char buffer[4096];
  for (;;) {
    int timeout = -1;
    if (save_pending_) timeout = std::max(0, static_cast<int>((save_due_ - now()) * 1000) + 1);
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {terminal_fd_, POLLIN, 0}};
    int rc = poll(fds, 2, timeout);
    if (rc < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) {
      ssize_t n = ::read(terminal_fd_, buffer, sizeof buffer);
      if (n > 0) {
        hear(buffer, static_cast<std::size_t>(n));
        // An unplugged adapter: the terminal closes and its link goes, at a known point.
        if (options_.line.hang_up_after > 0 && ++times_heard_ >= options_.line.hang_up_after)
          break;
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        pause(0.05);  // the device went away; keep trying until stopped
      }
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      pause(0.05);
    }
    if (save_pending_ && now() >= save_due_) save_state();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& inst : instruments_)
      if (inst->take_changed()) save_pending_ = true;
  }
  if (save_pending_) save_state();
  if (!link_.empty()) {
    char target[512];
    ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path_) unlink(link_.c_str());
  }
  if (log_ && log_ != stderr) std::fclose(log_);
  log_ = nullptr;
  if (keep_fd_ >= 0) close(keep_fd_);
  if (terminal_fd_ >= 0) close(terminal_fd_);
  keep_fd_ = terminal_fd_ = -1;
}

void Line::hear(const char* data, std::size_t count) {
  const double t = now();
  const std::string chunk(data, count);
  LineSettings peer;
  const bool known = read_line_settings(terminal_fd_, peer);
  log("rx", chunk, known ? peer : instruments_.front()->line_settings(), "");
  std::vector<Transmission> out;
  std::vector<std::size_t> reapply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t s = 0; s < instruments_.size(); ++s) {
      if (known && !(instruments_[s]->line_settings() == peer)) {
        hear_noise(s, chunk, out);
      } else {
        dispatch(s, chunk, t, out, reapply);
      }
    }
    schedule_save(t);
  }
  send_replies(out);
  if (device_) reapply_settings(reapply);
}

// ---- frame dispatch ------------------------------------------------------------------------

void Line::dispatch(std::size_t s, const std::string& chunk, double now,
                    std::vector<Transmission>& out, std::vector<std::size_t>& reapply) {
  Instrument& inst = *instruments_[s];
  if (inst.protocol() != Protocol::kTalv) {
    dispatch_modbus(s, chunk, now, out);
    return;
  }
  auto frame = [&](const std::string& body, std::size_t position, double started) {
    const unsigned before_address = inst.base_address();
    const LineSettings before_line = inst.line_settings();
    const std::size_t before = out.size();
    answer_talv(s, body, position, now, out);
    if (out.size() > before)
      out.back().not_before = heard_at(started, body.size() + 2, before_line);
    if (inst.base_address() != before_address || !(inst.line_settings() == before_line))
      reapply.push_back(s);
    return inst.protocol() == Protocol::kTalv;
  };
  const std::size_t stopped = receivers_[s].hear_talv(chunk, now, frame);
  // The rest of the chunk is heard in the new protocol.
  if (stopped < chunk.size()) dispatch_modbus(s, chunk.substr(stopped + 1), now, out);
}

void Line::dispatch_modbus(std::size_t s, const std::string& chunk, double now,
                           std::vector<Transmission>& out) {
  Instrument& inst = *instruments_[s];
  const bool rtu = inst.protocol() == Protocol::kModbusRtu;
  auto packet = [&](const Bytes& p, std::size_t position, std::size_t characters, double started) {
    const double not_before = heard_at(started, characters, inst.line_settings());
    answer_modbus(s, p, rtu, position, not_before, out);
  };
  if (rtu) {
    receivers_[s].hear_modbus_rtu(chunk, now, rtu_gap(inst.line_settings()), packet);
  } else {
    receivers_[s].hear_modbus_ascii(chunk, now, packet);
  }
}

void Line::hear_noise(std::size_t s, const std::string& chunk, std::vector<Transmission>& out) {
  Instrument& inst = *instruments_[s];
  receivers_[s].reset();
  if (options_.line.garbage_rate <= 0) return;
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    if (chunk[i] != '\r') continue;
    if (std::uniform_real_distribution<double>(0, 1)(rng_) < options_.line.garbage_rate)
      out.push_back({i, s, garbage(6 + rng_() % 20), inst.line_settings(), inst.base_address()});
  }
}

void Line::schedule_save(double now) {
  for (auto& inst : instruments_) {
    if (inst->take_changed() && !save_pending_ && !options_.line.state_path.empty()) {
      save_pending_ = true;
      save_due_ = now + 0.2;
    }
  }
}

void Line::send_replies(std::vector<Transmission>& out) {
  std::stable_sort(out.begin(), out.end(), [](const Transmission& a, const Transmission& b) {
    return a.position < b.position;
  });
  for (std::size_t i = 0; i < out.size();) {
    std::size_t j = i;
    std::size_t longest = 0;
    while (j < out.size() && out[j].position == out[i].position)
      longest = std::max(longest, out[j++].bytes.size());
    if (j - i > 1) {
      Transmission clash = out[i];
      clash.bytes = garbage(longest);
      transmit(clash);
    } else {
      transmit(out[i]);
    }
    i = j;
  }
}

void Line::reapply_settings(const std::vector<std::size_t>& stations) {
  for (std::size_t s : stations) {
    std::string why;
    LineSettings settings;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      settings = instruments_[s]->line_settings();
    }
    if (!apply_line_settings(terminal_fd_, settings, &why)) report_(path_ + ": " + why);
  }
}

// ---- per-command handling ------------------------------------------------------------------

void Line::answer_talv(std::size_t s, const std::string& body, std::size_t position, double now,
                       std::vector<Transmission>& out) {
  Instrument& inst = *instruments_[s];
  DecodedFrame frame = decode_frame(body, inst.address_length());
  if (!frame.address_known || !inst.hears(frame.packet.address)) return;
  Packet reply;
  double delay = 0;
  if (frame.status == FrameStatus::kOk) {
    Instrument::Outcome outcome = inst.handle(frame.packet, now);
    if (!outcome.reply) return;
    reply = *outcome.reply;
    delay = outcome.delay;
  } else if (frame.packet.address != kBroadcastAddress && frame.status != FrameStatus::kTooShort) {
    reply = inst.frame_error(frame.packet.address, frame.status == FrameStatus::kBadCharacter
                                                       ? nerr::kBadCharacter
                                                       : nerr::kChecksum);
  } else {
    return;
  }
  std::string bytes = faulty(s, reply, frame.packet);
  if (bytes.empty()) return;
  Transmission t{position, s, bytes, inst.line_settings(), reply.address};
  t.delay = delay;
  out.push_back(std::move(t));
}

void Line::answer_modbus(std::size_t s, const Bytes& packet, bool rtu, std::size_t position,
                         double not_before, std::vector<Transmission>& out) {
  Instrument& inst = *instruments_[s];
  const LineSettings settings = inst.line_settings();
  std::optional<Bytes> echo = inst.handle_modbus(packet);
  if (!echo) return;
  Faults& f = inst.faults();
  if (f.silent) return;
  if (f.drop > 0) {
    --f.drop;
    return;
  }
  out.push_back({position, s, rtu ? rtu_frame(*echo) : ascii_frame(*echo), settings,
                 inst.base_address(), not_before});
}

std::string Line::faulty(std::size_t s, const Packet& reply, const Packet& request) {
  Instrument& inst = *instruments_[s];
  Faults& f = inst.faults();
  if (f.silent) return {};
  if (f.drop > 0) {
    --f.drop;
    return {};
  }
  int n = ++reply_counts_[s];
  auto every = [n](int k) { return k > 0 && n % k == 0; };
  Packet p = reply;
  if (every(f.foreign_every)) {
    // A master instrument on the line answers with a command of its own.
    std::uint16_t foreign = hash_name("r.St");
    if (foreign == request.hash) foreign = hash_name("Set.P");
    p.hash = foreign;
  }
  std::string text = encode_frame(p, inst.address_length());
  if (every(f.corrupt_every)) {
    char& last = text[text.size() - 2];  // the low nibble of the checksum
    last = last == 'V' ? 'G' : static_cast<char>(last + 1);
  }
  if (every(f.no_start_every)) text.erase(0, 1);
  return text;
}

std::string Line::garbage(std::size_t length) {
  // What a UART makes of characters sent at another speed: mostly high bytes, no frame start;
  // it ends with a carriage return so that the listener takes it for a finished reply.
  std::string out;
  for (std::size_t i = 0; i + 1 < length; ++i) out += static_cast<char>(0x80 + rng_() % 0x7F);
  out += '\r';
  return out;
}

double Line::heard_at(double started, std::size_t characters, const LineSettings& settings) const {
  return started +
         static_cast<double>(characters) * settings.character_seconds() * options_.line.time_scale;
}

bool Line::pause(double seconds) {
  if (seconds <= 0) return true;
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
  pollfd fd{stop_fd_, POLLIN, 0};
  return ppoll(&fd, 1, &ts, nullptr) == 0;
}

void Line::write_all(const std::string& bytes) {
  std::size_t done = 0;
  int stalls = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(terminal_fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    // Nobody reads the other side: give up after a while rather than block the line.
    pollfd fd{terminal_fd_, POLLOUT, 0};
    if (poll(&fd, 1, 100) <= 0 && ++stalls > 10) return;
  }
}

void Line::transmit(const Transmission& t) {
  double scale = options_.line.time_scale;
  if (options_.line.pacing && !device_ && !pause(t.not_before - now())) return;
  if (!pause(options_.line.turnaround_ms / 1000.0 * scale)) return;
  if (!pause(t.delay)) return;
  std::string bytes = t.bytes;
  LineSettings peer;
  if (!device_ && read_line_settings(terminal_fd_, peer) && !(peer == t.settings)) {
    // The program changed its settings meanwhile: the reply reaches it as garbage.
    bytes = garbage(bytes.size());
  }
  double character = t.settings.character_seconds() * scale;
  if (!options_.line.pacing || device_ || character <= 0) {
    write_all(bytes);
  } else {
    // Each character becomes available when its last bit has left the instrument.
    double start = now();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      std::size_t due =
          std::min(bytes.size(), static_cast<std::size_t>((now() - start) / character));
      if (due > sent) {
        write_all(bytes.substr(sent, due - sent));
        sent = due;
        continue;
      }
      if (!pause(start + static_cast<double>(sent + 1) * character - now())) return;
    }
  }
  log("tx", bytes, t.settings, "@" + std::to_string(t.address));
}

void Line::log(const char* direction, const std::string& bytes, const LineSettings& settings,
               const std::string& note) {
  if (!log_) return;
  std::fprintf(log_, "%.6f %s %u %d %zu %s%s%s\n", now(), direction, settings.baud,
               settings.bits_per_character(), bytes.size(), printable(bytes).c_str(),
               note.empty() ? "" : " ", note.c_str());
}

void Line::load_state() {
  const std::string& path = options_.line.state_path;
  if (path.empty()) return;
  std::ifstream in(path);
  if (!in) return;  // a first run: the file is written after the first change
  std::string why;
  try {
    nlohmann::json state = nlohmann::json::parse(in);
    const nlohmann::json& list = state.at("instruments");
    if (!list.is_array()) throw std::runtime_error("\"instruments\" is not a list");
    for (std::size_t i = 0; i < instruments_.size() && i < list.size(); ++i) {
      if (!instruments_[i]->restore(list[i], &why))
        throw std::runtime_error("instrument " + std::to_string(i + 1) + ": " + why);
    }
    return;
  } catch (const std::exception& e) {
    why = e.what();
  }
  // Keep the damaged file for inspection and start from the description.
  std::string aside = path + ".damaged";
  std::error_code ec;
  std::filesystem::rename(path, aside, ec);
  report_("the state file " + path + " is damaged (" + why + "); " +
          (ec ? "it stays where it is" : "moved to " + aside) +
          "; the instruments start from the description");
  for (std::size_t i = 0; i < instruments_.size(); ++i)
    instruments_[i] =
        std::make_unique<Instrument>(options_.instruments[i], description_,
                                     options_.line.time_scale, static_cast<std::uint32_t>(rng_()));
}

void Line::save_state() {
  save_pending_ = false;
  const std::string& path = options_.line.state_path;
  if (path.empty()) return;
  nlohmann::json state;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state["kind"] = "kba604-sim EEPROM";
    state["version"] = 1;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& inst : instruments_) list.push_back(inst->state());
    state["instruments"] = list;
  }
  // Saved beside the old file and renamed over it: never seen half-written.
  std::string why;
  if (!platform::write_file_atomically(path, state.dump(1) + "\n", &why)) {
    if (!state_failed_) report_("cannot write the state file " + path + ": " + why);
    state_failed_ = true;
    return;
  }
  state_failed_ = false;
}

}  // namespace kba604::sim
