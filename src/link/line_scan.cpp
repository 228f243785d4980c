#include "link/line_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "link/frame_codec.h"
#include "link/network_rules.h"
#include "model/my_converter.h"
#include "model/talv_codec.h"

namespace kba604 {
namespace {

// The speeds of the program's own list ("bPS"), which "all" stands for.
constexpr int kListedSpeeds[] = {2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200};

// The room a probe leaves beyond the reply's line time: the instrument's turnaround (a few
// milliseconds) and the latency of a USB adapter.
constexpr int kProbeMarginMs = 20;

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  std::size_t first = 0;
  while (first < s.size() && s[first] == ' ') ++first;
  return s.substr(first);
}

bool whole_number(const std::string& text, int* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *out = std::atoi(text.c_str());
  return true;
}

}  // namespace

int LineScan::probe_wait_ms(int baud_rate, int parity_code, int stop_bits, int request_characters) {
  const bool parity_on = parity_code != 0 && parity_code != 3;
  const double char_ms = (10000.0 + (parity_on ? 1000.0 : 0.0) + (stop_bits == 2 ? 1000.0 : 0.0)) /
                         std::max(1, baud_rate);
  const int characters = static_cast<int>(Sio::kMaxReply) - 1 + request_characters;
  return static_cast<int>(std::ceil(characters * char_ms)) + kProbeMarginMs;
}

LineScan::Probe LineScan::probe(int address, const char* name, std::string* text) {
  const std::uint16_t hash = hash_name(name);
  const std::string frame = build_frame(address, sio_.address_length(), 1, hash, nullptr, 0, 0);
  char chars[Sio::kMaxReply + 3];
  std::size_t received = 0;
  const int result = sio_.transfer(frame.data(), frame.size(), chars, &received);
  if (result == Sio::kLost || result == Sio::kUnavailable) return Probe::Lost;
  if (result != Sio::kReceived) return Probe::Silence;
  if (received < 2 || chars[0] != '#') return Probe::Garbled;

  // The same checks as an ordinary reply: checksum over the packet, then the request's hash.
  std::uint8_t packet[16] = {};
  const std::size_t bytes = (received - 2) / 2;
  decode_buffer(chars + 1, received - 2, packet);
  if (bytes < 6) return Probe::Garbled;
  const std::size_t data_count = packet[1] & 0x0F;
  if (4 + data_count + 2 > bytes) return Probe::Garbled;
  const std::uint16_t sum = hash_buffer(packet, 4 + data_count);
  if (packet[4 + data_count] != (sum >> 8) || packet[5 + data_count] != (sum & 0xFF)) {
    return Probe::Garbled;
  }
  if (((packet[2] << 8) | packet[3]) != hash) return Probe::Garbled;
  MyConverter converter;
  converter.short_name = name;
  std::string value;
  if (converter.ConvertFromData(packet + 4, data_count, false, value) == kNotDecodable) {
    return Probe::Garbled;
  }
  *text = trimmed(value);
  return Probe::Answer;
}

int ScanPlan::probe_count() const {
  const int step = std::max(1, address_step);
  const int addresses =
      last_address < first_address ? 0 : (last_address - first_address) / step + 1;
  const int per_speed = static_cast<int>(std::max<std::size_t>(1, formats.size()));
  return static_cast<int>(speeds.size()) * per_speed * addresses;
}

std::vector<FoundInstrument> LineScan::run(const ScanPlan& plan, const platform::Event* stop,
                                           const Progress& progress,
                                           std::vector<ScanRemark>* remarks) {
  ScanListener listener;
  if (progress) listener.probe = [&](const ScanStep& s) { progress(s.baud_rate, s.address); };
  if (remarks != nullptr) listener.remark = [&](const ScanRemark& r) { remarks->push_back(r); };
  return run(plan, stop, listener);
}

