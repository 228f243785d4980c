#include "sim/options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>

namespace kba604::sim {
namespace {

bool parse_long(const std::string& text, long long& out) {
  if (text.empty()) return false;
  int base = 10;
  std::size_t skip = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    skip = 2;
  }
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str() + skip, &end, base);
  if (errno != 0 || *end != '\0' || end == text.c_str() + skip) return false;
  out = v;
  return true;
}

bool parse_double(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

struct OptionInfo {
  const char* name;
  bool takes_value;
  bool per_instrument;
};

const OptionInfo kOptions[] = {
    {"help", false, false},
    {"link", true, false},
    {"device", true, false},
    {"time-scale", true, false},
    {"turnaround", true, false},
    {"no-pacing", false, false},
    {"garbage", true, false},
    {"log", true, false},
    {"state", true, false},
    {"data", true, false},
    {"seed", true, false},
    {"hang-up-after", true, false},
    {"address", true, true},
    {"addr-len", true, true},
    {"baud", true, true},
    {"data-bits", true, true},
    {"parity", true, true},
    {"stop-bits", true, true},
    {"model", true, true},
    {"firmware", true, true},
    {"reset-cause", true, true},
    {"protocol", true, true},
    {"regulating", false, true},
    {"sensor-break", true, true},
    {"input-status", true, true},
    {"silent", false, true},
    {"drop", true, true},
    {"corrupt-every", true, true},
    {"no-start-every", true, true},
    {"foreign-every", true, true},
    {"refuse-write", true, true},
    {"cal-time", true, true},
    {"cal-status", true, true},
    {"cal-bad-coef", true, true},
    {"cal-never-finish", false, true},
    {"cal-store-fails", false, true},
    {"cal-coef-bytes", true, true},
    {"cal-store-ms", true, true},
};

const OptionInfo* find_option(const std::string& name) {
  for (const OptionInfo& s : kOptions)
    if (name == s.name) return &s;
  return nullptr;
}

struct Given {
  std::string name;
  std::string value;
};

// Applies one instrument option; an empty return means success, otherwise the message.
std::string apply_instrument(const Given& g, InstrumentOptions& o) {
  long long n = 0;
  double d = 0;
  auto number = [&](long long lo, long long hi) -> bool {
    return parse_long(g.value, n) && n >= lo && n <= hi;
  };
  auto bad = [&](const std::string& expected) {
    return "--" + g.name + ": \"" + g.value + "\" is not " + expected;
  };
  const std::string& k = g.name;
  if (k == "address") {
    if (!number(0, 2047)) return bad("an address 0..2047");
    o.base_address = static_cast<unsigned>(n);
    o.explicit_address = true;
  } else if (k == "addr-len") {
    if (!number(8, 11) || (n != 8 && n != 11)) return bad("8 or 11");
    o.address_length = static_cast<int>(n);
    o.explicit_address_length = true;
  } else if (k == "baud") {
    if (!number(50, 4000000)) return bad("a baud rate");
    o.line.baud = static_cast<unsigned>(n);
    o.explicit_line = true;
  } else if (k == "data-bits") {
    if (!number(7, 8)) return bad("7 or 8");
    o.line.data_bits = static_cast<int>(n);
    o.explicit_line = true;
  } else if (k == "parity") {
    if (!parse_parity(g.value, o.line.parity)) return bad("none, even, odd, mark or space");
    o.explicit_line = true;
  } else if (k == "stop-bits") {
    if (!number(1, 2)) return bad("1 or 2");
    o.line.stop_bits = static_cast<int>(n);
    o.explicit_line = true;
  } else if (k == "model") {
    if (g.value.empty() || g.value.size() > 7) return bad("a model name of 1..7 characters");
    o.model = g.value;
  } else if (k == "firmware") {
    if (g.value.empty() || g.value.size() > 7) return bad("a version text of 1..7 characters");
    o.firmware = g.value;
  } else if (k == "reset-cause") {
    if (!number(0, 255)) return bad("a code 0..255");
    o.reset_cause = static_cast<int>(n);
  } else if (k == "protocol") {
    if (g.value == "talv")
      o.protocol = Protocol::kTalv;
    else if (g.value == "rtu")
      o.protocol = Protocol::kModbusRtu;
    else if (g.value == "ascii")
      o.protocol = Protocol::kModbusAscii;
    else
      return bad("talv, rtu or ascii");
  } else if (k == "regulating") {
    o.regulating = true;
  } else if (k == "sensor-break") {
    if (!number(1, 8)) return bad("an input 1..8");
    o.input_status[static_cast<int>(n)] = InputStatus{0xFD, 0};
  } else if (k == "input-status") {
    // INPUT:CODE[:SUB]
    std::string parts[3];
    int count = 0;
    for (char c : g.value) {
      if (c == ':') {
        if (++count > 2) return bad("INPUT:CODE[:SUB]");
      } else {
        parts[count] += c;
      }
    }
    long long input, code, sub = 0;
    if (count < 1 || !parse_long(parts[0], input) || input < 1 || input > 8 ||
        !parse_long(parts[1], code) || code < 240 || code > 255 ||
        (count == 2 && (!parse_long(parts[2], sub) || sub < 0 || sub > 255)))
      return bad("INPUT:CODE[:SUB] with an input 1..8 and a status code 240..255 (0xF0..0xFF)");
    o.input_status[static_cast<int>(input)] =
        InputStatus{static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(sub)};
  } else if (k == "silent") {
    o.faults.silent = true;
  } else if (k == "drop") {
    if (!number(0, 1000000)) return bad("a count");
    o.faults.drop = static_cast<int>(n);
  } else if (k == "corrupt-every" || k == "no-start-every" || k == "foreign-every") {
    if (!number(0, 1000000)) return bad("a count");
    int& field = k == "corrupt-every"    ? o.faults.corrupt_every
                 : k == "no-start-every" ? o.faults.no_start_every
                                         : o.faults.foreign_every;
    field = static_cast<int>(n);
  } else if (k == "refuse-write") {
    if (g.value.empty()) return bad("a short name");
    o.faults.refuse_write.push_back(g.value);
  } else if (k == "cal-time") {
    if (!parse_double(g.value, d) || d < 0 || d > 3600) return bad("seconds 0..3600");
    o.calibration.seconds = d;
  } else if (k == "cal-status") {
    if (!number(0, 255)) return bad("a status code 0..255");
    o.calibration.status = static_cast<int>(n);
  } else if (k == "cal-bad-coef") {
    if (!number(0, 4)) return bad("a coefficient number 1..4 (0: none)");
    o.calibration.bad_coefficient = static_cast<int>(n);
  } else if (k == "cal-never-finish") {
    o.calibration.never_finish = true;
  } else if (k == "cal-store-fails") {
    o.calibration.store_fails = true;
  } else if (k == "cal-coef-bytes") {
    if (!number(2, 5) || n == 4) return bad("2, 3 or 5 data bytes");
    o.calibration.coefficient_bytes = static_cast<int>(n);
  } else if (k == "cal-store-ms") {
    if (!parse_double(g.value, d) || d < 0 || d > 60000) return bad("milliseconds 0..60000");
    o.calibration.store_ms = d;
  }
  return {};
}

std::string apply_line(const Given& g, SimOptions& o) {
  auto bad = [&](const std::string& expected) {
    return "--" + g.name + ": \"" + g.value + "\" is not " + expected;
  };
  LineOptions& l = o.line;
  const std::string& k = g.name;
  double d = 0;
  long long n = 0;
  if (k == "help") {
    o.help = true;
  } else if (k == "link") {
    if (g.value.empty()) return bad("a path");
    l.link = g.value;
  } else if (k == "device") {
    if (g.value.empty()) return bad("a terminal device");
    l.device = g.value;
  } else if (k == "time-scale") {
    if (!parse_double(g.value, d) || d < 0 || d > 1000) return bad("a factor 0..1000");
    l.time_scale = d;
  } else if (k == "turnaround") {
    if (!parse_double(g.value, d) || d < 0 || d > 10000) return bad("milliseconds 0..10000");
    l.turnaround_ms = d;
  } else if (k == "no-pacing") {
    l.pacing = false;
  } else if (k == "garbage") {
    if (!parse_double(g.value, d) || d < 0 || d > 1) return bad("a rate 0..1");
    l.garbage_rate = d;
  } else if (k == "log") {
    if (g.value.empty()) return bad("a file");
    l.log_path = g.value;
  } else if (k == "state") {
    if (g.value.empty()) return bad("a file");
    l.state_path = g.value;
  } else if (k == "data") {
    if (g.value.empty()) return bad("a folder");
    l.data_dir = g.value;
  } else if (k == "seed") {
    if (!parse_long(g.value, n) || n < 0 || n > 0xFFFFFFFFll) return bad("a number");
    l.seed = static_cast<std::uint32_t>(n);
    l.seed_given = true;
  } else if (k == "hang-up-after") {
    if (!parse_long(g.value, n) || n < 1 || n > 100000000) return bad("a count of 1 or more");
    l.hang_up_after = static_cast<int>(n);
  }
  return {};
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string* error) {
  auto fail = [&](const std::string& message) {
    if (error) *error = message;
    return false;
  };
  SimOptions o;
  std::vector<Given> common;            // instrument options before the first --address
  std::vector<std::vector<Given>> per;  // each --address with the options after it
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "-h") arg = "--help";
    if (arg.rfind("--", 0) != 0) return fail("unexpected argument \"" + arg + "\"");
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    const OptionInfo* info = find_option(name);
    if (!info) return fail("unknown option --" + name);
    if (info->takes_value && !value) {
      if (i + 1 >= args.size()) return fail("--" + name + " needs a value");
      value = args[++i];
    }
    if (!info->takes_value && value) return fail("--" + name + " takes no value");
    Given g{name, value.value_or("")};
    if (!info->per_instrument) {
      if (std::string why = apply_line(g, o); !why.empty()) return fail(why);
    } else if (name == "address") {
      per.push_back({g});
    } else if (per.empty()) {
      common.push_back(g);
    } else {
      per.back().push_back(g);
    }
  }
  InstrumentOptions base;
  for (const Given& g : common)
    if (std::string why = apply_instrument(g, base); !why.empty()) return fail(why);
  if (per.empty()) per.push_back({});
  for (const auto& list : per) {
    InstrumentOptions inst = base;
    for (const Given& g : list)
      if (std::string why = apply_instrument(g, inst); !why.empty()) return fail(why);
    if (inst.address_length == 8 && inst.base_address > 255)
      return fail("--address " + std::to_string(inst.base_address) +
                  " needs 11-bit addressing (--addr-len 11)");
    o.instruments.push_back(inst);
  }
  for (std::size_t a = 0; a < o.instruments.size(); ++a) {
    for (std::size_t b = a + 1; b < o.instruments.size(); ++b) {
      if (o.instruments[a].base_address == o.instruments[b].base_address)
        return fail("--address: two instruments at address " +
                    std::to_string(o.instruments[a].base_address));
    }
  }
  out = std::move(o);
  return true;
}

