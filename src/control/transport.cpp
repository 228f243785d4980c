#include "control/transport.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kba604::NetConfig {

// ---- standard input and output -------------------------------------------------------------

void StdioTransport::take_byte(char c, std::vector<std::string>& lines) {
  // A NUL ends the line as a line feed or a carriage return does.
  if (c == '\0' || c == '\n' || c == '\r') {
    lines.push_back(std::move(line_));
    line_.clear();
    cut_ = false;
    return;
  }
  if (cut_) return;
  if (line_.size() < kStdioLineMax) {
    line_.push_back(c);
  } else {
    cut_ = true;
  }
}

int StdioTransport::read(std::vector<std::string>& lines, bool idle) {
  if (in_ < 0) return 0;
  int waiting = 0;
  if (::ioctl(in_, FIONREAD, &waiting) != 0) waiting = -1;
  if (waiting == 0) {
    // Readable with nothing waiting is the end of the input; otherwise nothing came.
    pollfd p{in_, POLLIN, 0};
    const bool readable =
        ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
    if (!readable) {
      if (idle && !line_.empty()) {
        // A line without its end that sat a whole step is taken as it came.
        if (held_) {
          lines.push_back(std::move(line_));
          line_.clear();
          cut_ = false;
          held_ = false;
        } else {
          held_ = true;
        }
      }
      return 0;
    }
  }
  char buffer[4096];
  const std::size_t want =
      waiting > 0 ? std::min<std::size_t>(static_cast<std::size_t>(waiting), sizeof buffer)
                  : sizeof buffer;
  const ssize_t n = ::read(in_, buffer, want);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (n <= 0) {
    // The peer closed its end: what is left is the last line, and input is over.
    if (!line_.empty()) lines.push_back(std::move(line_));
    line_.clear();
    in_ = -1;
    return 0;
  }
  held_ = false;
  for (ssize_t i = 0; i < n; ++i) take_byte(buffer[i], lines);
  return waiting > 0 ? waiting : static_cast<int>(n);
}

std::string StdioTransport::frame(std::string_view text) const {
  // Every message is followed by an empty line.
  std::string bytes(text);
  bytes += "\n\n";
  return bytes;
}

long StdioTransport::write(std::string_view bytes) {
  if (out_ < 0) return -1;
  const ssize_t n = ::write(out_, bytes.data(), bytes.size());
  if (n >= 0) return static_cast<long>(n);
  if (errno == EAGAIN || errno == EINTR) return 0;
  out_ = -1;
  return -1;
}

// ---- the named pipe ------------------------------------------------------------------------

SeqPacketTransport::~SeqPacketTransport() {
  close_socket();
}

void SeqPacketTransport::close_socket() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int SeqPacketTransport::read(std::vector<std::string>& lines, bool /*idle*/) {
  if (fd_ < 0) return 0;
  // One message per call; a longer one is cut by the kernel at the buffer and its rest dropped.
  char buffer[kPipeMessageMax + 1];
  const ssize_t n = ::recv(fd_, buffer, kPipeMessageMax, MSG_DONTWAIT);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    close_socket();
    return 0;
  }
  if (n == 0) {
    // An empty message and a peer that hung up both read as nothing: the hang-up tells.
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR))) {
      close_socket();
      return 0;
    }
    lines.emplace_back();
    return 1;
  }
  std::string_view text(buffer, static_cast<std::size_t>(n));
  // The text runs to its first NUL; the line feed that ends a message is not part of it.
  text = text.substr(0, text.find('\0'));
  text = text.substr(0, text.find_first_of("\r\n"));
  lines.emplace_back(text);
  return static_cast<int>(n);
}

std::string SeqPacketTransport::frame(std::string_view text) const {
  std::string bytes(text);
  bytes += '\n';
  bytes += '\0';
  return bytes;
}

long SeqPacketTransport::write(std::string_view bytes) {
  if (fd_ < 0) return -1;
  // A message goes whole or not at all; no SIGPIPE for a peer that has gone.
  const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n >= 0) return static_cast<long>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ENOBUFS) return 0;
  if (errno == EMSGSIZE) return static_cast<long>(bytes.size());  // cannot ever go: dropped
  close_socket();
  return -1;
}

int connect_seqpacket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    if (error != nullptr) *error = "имя сокета " + path + " пустое или слишком длинное";
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error != nullptr) *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (error != nullptr)
      *error = "не удалось подключиться к " + path + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace kba604::NetConfig
