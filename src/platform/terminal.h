// The terminal plumbing under a serial line: opening the device, raw mode with a character
// format and rate, reading the settings back, dropping what is pending. The program's serial
// line and the virtual instrument's line both stand on it; what each then sends and expects
// stays with them.
#pragma once

#include <string>

#include "platform/serial_line.h"

namespace kba604::platform {

// Opens a terminal device for reading and writing, never as the controlling terminal and not
// inherited by child processes; without blocking when non_blocking. -1 with errno when it
// cannot be opened.
int open_terminal(const std::string& path, bool non_blocking);

// Whether fd is either side of a pseudo-terminal (/dev/pts/N or the multiplexer's master).
// Such a terminal keeps no character format of its own: it always reports 8 data bits without
// the parity-enable bit.
bool is_pseudo_terminal(int fd);

// Puts the terminal in raw mode (no echo, no line editing, no flow control, no output
// processing, a read wakes on one character) with the character format and rate of settings.
// A 7-bit format sets ISTRIP and a format with parity INPCK: a real line then strips and checks
// as it should, and the peer of a pseudo-terminal can still tell the format. With
// mark_line_errors, breaks and parity or framing errors are marked in the input (PARMRK: FF 00 x
// and FF 00 00; a data byte FF then arrives as FF FF).
// Rates outside the POSIX list go through BOTHER. Everything is read back: the character format
// must be kept (a pseudo-terminal excepted, see above) and the rate taken within the tolerance
// of an asynchronous line (3 %). False when the device refused a call (errno set) or reports
// other settings than were set (errno 0).
bool apply_terminal_settings(int fd, const SerialSettings& settings, bool pseudo_terminal,
                             bool mark_line_errors);

// Reads the settings of a terminal. On a pseudo-terminal the data bits follow ISTRIP and the
// parity follows INPCK (besides the odd, mark and space bits that survive), since such a
// terminal reports 8 data bits without parity whatever was set; apply_terminal_settings sets
// both flags so that this reading holds. False when fd is no terminal.
bool read_terminal_settings(int fd, SerialSettings& out);

// Drops all pending input and output; false with errno when the device refused.
bool flush_terminal(int fd);

}  // namespace kba604::platform
