#include "app/command_line.h"

#include <algorithm>
#include <array>

#include "app/translatable.h"
#include "platform/text.h"

namespace kba604 {
namespace {

using namespace switch_trait;

void set_field(std::atomic<std::uint16_t>& word, int shift, unsigned bits, unsigned value) {
  const std::uint16_t mask = static_cast<std::uint16_t>(bits << shift);
  std::uint16_t v = word.load();
  v = static_cast<std::uint16_t>((v & ~mask) | ((value << shift) & mask));
  word.store(v);
}

std::string quoted(std::string_view name) {
  return "«" + std::string(name) + "»";
}

void line_settings_given(CommandLineState& s) {
  s.options.switch_flags.fetch_or(StartOptions::kLineSettingsGiven);
}

// A text switch whose value does not fit its field is refused whole rather than cut.
bool fits(CommandLineState& s, const SwitchArg& a, std::size_t max_length) {
  if (platform::cp1251_length(a.text) <= max_length) return true;
  s.messages.push_back(platform::format("значение ключа %s длиннее %zu символов; ключ пропущен",
                                        quoted(a.name).c_str(), max_length));
  return false;
}

void set_switch_flag(CommandLineState& s, std::uint32_t flag) {
  s.options.switch_flags.fetch_or(flag);
}

void apply_port(CommandLineState& s, const SwitchArg& a) {
  if (s.newnetparam_seen) return;
  // COM ports are numbered 1-255 (0: no port). Keeping the low 8 bits of a larger number would
  // open some other port than the one asked for.
  if (a.number < 0 || a.number > 255) {
    s.usage_errors.push_back(platform::format(
        "номер порта %d вне пределов 0-255 (/port:N означает COMN, /port:0 - без порта)",
        static_cast<int>(a.number)));
    return;
  }
  s.options.port.store(static_cast<std::uint8_t>(a.number));
  line_settings_given(s);
}

void apply_bps(CommandLineState& s, const SwitchArg& a) {
  s.options.bps.store(static_cast<std::uint32_t>(a.number));
  line_settings_given(s);
}

void apply_prty(CommandLineState& s, const SwitchArg& a) {
  const int parity = a.text == "even" ? 1 : a.text == "odd" ? 2 : a.text == "no" ? 3 : 0;
  if (parity == 0) {
    // An unknown parity withdraws the line settings given so far, so none are applied.
    s.options.switch_flags.fetch_and(~StartOptions::kLineSettingsGiven);
    return;
  }
  set_field(s.options.line_settings, 2, 0x3, static_cast<unsigned>(parity));
  line_settings_given(s);
}

void apply_addr(CommandLineState& s, const SwitchArg& a) {
  if (!fits(s, a, 5)) return;
  s.options.set_addr(std::string(a.text));
  if (!a.text.empty()) line_settings_given(s);
}

void apply_sbit(CommandLineState& s, const SwitchArg& a) {
  if (!fits(s, a, 5)) return;
  s.options.set_sbit(std::string(a.text));
  if (!a.text.empty()) line_settings_given(s);
}

void apply_len(CommandLineState& s, const SwitchArg& a) {
  set_field(s.options.line_settings, 4, 0xF, static_cast<unsigned>(a.number) & 0xF);
  line_settings_given(s);
}

void apply_alen(CommandLineState& s, const SwitchArg& a) {
  set_field(s.options.line_settings, 8, 0xF, static_cast<unsigned>(a.number) & 0xF);
  line_settings_given(s);
}

void apply_rs485(CommandLineState& s, const SwitchArg& a) {
  const int mode = a.text == "auto" ? 1 : a.text == "off" ? 2 : a.text == "on" ? 3 : 0;
  if (mode != 0) set_field(s.options.line_settings, 12, 0x3, static_cast<unsigned>(mode));
}

void apply_geometry(CommandLineState& s, const SwitchArg& a) {
  StartOptions& o = s.options;
  const char c = a.name[0];
  auto& field = c == 'x' ? o.x : c == 'y' ? o.y : c == 'w' ? o.w : o.h;
  field.store(a.number);
  o.geometry_mask.fetch_or(c == 'x'   ? StartOptions::kXGiven
                           : c == 'y' ? StartOptions::kYGiven
                           : c == 'w' ? StartOptions::kWGiven
                                      : StartOptions::kHGiven);
}

void apply_on_off(CommandLineState& s, const SwitchArg& a, std::uint16_t on, std::uint16_t off) {
  if (a.text == "on") s.options.mode_flags.fetch_or(on);
  if (a.text == "off") s.options.mode_flags.fetch_or(off);
}

void apply_uni(CommandLineState& s, const SwitchArg& a) {
  if (!fits(s, a, 11)) return;
  s.options.set_uni(std::string(a.text));
  s.options.mode_flags.fetch_or(StartOptions::kUniGiven);
}

void apply_newnetparam(CommandLineState& s, const SwitchArg&) {
  s.newnetparam_seen = true;
  s.options.mode_flags.fetch_or(StartOptions::kNewNetParam);
  s.options.switch_flags.fetch_and(~StartOptions::kLineSettingsGiven);
  s.options.port.store(0);
}

void apply_io(CommandLineState& s, const SwitchArg& a) {
  s.options.switch_flags.fetch_and(~StartOptions::kLineSettingsGiven);
  const std::size_t colon = a.text.find(':');
  const std::string_view kind = a.text.substr(0, colon);
  if (kind == "stdio") {
    set_field(s.options.line_settings, 0, 0x3, 1);
  } else if (kind == "pipe") {
    const std::string_view pipe =
        colon == std::string_view::npos ? std::string_view() : a.text.substr(colon + 1);
    if (pipe.empty()) {
      s.messages.push_back("ключ «io:pipe» не называет канал; ключ пропущен");
      return;
    }
    s.pipe_name = std::string(pipe);
    set_field(s.options.line_settings, 0, 0x3, 2);
  } else if (kind == "socket") {
    set_field(s.options.line_settings, 0, 0x3, 3);
  }
}

// The switch table. To add a switch, add one entry here: its name (lower case), what it takes
// after ":" (SwitchValue), its traits (kValueRequired: refused with exit code 2 when given
// without a value; kPresentation: only how the program shows or logs its work, sets no
// SwitchFlags 0x20), its handler (or nullptr: the value is then only kept and read with
// CmyCommandLineInfo::value(name)), how --help shows its value, and its meaning in one line.
// The usage text and README.md list them in this order. For example a log file that only
// changes what the program reports:
//   {"trace", SwitchValue::File, kPresentation | kValueRequired, nullptr, "ФАЙЛ", "..."},
const std::array kSwitches = std::to_array<SwitchEntry>({
    {"write", SwitchValue::None, 0, [](auto& s, auto&) { set_switch_flag(s, StartOptions::kWrite); },
     "", KBA604_TR_NOOP("Help", "записать в прибор все параметры названного файла конфигурации")},
    {"read", SwitchValue::None, 0, [](auto& s, auto&) { set_switch_flag(s, StartOptions::kRead); },
     "", KBA604_TR_NOOP("Help", "считать из прибора все параметры и сохранить их в названный файл")},
    {"port", SwitchValue::Number, 0, apply_port, "N",
     KBA604_TR_NOOP("Help", "порт COMN (1-255); 0 - работать без порта")},
    {"bps", SwitchValue::Number, 0, apply_bps, "N", KBA604_TR_NOOP("Help", "скорость обмена, бод")},
    {"prty", SwitchValue::Text, 0, apply_prty, "even|odd|no",
     KBA604_TR_NOOP("Help", "четность; другое значение отменяет настройки линии командной строки")},
    {"addr", SwitchValue::Text, 0, apply_addr, KBA604_TR_NOOP("Help", "АДРЕС"), KBA604_TR_NOOP("Help", "адрес прибора (до 5 символов)")},
    {"len", SwitchValue::Number, 0, apply_len, "N", KBA604_TR_NOOP("Help", "число бит данных")},
    {"sbit", SwitchValue::Text, 0, apply_sbit, KBA604_TR_NOOP("Help", "ТЕКСТ"), KBA604_TR_NOOP("Help", "число стоповых бит (до 5 символов)")},
    {"alen", SwitchValue::Number, 0, apply_alen, "N", KBA604_TR_NOOP("Help", "длина адреса")},
    {"rs485", SwitchValue::Text, 0, apply_rs485, "auto|off|on",
     KBA604_TR_NOOP("Help", "режим RS-485: off - автоматический преобразователь, auto и on - полуавтоматический")},
    {"aply", SwitchValue::None, 0, [](auto& s, auto&) { set_switch_flag(s, StartOptions::kAply); },
     "", KBA604_TR_NOOP("Help", "передать настройки линии командной строки и в сетевые настройки прибора")},
    {"x", SwitchValue::Number, 0, apply_geometry, "N", KBA604_TR_NOOP("Help", "левый край окна, точек")},
    {"y", SwitchValue::Number, 0, apply_geometry, "N", KBA604_TR_NOOP("Help", "верхний край окна, точек")},
    {"w", SwitchValue::Number, 0, apply_geometry, "N", KBA604_TR_NOOP("Help", "ширина окна; /w:0/h:0 - окно скрыто")},
    {"h", SwitchValue::Number, 0, apply_geometry, "N", KBA604_TR_NOOP("Help", "высота окна")},
    {"autoread", SwitchValue::Text, 0,
     [](auto& s, auto& a) {
       apply_on_off(s, a, StartOptions::kAutoReadOn, StartOptions::kAutoReadOff);
     },
     "on|off", KBA604_TR_NOOP("Help", "автоматическое чтение параметров")},
    {"autowrite", SwitchValue::Text, 0,
     [](auto& s, auto& a) {
       apply_on_off(s, a, StartOptions::kAutoWriteOn, StartOptions::kAutoWriteOff);
     },
     "on|off", KBA604_TR_NOOP("Help", "немедленная запись измененных параметров")},
    {"silent", SwitchValue::None, 0,
     [](auto& s, auto&) {
       s.options.mode_flags.fetch_or(StartOptions::kSilent | StartOptions::kAutoReadOff |
                                     StartOptions::kAutoWriteOff);
     },
     "", KBA604_TR_NOOP("Help", "без порта, без автоматического чтения и немедленной записи")},
    {"close", SwitchValue::None, 0, [](auto& s, auto&) { set_switch_flag(s, StartOptions::kClose); },
     "", KBA604_TR_NOOP("Help", "завершить программу, когда команда командной строки выполнена")},
    {"calibrate", SwitchValue::None, 0,
     [](auto& s, auto&) { set_switch_flag(s, StartOptions::kCalibrate); }, "",
     KBA604_TR_NOOP("Help", "открыть мастер калибровки; по его окончании программа завершается")},
    {"elog", SwitchValue::File, 0,
     [](auto& s, auto& a) { s.error_log = strip_quotes(a.text); }, KBA604_TR_NOOP("Help", "ФАЙЛ"),
     KBA604_TR_NOOP("Help", "журнал ошибок: по строке на каждый неудачный обмен параметром (файл очищается при запуске)")},
    {"exitevent", SwitchValue::Rest, 0,
     [](auto& s, auto& a) { s.exit_event = strip_quotes(a.text); }, KBA604_TR_NOOP("Help", "ИМЯ"),
     KBA604_TR_NOOP("Help", "событие завершения: kba604 --signal-exitevent ИМЯ завершает программу с кодом 205")},
    {"test", SwitchValue::None, 0,
     [](auto& s, auto&) { s.options.mode_flags.fetch_or(StartOptions::kTest); }, "",
     KBA604_TR_NOOP("Help", "только загрузить файлы описания и завершиться (0 - описание в порядке)")},
    {"uni", SwitchValue::Text, 0, apply_uni, KBA604_TR_NOOP("Help", "ТЕКСТ"),
     KBA604_TR_NOOP("Help", "идентификатор для канала управления (до 11 символов)")},
    {"newnetparam", SwitchValue::None, 0, apply_newnetparam, "",
     KBA604_TR_NOOP("Help", "записать настройки линии командной строки в названный файл как новые сетевые настройки")},
    {"io", SwitchValue::Text, 0, apply_io, KBA604_TR_NOOP("Help", "stdio|pipe:ИМЯ|socket"),
     KBA604_TR_NOOP("Help", "канал управления: стандартные ввод и вывод или именованный канал")},
    {"record", SwitchValue::None, 0,
     [](auto& s, auto&) { set_switch_flag(s, StartOptions::kRecord); }, "",
     KBA604_TR_NOOP("Help", "регистратор: опрашивать оперативные параметры и записывать их в протокол (и в CSV)")},
    {"poll", SwitchValue::Text, kValueRequired, nullptr, KBA604_TR_NOOP("Help", "СПИСОК"),
     KBA604_TR_NOOP("Help", "для record: ИМЯ[@СМЕЩЕНИЕ][=ПЕРИОД_МС],... (без ключа - все оперативные параметры)")},
    {"duration", SwitchValue::Number, kValueRequired, nullptr, KBA604_TR_NOOP("Help", "СЕКУНДЫ"),
     KBA604_TR_NOOP("Help", "для record: время записи (без ключа - до завершения программы)")},
    {"csv", SwitchValue::File, kValueRequired, nullptr, KBA604_TR_NOOP("Help", "ФАЙЛ"),
     KBA604_TR_NOOP("Help", "для record: файл CSV, строка на каждый опрос")},
    {"trace", SwitchValue::File, kPresentation | kValueRequired, nullptr, KBA604_TR_NOOP("Help", "ФАЙЛ"),
     KBA604_TR_NOOP("Help", "записывать в файл каждый кадр линии: время, символы, поля, итог и время обмена")},
    {"headless", SwitchValue::None, kPresentation,
     [](auto& s, auto&) { s.options.presentation.fetch_or(StartOptions::kHeadless); }, "",
     KBA604_TR_NOOP("Help", "работать без окна, сообщения - в стандартный поток ошибок (не считается ключом команды)")},
});

}  // namespace

std::span<const SwitchEntry> switch_table() {
  return kSwitches;
}

const SwitchEntry* find_switch(std::string_view name) {
  for (const SwitchEntry& s : kSwitches) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

std::string strip_quotes(std::string_view value) {
  while (!value.empty() && value.front() == '"') value.remove_prefix(1);
  while (!value.empty() && value.back() == '"') value.remove_suffix(1);
  return std::string(value);
}

const SwitchEntry* CmyCommandLineInfo::find(std::string_view name) const {
  for (const SwitchEntry& s : table_) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

std::optional<std::string> CmyCommandLineInfo::value(std::string_view name) const {
  auto it = state_.values.find(name);
  if (it == state_.values.end()) return std::nullopt;
  return it->second;
}

void CmyCommandLineInfo::parse(const std::vector<std::string>& params) {
  for (const std::string& p : params) parse_param(p);
}

void CmyCommandLineInfo::parse_param(std::string_view param) {
  if (switches_ended_ || param.empty() || (param.front() != '/' && param.front() != '-')) {
    file_name_ = std::string(param);
    return;
  }
  if (param == "--") {
    switches_ended_ = true;
    return;
  }
  if (param.starts_with("--")) {
    parse_long_switch(param.substr(2));
    return;
  }
  std::string_view body = param.substr(1);
  if (param.front() == '/' && std::count(param.begin(), param.end(), '/') >= 2) {
    const std::size_t start = body.find_first_not_of('/');
    std::string_view first =
        start == std::string_view::npos ? std::string_view() : body.substr(start);
    first = first.substr(0, first.find('/'));
    if (!is_switch_name(platform::fold_case(first.substr(0, first.find(':'))))) {
      file_name_ = std::string(param);
      return;
    }
  }
  parse_switches(body);
}

void CmyCommandLineInfo::parse_long_switch(std::string_view body) {
  const std::size_t sep = body.find_first_of(":=");
  const std::string name = platform::fold_case(body.substr(0, sep));
  if (sep == std::string_view::npos) {
    apply(name, {}, false);
  } else {
    apply(name, body.substr(sep + 1), true);
  }
}

void CmyCommandLineInfo::parse_switches(std::string_view body) {
  std::size_t pos = 0;
  while (pos < body.size()) {
    std::size_t end = body.find('/', pos);
    if (end == std::string_view::npos) end = body.size();
    std::string_view token = body.substr(pos, end - pos);
    pos = end + 1;
    if (token.empty()) continue;
    const std::size_t colon = token.find(':');
    const std::string name = platform::fold_case(token.substr(0, colon));
    if (colon == std::string_view::npos) {
      apply(name, {}, false);
      continue;
    }
    const SwitchEntry* entry = find(name);
    if (entry && (entry->value == SwitchValue::Rest || entry->value == SwitchValue::File)) {
      // The value is the rest of the parameter, "/" included.
      const std::size_t value_start =
          static_cast<std::size_t>(token.data() - body.data()) + colon + 1;
      apply(name, body.substr(value_start), true);
      return;
    }
    apply(name, token.substr(colon + 1), true);
  }
}

void CmyCommandLineInfo::apply(const std::string& name, std::string_view raw_value,
                               bool has_value) {
  StartOptions& o = state_.options;
  const SwitchEntry* entry = find(name);
  if (entry == nullptr) {
    // An unknown switch still counts as a switch, as any switch does; a typing error is said.
    o.switch_flags.fetch_or(StartOptions::kAnySwitch);
    state_.messages.push_back("неизвестный ключ " + quoted(name) + " пропущен");
    return;
  }
  if (!(entry->traits & kPresentation)) o.switch_flags.fetch_or(StartOptions::kAnySwitch);

  const std::string text =
      entry->value == SwitchValue::File ? std::string(raw_value) : platform::fold_case(raw_value);
  if ((entry->traits & kValueRequired) && (!has_value || strip_quotes(text).empty())) {
    const std::string v(entry->value_help.empty() ? "ЗНАЧЕНИЕ" : entry->value_help);
    state_.usage_errors.push_back("ключу " + quoted(name) + " нужно значение: /" + name + ":" + v +
                                  " или --" + name + "=" + v);
    return;
  }
  state_.values[name] = text;

  SwitchArg arg{entry->name, text, 0};
  if (entry->value == SwitchValue::Number) {
    std::optional<std::int32_t> n = platform::scan_int(text);
    if (!n) {
      state_.messages.push_back("значение ключа " + quoted(name) + " не число; ключ пропущен");
      return;
    }
    arg.number = *n;
  }
  if (entry->apply != nullptr) entry->apply(state_, arg);
}

}  // namespace kba604
