#include "link/traffic_log.h"

#include <ctime>

#include "link/sio.h"
#include "model/talv_codec.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// The longest packet a frame carries: header, 15 data bytes, checksum.
constexpr std::size_t kMaxPacket = 4 + 15 + 2;

std::string local_time(std::int64_t wall_ms) {
  const platform::LocalTimeMs local = platform::local_time_ms(wall_ms);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local.tm);
  return platform::format("%s.%03d", text, local.millis);
}

std::int64_t reply_wall_ms(const TrafficRecord& r) {
  return r.wall_ms + r.round_trip_us / 1000;
}

std::string hash_text(std::uint16_t hash) {
  return platform::format("0x%04X", hash);
}

std::string data_text(const std::vector<std::uint8_t>& data) {
  std::string out;
  for (std::uint8_t b : data) {
    if (!out.empty()) out += ' ';
    out += platform::format("%02X", b);
  }
  return out;
}

std::string round_trip_text(const TrafficRecord& r) {
  return platform::format("%.1f", static_cast<double>(r.round_trip_us) / 1000.0);
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string join_csv(const std::vector<std::string>& fields) {
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += ',';
    row += csv_field(fields[i]);
  }
  return row;
}

// The name of the reply's hash: the request's when they agree.
std::string reply_name(const TrafficEntry& e) {
  if (!e.reply.decoded) return {};
  if (e.request.decoded && e.reply.hash == e.request.hash) return e.name;
  if (e.reply.hash == kHashNErr) return "n.Err";
  return {};
}

// "адрес 16, 0x2810 r.St, данные: 00 01, КС верна"
std::string frame_fields(const TrafficFrame& f, const std::string& name, bool with_request_bit) {
  std::string out = "адрес " + std::to_string(f.address);
  if (with_request_bit) out += f.request_bit ? ", чтение" : ", запись";
  out += ", " + hash_text(f.hash);
  if (!name.empty()) out += " " + name;
  out += ", данные: " + (f.data.empty() ? std::string("нет") : data_text(f.data));
  out += f.checksum_ok ? ", КС верна" : ", КС неверна";
  return out;
}

}  // namespace

TrafficFrame decode_traffic_frame(std::string_view c, int address_length) {
  TrafficFrame f;
  if (c.size() < 2 || c.front() != '#' || c.back() != '\r') return f;
  const std::string_view body = c.substr(1, c.size() - 2);
  if (body.size() % 2 != 0 || body.size() < 12 || body.size() > 2 * kMaxPacket) return f;
  for (char ch : body) {
    if (ch < 'G' || ch > 'V') return f;
  }
  std::uint8_t packet[kMaxPacket] = {};
  decode_buffer(body.data(), body.size(), packet);
  const std::size_t size = body.size() / 2;
  const std::size_t length = packet[1] & 0x0F;
  if (size != 6 + length) return f;
  f.decoded = true;
  f.address = address_length == 11 ? (packet[0] << 3) | ((packet[1] >> 5) & 0x07) : packet[0];
  f.request_bit = (packet[1] >> 4) & 1;
  f.hash = static_cast<std::uint16_t>((packet[2] << 8) | packet[3]);
  f.data.assign(packet + 4, packet + 4 + length);
  const std::uint16_t sum = hash_buffer(packet, 4 + length);
  f.checksum_ok = sum == ((packet[4 + length] << 8) | packet[5 + length]);
  return f;
}

TrafficLog::TrafficLog(NameLookup names) : names_(std::move(names)) {}

TrafficEntry TrafficLog::add(TrafficRecord record) {
  TrafficEntry e;
  if (last_sequence_ && record.sequence > *last_sequence_ + 1) {
    e.dropped_before = record.sequence - *last_sequence_ - 1;
    dropped_ += e.dropped_before;
  }
  last_sequence_ = record.sequence;
  e.request = decode_traffic_frame(record.request, record.address_length);
  e.reply = decode_traffic_frame(record.reply, record.address_length);
  if (e.request.decoded && names_) e.name = names_(e.request.hash);

  switch (record.result) {
    case Sio::kReceived:
      if (record.reply.empty() || record.reply.front() != '#') {
        // A frame of another protocol (the Modbus switch-back) has no "#" to look for.
        e.outcome = e.request.decoded ? TrafficOutcome::NoStart : TrafficOutcome::Reply;
      } else if (!e.reply.decoded || !e.reply.checksum_ok) {
        e.outcome = TrafficOutcome::Checksum;
      } else if (!e.request.decoded || e.reply.hash == e.request.hash) {
        e.outcome = TrafficOutcome::Reply;
      } else if (e.reply.hash == kHashNErr) {
        e.outcome = TrafficOutcome::Refusal;
      } else {
        e.outcome = TrafficOutcome::Foreign;
      }
      break;
    case Sio::kTimeout:
      e.outcome = TrafficOutcome::Timeout;
      break;
    case Sio::kLineError:
      e.outcome = TrafficOutcome::LineError;
      break;
    case Sio::kLost:
      e.outcome = TrafficOutcome::PortLost;
      break;
    default:
      e.outcome = TrafficOutcome::Interrupted;
      break;
  }

  const bool repeated = last_failed_ && !record.request.empty() && record.request == last_request_;
  repetition_ = repeated ? repetition_ + 1 : 0;
  e.repetition = repetition_;
  last_request_ = record.request;
  last_failed_ = e.failed();
  e.record = std::move(record);
  return e;
}

