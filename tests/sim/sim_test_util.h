// Helpers of the virtual instrument's tests: a small KBA604 description built in memory, the
// description files written to disk, and the program's side of a serial line on a terminal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/talv_codec.h"
#include "platform/text.h"
#include "sim/description.h"
#include "sim/frame.h"

namespace kba604::test {

// One parameter record, built fluently.
struct P {
  sim::ParamDef d;
  P(std::string name, std::string format) {
    d.name = std::move(name);
    d.format = std::move(format);
    d.kind = sim::classify_format(d.format);
    if (d.kind == sim::FormatKind::kItems) d.items = sim::split_items(d.format);
  }
  P& index(int i) {
    d.indexed = true;
    d.index = i;
    return *this;
  }
  P& offset(int o) {
    d.address_offset = o;
    return *this;
  }
  P& ro() {
    d.read_only = true;
    return *this;
  }
  P& op() {
    d.operational = true;
    d.read_only = true;
    return *this;
  }
  P& limits(double lo, double hi) {
    d.minimum = lo;
    d.maximum = hi;
    return *this;
  }
  P& decimals(int n) {
    d.decimals = n;
    return *this;
  }
  P& init(std::string text) {
    d.initial = std::move(text);
    return *this;
  }
  P& ref(std::string text) {
    if (!text.empty() && text[0] == '?') {
      d.check_only = true;
      text.erase(0, 1);
    }
    d.reference = std::move(text);
    return *this;
  }
  P& attrs(int multiplicity, bool editable, bool factory) {
    d.multiplicity = multiplicity;
    d.editable = editable;
    d.factory = factory;
    return *this;
  }
};

inline constexpr const char* kSensorItems =
    "Выкл:ТСМ100М:ТСМ50М:ТСП100П:ТСП100П2:ТХК:ТХА:мВ:ТСП50П:ТСП50П2:ТСМ50М2:Ток4_20:Ток0_20:"
    "Ток0_5:В0_1:ТСМ100М2:ТСМгр23:ТПР:ТППS:ТППR:ТНН:ТЖК:ТВР1:ТВР2:ТВР3:ТМК:Задв09:Задв20:"
    "Задв0_20";

// A small KBA604: identification, a sensor type per input, numbers of every format, the network
// settings, regulation, the step program and the operational values.
inline std::shared_ptr<sim::Description> small_description() {
  auto d = std::make_shared<sim::Description>();
  auto add = [&](const P& p) { d->params.push_back(p.d); };
  add(P("dev", "ASCI").ro());
  add(P("ver", "ASCI").ro());
  add(P("exit", "string").ro());
  add(P("n.Err", "DEC_dot").ro());
  for (int i = 0; i < 8; ++i)
    add(P("in-t", kSensorItems).index(i).init(i == 0 ? "1" : "5").attrs(1, true, false));
  add(P("t.A", "STORED_DOT")
          .decimals(1)
          .limits(0, 100)
          .init("12.5")
          .ref("20.0")
          .attrs(1, true, false));
  add(P("t.B", "STORED_DOT").limits(-50, 50).init("1.5"));
  add(P("F.ac", "STORED_DOT")
          .decimals(2)
          .limits(0, 10)
          .init("1.00")
          .ref("?1.25")
          .ro()
          .attrs(1, false, true));
  add(P("ro.x", "DEC_dot").ro().init("5"));
  add(P("n.Ch", "DEC_dot").limits(1, 8).init("2"));
  add(P("n.Obj", "DEC_dot").limits(0, 4).init("1"));
  add(P("TYPE", "Вкл:Выкл:Авто").init("Выкл"));
  add(P("Ch.At",
        "Не_редактируемый,_Заводской:Редактируемый,_Заводской:Не_редактируемый,_Пользовательский:"
        "Редактируемый,_Пользовательский")
          .init("3"));
  add(P("fl", "float").limits(-1000, 1000).init("1.5"));
  add(P("nm", "name").init("AB.1"));
  add(P("clk", "CLK_frm").limits(0, 3600).init("0:30"));
  for (int i = 0; i < 8; ++i) add(P("G.idx", "DEC_dot").index(i).init("0").attrs(4, true, false));
  add(P("bPS", "2400:4800:9600:14400:19200:28800:38400:57600:115200").init("9600"));
  add(P("LEn", "7:8").init("8"));
  add(P("PrtY", "Отсутствует:Четность:Нечетность").init("Отсутствует"));
  add(P("Sbit", "1:2").init("1"));
  add(P("A.Len", "8:11").init("8"));
  add(P("Addr", "DEC_dot").limits(0, 2047).init("16"));
  add(P("Prot", "ТАЛВ:Modbus_RTU:Modbus_ASCII").init("ТАЛВ"));
  add(P("net.s", "Запрещен:Разрешен").init("Разрешен"));
  add(P("r-s", "Стоп:Пуск").ro().init("Стоп"));
  add(P("r.co", "Нет:Сброс").ro().init("Нет").ref("Сброс"));
  for (int p = 0; p < 3; ++p) add(P("nPC", "DEC_dot").index(p * 5).limits(1, 5).init("5"));
  for (int i = 0; i < 15; ++i) {
    add(P("PCP.i", "Нагрев:Выдержка:Охлаждение:Конец_программы").index(i).init("Нагрев"));
    const char* sp[] = {"100", "200"};
    const char* tr[] = {"0:10", "0:10"};
    const char* ts[] = {"0:20", "0:20"};
    add(P("sp", "STORED_DOT").decimals(1).limits(0, 1000).index(i).init(i < 2 ? sp[i] : "0"));
    add(P("t.rs", "CLK_frm").index(i).init(i < 2 ? tr[i] : "0"));
    add(P("t.stb", "CLK_frm").index(i).init(i < 2 ? ts[i] : "0"));
  }
  for (int i = 0; i < 8; ++i) add(P("rEAd", "float").offset(i).op());
  add(P("Set.P", "float").op());
  add(P("r.OUt", "float").op());
  add(P("r.St", "Стоп:Работа").op());
  add(P("r.StP", "DEC_dot").op());
  add(P("r.PrG", "DEC_dot").op());
  add(P("r.SiG", "В_норме:Вне_диапазона").op());
  add(P("r.Cn", "DEC_dot").op());
  return d;
}

// A request packet for a named parameter or command.
inline sim::Packet request(unsigned address, bool read, std::string_view name,
                           sim::Bytes data = {}) {
  sim::Packet p;
  p.address = address;
  p.read = read;
  p.hash = hash_name(name);
  p.data = std::move(data);
  return p;
}

inline sim::Bytes text_reversed(std::string_view text) {
  return sim::Bytes(text.rbegin(), text.rend());
}

// ---- description files on disk ----

inline void put_i32(std::string& rec, std::size_t at, std::int32_t v) {
  for (int i = 0; i < 4; ++i)
    rec[at + static_cast<std::size_t>(i)] =
        static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
}
inline void put_f32(std::string& rec, std::size_t at, float f) {
  std::int32_t v;
  std::memcpy(&v, &f, sizeof v);
  put_i32(rec, at, v);
}
inline void put_text(std::string& rec, std::size_t at, std::size_t size, std::string_view utf8) {
  std::string text = platform::to_cp1251(utf8);
  if (text.size() >= size) throw std::runtime_error("field too long");
  std::memcpy(&rec[at], text.data(), text.size());
}

// A 2343-byte parameter record laid out field by field.
inline std::string param_record(const sim::ParamDef& p, std::int32_t index_value,
                                std::uint8_t index_kind, const std::string& reference_text) {
  std::string r(2343, '\0');
  put_text(r, 0, 9, p.name);
  put_text(r, 9, 256, p.title);
  put_i32(r, 265, index_value);
  r[269] = static_cast<char>(index_kind);
  r[270] = p.read_only ? 1 : 0;
  put_i32(r, 277, p.multiplicity);
  r[281] = p.editable ? 1 : 0;
  r[282] = p.factory ? 1 : 0;
  put_text(r, 283, 1024, p.format);
  put_i32(r, 1307, p.decimals);
  put_f32(r, 1311, static_cast<float>(p.minimum));
  put_f32(r, 1315, static_cast<float>(p.maximum));
  put_text(r, 1319, 256, p.initial);
  put_text(r, 1575, 256, reference_text);
  return r;
}

inline void write_gzip(const std::filesystem::path& path, const std::string& data) {
  gzFile f = gzopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path.string());
  gzwrite(f, data.data(), static_cast<unsigned>(data.size()));
  gzclose(f);
}

