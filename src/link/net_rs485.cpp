#include "link/net_rs485.h"

#include <charconv>
#include <memory>
#include <optional>

#include "app/program_settings.h"
#include "model/network_settings.h"
#include "platform/port_names.h"
#include "platform/text.h"

namespace kba604::Elements {

const char* const NetRS485::kInstrumentCaption = "Сетевые параметры прибора";
const char* const NetRS485prg::kProgramCaption = "Сетевые параметры программы";
const char* const NetRS485prg::kInvalidParity = "<неверное значние>";

namespace {

const char* const kPortCaption = "Порт компьютера";
const char* const kPortLine = "COM-порт: ";

std::unique_ptr<Parameter> make_parameter(std::string_view name, std::string_view caption,
                                          std::string_view format) {
  auto p = std::make_unique<Parameter>();
  p->short_name = name;
  p->title = caption;
  p->format = format;
  return p;
}

// A decimal text as a settings number; nothing for any other text.
std::optional<std::uint32_t> decimal(const std::string& text) {
  std::uint32_t v = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return v;
}

}  // namespace

int parity_code_of(std::string_view text) {
  if (platform::iequals(text, kParityNone)) return 3;
  if (platform::iequals(text, kParityEven)) return 1;
  if (platform::iequals(text, kParityOdd)) return 4;
  return -1;
}

NetRS485::NetRS485() : NetRS485(kInstrumentCaption) {}

NetRS485::NetRS485(std::string caption) : InvisibleElement(std::move(caption)) {
  for (const NetworkSetting& s : kElementSettings) {
    own_.push_back(&add_owned(make_parameter(s.name, s.caption, s.format)));
  }
  for (Parameter* p : parameters_) p->attribute_multiplicity = 0;
}

void NetRS485::bind(const ObjectWithParameters* network_branch) {
  bound_ = false;
  for (std::size_t i = 0; i < own_.size() && i < parameters_.size(); ++i) {
    Parameter* table =
        network_branch != nullptr ? network_branch->FindByName(own_[i]->short_name) : nullptr;
    parameters_[i] = table != nullptr ? table : own_[i];
    bound_ = bound_ || table != nullptr;
  }
}

std::string NetRS485::network_summary() const {
  // The element's own captions: a description may title its parameters otherwise.
  std::string text;
  for (std::size_t i = 0; i < own_.size() && i < parameters_.size(); ++i) {
    std::string value;
    {
      ValueReadLock lock(*parameters_[i]);
      value = parameters_[i]->value;
    }
    text += own_[i]->title + ": " + value + "\n";
  }
  return text;
}

void NetRS485::DeleteParameters() {
  InvisibleElement::DeleteParameters();
  own_.clear();
  bound_ = false;
}

NetRS485prg::NetRS485prg(platform::SettingsStore* store, std::function<std::string()> port_list)
    : NetRS485(kProgramCaption), store_(store), port_list_(std::move(port_list)) {
  add_owned(make_parameter("Port", kPortCaption, "COM1"));
  for (Parameter* p : parameters_) p->use_value_lock(&value_lock_);
  load();
  refresh_port_list();
  // Never any attributes for the program's settings.
  for (Parameter* p : parameters_) p->attribute_multiplicity = 0;
}

NetRS485prg::~NetRS485prg() {
  save();
}

std::string NetRS485prg::network_summary() const {
  return NetRS485::network_summary() + kPortLine + GetValueByName("Port") + "\n";
}

void NetRS485prg::load() {
  const PortSettings s =
      store_ != nullptr ? ProgramSettings(*store_).port_settings() : PortSettings{};
  SetValueByName("bPS", std::to_string(s.baud_rate), false);
  SetValueByName("LEn", std::to_string(s.byte_size), false);
  std::string parity = kInvalidParity;
  if (s.parity_scheme == 3) parity = kParityNone;
  if (s.parity_scheme == 1) parity = kParityEven;
  if (s.parity_scheme == 4) parity = kParityOdd;
  SetValueByName("PrtY", parity, false);
  SetValueByName("Sbit", std::to_string(s.stop_bits), false);
  SetValueByName("A.Len", std::to_string(s.address_length), false);
  SetValueByName("Addr", std::to_string(s.address), false);
  SetValueByName("Port", "COM" + std::to_string(s.port_number), false);
}

void NetRS485prg::save() const {
  if (store_ == nullptr || hold_saving_.load()) return;
  ProgramSettings settings(*store_);
  PortSettings s = settings.port_settings();
  if (auto v = decimal(GetValueByName("bPS"))) s.baud_rate = *v;
  if (auto v = decimal(GetValueByName("LEn"))) s.byte_size = *v;
  if (int code = parity_code_of(GetValueByName("PrtY")); code > 0) {
    s.parity_scheme = static_cast<std::uint32_t>(code);
  }
  if (auto v = decimal(GetValueByName("Sbit"))) s.stop_bits = *v;
  if (auto v = decimal(GetValueByName("A.Len"))) s.address_length = *v;
  if (auto v = decimal(GetValueByName("Addr"))) s.address = *v;
  if (auto n = platform::com_port_number(GetValueByName("Port"))) {
    s.port_number = static_cast<std::uint32_t>(*n);
  }
  if (!(s == settings.port_settings())) settings.save_port_settings(s);
}

void NetRS485prg::refresh_port_list() {
  Parameter* port = FindByName("Port");
  if (port == nullptr) return;
  std::string list = port_list_ ? port_list_() : std::string();
  // The tree may be showing the row while the list changes.
  ValueWriteLock lock(*port);
  bool listed = false;
  std::string_view rest = list;
  while (!rest.empty() && !listed) {
    std::size_t colon = rest.find(':');
    listed = platform::iequals(rest.substr(0, colon), port->value);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  if (!listed) list = list.empty() ? port->value : list + ":" + port->value;
  port->format = list;
}

}  // namespace kba604::Elements
