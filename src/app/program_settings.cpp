#include "app/program_settings.h"

#include "platform/paths.h"

namespace kba604 {

namespace key = settings_key;

std::string ProgramSettings::data_directory() const {
  std::optional<std::string> v = store_.value(key::kDataDirectory);
  if (!v || v->empty()) return platform::default_data_directory().string();
  return platform::with_trailing_slash(*v);
}

bool ProgramSettings::set_data_directory(std::string_view folder) {
  return store_.set_value(key::kDataDirectory, platform::with_trailing_slash(std::string(folder)));
}

bool ProgramSettings::hide_minimised() const {
  // Held in a buffer of 1023 bytes, as the registration values are.
  std::string v = store_.string_or(key::kHideMin, "0");
  if (v.size() > 1022) v.resize(1022);
  return v == "1";
}

bool ProgramSettings::set_hide_minimised(bool on) {
  return store_.set_value(key::kHideMin, on ? "1" : "0");
}

int ProgramSettings::rs485_type() const {
  return store_.uint32_or(key::kRs485Type, 0) ? 1 : 0;
}

PortSettings ProgramSettings::port_settings() const {
  const PortSettings d;
  PortSettings s;
  s.address = store_.uint32_or(key::kAddress, d.address);
  s.address_length = store_.uint32_or(key::kAddressLength, d.address_length);
  s.baud_rate = store_.uint32_or(key::kBaudRate, d.baud_rate);
  s.byte_size = store_.uint32_or(key::kByteSize, d.byte_size);
  s.stop_bits = store_.uint32_or(key::kStopBits, d.stop_bits);
  s.parity_scheme = store_.uint32_or(key::kParityScheme, d.parity_scheme);
  s.port_number = store_.uint32_or(key::kPortNumber, d.port_number);
  return s;
}

bool ProgramSettings::save_port_settings(const PortSettings& s) {
  bool ok = store_.set_uint32(key::kAddress, s.address);
  ok = store_.set_uint32(key::kAddressLength, s.address_length) && ok;
  ok = store_.set_uint32(key::kBaudRate, s.baud_rate) && ok;
  ok = store_.set_uint32(key::kByteSize, s.byte_size) && ok;
  ok = store_.set_uint32(key::kStopBits, s.stop_bits) && ok;
  ok = store_.set_uint32(key::kParityScheme, s.parity_scheme) && ok;
  ok = store_.set_uint32(key::kPortNumber, s.port_number) && ok;
  return ok;
}

}  // namespace kba604
