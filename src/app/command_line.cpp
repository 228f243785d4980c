#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <optional>

#include "platform/text.h"

namespace kba604 {
namespace {

constexpr std::array<std::string_view, 26> kSwitchNames = {
    "write", "read",      "port", "bps",       "prty", "addr", "len",         "sbit",      "alen",
    "rs485", "aply",      "x",    "y",         "w",    "h",    "autoread",    "autowrite", "silent",
    "close", "calibrate", "elog", "exitevent", "test", "uni",  "newnetparam", "io"};

// Switches whose value runs to the end of the parameter, "/" included.
bool takes_rest(std::string_view name) {
  return name == "elog" || name == "exitevent";
}

std::string_view name_of(std::string_view token) {
  return token.substr(0, token.find(':'));
}

void set_field(std::atomic<std::uint16_t>& word, int shift, unsigned bits, unsigned value) {
  const std::uint16_t mask = static_cast<std::uint16_t>(bits << shift);
  std::uint16_t v = word.load();
  v = static_cast<std::uint16_t>((v & ~mask) | ((value << shift) & mask));
  word.store(v);
}

}  // namespace

std::string strip_quotes(std::string_view value) {
  while (!value.empty() && value.front() == '"') value.remove_prefix(1);
  while (!value.empty() && value.back() == '"') value.remove_suffix(1);
  return std::string(value);
}

bool CmyCommandLineInfo::is_switch_name(std::string_view name) {
  return std::find(kSwitchNames.begin(), kSwitchNames.end(), name) != kSwitchNames.end();
}

void CmyCommandLineInfo::parse(const std::vector<std::string>& params) {
  for (const std::string& p : params) parse_param(p);
}

void CmyCommandLineInfo::parse_param(std::string_view param) {
  if (param.empty() || (param.front() != '/' && param.front() != '-')) {
    file_name_ = std::string(param);
    return;
  }
  std::string_view body = param.substr(1);
  if (param.front() == '/' && std::count(param.begin(), param.end(), '/') >= 2) {
    const std::size_t start = body.find_first_not_of('/');
    std::string_view first =
        start == std::string_view::npos ? std::string_view() : body.substr(start);
    first = first.substr(0, first.find('/'));
    if (!is_switch_name(platform::fold_case(name_of(first)))) {
      file_name_ = std::string(param);
      return;
    }
  }
  parse_switches(body);
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
    options_.switch_flags.fetch_or(StartOptions::kAnySwitch);
    if (takes_rest(name) && colon != std::string_view::npos) {
      // The value is the rest of the parameter; the name of a file keeps its letter case.
      const std::size_t value_start =
          static_cast<std::size_t>(token.data() - body.data()) + colon + 1;
      const std::string_view rest = body.substr(value_start);
      apply(name, name == "elog" ? std::string(rest) : platform::fold_case(rest));
      return;
    }
    const std::string value = colon == std::string_view::npos
                                  ? std::string()
                                  : platform::fold_case(token.substr(colon + 1));
    apply(name, value);
  }
}

bool CmyCommandLineInfo::store_text(std::string_view name, std::string_view value,
                                    std::size_t max_length, std::string& out) {
  if (platform::cp1251_length(value) > max_length) {
    messages_.push_back(platform::format(
        "the value of switch \"%.*s\" is longer than %zu characters; the switch is ignored",
        static_cast<int>(name.size()), name.data(), max_length));
    return false;
  }
  out = std::string(value);
  return true;
}

