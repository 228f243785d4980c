#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/serial_line.h"
#include "platform/terminal.h"

namespace kba604::platform {
namespace {

class TerminalLine final : public SerialLine {
 public:
  TerminalLine(int fd, Clock& clock)
      : fd_(fd), clock_(clock), pseudo_terminal_(is_pseudo_terminal(fd)) {}
  ~TerminalLine() override {
    // The exclusive flag outlives this descriptor while the other side of a pseudo-terminal
    // stays open; clear it so the next opening is not refused.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }

  bool query_state() override {
    termios t{};
    return ::tcgetattr(fd_, &t) == 0;
  }

  bool apply(const SerialSettings& s) override {
    // Only a call that fails sets errno; settings read back as others than asked leave it 0.
    errno = 0;
    const bool ok = apply_settings(s);
    if (!ok) {
      last_error_ = errno != 0 ? std::strerror(errno)
                               : "устройство сообщает другие настройки, чем были заданы";
    }
    return ok;
  }

  std::string last_error() const override { return last_error_; }
  std::string opening_remark() const override { return remark_; }
  void set_opening_remark(std::string remark) { remark_ = std::move(remark); }

  bool apply_settings(const SerialSettings& s) {
    // Breaks, and with parity also parity and framing errors, are marked in the input, so a
    // transfer can tell them from data (the decoder un-doubles a data byte FF). The error
    // counters of the driver tell the rest (read_counters).
    return apply_terminal_settings(fd_, s, pseudo_terminal_, /*mark_line_errors=*/true);
  }

  bool purge() override {
    decoder_.reset();
    raw_pos_ = raw_len_ = 0;
    const bool purged = flush_terminal(fd_);
    if (!purged) last_error_ = std::strerror(errno);
    read_counters(&errors_seen_);
    return purged;
  }

  void set_rts(bool on) override {
    // A device without modem lines refuses this; that is harmless.
    int bits = TIOCM_RTS;
    ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits);
  }

  bool set_kernel_rs485(bool on) override {
    serial_rs485 rs{};
    if (::ioctl(fd_, TIOCGRS485, &rs) != 0) return false;
    if (on) {
      rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
      rs.flags &= ~static_cast<std::uint32_t>(SER_RS485_RTS_AFTER_SEND);
    } else {
      rs.flags &= ~static_cast<std::uint32_t>(SER_RS485_ENABLED);
    }
    return ::ioctl(fd_, TIOCSRS485, &rs) == 0;
  }

  bool transmitter_empty(bool* empty) override {
    if (!lsr_supported_) return false;
    unsigned int lsr = 0;
    if (::ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) {
      // A pseudo-terminal and most USB adapters have no line status to read.
      lsr_supported_ = false;
      return false;
    }
    *empty = (lsr & TIOCSER_TEMT) != 0;
    return true;
  }

  int output_queued() override {
    if (!outq_supported_) return -1;
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
      outq_supported_ = false;
      return -1;
    }
    return queued;
  }

  LineWait write(const std::uint8_t* data, std::size_t count, Event* exit,
                 int timeout_ms) override {
    const std::int64_t deadline = clock_.now_us() + std::int64_t{timeout_ms} * 1000;
    std::size_t done = 0;
    while (done < count) {
      ssize_t n = ::write(fd_, data + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return failed(errno);
      // The output queue is full: wait for room, the exit event or the end of the write time.
      LineWait w = wait_for(POLLOUT, exit, deadline);
      if (w != LineWait::Ready) return w;
    }
    return LineWait::Ready;
  }

  LineWait drain(Event* exit, int timeout_ms) override {
    const std::int64_t deadline = clock_.now_us() + std::int64_t{timeout_ms} * 1000;
    for (;;) {
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
        // What is left sits in the transmitter itself; tcdrain waits for it to leave.
        if (::tcdrain(fd_) != 0 && errno != EINTR) return failed(errno);
        return LineWait::Ready;
      }
      if (exit != nullptr && exit->is_set()) return LineWait::Exit;
      std::int64_t left_us = deadline - clock_.now_us();
      if (left_us <= 0) return LineWait::Timeout;
      pollfd p{exit != nullptr ? exit->fd() : -1, POLLIN, 0};
      if (clock_.poll(&p, 1, 1) > 0 && (p.revents & POLLIN)) return LineWait::Exit;
    }
  }

  LineWait wait_input(Event* exit, int timeout_ms) override {
    if (raw_pos_ < raw_len_) return LineWait::Ready;
    return wait_for(POLLIN, exit, clock_.now_us() + std::int64_t{timeout_ms} * 1000);
  }

