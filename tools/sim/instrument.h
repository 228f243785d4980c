// One virtual KBA604: its parameters kept as the device's bytes, its attributes, network
// settings, protocol, regulation and calibration, answering requests of the ТАЛВ protocol the way
// the instrument does. It knows nothing of terminals: the line (line.h) feeds it frames.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/calibration.h"
#include "sim/description.h"
#include "sim/device_value.h"
#include "sim/frame.h"
#include "sim/options.h"
#include "sim/process.h"

namespace kba604::sim {

class Instrument {
 public:
  Instrument(InstrumentOptions options, std::shared_ptr<const Description> description,
             double time_scale, std::uint32_t seed);

  struct Outcome {
    std::optional<Packet> reply;    // nothing for broadcasts and "APLY"
    bool settings_changed = false;  // "APLY" took new line settings or a new address into use
    double delay = 0;               // seconds the instrument is busy before it answers
  };

  // True for the frames this instrument takes: its base address and the seven after it, and
  // the broadcast address.
  bool hears(unsigned address) const;

  // A ТАЛВ request addressed to this instrument; `now` is seconds since the line started.
  Outcome handle(const Packet& request, double now);

  // The "n.Err" reply to a damaged frame whose address could still be read (0x26 a character
  // outside the frame's alphabet, 0x27 a wrong checksum).
  Packet frame_error(unsigned address, std::uint8_t code);

  // A Modbus packet (address byte first). The echo when it is this instrument's switch-back
  // command, after which the instrument speaks the ТАЛВ protocol again.
  std::optional<Bytes> handle_modbus(const Bytes& packet);

  unsigned base_address() const { return base_address_; }
  int address_length() const { return address_length_; }
  const LineSettings& line_settings() const { return line_; }
  Protocol protocol() const { return protocol_; }
  InstrumentOptions& options() { return options_; }
  Faults& faults() { return options_.faults; }
  Calibration& calibration() { return calibration_; }

  // Stored bytes of a parameter (slot: linear index or address offset), none if unknown.
  std::optional<Bytes> value(std::string_view name, int slot = 0) const;
  // Editable and factory attributes that govern a parameter, none if it has none.
  std::optional<std::pair<bool, bool>> attributes(std::string_view name, int slot = 0) const;
  bool regulating() const { return process_.running(); }
  void set_input_status(int input, std::optional<InputStatus> status);
  // The code of the last refused request (what "n.Err" reads back).
  std::uint8_t last_error() const { return last_error_; }

  // The EEPROM: stored values, attributes, network settings and calibration coefficients.
  nlohmann::json state() const;
  // Restores a saved state; settings given explicitly on the command line keep their values.
  bool restore(const nlohmann::json& state, std::string* error);
  // True once after every change of the EEPROM content.
  bool take_changed();

  // Description records the instrument could not take as they are (unreadable initial values).
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  struct Cell {
    const ParamDef* def = nullptr;
    Bytes value;
    Bytes initial;
    std::optional<Bytes> reference;
    bool editable = true;
    bool factory = false;
  };
  struct Entry {
    bool indexed = false;  // the configurator sends its index in the data
    std::map<int, std::size_t> slots;
  };

  Packet reply_to(const Packet& request, std::uint16_t hash, Bytes data) const;
  Packet refuse(const Packet& request, std::uint8_t code);
  Outcome handle_parameter(const Packet& request, int offset, double now);
  Outcome handle_attributes(const Packet& request, int offset);
  Outcome handle_calibration(const Packet& request, double now);
  std::uint8_t check_rules(const Cell& cell, const Bytes& value) const;
  void after_write(Cell& cell, double now);

  Cell* find_cell(std::string_view name, int slot = 0);
  const Cell* find_cell(std::string_view name, int slot = 0) const;
  Cell& attribute_leader(const Entry& entry, Cell& cell);
  std::optional<Bytes> computed(const Cell& cell, int slot, double now);
  bool is_rom(const ParamDef& def) const;
  // The fault option that makes a writable parameter refuse its writes.
  bool refuses_writes_of(const ParamDef& def) const;

  // Network settings kept in the parameters "bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot".
  void put_network_cells();
  void apply_network_cells();
  std::string item_text(const Cell* cell) const;
  bool network_rules_hold(const Cell& changed, const Bytes& value) const;
  void start_regulation(double now);
  bool network_start_allowed(const Cell* permission) const;
  void reset_configuration();
  std::string cell_key(const Cell& cell) const;

  InstrumentOptions options_;
  std::shared_ptr<const Description> description_;
  double time_scale_;
  std::vector<Cell> cells_;
  std::unordered_map<std::uint16_t, Entry> entries_;
  std::vector<std::string> warnings_;

  unsigned base_address_;
  int address_length_;
  LineSettings line_;
  Protocol protocol_;
  std::uint8_t last_error_ = 0;
  Process process_;
  Calibration calibration_;
  bool changed_ = false;
};

}  // namespace kba604::sim
