// The line scan: which instruments answer on a port, at which addresses and speeds. Each probe
// is one "dev" read to one address, with a short time-out of its own and without the
// repetitions of an ordinary request, so that a silent address costs little more than the time
// a "dev" reply would take. An instrument that answers is then asked for its "ver" once.
//
// The scan works on a port it is given and changes only that port's speed and character
// format while it runs (and its reply wait, until the next opening); it never touches the
// program's settings.
//
//   LineScan scan(sio);
//   ScanPlan plan;                       // the speeds and addresses to try
//   plan.speeds = {9600, 19200};
//   std::vector<FoundInstrument> found = scan.run(plan, &stop, progress);
//
// A scan may also try several character formats at each speed (plan.formats); it then sets the
// port's format too, and gives the port its own speed and format back at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/sio.h"
#include "platform/event.h"

namespace kba604 {

// A character format of the line: data bits, parity (as Sio's parity codes: 3 none, 1 even,
// 4 odd) and stop bits.
struct LineFormat {
  int data_bits = 8;
  int parity_code = 3;
  int stop_bits = 1;
  bool operator==(const LineFormat&) const = default;
};

struct ScanPlan {
  std::vector<int> speeds;  // baud rates, tried in this order
  // Character formats tried at each speed, in this order; none: the port's own.
  std::vector<LineFormat> formats;
  int first_address = 0;
  int last_address = 255;  // inclusive
  int address_step = 8;    // the low three address bits carry the address offsets

  // How many "dev" probes the plan makes (the "ver" of a found instrument not counted).
  int probe_count() const;
};

struct FoundInstrument {
  int address = 0;
  int baud_rate = 0;
  int data_bits = 8;
  int parity_code = 3;  // as Sio's parity codes
  int stop_bits = 1;
  int address_length = 8;
  std::string model;    // the "dev" answer
  std::string version;  // the "ver" answer; empty when it did not come
};

// What a probe heard that was no answer to it: a reply that fails its checksum (two
// instruments at one address), or a port that could not be opened at a speed.
struct ScanRemark {
  int address = -1;  // -1: the remark is about the speed as a whole
  int baud_rate = 0;
  std::string text;
};

// Where a scan is, told before each probe.
struct ScanStep {
  int baud_rate = 0;
  LineFormat format;
  int address = 0;
  int number = 0;  // of this probe, from 1 to the plan's probe_count
};

// What a scan tells as it goes, on the thread that runs it; any of them may be empty.
struct ScanListener {
  std::function<void(const ScanStep&)> probe;         // before each probe
  std::function<void(const FoundInstrument&)> found;  // each instrument once, as it answers
  std::function<void(const ScanRemark&)> remark;
};

class LineScan {
 public:
  // sio must be set up with the port name, character format, address length and converter; it
  // must outlive the scan.
  explicit LineScan(Sio& sio) : sio_(sio) {}

  // Called before each probe with its speed and address; may be empty.
  using Progress = std::function<void(int baud_rate, int address)>;

  // Tries every address of the plan at every speed and character format. Ends early (with what
  // was found so far) when stop is set, before the next probe. Remarks go to *remarks when
  // given. At the end the port is closed and has its speed and character format back.
  std::vector<FoundInstrument> run(const ScanPlan& plan, const platform::Event* stop = nullptr,
                                   const Progress& progress = {},
                                   std::vector<ScanRemark>* remarks = nullptr);
  // The same, telling the listener of each probe, instrument and remark as they come.
  std::vector<FoundInstrument> run(const ScanPlan& plan, const platform::Event* stop,
                                   const ScanListener& listener);

  // The probe's reply wait at a speed: the line time of the longest reply a transfer takes
  // (28 characters) and room for the instrument's turnaround and an adapter's latency. With an
  // automatic converter the write returns before the request is on the line: its own line time
  // (request_characters) is added then.
  static int probe_wait_ms(int baud_rate, int parity_code, int stop_bits, int request_characters);

  // The address range for an address length: 0..255 or 0..2047.
  static int highest_address(int address_length) { return address_length == 11 ? 2047 : 255; }

 private:
  enum class Probe { Answer, Silence, Garbled, Lost };
  // One request for name to address without repetitions; the reply's text in *text.
  Probe probe(int address, const char* name, std::string* text);

  Sio& sio_;
};

// "9600,19200" → the speeds; "all" → every speed of the program's list (2400 to 115200). False
// when an entry is not a speed the port accepts.
bool parse_scan_speeds(const std::string& text, std::vector<int>* speeds, std::string* error);
// The speeds a scan tries first when the program's own speed did not answer: that speed with
// its neighbours in the program's list (a mistyped speed is usually one step off); every speed of
// the list when the speed is not in it.
std::vector<int> neighbour_speeds(int baud_rate);
// "0..255", "16..64", "24" → the range; false when it is not one, or lies outside 0..highest.
bool parse_scan_addresses(const std::string& text, int highest, int* first, int* last,
                          std::string* error);
// "8N1", "7E2": the character format of a found instrument.
std::string character_format(int data_bits, int parity_code, int stop_bits);
inline std::string character_format(const LineFormat& f) {
  return character_format(f.data_bits, f.parity_code, f.stop_bits);
}
// The character formats the instrument can be set to (the program's lists of data bits, parity
// and stop bits, without the combinations the network rules refuse), 8N1 first.
std::vector<LineFormat> supported_line_formats();

}  // namespace kba604