  int read(std::uint8_t* buffer, std::size_t cap, bool* line_error) override {
    *line_error = false;
    std::size_t out = 0;
    // A read that did not fill the buffer took all the driver had: the caller waits for more
    // rather than this asking the driver again at once (a reply comes a few characters at a
    // time, and every call counts).
    bool drained = false;
    for (;;) {
      while (raw_pos_ < raw_len_ && out < cap) {
        std::uint8_t byte;
        switch (decoder_.feed(raw_[raw_pos_++], &byte)) {
          case ParmrkDecoder::Step::Data:
            buffer[out++] = byte;
            break;
          case ParmrkDecoder::Step::Nothing:
            break;
          case ParmrkDecoder::Step::LineError:
            *line_error = true;
            return static_cast<int>(out);
        }
      }
      if (out == cap || drained) return static_cast<int>(out);
      ssize_t n = ::read(fd_, raw_, sizeof raw_);
      if (n > 0) {
        raw_pos_ = 0;
        raw_len_ = static_cast<std::size_t>(n);
        drained = raw_len_ < sizeof raw_;
        // Errors the input does not mark (framing errors without parity, overruns) show in the
        // driver's counters.
        std::uint64_t errors = 0;
        if (read_counters(&errors) && errors != errors_seen_) {
          errors_seen_ = errors;
          *line_error = true;
          return static_cast<int>(out);
        }
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return static_cast<int>(out);
      // End of file on a terminal means it hung up; EIO and the like mean the device is gone.
      if (out > 0) return static_cast<int>(out);
      failed(n < 0 ? errno : 0);
      return -1;
    }
  }

 private:
  // The device went away under a call: err is the system's reason, 0 for a hang-up, which has
  // none.
  LineWait failed(int err) {
    last_error_ = err != 0 ? std::strerror(err)
                           : "линия закрыта (устройство отключено или другая сторона закрыла "
                             "терминал)";
    return LineWait::Failed;
  }

  // The sum of the driver's error counters (framing, parity, overrun, break); false when the
  // device keeps none (a pseudo-terminal, most USB adapters): that is no line error.
  bool read_counters(std::uint64_t* sum) {
    if (!counters_supported_) return false;
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) {
      counters_supported_ = false;
      return false;
    }
    *sum = static_cast<std::uint64_t>(c.frame) + static_cast<std::uint64_t>(c.parity) +
           static_cast<std::uint64_t>(c.overrun) + static_cast<std::uint64_t>(c.buf_overrun) +
           static_cast<std::uint64_t>(c.brk);
    return true;
  }

  LineWait wait_for(short what, Event* exit, std::int64_t deadline_us) {
    for (;;) {
      if (exit != nullptr && exit->is_set()) return LineWait::Exit;
      std::int64_t left_us = deadline_us - clock_.now_us();
      if (left_us < 0) left_us = 0;
      pollfd fds[2] = {{fd_, what, 0}, {exit != nullptr ? exit->fd() : -1, POLLIN, 0}};
      int rc = clock_.poll(fds, 2, static_cast<int>((left_us + 999) / 1000));
      if (rc < 0) return errno == EINTR ? LineWait::Timeout : failed(errno);
      if (fds[1].revents & POLLIN) return LineWait::Exit;
      if (fds[0].revents & what) return LineWait::Ready;
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return failed(0);
      if (rc == 0 && clock_.now_us() >= deadline_us) return LineWait::Timeout;
    }
  }

  int fd_;
  Clock& clock_;
  std::string last_error_;
  std::string remark_;
  bool pseudo_terminal_ = false;
  bool counters_supported_ = true;
  bool lsr_supported_ = true;
  bool outq_supported_ = true;
  std::uint64_t errors_seen_ = 0;
  ParmrkDecoder decoder_;
  std::uint8_t raw_[256];
  std::size_t raw_pos_ = 0;
  std::size_t raw_len_ = 0;
};

// Asks the driver for its low-latency mode; what stands in the way, or "" when it is on.
std::string request_low_latency(int fd) {
  const char* const mode = "режим малой задержки (ASYNC_LOW_LATENCY) ";
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
    return std::string(mode) + "недоступен: " + std::strerror(errno);
  }
  if ((ss.flags & ASYNC_LOW_LATENCY) != 0) return {};
  ss.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
    return std::string(mode) + "не принят драйвером: " + std::strerror(errno);
  }
  serial_struct back{};
  if (::ioctl(fd, TIOCGSERIAL, &back) == 0 && (back.flags & ASYNC_LOW_LATENCY) == 0) {
    return std::string(mode) + "не принят драйвером: флаг не сохранился";
  }
  return {};
}

}  // namespace

bool terminal_on_usb(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const std::string node = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev));
  char* real = ::realpath(node.c_str(), nullptr);
  if (real == nullptr) return false;
  const bool usb = std::strstr(real, "/usb") != nullptr;
  std::free(real);
  return usb;
}

std::unique_ptr<SerialLine> open_terminal_line(const std::string& path, Clock& clock,
                                               LowLatency low_latency) {
  int fd = open_terminal(path, /*non_blocking=*/true);
  if (fd < 0) return nullptr;
  // A COM port is exclusive: a second opening by another program is refused with EBUSY while
  // this descriptor holds it (root is not held back by this).
  ::ioctl(fd, TIOCEXCL);
  // Linux raises RTS and DTR on open; a semi-automatic converter would then hold the bus in
  // transmit. A device without modem lines refuses the call, which is harmless.
  int bits = TIOCM_RTS | TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &bits);
  auto line = std::make_unique<TerminalLine>(fd, clock);
  if (low_latency == LowLatency::Always || terminal_on_usb(fd)) {
    line->set_opening_remark(request_low_latency(fd));
  }
  return line;
}

std::vector<int> onboard_serial_ports() {
  std::vector<int> ports;
  DIR* dir = ::opendir("/sys/class/tty");
  if (dir == nullptr) return ports;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0) continue;
    if (!std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    // The serial core reports the UART type; 0 means no hardware answers at that address.
    std::ifstream type_file("/sys/class/tty/" + name + "/type");
    int type = 0;
    if (type_file >> type && type != 0) ports.push_back(std::atoi(name.c_str() + 4));
  }
  ::closedir(dir);
  std::sort(ports.begin(), ports.end());
  return ports;
}

bool device_exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace kba604::platform
