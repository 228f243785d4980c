#include "app/start_rules.h"

#include "app/commands.h"

namespace kba604 {

bool apply_no_port_rule(StartOptions& options) {
  if (!options.any_switch() || options.port.load() != 0) return false;
  options.mode_flags.fetch_or(StartOptions::kNoPort);
  return true;
}

void apply_start_modes(const StartOptions& options, ProgramModes& modes) {
  const std::uint16_t f = options.mode_flags.load();
  if (f & StartOptions::kAutoReadOn) modes.auto_read.store(true);
  if (f & StartOptions::kAutoReadOff) modes.auto_read.store(false);
  if (f & StartOptions::kAutoWriteOn) modes.immediate_write.store(true);
  if (f & StartOptions::kAutoWriteOff) modes.immediate_write.store(false);
}

void apply_window_modes(const StartOptions& options, const ProgramSettings& settings,
                        ProgramModes& modes) {
  modes.hide_minimised.store(settings.hide_minimised());
  if (options.mode_flags.load() & (StartOptions::kNoPort | StartOptions::kSilent)) {
    modes.auto_read.store(false);
  }
}

int initial_rs485_type(const StartOptions& options, const ProgramSettings& settings) {
  switch (options.rs485_mode()) {
    case 1:  // auto
    case 3:  // on
      return 0;
    case 2:  // off
      return 1;
    default:
      return settings.rs485_type();
  }
}

int automation_command(const StartOptions& options) {
  const std::uint32_t s = options.switch_flags.load();
  if (s & StartOptions::kWrite) return command::kWriteAll;
  if (s & StartOptions::kCalibrate) return command::kCalibrate;
  if (s & StartOptions::kRead) return command::kReadAll;
  if (s & StartOptions::kRecord) return command::kRecord;
  return 0;
}

WindowPlacement window_placement(const StartOptions& options) {
  const std::uint8_t m = options.geometry_mask.load();
  WindowPlacement p;
  if (!(m & StartOptions::kWGiven) || !(m & StartOptions::kHGiven)) return p;
  p.x = (m & StartOptions::kXGiven) ? options.x.load() : 0;
  p.y = (m & StartOptions::kYGiven) ? options.y.load() : 0;
  p.w = options.w.load();
  p.h = options.h.load();
  const bool sized = p.w != 0 || p.h != 0;
  const bool placed = (m & StartOptions::kXGiven) && (m & StartOptions::kYGiven);
  if (sized && !placed) {
    p.kind = WindowPlacement::Kind::Maximised;
  } else if (!sized) {
    p.kind = WindowPlacement::Kind::Hidden;
  } else {
    p.kind = WindowPlacement::Kind::Fixed;
  }
  return p;
}

}  // namespace kba604
