// The byte side of the control channel: standard input and output (lines ended by a line feed,
// each message followed by an empty line) and the named pipe, a Unix SOCK_SEQPACKET socket whose
// messages keep their boundaries (a message is the text, a line feed and a NUL).
//
// Nothing here blocks: the channel's reader thread polls the descriptors and calls read and
// write when they are ready. Lines are Windows-1251 bytes as they travel; the channel converts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kba604::NetConfig {

// The longest line either transport takes: longer ones are cut here and the rest of the line is
// dropped, never written past the buffer.
inline constexpr std::size_t kStdioLineMax = 1023;
inline constexpr std::size_t kPipeMessageMax = 511;

class Transport {
 public:
  virtual ~Transport() = default;

  // The descriptor to wait on for input, -1 once nothing more can come (end of input).
  virtual int input_fd() const = 0;
  // The descriptor to wait on before writing, -1 once the peer is gone.
  virtual int output_fd() const = 0;

  // Reads what is waiting without blocking and appends each complete line to lines. idle says
  // that nothing arrived for a whole step of the reader: a line that came without its end is
  // then taken as it is. Returns how many bytes were waiting (0 when none).
  virtual int read(std::vector<std::string>& lines, bool idle) = 0;

  // The bytes of one message carrying text.
  virtual std::string frame(std::string_view text) const = 0;
  // Writes from bytes without blocking. Returns the count written (0: not now, try again when
  // the descriptor is ready), or -1 when the peer is gone; the output is closed then.
  virtual long write(std::string_view bytes) = 0;
};

// Standard input and output, or any two descriptors (tests use pipe pairs). The descriptors
// stay open: they belong to the process.
class StdioTransport final : public Transport {
 public:
  StdioTransport(int in_fd, int out_fd) : in_(in_fd), out_(out_fd) {}

  int input_fd() const override { return in_; }
  int output_fd() const override { return out_; }
  int read(std::vector<std::string>& lines, bool idle) override;
  std::string frame(std::string_view text) const override;
  long write(std::string_view bytes) override;

 private:
  void take_byte(char c, std::vector<std::string>& lines);

  int in_;
  int out_;
  std::string line_;   // the line being read
  bool cut_ = false;   // the line outgrew the buffer; the rest up to its end is dropped
  bool held_ = false;  // line_ waited one idle step already
};

// A connected SOCK_SEQPACKET socket; owns the descriptor.
class SeqPacketTransport final : public Transport {
 public:
  // Takes over fd (-1: a channel that stays closed).
  explicit SeqPacketTransport(int fd) : fd_(fd) {}
  ~SeqPacketTransport() override;
  SeqPacketTransport(const SeqPacketTransport&) = delete;
  SeqPacketTransport& operator=(const SeqPacketTransport&) = delete;

  int input_fd() const override { return fd_; }
  int output_fd() const override { return fd_; }
  int read(std::vector<std::string>& lines, bool idle) override;
  std::string frame(std::string_view text) const override;
  long write(std::string_view bytes) override;

 private:
  void close_socket();

  int fd_;
};

// Connects to the SOCK_SEQPACKET socket at path that the supervising program listens on.
// Returns the descriptor, or -1 with the reason in *error.
int connect_seqpacket(const std::string& path, std::string* error);

}  // namespace kba604::NetConfig
