#include "control/net_config.h"

#include <poll.h>
#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <vector>

#include "control/pipe_connection.h"
#include "platform/event.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kba604::NetConfig {

namespace {

// One message on its way out. A message of SendCommand carries its serial number, so that its
// sender learns when it went (or that it was dropped); a posted line carries none.
struct Outgoing {
  std::string bytes;
  std::size_t offset = 0;
  std::uint64_t serial = 0;
  int kind = kNotification;
};

std::string cut_to_buffer(std::string text) {
  if (text.size() > CConnection::kMessageMax) text.resize(CConnection::kMessageMax);
  return text;
}

}  // namespace

// What the reader thread shares with the channel. The thread holds it by shared ownership, so
// a thread that did not end in time never reaches a channel that is gone.
struct CConnection::Shared {
  std::unique_ptr<Transport> transport;
  std::string uni;
  platform::Event request{platform::Event::Reset::Manual};
  platform::Event done{platform::Event::Reset::Manual};
  platform::Event exit{platform::Event::Reset::Manual};

  std::mutex deliver_mutex;  // taken before mutex, never after it
  std::mutex mutex;
  // The message of SendCommand that waits for the reader.
  bool slot_full = false;
  std::string slot_text;
  int slot_kind = kNotification;
  std::uint64_t slot_serial = 0;
  // The message whose sender waits, and its answer.
  std::uint64_t waiting_serial = 0;
  int answer = 0;
  std::uint64_t next_serial = 0;
  std::deque<Outgoing> out;
  std::shared_ptr<CommandHandler> handler;
  // Lines that came before the first handler was set (the program was still starting): they
  // are handed to it when it comes.
  bool handler_set = false;
  std::deque<std::string> early_lines;
  bool ended = false;

  // The sender of serial learns its answer. Under mutex.
  void complete(std::uint64_t serial, int result) {
    if (serial == 0 || serial != waiting_serial) return;
    answer = result;
    waiting_serial = 0;
    done.set();
  }

  std::string frame(std::string_view utf8) const {
    return transport->frame(cut_to_buffer(platform::to_cp1251(utf8)));
  }

  void run();

 private:
  // Takes the message of SendCommand into the queue. Under mutex.
  void take_slot();
  // Writes what it can of the first queued message; false when the peer is gone.
  bool write_some(std::uint64_t* awaiting);
  // Drops every queued message; their senders learn that nothing went. Under mutex.
  void drop_all();
  void handle_line(const std::string& cp1251_line);
};

void CConnection::Shared::take_slot() {
  if (!slot_full) return;
  slot_full = false;
  Outgoing o;
  o.bytes = frame(slot_text);
  o.serial = slot_serial;
  o.kind = slot_kind;
  out.push_back(std::move(o));
}

void CConnection::Shared::drop_all() {
  for (const Outgoing& o : out) complete(o.serial, -1);
  out.clear();
  if (slot_full) {
    slot_full = false;
    complete(slot_serial, -1);
  }
}

bool CConnection::Shared::write_some(std::uint64_t* awaiting) {
  std::unique_lock lock(mutex);
  if (out.empty()) return true;
  Outgoing& o = out.front();
  const std::string_view rest = std::string_view(o.bytes).substr(o.offset);
  lock.unlock();
  // The transport is the reader's alone; the queue may grow meanwhile, never shrink.
  const long n = transport->write(rest);
  lock.lock();
  if (n < 0) {
    drop_all();
    return false;
  }
  o.offset += static_cast<std::size_t>(n);
  if (o.offset < o.bytes.size()) return true;
  const Outgoing sent = std::move(o);
  out.pop_front();
  if (sent.kind == kRequest && sent.serial != 0 && sent.serial == waiting_serial) {
    *awaiting = sent.serial;
  } else {
    complete(sent.serial, 0);
  }
  return true;
}