// Writes parameters.zip for a description (no trees: the instrument needs none).
inline void write_description(const std::filesystem::path& folder, const sim::Description& d) {
  std::string data;
  for (const auto& p : d.params) {
    std::int32_t index = p.indexed ? p.index : (p.address_offset != 0 ? p.address_offset : -1);
    std::uint8_t kind = p.indexed ? 0 : 1;
    data += param_record(p, index, kind, (p.check_only ? "?" : "") + p.reference);
  }
  std::filesystem::create_directories(folder);
  write_gzip(folder / "parameters.zip", data);
}

// ---- the program's side of the line ----

struct TerminalSettings {
  speed_t speed = B9600;
  int data_bits = 8;
  char parity = 'N';  // N, E, O
  int stop_bits = 1;
};

class TerminalClient {
 public:
  using Settings = TerminalSettings;

  explicit TerminalClient(const std::string& path, Settings s = {}) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    set(s);
  }
  ~TerminalClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  TerminalClient(const TerminalClient&) = delete;
  TerminalClient& operator=(const TerminalClient&) = delete;

  // Raw mode as the program's serial line sets it: parity checking (INPCK) with parity,
  // ISTRIP for 7-bit characters.
  void set(Settings s) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | ISTRIP);
    t.c_cflag |= s.data_bits == 7 ? CS7 : CS8;
    if (s.data_bits == 7) t.c_iflag |= ISTRIP;
    if (s.parity != 'N') {
      t.c_cflag |= PARENB | (s.parity == 'O' ? PARODD : 0);
      t.c_iflag |= INPCK;
    }
    if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
    cfsetispeed(&t, s.speed);
    cfsetospeed(&t, s.speed);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIOFLUSH);
  }

  void send(const std::string& bytes) {
    tcflush(fd_, TCIFLUSH);
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("write failed");
  }

  // Characters until `end` arrives or the time is up.
  std::string receive(int timeout_ms = 1000, char end = '\r') {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
      if (left <= 0) return got;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) return got;
      char buffer[256];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) continue;
      got.append(buffer, static_cast<std::size_t>(n));
      if (got.find(end) != std::string::npos) return got;
    }
  }

  // Bytes for a fixed time (for replies without a terminator, and for silence).
  std::string gather(int ms) {
    std::string got = receive(ms, '\0');
    return got;
  }

  std::string exchange(const std::string& frame, int timeout_ms = 1000) {
    send(frame);
    return receive(timeout_ms);
  }

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The reply packet in a received frame, or a packet with hash 0 when it is no valid frame.
inline sim::Packet reply_of(const std::string& frame, int address_length = 8) {
  if (frame.size() < 2 || frame.front() != '#' || frame.back() != '\r') return {};
  sim::DecodedFrame d = sim::decode_frame(frame.substr(1, frame.size() - 2), address_length);
  return d.status == sim::FrameStatus::kOk ? d.packet : sim::Packet{};
}

}  // namespace kba604::test