std::vector<FoundInstrument> LineScan::run(const ScanPlan& plan, const platform::Event* stop,
                                           const ScanListener& listener) {
  std::vector<FoundInstrument> found;
  const int step = std::max(1, plan.address_step);
  auto stopped = [&] { return stop != nullptr && stop->is_set(); };
  auto remark = [&](int address, int baud, std::string text) {
    if (listener.remark) listener.remark({address, baud, std::move(text)});
  };
  const int own_speed = sio_.baud_rate();
  const LineFormat own_format{sio_.data_bits(), sio_.parity_code(), sio_.stop_bits()};
  const std::vector<LineFormat> formats =
      plan.formats.empty() ? std::vector<LineFormat>{own_format} : plan.formats;
  int number = 0;
  for (int baud : plan.speeds) {
    for (const LineFormat& format : formats) {
      if (stopped()) break;
      sio_.set_baud_rate(baud);
      sio_.set_data_bits(format.data_bits);
      sio_.set_parity_code(format.parity_code);
      sio_.set_stop_bits(format.stop_bits);
      if (sio_.open_port() != 0) {
        remark(-1, baud, sio_.open_fault());
        continue;
      }
      // A "dev" request is 14 characters.
      const int wait = probe_wait_ms(baud, format.parity_code, format.stop_bits,
                                     sio_.converter_automatic() != 0 ? 14 : 0);
      for (int address = plan.first_address; address <= plan.last_address; address += step) {
        if (stopped()) break;
        if (listener.probe) listener.probe({baud, format, address, ++number});
        // The short reply wait holds until the port is opened again; a lost port is reopened by
        // the next transfer with the ordinary one.
        sio_.set_reply_wait(static_cast<std::uint16_t>(wait));
        std::string model;
        const Probe p = probe(address, "dev", &model);
        if (p == Probe::Lost) {
          remark(-1, baud, sio_.lost_note());
          break;
        }
        if (p == Probe::Garbled) {
          remark(address, baud, "ответ не разобран (несколько приборов с одним адресом?)");
          continue;
        }
        if (p != Probe::Answer) continue;
        FoundInstrument f;
        f.address = address;
        f.baud_rate = baud;
        f.data_bits = format.data_bits;
        f.parity_code = format.parity_code;
        f.stop_bits = format.stop_bits;
        f.address_length = sio_.address_length();
        f.model = model;
        sio_.set_reply_wait(static_cast<std::uint16_t>(wait));
        if (probe(address, "ver", &f.version) != Probe::Answer) f.version.clear();
        if (listener.found) listener.found(f);
        found.push_back(std::move(f));
      }
      sio_.close_port();
    }
    if (stopped()) break;
  }
  sio_.set_baud_rate(own_speed);
  sio_.set_data_bits(own_format.data_bits);
  sio_.set_parity_code(own_format.parity_code);
  sio_.set_stop_bits(own_format.stop_bits);
  return found;
}

bool parse_scan_speeds(const std::string& text, std::vector<int>* speeds, std::string* error) {
  speeds->clear();
  if (text == "all" || text == "все") {
    speeds->assign(std::begin(kListedSpeeds), std::end(kListedSpeeds));
    return true;
  }
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    const std::string entry = text.substr(from, comma - from);
    int baud = 0;
    if (!whole_number(entry, &baud) || !Sio::rate_accepted(baud)) {
      *error = "\"" + entry + "\" - не скорость порта (например 9600,19200 или all)";
      return false;
    }
    if (std::find(speeds->begin(), speeds->end(), baud) == speeds->end()) speeds->push_back(baud);
    from = comma + 1;
  }
  return !speeds->empty();
}

std::vector<int> neighbour_speeds(int baud_rate) {
  const int* begin = std::begin(kListedSpeeds);
  const int* end = std::end(kListedSpeeds);
  const int* at = std::find(begin, end, baud_rate);
  if (at == end) return std::vector<int>(begin, end);
  return std::vector<int>(at == begin ? at : at - 1, at + 1 == end ? end : at + 2);
}

bool parse_scan_addresses(const std::string& text, int highest, int* first, int* last,
                          std::string* error) {
  const std::size_t dots = text.find("..");
  const std::string a = dots == std::string::npos ? text : text.substr(0, dots);
  const std::string b = dots == std::string::npos ? text : text.substr(dots + 2);
  int from = 0;
  int to = 0;
  if (!whole_number(a, &from) || !whole_number(b, &to) || from > to || to > highest) {
    *error =
        "\"" + text + "\" - не диапазон адресов ОТ..ДО в пределах 0.." + std::to_string(highest);
    return false;
  }
  *first = from;
  *last = to;
  return true;
}

std::string character_format(int data_bits, int parity_code, int stop_bits) {
  const char* parity = "N";
  switch (parity_code) {
    case 1:
      parity = "E";
      break;
    case 2:
      parity = "M";
      break;
    case 4:
      parity = "O";
      break;
    case 5:
      parity = "S";
      break;
    default:
      break;
  }
  return std::to_string(data_bits) + parity + std::to_string(stop_bits);
}

std::vector<LineFormat> supported_line_formats() {
  std::vector<LineFormat> formats;
  for (int data_bits : {8, 7}) {
    for (int parity : {3, 1, 4}) {
      for (int stop_bits : {1, 2}) {
        if (char_format_supported(data_bits, parity, stop_bits)) {
          formats.push_back({data_bits, parity, stop_bits});
        }
      }
    }
  }
  return formats;
}

}  // namespace kba604