void CConnection::Shared::handle_line(const std::string& cp1251_line) {
  const std::string line = platform::from_cp1251(cp1251_line);
  std::string error;
  const int result = CPipeConnection::DecodeString(line, &error);
  if (result == kDecodePresence) {
    std::lock_guard lock(mutex);
    if (out.size() < kQueueMax) out.push_back(Outgoing{frame("!! " + uni)});
    return;
  }
  // Decoding errors are not shown; lines of the supervising words go to the handler.
  const std::vector<std::string_view> words = split_words(line);
  if (words.empty()) return;
  // Lines reach the handler one at a time and in order, the early ones first.
  std::lock_guard delivering(deliver_mutex);
  std::shared_ptr<CommandHandler> h;
  {
    std::lock_guard lock(mutex);
    h = handler;
    if (!handler_set) {
      if (early_lines.size() < kEarlyLinesMax) early_lines.push_back(line);
      return;
    }
  }
  if (h && h->takes(words[0])) h->command(line);
}

void CConnection::Shared::run() {
  // Only this thread writes to the transport: a peer that closed a pipe gives it EPIPE, never a
  // signal that would end the program.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);

  std::uint64_t awaiting = 0;  // a request written, its answer not yet read
  int answer_tries = 0;
  std::vector<std::string> lines;
  for (;;) {
    const int in_fd = transport->input_fd();
    const int out_fd = transport->output_fd();
    if (in_fd < 0 && out_fd < 0) break;
    bool have_output;
    {
      std::lock_guard lock(mutex);
      have_output = !out.empty();
    }
    pollfd fds[4] = {{exit.fd(), POLLIN, 0}, {request.fd(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
    nfds_t count = 2;
    int in_index = -1, out_index = -1;
    if (in_fd >= 0) {
      in_index = static_cast<int>(count);
      fds[count++] = {in_fd, POLLIN, 0};
    }
    if (have_output && out_fd >= 0) {
      if (out_fd == in_fd && in_index >= 0) {
        fds[in_index].events |= POLLOUT;
        out_index = in_index;
      } else {
        out_index = static_cast<int>(count);
        fds[count++] = {out_fd, POLLOUT, 0};
      }
    }
    const int rc = platform::Clock::real().poll(fds, count, awaiting ? kAnswerStepMs : kCadenceMs);
    if (exit.is_set()) break;
    const bool idle = rc == 0;

    if (out_index >= 0 && (fds[out_index].revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL))) {
      write_some(&awaiting);
    }
    if (request.is_set()) {
      std::lock_guard lock(mutex);
      request.reset();
      if (transport->output_fd() < 0) {
        drop_all();
      } else {
        take_slot();
      }
    }
    const bool input_ready =
        in_index >= 0 && (fds[in_index].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
    if (input_ready || (idle && transport->input_fd() >= 0)) {
      lines.clear();
      transport->read(lines, idle);
      for (const std::string& line : lines) {
        if (awaiting != 0) {
          // The first line after a request is its answer.
          const int result = CPipeConnection::DecodeString(platform::from_cp1251(line), nullptr);
          std::lock_guard lock(mutex);
          complete(awaiting, result);
          awaiting = 0;
          answer_tries = 0;
          continue;
        }
        handle_line(line);
      }
    }
    if (awaiting != 0 && idle && ++answer_tries >= kAnswerTries) {
      std::lock_guard lock(mutex);
      complete(awaiting, -1);
      awaiting = 0;
      answer_tries = 0;
    }
    if (transport->output_fd() < 0) {
      std::lock_guard lock(mutex);
      drop_all();
    }
  }

  std::lock_guard lock(mutex);
  ended = true;
  if (awaiting != 0) complete(awaiting, -1);
  drop_all();
}

// ---- CConnection ---------------------------------------------------------------------------

CConnection::CConnection(ExitFlags& flags, std::string uni, platform::Clock& clock)
    : CConnection(flags, std::move(uni), clock, Deferred{}) {
  start(nullptr);
}

CConnection::CConnection(ExitFlags& flags, std::string uni, platform::Clock& clock, Deferred)
    : flags_(flags), clock_(clock), shared_(std::make_shared<Shared>()) {
  shared_->uni = std::move(uni);
}

CConnection::~CConnection() {
  close();
}

void CConnection::start(std::unique_ptr<Transport> transport) {
  if (!transport || (transport->input_fd() < 0 && transport->output_fd() < 0)) {
    // Nothing to read or write: reads give nothing, writes are dropped, no thread runs.
    std::lock_guard lock(shared_->mutex);
    shared_->ended = true;
    return;
  }
  shared_->transport = std::move(transport);
  reader_.start([shared = shared_] { shared->run(); });
}

void CConnection::close() {
  shared_->exit.set();
  reader_.join(kJoinLimitMs);
  shared_->exit.reset();
}

bool CConnection::open() const {
  std::lock_guard lock(shared_->mutex);
  return !shared_->ended;
}

bool CConnection::reader_ended() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->ended;
}

int CConnection::SendCommand(int kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buffer[kMessageMax + 1];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);

  std::lock_guard send(send_lock_);
  Shared& s = *shared_;
  std::uint64_t serial;
  {
    std::lock_guard lock(s.mutex);
    // No peer: nothing can go, and nobody to wait for.
    if (s.ended) return -1;
    serial = ++s.next_serial;
    s.slot_full = true;
    s.slot_text = buffer;
    s.slot_kind = kind;
    s.slot_serial = serial;
    s.waiting_serial = serial;
    s.answer = 0;
    s.done.reset();
    s.request.set();
  }
  if (s.done.wait(kSendLimitMs, clock_)) {
    std::lock_guard lock(s.mutex);
    return s.answer;
  }
  // Not taken in time: the peer does not read. The message is withdrawn unless the reader has
  // begun to write it, and the program goes on.
  std::lock_guard lock(s.mutex);
  if (s.waiting_serial != serial) return s.answer;  // it went just now
  s.waiting_serial = 0;
  if (s.slot_full && s.slot_serial == serial) s.slot_full = false;
  flags_.set_to(ExitFlags::kChannelFailed);
  return -1;
}

bool CConnection::post_line(std::string_view line) {
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.mutex);
    if (s.ended || s.out.size() >= kQueueMax) return false;
    s.out.push_back(Outgoing{s.frame(line)});
  }
  // Wakes the reader so that it waits for room to write.
  s.request.set();
  return true;
}

