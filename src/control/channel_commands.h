// The supervising words of the control channel (see control/channel_words.h for the language):
// the commands a supervising program gives the running configurator over its channel, carried
// out as the program's menu commands and switches are.
//
// Threads. The channel's reader hands every line over (command()); "!stop" takes effect at
// once, every other word runs on the program's UI thread, where the document lives, through
// the post function. Nothing waits on the line there: a whole-tree operation runs on the
// device's worker, and a ticker thread sends "!progress" at most ten times a second and "!done"
// at the end, with post_line, so that nothing waits for a peer that reads slowly; the one
// exchange of "!get" and "!set" runs on a thread of its own, which answers when it is over,
// while the device counts as busy. detach() must be called on the UI thread before the
// document goes: tasks still queued then do nothing.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "control/channel_words.h"
#include "control/net_config.h"
#include "files/kba604_doc.h"
#include "link/device_io.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

// The code of "!done": how the operation ended.
namespace channel_done {
inline constexpr int kCompleted = 0;
inline constexpr int kParametersFailed = 11;  // it ran to its end; some parameters failed
inline constexpr int kStopped = 205;          // "!stop", or the operation stopped itself
}  // namespace channel_done

struct ChannelCommandServices {
  CKBA604App& app;
  CKBA604Doc& document;
  std::shared_ptr<DeviceOperations> device;
  // The link, for the port settings of "!status"; none without a serial line.
  DeviceIO* io = nullptr;
  // Runs a task on the UI thread, in order.
  std::function<void(std::function<void()>)> post;
};

class ChannelCommands final : public NetConfig::CommandHandler,
                              public std::enable_shared_from_this<ChannelCommands> {
 public:
  // The channel must outlive the commands' use of it (until detach()).
  ChannelCommands(NetConfig::CConnection& channel, ChannelCommandServices services);
  ~ChannelCommands() override;

  // CommandHandler (reader thread)
  bool takes(std::string_view first_word) const override { return is_channel_word(first_word); }
  void command(const std::string& line) override;

  // UI thread: no queued task runs any more, the ticker and a running exchange end (each
  // within its limit).
  void detach();

  // How "!open" replaces the configuration once the word's own checks have passed: a front
  // end with a parameter view lets its rows go before the description is loaded again, and
  // builds them anew after. Without one the document opens the file itself. UI thread.
  void set_document_opener(std::function<bool(const std::string& path)> open) {
    opener_ = std::move(open);
  }

  // The progress ticker's step: "!progress" goes out at most once per step.
  static constexpr int kProgressStepMs = 100;

 private:
  // UI thread.
  void run(const ChannelRequest& request);
  void status();
  void get(const ChannelRequest& request);
  // Assigns the text after the rules of a cell edit and writes the parameter.
  void set(const ChannelRequest& request);
  void operation(const ChannelRequest& request);
  void open(const ChannelRequest& request);
  void save(const ChannelRequest& request);
  Parameter* find(const ChannelParameterName& name) const;
  // Hands the one exchange of "!get" or "!set" on parameter to the exchange thread, which
  // answers "!value" or "!error" (failed_note when the exchange left no note) when it is over.
  void run_exchange(std::string name, Parameter& parameter,
                    std::function<int(DeviceOperations&, Parameter&)> exchange,
                    std::string failed_note);
  // Whether the instrument can be reached at all (not the program without a port).
  bool has_port() const;
  bool operation_runs() const;
  // Whether operational parameters are polled (a ticked row, or the scanner at work).
  bool polling_on() const;
  void answer(const std::string& line);
  void error(std::string_view word_or_name, std::string_view note);
  // The ticker: progress, then "!done".
  void watch_operation();

  NetConfig::CConnection& channel_;
  ChannelCommandServices services_;
  bool detached_ = false;                           // UI thread
  std::function<bool(const std::string&)> opener_;  // UI thread
  std::atomic<bool> ticking_{false};
  platform::Event ticker_stop_{platform::Event::Reset::Manual};
  platform::Thread ticker_;
  // The exchange of "!get" or "!set" runs; its thread.
  std::atomic<bool> exchanging_{false};
  platform::Thread exchange_;
};

// Creates the commands and hands them to the channel: from now on its supervising words are
// answered. Call detach_channel_commands before the document goes.
std::shared_ptr<ChannelCommands> attach_channel_commands(NetConfig::CConnection& channel,
                                                         ChannelCommandServices services);
void detach_channel_commands(NetConfig::CConnection& channel,
                             std::shared_ptr<ChannelCommands>& commands);

}  // namespace kba604