std::string traffic_outcome_text(const TrafficEntry& e) {
  switch (e.outcome) {
    case TrafficOutcome::Reply:
      return "ответ";
    case TrafficOutcome::Refusal:
      return e.reply.data.empty() ? std::string("отказ без кода")
                                  : platform::format("отказ, код 0x%02X", e.reply.data[0]);
    case TrafficOutcome::Foreign:
      return "ответ с чужим хешем";
    case TrafficOutcome::Checksum:
      return "ошибка в контрольной сумме или длине";
    case TrafficOutcome::NoStart:
      return "нет начала посылки";
    case TrafficOutcome::Timeout:
      return "таймаут";
    case TrafficOutcome::LineError:
      return "ошибка линии";
    case TrafficOutcome::PortLost:
      return "порт пропал";
    case TrafficOutcome::Interrupted:
      return "прервано";
  }
  return {};
}

std::string visible_characters(std::string_view characters) {
  std::string out;
  for (char ch : characters) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') {
      out += "\\r";
    } else if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += ch;
    } else {
      out += platform::format("\\x%02X", c);
    }
  }
  return out;
}

std::vector<std::string> traffic_lines(const TrafficEntry& e) {
  std::vector<std::string> lines;
  const TrafficRecord& r = e.record;
  if (e.dropped_before > 0) {
    lines.push_back(platform::format("-- не показано передач: %llu (монитор не успевал) --",
                                     static_cast<unsigned long long>(e.dropped_before)));
  }
  std::string request = local_time(r.wall_ms) + " >> " + visible_characters(r.request) + "  ";
  request += e.request.decoded ? frame_fields(e.request, e.name, true) : "не кадр ТАЛВ";
  if (e.repetition > 0) request += ", повтор " + std::to_string(e.repetition);
  lines.push_back(std::move(request));

  std::string reply = local_time(reply_wall_ms(r)) + " << ";
  reply += r.reply.empty() ? std::string("(ничего)") : visible_characters(r.reply);
  reply += "  ";
  if (e.reply.decoded) reply += frame_fields(e.reply, reply_name(e), false) + "; ";
  reply += traffic_outcome_text(e) + ", " + round_trip_text(r) + " мс";
  lines.push_back(std::move(reply));
  return lines;
}

std::string traffic_csv_header() {
  return "время,направление,символы,адрес,запрос,хеш,имя,данные,КС,повтор,итог,время обмена мс";
}

std::vector<std::string> traffic_csv_rows(const TrafficEntry& e) {
  const TrafficRecord& r = e.record;
  auto frame = [](const TrafficFrame& f, const std::string& name, bool request) {
    if (!f.decoded) return std::vector<std::string>(6);
    return std::vector<std::string>{
        std::to_string(f.address), request ? (f.request_bit ? "чтение" : "запись") : "",
        hash_text(f.hash),         name,
        data_text(f.data),         f.checksum_ok ? "верна" : "неверна"};
  };
  std::vector<std::string> request = {local_time(r.wall_ms), ">>", visible_characters(r.request)};
  for (std::string& f : frame(e.request, e.name, true)) request.push_back(std::move(f));
  request.push_back(std::to_string(e.repetition));
  request.push_back("");
  request.push_back("");
  std::vector<std::string> reply = {local_time(reply_wall_ms(r)), "<<",
                                    visible_characters(r.reply)};
  for (std::string& f : frame(e.reply, reply_name(e), false)) reply.push_back(std::move(f));
  reply.push_back("");
  reply.push_back(traffic_outcome_text(e));
  reply.push_back(round_trip_text(r));
  return {join_csv(request), join_csv(reply)};
}

TrafficNames traffic_names(const ParameterTable& table) {
  TrafficNames names;
  static const char* const kCommands[] = {"dev",   "ver",   "n.Err", "APLY",  "PRTL",
                                          "exit",  "CLB.I", "CLB.S", "CLB.T", "CLB.G",
                                          "CLB.P", "CLB.A", "r-s"};
  for (const Parameter& p : table) {
    if (!p.short_name.empty()) names.emplace(hash_name(p.short_name), p.short_name);
  }
  for (const char* c : kCommands) names.emplace(hash_name(c), c);
  return names;
}

bool TrafficFilter::matches(const TrafficEntry& e) const {
  if (failures_only && !e.failed()) return false;
  if (name.empty()) return true;
  const std::string needle = platform::fold_case(name);
  if (!e.name.empty() && platform::fold_case(e.name).find(needle) != std::string::npos) return true;
  return e.request.decoded &&
         platform::fold_case(hash_text(e.request.hash)).find(needle) != std::string::npos;
}

}  // namespace kba604
