#include "control/channel_commands.h"

#include <filesystem>

#include "app/commands.h"
#include "control/pipe_connection.h"
#include "operations/edit_end.h"
#include "operations/operation_hooks.h"
#include "operations/scanner.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// A file name as the answer repeats it: in double quotes when it holds blanks.
std::string file_word(const std::string& name) {
  return name.find_first_of(" \t") == std::string::npos ? name : "\"" + name + "\"";
}

const char* parity_word(int code) {
  return code == 1 ? "even" : code == 4 ? "odd" : "no";
}

// The records that make the instrument do something rather than hold a value: they have
// dialogs of their own that ask first, so a supervising program cannot write them in passing.
bool is_command_record(const Parameter& p) {
  return platform::iequals_any(p.short_name, {"r-s", "r.co", "APLY", "PRTL", "exit"});
}

// Keeps the text of the first box the edit rules show; the rules' answer to a question is the
// safe one, as in a run without a window.
class FirstBoxText final : public Prompter {
 public:
  PromptAnswer ask(std::string_view text, std::string_view, PromptIcon, PromptButtons,
                   PromptAnswer safe_answer) override {
    if (text_.empty()) text_ = text;
    return safe_answer;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace

ChannelCommands::ChannelCommands(NetConfig::CConnection& channel, ChannelCommandServices services)
    : channel_(channel), services_(std::move(services)) {}

ChannelCommands::~ChannelCommands() {
  ticker_stop_.set();
  ticker_.join(platform::Thread::kDefaultJoinMs);
}

void ChannelCommands::answer(const std::string& line) {
  channel_.post_line(line);
}

void ChannelCommands::error(std::string_view word_or_name, std::string_view note) {
  answer("!error " + escape_for_line(word_or_name) + " " + escape_for_line(note));
}

void ChannelCommands::command(const std::string& line) {
  std::string why;
  const std::optional<ChannelRequest> request = parse_channel_request(line, &why);
  if (!request) {
    const std::vector<std::string_view> words = split_words(line);
    error(words.empty() ? std::string_view("!") : words[0], why);
    return;
  }
  if (request->word == channel_word::kStop) {
    // At once, whatever the UI thread is doing: the worker tests the stop event between
    // parameters. Only a running operation is stopped; the event is cleared as it ends.
    if (services_.device->busy()) services_.device->stop_event().set();
    answer("!ok stop");
    return;
  }
  services_.post([self = shared_from_this(), r = *request] { self->run(r); });
}

void ChannelCommands::detach() {
  detached_ = true;
  ticker_stop_.set();
  ticker_.join(platform::Thread::kDefaultJoinMs);
  // An exchange ends with the line's repetitions at most; one that is still stuck keeps the
  // device (which owns the parameter) and these commands by shared ownership.
  exchange_.join(platform::Thread::kDefaultJoinMs);
}

bool ChannelCommands::has_port() const {
  return !services_.app.options.no_port();
}

bool ChannelCommands::operation_runs() const {
  // An operation's window that a person keeps open after its end holds the next operation
  // back as well: starting one then would wait on the UI thread and start nothing.
  return services_.device->busy() || services_.device->window_open() || ticking_.load() ||
         exchanging_.load();
}

bool ChannelCommands::polling_on() const {
  const PollingGuard* guard = services_.document.polling_guard();
  if (guard != nullptr && guard->AnyPollingOn()) return true;
  const DescBranch* operational = services_.document.operational_tree();
  return operational != nullptr && AnyPollingOn(*operational);
}

void ChannelCommands::run(const ChannelRequest& r) {
  if (detached_) return;
  if (r.word == channel_word::kStatus) return status();
  if (operation_runs()) return answer("!busy " + r.word);
  if (r.word == channel_word::kGet) return get(r);
  if (r.word == channel_word::kSet) return set(r);
  if (r.word == channel_word::kRead || r.word == channel_word::kWrite ||
      r.word == channel_word::kCompare) {
    return operation(r);
  }
  if (r.word == channel_word::kOpen) return open(r);
  if (r.word == channel_word::kSave) return save(r);
  error(r.word, "not available");
}

void ChannelCommands::status() {
  std::string line = "!status";
  if (DeviceIO* io = services_.io) {
    const Sio& s = io->sio();
    line += platform::format(" port %s bps %i len %i prty %s sbit %i addr %i alen %i",
                             s.port_name().c_str(), s.baud_rate(), s.data_bits(),
                             parity_word(s.parity_code()), s.stop_bits(), s.device_address(),
                             s.address_length());
    line += !has_port() ? " link none" : s.is_open() ? " link open" : " link closed";
  } else {
    line += " link none";
  }
  line += operation_runs() ? " operation running" : " operation idle";
  answer(escape_for_line(line));
}

Parameter* ChannelCommands::find(const ChannelParameterName& name) const {
  Parameter* other_case = nullptr;
  for (Parameter& p : services_.document.table()) {
    if (name.index && (!p.indexed || p.linear_index != *name.index)) continue;
    if (name.offset && p.address_offset != *name.offset) continue;
    if (p.short_name == name.name) return &p;
    if (other_case == nullptr && platform::iequals(p.short_name, name.name)) other_case = &p;
  }
  return other_case;
}

void ChannelCommands::get(const ChannelRequest& r) {
  const std::string name = r.parameter.text();
  if (!has_port()) return error(name, "no port: the program runs without an instrument");
  Parameter* p = find(r.parameter);
  if (p == nullptr) return error(name, "no such parameter");
  // One exchange with the instrument, as the single-parameter read does it.
  // No count of failures in a row here: that belongs to the walks over the tree.
  run_exchange(
      name, *p, [](DeviceOperations& d, Parameter& q) { return d.ReadParameter(q, false); },
      "read failed");
}

void ChannelCommands::set(const ChannelRequest& r) {
  const std::string name = r.parameter.text();
  if (!has_port()) return error(name, "no port: the program runs without an instrument");
  Parameter* p = find(r.parameter);
  if (p == nullptr) return error(name, "no such parameter");
  if (is_command_record(*p)) return error(name, "a command of the instrument, not a value");
  if (!p->writable()) return error(name, "read-only parameter");
  // The very rules of a cell edit in the tree; their refusal's text is the error's note. The
  // rules get no device: they would queue an immediate write of their own, and the write
  // below is the one the peer waits for.
  FirstBoxText box;
  EditEnd rules(box, services_.app.modes, nullptr);
  rules.set_network_elements(nullptr, services_.document.network_branch());
  rules.set_polling_guard(services_.document.polling_guard());
  std::string previous;
  {
    ValueReadLock lock(*p);
    previous = p->value;
  }
  const bool operational = p->owns_polling_timer();
  const EditEnd::Outcome outcome =
      rules.end_edit(*p, EditEnd::kValue, r.text, previous, operational);
  if (outcome.result == EditEnd::Outcome::Result::Refused) {
    return error(name, box.text().empty() ? "refused" : box.text());
  }
  // One exchange, as the single-parameter write does it; a polled value is written as the
  // tree writes it at once.
  run_exchange(
      name, *p,
      [operational](DeviceOperations& d, Parameter& q) {
        return operational ? d.WriteValue(q, kWriteAll) : d.WriteParameter(q, kWriteAll);
      },
      "write failed");
}

void ChannelCommands::run_exchange(std::string name, Parameter& parameter,
                                   std::function<int(DeviceOperations&, Parameter&)> exchange,
                                   std::string failed_note) {
  // Busy from here on: the next word gets "!busy" and the window starts nothing until the
  // answer has been handed over.
  exchanging_.store(true);
  services_.device->begin_outside_exchange();
  exchange_.start([self = shared_from_this(), name = std::move(name), p = &parameter,
                   exchange = std::move(exchange), failed_note = std::move(failed_note)] {
    DeviceOperations& d = *self->services_.device;
    const int result = exchange(d, *p);
    std::string value, note;
    bool failed = false;
    {
      ValueReadLock lock(*p);
      value = p->value;
      note = p->note;
      failed = p->outcome.failed();
    }
    // Idle before the answer goes out: the peer may send its next word as soon as it reads it.
    d.end_outside_exchange();
    self->exchanging_.store(false);
    if (result == 0 && !failed) {
      self->answer("!value " + escape_for_line(name) + " " + escape_for_line(value));
    } else {
      self->error(name, note.empty() ? failed_note : note);
    }
  });
}

void ChannelCommands::operation(const ChannelRequest& r) {
  if (!has_port()) return error(r.word, "no port: the program runs without an instrument");
  const int code = r.word == channel_word::kRead    ? command::kReadAll
                   : r.word == channel_word::kWrite ? command::kWriteAll
                                                    : command::kCompare;
  services_.document.OnCommand(code);
  if (!services_.document.operation_started()) return error(r.word, "the operation did not start");
  ticker_.join(platform::Thread::kDefaultJoinMs);
  ticker_stop_.reset();
  ticking_.store(true);
  ticker_.start([this] { watch_operation(); });
}

void ChannelCommands::watch_operation() {
  DeviceOperations& d = *services_.device;
  int done = -1, total = -1, errors = -1;
  for (;;) {
    const bool idle = !d.busy();
    if (d.done() != done || d.total() != total || d.errors() != errors) {
      done = d.done();
      total = d.total();
      errors = d.errors();
      answer(platform::format("!progress %d %d %d", done, total, errors));
    }
    if (idle) break;
    if (ticker_stop_.wait(kProgressStepMs, platform::Clock::real())) {
      ticking_.store(false);
      return;
    }
  }
  const int code = d.operation_stopped() ? channel_done::kStopped
                   : d.errors() > 0      ? channel_done::kParametersFailed
                                         : channel_done::kCompleted;
  // The next command may come as soon as "!done" is read.
  ticking_.store(false);
  answer(platform::format("!done %d %d", code, d.errors()));
}

void ChannelCommands::open(const ChannelRequest& r) {
  // A name that came with a byte Windows-1251 leaves undefined names no file we could find.
  if (r.text.find("\xEF\xBF\xBD") != std::string::npos) {
    return error(r.word, "the file name cannot be encoded");
  }
  if (services_.document.modified() && !r.force) {
    return error(r.word, "the configuration has unsaved changes; \"!open FILE force\" drops them");
  }
  // Opening replaces the parameters that are being polled: refused as the menu's open is, with
  // its text, but without a box for nobody to see.
  if (polling_on()) return error(r.word, kPollingRunsText);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(r.text, ec)) {
    return error(r.word, "no such file: " + file_word(r.text));
  }
  const bool opened = opener_ ? opener_(r.text) : services_.document.OnOpenDocument(r.text);
  if (!opened) {
    return error(r.word, "not a configuration that could be opened: " + file_word(r.text));
  }
  answer("!ok open " + escape_for_line(file_word(r.text)));
}

void ChannelCommands::save(const ChannelRequest& r) {
  if (r.text.find("\xEF\xBF\xBD") != std::string::npos) {
    return error(r.word, "the file name cannot be encoded");
  }
  if (!services_.document.OnSaveDocument(r.text)) {
    return error(r.word, "could not be saved: " + file_word(r.text));
  }
  answer("!ok save " + escape_for_line(file_word(r.text)));
}

std::shared_ptr<ChannelCommands> attach_channel_commands(NetConfig::CConnection& channel,
                                                         ChannelCommandServices services) {
  auto commands = std::make_shared<ChannelCommands>(channel, std::move(services));
  channel.set_command_handler(commands);
  return commands;
}

void detach_channel_commands(NetConfig::CConnection& channel,
                             std::shared_ptr<ChannelCommands>& commands) {
  if (!commands) return;
  channel.set_command_handler(nullptr);
  commands->detach();
  commands.reset();
}

}  // namespace kba604
