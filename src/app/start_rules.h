// The decisions the start-up takes from the start options: the no-port rule, the modes given
// by switches, the converter type, the command started by the command line and the placement of
// the main window. Pure functions, so the runner and the window front end decide alike.
#pragma once

#include "app/program_modes.h"
#include "app/program_settings.h"
#include "app/start_options.h"

namespace kba604 {

// Any switch without a port: the program opens no serial port, skips the start-up connection
// check and forces the automatic-read mode off. Sets ModeFlags 0x0040 and returns whether it
// did.
bool apply_no_port_rule(StartOptions& options);

// "autoread" and "autowrite" given on the command line set the automatic-read and the
// immediate-write mode ("off" wins when both were given).
void apply_start_modes(const StartOptions& options, ProgramModes& modes);

// At main-window creation: "hidemin" sets the hide-minimised mode, and in no-port or silent
// mode the automatic-read mode is forced off.
void apply_window_modes(const StartOptions& options, const ProgramSettings& settings,
                        ProgramModes& modes);

// The converter type of the document: "rs485:off" means the automatic converter (1),
// "rs485:auto" or "rs485:on" the semi-automatic one (0); without the switch the "RS485type"
// setting decides.
int initial_rs485_type(const StartOptions& options, const ProgramSettings& settings);

// The command the command line starts: write all, else calibrate, else read all; 0 for none.
int automation_command(const StartOptions& options);

// Where the main window goes.
struct WindowPlacement {
  enum class Kind { Maximised, Hidden, Fixed } kind = Kind::Maximised;
  int x = 0, y = 0, w = 0, h = 0;
};
WindowPlacement window_placement(const StartOptions& options);

}  // namespace kba604