void CConnection::set_command_handler(std::shared_ptr<CommandHandler> handler) {
  std::lock_guard delivering(shared_->deliver_mutex);
  std::deque<std::string> early;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->handler = handler;
    if (handler && !shared_->handler_set) early.swap(shared_->early_lines);
    shared_->handler_set = true;
  }
  if (!handler) return;
  for (const std::string& line : early) {
    const std::vector<std::string_view> words = split_words(line);
    if (handler->takes(words[0])) handler->command(line);
  }
}

void CConnection::announce(const std::string& line) {
  SendCommand(kNotification, "%s", line.c_str());
}

// ---- the transports ------------------------------------------------------------------------

CStdio::CStdio(ExitFlags& flags, std::string uni, platform::Clock& clock, int in_fd, int out_fd)
    : CConnection(flags, std::move(uni), clock, Deferred{}) {
  start(std::make_unique<StdioTransport>(in_fd, out_fd));
}

CPipe::CPipe(ExitFlags& flags, std::string uni, const std::string& name, platform::Clock& clock)
    : CConnection(flags, std::move(uni), clock, Deferred{}) {
  int fd = -1;
  if (name.empty()) {
    error_ = "имя канала не задано";
  } else {
    fd = connect_seqpacket((platform::runtime_dir() / name).string(), &error_);
  }
  if (fd < 0) flags.set_to(ExitFlags::kChannelFailed);
  start(std::make_unique<SeqPacketTransport>(fd));
}

CPipe::CPipe(ExitFlags& flags, std::string uni, int connected_fd, platform::Clock& clock)
    : CConnection(flags, std::move(uni), clock, Deferred{}) {
  start(std::make_unique<SeqPacketTransport>(connected_fd));
}

std::unique_ptr<CConnection> open_channel(int kind, const std::string& pipe_name, ExitFlags& flags,
                                          std::string uni, platform::Clock& clock) {
  switch (kind) {
    case 1:
      return std::make_unique<CStdio>(flags, std::move(uni), clock);
    case 2:
      return std::make_unique<CPipe>(flags, std::move(uni), pipe_name, clock);
    default:
      return nullptr;  // "socket" is accepted but creates no channel
  }
}

}  // namespace kba604::NetConfig