void CmyCommandLineInfo::apply(std::string_view name, std::string_view value) {
  StartOptions& o = options_;
  // A number switch whose value is no number is ignored; a typing error is said, not swallowed.
  auto number = [&]() {
    std::optional<std::int32_t> n = platform::scan_int(value);
    if (!n) {
      messages_.push_back(
          platform::format("the value of switch \"%.*s\" is not a number; the switch is ignored",
                           static_cast<int>(name.size()), name.data()));
    }
    return n;
  };
  auto line_settings_given = [&] { o.switch_flags.fetch_or(StartOptions::kLineSettingsGiven); };

  if (name == "write") {
    o.switch_flags.fetch_or(StartOptions::kWrite);
  } else if (name == "read") {
    o.switch_flags.fetch_or(StartOptions::kRead);
  } else if (name == "port") {
    if (newnetparam_seen_) return;
    if (auto n = number()) {
      o.port.store(static_cast<std::uint8_t>(*n & 0xFF));
      line_settings_given();
    }
  } else if (name == "bps") {
    if (auto n = number()) {
      o.bps.store(static_cast<std::uint32_t>(*n));
      line_settings_given();
    }
  } else if (name == "prty") {
    const int parity = value == "even" ? 1 : value == "odd" ? 2 : value == "no" ? 3 : 0;
    if (parity == 0) {
      o.switch_flags.fetch_and(~StartOptions::kLineSettingsGiven);
      return;
    }
    set_field(o.line_settings, 2, 0x3, static_cast<unsigned>(parity));
    line_settings_given();
  } else if (name == "addr" || name == "sbit") {
    std::string text;
    if (!store_text(name, value, 5, text)) return;
    if (name == "addr") {
      o.set_addr(text);
    } else {
      o.set_sbit(text);
    }
    if (!text.empty()) line_settings_given();
  } else if (name == "len" || name == "alen") {
    if (auto n = number()) {
      set_field(o.line_settings, name == "len" ? 4 : 8, 0xF, static_cast<unsigned>(*n) & 0xF);
      line_settings_given();
    }
  } else if (name == "rs485") {
    const int mode = value == "auto" ? 1 : value == "off" ? 2 : value == "on" ? 3 : 0;
    if (mode != 0) set_field(o.line_settings, 12, 0x3, static_cast<unsigned>(mode));
  } else if (name == "aply") {
    o.switch_flags.fetch_or(StartOptions::kAply);
  } else if (name == "x" || name == "y" || name == "w" || name == "h") {
    auto n = number();
    if (!n) return;
    const char c = name[0];
    auto& field = c == 'x' ? o.x : c == 'y' ? o.y : c == 'w' ? o.w : o.h;
    field.store(*n);
    o.geometry_mask.fetch_or(c == 'x'   ? StartOptions::kXGiven
                             : c == 'y' ? StartOptions::kYGiven
                             : c == 'w' ? StartOptions::kWGiven
                                        : StartOptions::kHGiven);
  } else if (name == "autoread" || name == "autowrite") {
    const bool read = name == "autoread";
    if (value == "on") {
      o.mode_flags.fetch_or(read ? StartOptions::kAutoReadOn : StartOptions::kAutoWriteOn);
    } else if (value == "off") {
      o.mode_flags.fetch_or(read ? StartOptions::kAutoReadOff : StartOptions::kAutoWriteOff);
    }
  } else if (name == "silent") {
    o.mode_flags.fetch_or(StartOptions::kSilent | StartOptions::kAutoReadOff |
                          StartOptions::kAutoWriteOff);
  } else if (name == "close") {
    o.switch_flags.fetch_or(StartOptions::kClose);
  } else if (name == "calibrate") {
    o.switch_flags.fetch_or(StartOptions::kCalibrate);
  } else if (name == "elog") {
    error_log_ = strip_quotes(value);
  } else if (name == "exitevent") {
    exit_event_ = strip_quotes(value);
  } else if (name == "test") {
    o.mode_flags.fetch_or(StartOptions::kTest);
  } else if (name == "uni") {
    std::string text;
    if (!store_text(name, value, 11, text)) return;
    o.set_uni(text);
    o.mode_flags.fetch_or(StartOptions::kUniGiven);
  } else if (name == "newnetparam") {
    newnetparam_seen_ = true;
    o.mode_flags.fetch_or(StartOptions::kNewNetParam);
    o.switch_flags.fetch_and(~StartOptions::kLineSettingsGiven);
    o.port.store(0);
  } else if (name == "io") {
    o.switch_flags.fetch_and(~StartOptions::kLineSettingsGiven);
    const std::size_t colon = value.find(':');
    const std::string_view kind = value.substr(0, colon);
    if (kind == "stdio") {
      set_field(o.line_settings, 0, 0x3, 1);
    } else if (kind == "pipe") {
      const std::string_view pipe =
          colon == std::string_view::npos ? std::string_view() : value.substr(colon + 1);
      if (pipe.empty()) {
        messages_.push_back("switch \"io:pipe\" names no pipe; the switch is ignored");
        return;
      }
      pipe_name_ = std::string(pipe);
      set_field(o.line_settings, 0, 0x3, 2);
    } else if (kind == "socket") {
      set_field(o.line_settings, 0, 0x3, 3);
    }
  } else {
    messages_.push_back(platform::format("unknown switch \"%.*s\" is ignored",
                                         static_cast<int>(name.size()), name.data()));
  }
}

}  // namespace kba604
