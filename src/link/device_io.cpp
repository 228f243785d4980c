#include "link/device_io.h"

#include <cstring>
#include <optional>

#include "app/translatable.h"
#include "link/frame_codec.h"
#include "link/modbus.h"
#include "model/device_codes.h"
#include "model/talv_codec.h"
#include "platform/text.h"

namespace kba604 {

// What a request changes in its parameter, gathered while it talks to the instrument.
struct DeviceIO::RequestState {
  std::string value;
  bool value_changed = false;
  bool clear_changed = false;
  bool editable = true;
  bool factory = false;
  bool clear_attribute_changes = false;
  std::string note;
  ExchangeOutcome outcome;
  bool replied = false;
  std::vector<std::uint8_t> reply;

  // Under the parameter's value lock.
  void commit(Parameter& p) const {
    if (value_changed) p.value = value;
    if (clear_changed) p.changed = false;
    p.editable = editable;
    p.factory = factory;
    if (clear_attribute_changes) {
      p.editability_changed = false;
      p.owner_changed = false;
    }
    p.note = note;
    p.outcome = outcome;
    if (replied) p.store_reply(reply.data(), reply.size());
  }
};

namespace {

// What a request's outcome says about the line; nothing for a request that never reached it.
std::optional<DeviceIO::LinkState> link_state_of(const ExchangeOutcome& outcome) {
  using Kind = ExchangeOutcome::Kind;
  const Kind kind = outcome.kind == Kind::AttributeFailure ? outcome.cause : outcome.kind;
  switch (kind) {
    case Kind::Success:
    case Kind::Refused:
    case Kind::NotDecodable:
    case Kind::AttributeReplySize:
      return DeviceIO::LinkState::Answers;
    case Kind::Timeout:
    case Kind::LineFault:
    case Kind::LostStart:
    case Kind::LostPort:
    case Kind::Checksum:
    case Kind::ForeignReply:
      return DeviceIO::LinkState::Silent;
    default:
      return std::nullopt;
  }
}

const char* const kUndecodableText = "Не могу раскодировать ответ";
const char* const kBadReplyText = "Некорректный ответ";
const char* const kNotEncodableText = "Неверное значение (не удается закодировать данные)";
const char* const kAttributeSizeText =
    "Ошибка атрибутов; размер ответа не совпадает с ожидаемым.\n";
const char* const kPortErrorCaption =
    KBA604_TR_NOOP("Messages", "Ошибка драйвера последовательного порта");
const char* const kPortErrorText = KBA604_TR_NOOP(
    "Messages",
    "Не удается открыть порт %s. Связь с сетью отсутствует. Проверьте сетевые параметры");

// A data byte as the trace lines show it: the character itself (Windows-1251 on the line),
// or "." for a control code.
std::string shown_char(std::uint8_t byte) {
  if (byte < 32) return ".";
  return platform::from_cp1251(std::string(1, static_cast<char>(byte)));
}

void trace_request(std::vector<std::string>* trace, const std::vector<std::uint8_t>& data) {
  if (trace == nullptr) return;
  trace->push_back(
      platform::format("Размер инф-ой части посылки %i байт.", static_cast<int>(data.size())));
  for (std::size_t i = 0; i < data.size(); ++i) {
    trace->push_back(platform::format(">> Посылка: #%2i : %03i = 0x%02X (", static_cast<int>(i),
                                      data[i], data[i]) +
                     shown_char(data[i]) + ")");
  }
}

void trace_reply(std::vector<std::string>* trace, const std::uint8_t* reply, int count) {
  if (trace == nullptr) return;
  for (int i = 0; i < count; ++i) {
    trace->push_back(platform::format("<< Ответ: #%2i : %03i = 0x%02hx (", i, reply[i],
                                      static_cast<unsigned short>(reply[i])) +
                     shown_char(reply[i]) + ")");
  }
  trace->push_back(
      platform::format("Инф-ная часть квитанции ответа имеет размер %1i байт.", count));
}

}  // namespace

std::string raw_exchange_text(int code) {
  switch (code) {
    case 2:
      return kTimeoutText;
    case 3:
      return "Ошибки на линии связи";
    case 4:
      return "Ошибка в контрольной сумме";
    case 5:
      return "Адрес устройства в запросе не соответствует адресу в ответе.";
    case 6:
      return kBadReplyText;
    default:
      return {};
  }
}

ExchangeOutcome raw_exchange_outcome(int code) {
  using Kind = ExchangeOutcome::Kind;
  switch (code) {
    case kRawOk:
      return {};
    case kRawAddressTooLong:
      return ExchangeOutcome::of(Kind::AddressTooLong);
    case kRawTimeout:
      return ExchangeOutcome::of(Kind::Timeout);
    case kRawLineErrors:
      return ExchangeOutcome::of(Kind::LineFault);
    case kRawChecksum:
      return ExchangeOutcome::of(Kind::Checksum);
    case kRawAddressMismatch:
      return ExchangeOutcome::of(Kind::ForeignReply);
    default:
      // A malformed reply, or an echo that differs from the switch-back command.
      return ExchangeOutcome::of(Kind::EchoMismatch);
  }
}

DeviceIO::DeviceIO(CKBA604App& app, platform::SettingsStore& settings, Sio::LineOpener opener)
    : app_(app),
      sio_(link_lock_, app.clock(), settings, std::move(opener)),
      program_settings_(&settings, [this] { return sio_.list_ports(); }) {
  // The converter type is the program's RS-485 direction mode itself: the menu and the
  // converter flip of the connection check switch the same flag.
  sio_.share_converter_flag(app.modes.rs485_type);
}

DeviceIO::~DeviceIO() {
  // A transfer still waiting somewhere ends at once.
  sio_.exit_event().set();
  std::lock_guard lock(link_lock_);
  sio_.close_port();
}

void DeviceIO::set_control_channel(NetParamChannel* channel) {
  std::lock_guard lock(channel_mutex_);
  channel_ = channel;
}

int DeviceIO::transact_parameter(std::vector<std::string>* trace, Parameter* parameter,
                                 int request_bit, bool value_as_position, bool without_attributes) {
  if (app_.options.no_port()) return kRequestOk;
  // A closed port is opened for this request only; it is not closed under anyone else.
  Sio::TemporaryOpening opening(sio_);
  if (protocol_mode() != kProtocolTalv) return switch_back(parameter);
  if (parameter == nullptr) return kRequestFailed;
  Parameter& p = *parameter;
  // The request works on its own copy of what it may change and puts it into the parameter at
  // once under the table's value lock: a view never sees half of a request, and no lock is
  // held while the line is busy.
  RequestState state;
  {
    ValueReadLock lock(p);
    state.value = p.value;
    state.editable = p.editable;
    state.factory = p.factory;
  }
  const int result = request(trace, p, state, request_bit, value_as_position, without_attributes);
  if (std::optional<LinkState> heard = link_state_of(state.outcome)) link_state_.store(*heard);
  {
    ValueWriteLock lock(p);
    state.commit(p);
  }
  return result;
}

int DeviceIO::request(std::vector<std::string>* trace, const Parameter& p, RequestState& s,
                      int request_bit, bool value_as_position, bool without_attributes) {
  const bool attributes_travel = !app_.modes.no_attributes.load() && !without_attributes;

  // A value that cannot be sent fails before the line: the trace says why, and so does the
  // note (the value's own words when it has them, "Сетевое имя пусто"), since callers count and
  // show a failure only when it carries a note.
  auto refuse = [&](const std::string& why, const std::string& own_words,
                    ExchangeOutcome::Kind kind, int result) {
    if (trace != nullptr) trace->push_back(why);
    s.note = own_words.empty() ? why : own_words;
    s.outcome = ExchangeOutcome::of(kind);
    return result;
  };
  std::vector<std::uint8_t> data;
  if (request_bit == 0) {
    std::string message;
    const EncodeContext context{document_open_.load(), app_.modes.access_level.load()};
    const int converted = p.ConvertToData(s.value, value_as_position, context, data, message);
    if (converted == kNoWriteMethod) {
      return refuse(
          "Метод формирования посылки записи для команды '" + p.short_name + "' не определен.",
          message, ExchangeOutcome::Kind::NoWriteMethod, kRequestNoWriteForm);
    }
    if (converted == kNotEncodable) {
      return refuse(kNotEncodableText, {}, ExchangeOutcome::Kind::NotEncodable,
                    kRequestNotEncodable);
    }
    if (converted != kEncoded && trace != nullptr) {
      trace->push_back("Предупреждение: странный ответ от ConvertToData(...)");
    }
  }
  if (p.indexed) {
    data.push_back(static_cast<std::uint8_t>((p.linear_index >> 8) & 0xFF));
    data.push_back(static_cast<std::uint8_t>(p.linear_index & 0xFF));
  }
  // A frame carries at most 15 data bytes; a longer value would be cut into a wrong one.
  if (data.size() > static_cast<std::size_t>(kMaxRequestData)) {
    return refuse(kNotEncodableText, {}, ExchangeOutcome::Kind::NotEncodable, kRequestNotEncodable);
  }
  trace_request(trace, data);

  int result = value_exchange(trace, p, s, request_bit, data);
  const std::uint16_t hash = hash_name(p.short_name);

  if (result == kRequestOk && p.attribute_multiplicity > 0 && attributes_travel &&
      p.linear_index % p.attribute_multiplicity == 0) {
    result = exchange_attributes(request_bit, &s.editable, hash, p.indexed, p.linear_index,
                                 &s.factory, &s.note, &s.outcome);
    if (result == 0) {
      s.clear_attribute_changes = true;
    }
  }

  if (result == kRequestWriteRefused && request_bit == 0 && max_access() && !s.factory &&
      app_.modes.access_level.load() >= 2) {
    // The access attributes forbid the write: open them, write once more, close them again.
    const std::string refusal = s.note;
    const ExchangeOutcome refusal_outcome = s.outcome;
    s.note.clear();
    const bool remembered = s.editable;
    s.editable = true;
    bool repeated = false;
    if (exchange_attributes(0, &s.editable, hash, p.indexed, p.linear_index, &s.factory, &s.note) ==
        0) {
      s.note.clear();
      result = value_exchange(trace, p, s, 0, data);
      repeated = true;
      const std::string repeat_note = s.note;
      const ExchangeOutcome repeat_outcome = s.outcome;
      s.editable = remembered;
      ExchangeOutcome closing;
      if (exchange_attributes(0, &s.editable, hash, p.indexed, p.linear_index, &s.factory, &s.note,
                              &closing) == 0) {
        s.clear_attribute_changes = true;
      } else if (repeat_outcome.ok()) {
        // The value went in but its attributes stayed open: a failure the operation counts.
        s.outcome = closing;
      }
      // The note and the outcome tell about the value first.
      if (!repeat_outcome.ok()) {
        s.note = repeat_note;
        s.outcome = repeat_outcome;
      }
    } else {
      s.editable = remembered;
    }
    if (!repeated) {
      s.note = refusal;
      s.outcome = refusal_outcome;
    }
  }
  return result;
}

int DeviceIO::value_exchange(std::vector<std::string>* trace, const Parameter& p, RequestState& s,
                             int request_bit, const std::vector<std::uint8_t>& data) {
  std::uint8_t reply[kMaxReplyData] = {};
  int count = 0;
  std::string error;
  const ExchangeOutcome outcome =
      exchange_frame(*this, request_bit, hash_name(p.short_name), data.data(),
                     static_cast<int>(data.size()), p.address_offset, reply, &count, &error);
  s.reply.assign(reply, reply + count);
  s.replied = true;
  if (!outcome.ok()) {
    s.note = error;
    s.outcome = outcome;
    return outcome.refused_with(kEditingForbidden) ? kRequestWriteRefused : kRequestFailed;
  }
  trace_reply(trace, reply, count);

  std::string text;
  if (p.ConvertFromData(reply, static_cast<std::size_t>(count), p.indexed, text) == kNotDecodable) {
    s.note = kUndecodableText;
    s.outcome = ExchangeOutcome::of(ExchangeOutcome::Kind::NotDecodable);
    s.value.clear();
    s.value_changed = true;
    return kRequestUndecodable;
  }
  s.outcome = {};
  s.value = text;
  s.value_changed = true;
  s.clear_changed = true;
  return kRequestOk;
}

int DeviceIO::switch_back(Parameter* parameter) {
  std::uint8_t reply[32] = {};
  int count = 0;
  int result =
      exchange_raw(kSwitchBackCommand, static_cast<int>(sizeof kSwitchBackCommand), reply, &count);
  if (result == kRawOk && (count != static_cast<int>(sizeof kSwitchBackCommand) ||
                           std::memcmp(reply, kSwitchBackCommand, sizeof kSwitchBackCommand))) {
    result = kRequestBadEcho;
  }
  if (parameter != nullptr) {
    ValueWriteLock lock(*parameter);
    parameter->note = raw_exchange_text(result);
    parameter->outcome = raw_exchange_outcome(result);
  }
  return result;
}

int DeviceIO::exchange_attributes(int request_bit, bool* editable, std::uint16_t hash, bool indexed,
                                  int index, bool* factory, std::string* error_text,
                                  ExchangeOutcome* outcome) {
  if (request_bit == 0 && app_.modes.access_level.load() < 2) return 0;
  std::uint8_t data[5];
  int count = 0;
  if (request_bit == 0) {
    data[count++] = static_cast<std::uint8_t>((*editable ? 1 : 0) | (*factory ? 0 : 2));
  }
  if (indexed) {
    data[count++] = 0;
    data[count++] = static_cast<std::uint8_t>(index & 0xFF);
  }
  data[count++] = static_cast<std::uint8_t>(hash >> 8);
  data[count++] = static_cast<std::uint8_t>(hash & 0xFF);

  const bool master = max_access();
  std::uint8_t reply[kMaxReplyData] = {};
  int reply_count = 0;
  const ExchangeOutcome frame =
      exchange_frame(*this, request_bit, hash_name(master ? "M.s.t.r." : "Attr"), data, count, 0,
                     reply, &reply_count, error_text);
  if (!frame.ok()) {
    if (outcome != nullptr) *outcome = ExchangeOutcome::attribute_failure(frame);
    return kRequestAttributesFailed;
  }
  if (reply_count != (indexed ? 5 : 3)) {
    *error_text = kAttributeSizeText;
    if (outcome != nullptr) {
      *outcome = ExchangeOutcome::of(ExchangeOutcome::Kind::AttributeReplySize);
    }
    return kRequestAttributesSize;
  }
  *editable = (reply[0] & 1) != 0;
  if (master) *factory = (reply[0] & 2) == 0;
  return 0;
}

int DeviceIO::exchange_raw(const std::uint8_t* data, int count, std::uint8_t* reply,
                           int* reply_count) {
  *reply_count = 0;
  if (sio_.address_length() > 8) return kRawAddressTooLong;
  const auto address = static_cast<std::uint8_t>(sio_.device_address() & 0xFF);
  std::vector<std::uint8_t> packet(1 + static_cast<std::size_t>(count));
  packet[0] = address;
  if (count > 0) std::memcpy(packet.data() + 1, data, static_cast<std::size_t>(count));
  const bool rtu = protocol_mode() == kProtocolModbusRtu;
  const std::string frame = rtu ? frame_modbus_rtu(packet) : frame_modbus_ascii(packet);

  std::lock_guard lock(link_lock_);
  char chars[32];
  static_assert(sizeof chars >= Sio::kMaxReply, "a transfer fills up to Sio::kMaxReply characters");
  std::size_t received = 0;
  int timeouts = 0;
  int line_errors = 0;
  for (;;) {
    const int result = sio_.transfer(frame.data(), frame.size(), chars, &received);
    if (result == Sio::kTimeout) {
      // Perhaps the converter is of the other kind.
      sio_.flip_converter();
      if (timeouts == 3) return kRawTimeout;
      ++timeouts;
      continue;
    }
    if (result == Sio::kLineError) {
      if (line_errors == 16) return kRawLineErrors;
      ++line_errors;
      continue;
    }
    break;
  }

  std::vector<std::uint8_t> answer;
  const int unframed = rtu ? unframe_modbus_rtu(chars, received, &answer)
                           : unframe_modbus_ascii(chars, received, &answer);
  if (unframed != 0) return unframed;
  if (answer[0] != address) return kRawAddressMismatch;
  *reply_count = static_cast<int>(answer.size() - 1);
  std::memcpy(reply, answer.data() + 1, answer.size() - 1);
  return kRawOk;
}

std::vector<std::string> DeviceIO::load_port_settings() {
  std::lock_guard lock(link_lock_);
  std::vector<std::string> lines;
  const Elements::NetRS485prg& e = program_settings_;

  const std::string port = e.GetValueByName("Port");
  if (!port.empty() && !platform::iequals(port, sio_.port_name())) {
    sio_.set_port_name(port);
    lines.push_back("!netparam Port " + port);
  }
  // A text that is no number (an unset value) leaves the port's setting as it is.
  auto number = [&e](const char* name, int* out) {
    const std::string text = e.GetValueByName(name);
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
    *out = static_cast<int>(v);
    return true;
  };
  struct NumberSetting {
    const char* name;
    const char* announced;
    int (Sio::*get)() const;
    void (Sio::*set)(int);
  };
  static constexpr NumberSetting kNumbers[] = {
      {"bPS", "bPS", &Sio::baud_rate, &Sio::set_baud_rate},
      {"Addr", "Addr", &Sio::device_address, &Sio::set_device_address},
      {"A.Len", "Alen", &Sio::address_length, &Sio::set_address_length},
      {"LEn", "len", &Sio::data_bits, &Sio::set_data_bits},
      {"Sbit", "Sbit", &Sio::stop_bits, &Sio::set_stop_bits},
  };
  for (const auto& s : kNumbers) {
    int v = 0;
    if (number(s.name, &v) && v != (sio_.*s.get)()) {
      (sio_.*s.set)(v);
      lines.push_back(platform::format("!netparam %s %i", s.announced, v));
    }
  }
  const int parity = Elements::parity_code_of(e.GetValueByName("PrtY"));
  if (parity > 0 && parity != sio_.parity_code()) {
    sio_.set_parity_code(parity);
    lines.push_back(std::string("!netparam Prty ") + (parity == 1   ? "even"
                                                      : parity == 4 ? "odd"
                                                                    : "no"));
  }
  return lines;
}

void DeviceIO::announce(const std::vector<std::string>& lines) {
  if (lines.empty() || !(app_.options.mode_flags.load() & StartOptions::kUniGiven)) return;
  std::lock_guard lock(channel_mutex_);
  if (channel_ == nullptr) return;
  for (const auto& line : lines) channel_->announce(line);
}

int DeviceIO::reopen_port(bool show_message) {
  int result;
  std::string port;
  std::string fault;
  bool refused = false;
  std::vector<std::string> lines;
  {
    std::lock_guard lock(link_lock_);
    sio_.close_port();
    lines = load_port_settings();
    const std::uint16_t modes = app_.options.mode_flags.load();
    if (modes & (StartOptions::kSilent | StartOptions::kNoPort)) {
      result = -1;
    } else {
      result = sio_.open_port();
      link_state_.store(result != 0 ? LinkState::PortClosed : LinkState::Unknown);
      if (result != 0) {
        app_.exit_flags.set_bits(ExitFlags::kPortOpenFailed);
        fault = sio_.open_fault();
        refused = sio_.settings_refused();
      } else {
        app_.exit_flags.clear_bits(ExitFlags::kPortOpenFailed);
      }
      port = sio_.port_name();
    }
    // The settings taken into use are kept, so that a program that is killed keeps them too;
    // settings the port refused are used for this run only and never reach the settings file.
    program_settings_.hold_saving(refused);
    program_settings_.save();
  }
  // With switches no box is shown: the reason goes to the log, once for each new reason (the
  // connection check reopens the port several times).
  if (fault.empty()) {
    std::lock_guard lock(fault_mutex_);
    told_fault_.clear();
  } else if (app_.options.any_switch()) {
    bool tell = false;
    {
      std::lock_guard lock(fault_mutex_);
      tell = fault != told_fault_;
      told_fault_ = fault;
    }
    if (tell) {
      app_.prompter().show(
          fault + (refused ? "; эти настройки действуют только сейчас и не сохраняются" : ""),
          kPortErrorCaption, PromptIcon::Error);
    }
  }
  // Outside the link lock: the control channel and a person may take their time.
  announce(lines);
  if (result != 0 && !port.empty() && show_message && !app_.options.any_switch()) {
    app_.prompter().show(platform::format(kPortErrorText, port.c_str()), kPortErrorCaption,
                         PromptIcon::None);
  }
  return result;
}

}  // namespace kba604
