// The control channel: a line-oriented text channel to the program that started the
// configurator, over standard input and output ("io:stdio", NetConfig::CStdio) or over the
// socket the supervising program listens on ("io:pipe:<name>", NetConfig::CPipe, a
// SOCK_SEQPACKET socket $XDG_RUNTIME_DIR/<name>). At most one exists; it is created with the
// device and lives until the program ends.
//
// Over it the configurator announces changes of its port settings ("!netparam …", through
// NetParamChannel), answers the presence query "!?" with "!! <uni>", and hands lines of the
// supervising words (see control/channel_commands.h) to a command handler.
//
// Threads. One reader thread owns the transport: it waits for the exit event, a message to
// send, input and room to write, at most 50 ms at a time, so it ends at once when told to and
// never blocks on a peer that stopped reading. SendCommand may be called from any thread; it
// waits up to 5000 ms (under the program's clock) for the reader to have written the message,
// and sets the exit code 208 when it was not taken. post_line queues a line without waiting
// (answers, progress). Lines travel in Windows-1251; inside the program they are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/exit_flags.h"
#include "control/transport.h"
#include "link/device_io.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace kba604::NetConfig {

// Message kinds of SendCommand.
inline constexpr int kRequest = 1;       // expects an answer line
inline constexpr int kNotification = 2;  // written only

// Where lines of words the channel does not answer itself go.
class CommandHandler {
 public:
  virtual ~CommandHandler() = default;
  // Whether the first word of a line is one of the handler's.
  virtual bool takes(std::string_view first_word) const = 0;
  // The reader thread hands over one line (UTF-8); must return at once (hand the work on).
  virtual void command(const std::string& line) = 0;
};

class CConnection : public NetParamChannel {
 public:
  static constexpr int kSendLimitMs = 5000;
  static constexpr int kCadenceMs = 50;
  static constexpr int kJoinLimitMs = 10000;
  static constexpr int kAnswerTries = 50;
  static constexpr int kAnswerStepMs = 10;
  // The message buffer: a longer text is cut here.
  static constexpr std::size_t kMessageMax = 1023;
  // Lines queued for a peer that does not read are dropped beyond this.
  static constexpr std::size_t kQueueMax = 1000;
  // Lines kept for the command handler while the program starts and none is set yet.
  static constexpr std::size_t kEarlyLinesMax = 64;

  // A channel without a transport: reads give nothing, writes are dropped. flags and clock must
  // outlive the channel; uni is the identifier of the presence answer.
  CConnection(ExitFlags& flags, std::string uni, platform::Clock& clock = platform::Clock::real());
  ~CConnection() override;
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  // Formats the line (printf-style), hands it to the reader thread and waits up to 5000 ms until
  // it has been written (and, for a request, its answer read). Returns the decoding of the
  // answer for a request, 0 for a notification that went out, -1 when nothing went out (no
  // peer, or not taken in time: the exit code 208 is set then).
  int SendCommand(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // Queues a line to be sent without waiting for the peer; false when it was dropped (no
  // peer, or kQueueMax lines wait already).
  bool post_line(std::string_view line);

  // The handler of the words the channel does not answer itself; none by default. Lines that
  // came before the first handler was set are handed to it now (the peer may speak while the
  // program still starts). Set it to none before the handler goes.
  void set_command_handler(std::shared_ptr<CommandHandler> handler);

  // Whether the transport was opened and the reader has not ended on a peer that went away.
  bool open() const;
  // Whether the reader thread has ended (told to, or nothing left to read or write).
  bool reader_ended() const;

  // NetParamChannel: the "!netparam" lines are notifications.
  void announce(const std::string& line) override;

  // Stops the reader thread (at most kJoinLimitMs); the destructor does it too.
  void close();

  struct Shared;

 protected:
  // For the transports: the reader starts when the transport is handed to start().
  struct Deferred {};
  CConnection(ExitFlags& flags, std::string uni, platform::Clock& clock, Deferred);
  // Starts the reader thread over the transport (none: a closed channel).
  void start(std::unique_ptr<Transport> transport);

 private:
  ExitFlags& flags_;
  platform::Clock& clock_;
  std::mutex send_lock_;
  std::shared_ptr<Shared> shared_;
  platform::Thread reader_;
};

// Standard input and output (descriptors 0 and 1), or two descriptors of a test.
class CStdio final : public CConnection {
 public:
  CStdio(ExitFlags& flags, std::string uni, platform::Clock& clock = platform::Clock::real(),
         int in_fd = 0, int out_fd = 1);
};

// The socket $XDG_RUNTIME_DIR/<name>, connected to; when it cannot be connected the exit code
// 208 is set and the channel stays closed. Tests may hand over a connected descriptor.
class CPipe final : public CConnection {
 public:
  CPipe(ExitFlags& flags, std::string uni, const std::string& name,
        platform::Clock& clock = platform::Clock::real());
  // Takes over a connected SOCK_SEQPACKET descriptor.
  CPipe(ExitFlags& flags, std::string uni, int connected_fd,
        platform::Clock& clock = platform::Clock::real());
  // Why the socket could not be connected; empty when it was.
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

// The channel the "io" switch chose: 1 stdio, 2 the pipe of that name, 3 ("socket") and 0 none.
std::unique_ptr<CConnection> open_channel(int kind, const std::string& pipe_name, ExitFlags& flags,
                                          std::string uni,
                                          platform::Clock& clock = platform::Clock::real());

}  // namespace kba604::NetConfig
