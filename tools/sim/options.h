// What kba604-sim is told on its command line (and what tests hand the library directly).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/line_settings.h"

namespace kba604::sim {

enum class Protocol { kTalv, kModbusRtu, kModbusAscii };

// A status code that takes the place of an input's measured value (0xFD: sensor break).
struct InputStatus {
  std::uint8_t code = 0xFD;
  std::uint8_t sub_code = 0;
};

// Misbehaviour of one instrument's replies. "Every N" counts replies; 0 switches it off.
struct Faults {
  bool silent = false;     // never answers
  int drop = 0;            // the next N replies are not sent
  int corrupt_every = 0;   // every N-th reply has a wrong checksum
  int no_start_every = 0;  // every N-th reply lacks its "#"
  int foreign_every = 0;   // every N-th reply carries another command's hash
  // Short names whose writes are refused as those of read-only parameters.
  std::vector<std::string> refuse_write;
};

struct CalibrationOptions {
  double seconds = 3.0;       // time the measurement takes
  int status = 0;             // status code the measurement ends with
  int bad_coefficient = 0;    // number of the coefficient that comes out faulty (0: none)
  bool never_finish = false;  // the measurement never sets its finished flag
  bool store_fails = false;   // storing the coefficients fails (status 15)
  int coefficient_bytes = 5;  // data bytes of a "CLB.G" reply: 5, or 2 (no value), 3 (wrong size)
  double store_ms = 0;        // "CLB.P" is answered this much later (the EEPROM being written)
};

struct InstrumentOptions {
  unsigned base_address = 16;
  int address_length = 8;
  LineSettings line;
  std::string model = "KBA604";   // the "dev" answer
  std::string firmware = "1.10";  // the "ver" answer
  int reset_cause = 7;            // the "exit" answer: power-on reset
  Protocol protocol = Protocol::kTalv;
  bool regulating = false;                  // regulation runs from the start
  std::map<int, InputStatus> input_status;  // by input number 1..8
  Faults faults;
  CalibrationOptions calibration;
  // Settings given explicitly win over the state file; defaults do not.
  bool explicit_address = false;
  bool explicit_address_length = false;
  bool explicit_line = false;
};

struct LineOptions {
  std::string link;    // symlink to the new pseudo-terminal
  std::string device;  // serve this terminal device instead of a new pseudo-terminal
  double time_scale = 1.0;
  double turnaround_ms = 2.0;
  bool pacing = true;
  double garbage_rate = 0.0;  // chance of garbage per frame heard at wrong line settings
  std::string log_path;       // frame log ("-" for stderr)
  std::string state_path;     // the instruments' EEPROM
  std::string data_dir;       // description folder ("" = next to the program)
  std::uint32_t seed = 0;
  bool seed_given = false;
  // After hearing the program this many times the line hangs up (0: never).
  int hang_up_after = 0;
};

struct SimOptions {
  LineOptions line;
  std::vector<InstrumentOptions> instruments;  // at least one
  bool help = false;
};

// Parses the command line (without the program name). False with a message on a wrong option.
bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string* error);

// The text of --help.
std::string help_text();

}  // namespace kba604::sim