std::string help_text() {
  return R"(kba604-sim: a virtual KBA604 instrument on a serial line.

Usage: kba604-sim [options]

Started without options it creates a new pseudo-terminal, puts 9600 baud 8N1 on it, serves one
KBA604 at base address 16 (8-bit addressing) and prints the terminal's path as the first line on
standard output. It runs until Ctrl+C (SIGINT) or SIGTERM. Each instrument answers its base
address and the seven after it (address offsets 0..7 carry the inputs' operational values).

A demo line with two instruments, reachable as COM9 by the configurator:
  kba604-sim --link /tmp/kba604-sim --state ~/kba604-demo.json --address 16 --address 24
  then put "COM9=/tmp/kba604-sim" into the [Ports] section of ~/.config/TALV/KBA604.conf
  and connect at 9600 baud 8N1 to address 16 or 24.

The line:
  --link PATH           also place a symbolic link to the terminal at PATH (removed on exit)
  --device TTY          serve a real serial device (an RS-485 adapter) instead of a new
                        pseudo-terminal; its line settings follow the first instrument
  --state FILE          keep the instruments' values in FILE (their EEPROM) across runs; written
                        atomically after changes and on exit; a damaged file is set aside as
                        FILE.damaged and the instruments start from the description
  --data DIR            description folder (default: <program dir>/../share/kba604/)
  --log FILE            log every frame heard and sent, with timestamps ("-": standard error).
                        Each line: seconds rx|tx baud bits-per-character characters text
                        [instrument address]; characters x bits / baud is the frame's line time
  --time-scale F        multiply the instrument's own delays (turnaround, character pacing,
                        calibration, the process dynamics) by F; 0 makes them instant (tests)
  --turnaround MS       pause between the end of a request and the reply (default 2)
  --no-pacing           answer at once; normally a request counts as heard only after its
                        line time, and the reply leaves one character time after another
  --garbage RATE        when a frame arrives at line settings other than an instrument's, that
                        instrument answers garbage with this chance (0..1, default 0: silence)
  --seed N              seed of the measurement noise and garbage (default: from the clock)
  --hang-up-after N     after answering N times, close the terminal and remove the --link,
                        as an adapter that is unplugged (the program's side then fails)
  --help, -h            this text

Instruments. Options before the first --address apply to every instrument; options after an
--address apply to that instrument only:
  --address A           add an instrument at base address A (default one at 16); repeat for more
  --addr-len 8|11       address length (default 8)
  --baud N              line speed the instrument listens at (default 9600)
  --data-bits 7|8       (default 8)
  --parity P            none, even, odd, mark or space (default none)
  --stop-bits 1|2       (default 1)
      The instrument hears only frames sent at its own settings: on a pseudo-terminal it reads
      what the program on the other side set. Linux keeps every pseudo-terminal at 8 data bits
      and clears its parity-enable bit, so there 7-bit characters show through ISTRIP and parity
      through INPCK (which a serial line sets exactly with 7 bits and with parity); speed, stop
      bits and the odd, mark and space bits show as they are. "APLY" makes the network settings
      written before ("bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr") its own.
  --model TEXT          answer "dev" with TEXT instead of KBA604 (another model on the line)
  --firmware TEXT       answer "ver" with TEXT (default 1.10)
  --reset-cause N       reset cause reported by "exit" (default 7: power-on reset)
  --protocol P          start in talv (default), rtu (Modbus RTU) or ascii (Modbus ASCII); in
                        Modbus the instrument answers only the switch-back command 05 F0 F0 FF 00
                        (echoed), then speaks the ТАЛВ protocol again
  --regulating          regulation runs from the start ("r-s" starts and stops it)
  --sensor-break INPUT  input 1..8 reports a sensor break (status code 0xFD) instead of a value
  --input-status INPUT:CODE[:SUB]
                        input 1..8 reports status CODE (240..255, e.g. 0xF7 sensor off, 0xFC
                        short circuit) with an optional sub-code
  --cal-time S          a calibration measurement takes S seconds (default 3)
  --cal-status CODE     calibration measurements end with this status code (e.g. 7: break)
  --cal-bad-coef N      coefficient N (1..4) of a calibration comes out faulty
  --cal-never-finish    calibration measurements never finish
  --cal-store-fails     storing calibration coefficients fails (status 15)
  --cal-coef-bytes N    "CLB.G" answers with N data bytes: 5 (a coefficient, the default), 2 (no
                        value: flags and status 32) or 3 (a reply of the wrong size)
  --cal-store-ms MS     "CLB.P" is answered MS milliseconds late, while the coefficients go into
                        the EEPROM (default 0)

Faults of an instrument's replies (N counts replies; combine them freely):
  --silent              never answer
  --drop N              do not send the next N replies (a lost answer, then recovery)
  --corrupt-every N     every N-th reply has a wrong checksum
  --no-start-every N    every N-th reply lacks its start character "#"
  --foreign-every N     every N-th reply carries another command's hash, as if a master
                        instrument were talking on the line
  --refuse-write NAME   writes of the parameter NAME are refused as if it were read-only
                        (the "n.Err" reply); may be given more than once

Exit status: 0 after SIGINT or SIGTERM, 2 for wrong options or an unreadable description,
1 when the terminal cannot be set up.
)";
}

}  // namespace kba604::sim
