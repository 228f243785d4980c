#include "sim/instrument.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "model/talv_codec.h"
#include "platform/text.h"

namespace kba604::sim {
namespace {

// Hashes of the commands the instrument knows by itself, whatever the description lists.
struct Commands {
  std::uint16_t dev = hash_name("dev");
  std::uint16_t ver = hash_name("ver");
  std::uint16_t exit = hash_name("exit");
  std::uint16_t n_err = hash_name("n.Err");
  std::uint16_t aply = hash_name("APLY");
  std::uint16_t prtl = hash_name("PRTL");
  std::uint16_t attr = hash_name("Attr");
  std::uint16_t master = hash_name("M.s.t.r.");
  std::uint16_t clb_i = hash_name("CLB.I");
  std::uint16_t clb_s = hash_name("CLB.S");
  std::uint16_t clb_t = hash_name("CLB.T");
  std::uint16_t clb_g = hash_name("CLB.G");
  std::uint16_t clb_p = hash_name("CLB.P");
  std::uint16_t clb_a = hash_name("CLB.A");
};
const Commands& commands() {
  static const Commands kCommands;
  return kCommands;
}

// The attribute list whose items 0..3 are written as 0xAC..0xAF by a master at full access.
constexpr std::string_view kAttributeList =
    "Не_редактируемый,_Заводской:Редактируемый,_Заводской:Не_редактируемый,_Пользовательский:"
    "Редактируемый,_Пользовательский";

bool named(const ParamDef& def, std::string_view name) {
  return platform::iequals(def.name, name);
}

bool is_network_name(std::string_view name) {
  for (const char* n : {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot"})
    if (platform::iequals(name, n)) return true;
  return false;
}

// Values the instrument computes instead of storing them.
bool is_computed_name(std::string_view name) {
  for (const char* n :
       {"rEAd", "r.CAL", "rd.rg", "Set.P", "r.OUt", "r.kEY", "r.PrG", "r.StP", "r.St", "r.SiG",
        "r.Cn"})
    if (platform::iequals(name, n)) return true;
  return false;
}

bool is_builtin_name(std::string_view name) {
  for (const char* n : {"dev", "ver", "exit", "n.Err"})
    if (platform::iequals(name, n)) return true;
  return false;
}

std::string hex(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
  return out;
}

bool unhex(const std::string& text, Bytes& out) {
  if (text.size() % 2 != 0 || text.size() > 64) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned v = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[i + static_cast<std::size_t>(k)];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<unsigned>(c - '0');
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<unsigned>(c - 'A' + 10);
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<unsigned>(c - 'a' + 10);
      else
        return false;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

Bytes reversed_text(const std::string& utf8) {
  std::string bytes = platform::to_cp1251(utf8);
  return Bytes(bytes.rbegin(), bytes.rend());
}

Bytes neutral_value(const ParamDef& def) {
  switch (def.kind) {
    case FormatKind::kAscii:
    case FormatKind::kString:
      return {'-'};  // an empty reply would be no value at all
    case FormatKind::kName:
      return {78, 78, 78, 78};  // four blanks
    default:
      return bytes_for_number(def,
                              def.has_limits() ? std::clamp(0.0, def.minimum, def.maximum) : 0.0);
  }
}

Bytes index_bytes(int slot) {
  return {static_cast<std::uint8_t>((slot >> 8) & 0xFF), static_cast<std::uint8_t>(slot & 0xFF)};
}

long to_long(const std::string& text, long fallback) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  return (end == text.c_str()) ? fallback : v;
}

}  // namespace

Instrument::Instrument(InstrumentOptions options, std::shared_ptr<const Description> description,
                       double time_scale, std::uint32_t seed)
    : options_(std::move(options)),
      description_(std::move(description)),
      time_scale_(time_scale),
      base_address_(options_.base_address),
      address_length_(options_.address_length),
      line_(options_.line),
      protocol_(options_.protocol),
      process_(seed),
      calibration_(options_.calibration, seed ^ 0x5A5A5A5Au) {
  process_.set_time_scale(time_scale);
  calibration_.set_time_scale(time_scale);
  cells_.reserve(description_->params.size());
  for (const ParamDef& def : description_->params) {
    Cell cell;
    cell.def = &def;
    cell.editable = def.editable;
    cell.factory = def.factory;
    std::string why;
    bool command = is_builtin_name(def.name) || is_computed_name(def.name);
    bool has_initial = !def.initial.empty() && def.initial != "Нет данных";
    if (has_initial && !encode_value(def, def.initial, cell.initial, &why)) {
      cell.initial.clear();
      if (!command)
        warnings_.push_back(def.name + ": initial value \"" + def.initial + "\" is " + why);
    }
    if (!def.reference.empty()) {
      Bytes ref;
      if (encode_value(def, def.reference, ref, &why))
        cell.reference = ref;
      else
        warnings_.push_back(def.name + ": reference value \"" + def.reference + "\" is " + why);
    }
    // Without an initial value the instrument leaves the factory with its reference value, or
    // with the nearest thing to zero its rules allow. The configuration reset is a command, not
    // a setting: it rests at "not requested" whatever value performs it, so that reading it
    // back (into an EEPROM image, say) and writing that back never resets anything.
    if (cell.initial.empty()) {
      const bool command_cell = named(def, "r.co");
      cell.initial = cell.reference && !command_cell ? *cell.reference : neutral_value(def);
    }
    cell.value = cell.initial;
    std::uint16_t hash = hash_name(def.name);
    Entry& entry = entries_[hash];
    if (def.indexed && !def.operational) entry.indexed = true;
    entry.slots.emplace(def.slot(), cells_.size());
    cells_.push_back(std::move(cell));
  }
  put_network_cells();
  // Without a value of its own the instrument leaves the factory with start over the network
  // allowed, so that the configurator can start and stop it.
  Cell* permission = find_cell("net.s");
  if (permission && permission->def->kind == FormatKind::kItems && !permission->reference &&
      (permission->def->initial.empty() || permission->def->initial == "Нет данных")) {
    for (std::size_t i = 0; i < permission->def->items.size(); ++i) {
      Cell probe = *permission;
      probe.value = {static_cast<std::uint8_t>(i)};
      if (network_start_allowed(&probe)) {
        permission->value = permission->initial = probe.value;
        break;
      }
    }
  }
  if (options_.regulating) start_regulation(0);
}

bool Instrument::hears(unsigned address) const {
  if (address == kBroadcastAddress) return true;
  return address >= base_address_ && address < base_address_ + 8;
}

Packet Instrument::reply_to(const Packet& request, std::uint16_t hash, Bytes data) const {
  Packet reply;
  reply.address = request.address == kBroadcastAddress ? base_address_ : request.address;
  reply.read = request.read;
  reply.hash = hash;
  reply.data = std::move(data);
  return reply;
}

Packet Instrument::refuse(const Packet& request, std::uint8_t code) {
  last_error_ = code;
  return reply_to(request, kHashNErr, {code});
}

Packet Instrument::frame_error(unsigned address, std::uint8_t code) {
  Packet request;
  request.address = address;
  request.read = true;
  return refuse(request, code);
}

Instrument::Outcome Instrument::handle(const Packet& request, double now) {
  const Commands& c = commands();
  bool broadcast = request.address == kBroadcastAddress;
  int offset = broadcast ? -1 : static_cast<int>(request.address - base_address_);
  Outcome out;
  std::uint16_t h = request.hash;
  if (h == c.dev || h == c.ver) {
    if (!request.read)
      out.reply = refuse(request, nerr::kReadOnly);
    else
      out.reply =
          reply_to(request, h, reversed_text(h == c.dev ? options_.model : options_.firmware));
  } else if (h == c.exit) {
    if (!request.read) {
      out.reply = refuse(request, nerr::kReadOnly);
    } else if (broadcast) {
      // Asked at the broadcast address, the instrument tells its own address.
      out.reply = reply_to(request, h,
                           {24, static_cast<std::uint8_t>(base_address_ >> 8),
                            static_cast<std::uint8_t>(base_address_ & 0xFF)});
      return out;
    } else {
      out.reply = reply_to(request, h, {0, 0, static_cast<std::uint8_t>(options_.reset_cause)});
    }
  } else if (h == c.n_err) {
    if (!request.read)
      out.reply = refuse(request, nerr::kReadOnly);
    else
      out.reply = reply_to(request, h, {last_error_});
  } else if (h == c.aply) {
    if (request.read) {
      out.reply = refuse(request, nerr::kRequestBit);
    } else {
      // The new settings take effect at once: there is no answer at the old ones.
      apply_network_cells();
      out.settings_changed = true;
      return out;
    }
  } else if (h == c.prtl) {
    if (request.read) {
      out.reply = refuse(request, nerr::kRequestBit);
    } else {
      out.reply = reply_to(request, h, {});
      const Cell* prot = find_cell("Prot");
      long position =
          prot ? static_cast<long>(numeric_value(*prot->def, prot->value).value_or(0)) : 0;
      std::string text = platform::upper_case(item_text(prot));
      if (position != 0 && address_length_ == 8) {
        if (text.find("ASCII") != std::string::npos)
          protocol_ = Protocol::kModbusAscii;
        else if (text.find("RTU") != std::string::npos)
          protocol_ = Protocol::kModbusRtu;
        else
          protocol_ = position == 2 ? Protocol::kModbusAscii : Protocol::kModbusRtu;
        changed_ = true;
      }
    }
  } else if (h == c.attr || h == c.master) {
    out = handle_attributes(request, offset);
  } else if (h == c.clb_i || h == c.clb_s || h == c.clb_t || h == c.clb_g || h == c.clb_p ||
             h == c.clb_a) {
    out = handle_calibration(request, now);
  } else {
    out = handle_parameter(request, offset, now);
  }
  if (broadcast) out.reply.reset();  // nobody answers a broadcast
  return out;
}

Instrument::Outcome Instrument::handle_parameter(const Packet& request, int offset, double now) {
  Outcome out;
  auto it = entries_.find(request.hash);
  if (it == entries_.end()) {
    out.reply = refuse(request, nerr::kUnknownName);
    return out;
  }
  const Entry& entry = it->second;
  const Bytes& data = request.data;
  int slot = std::max(offset, 0);
  bool with_index = false;
  Bytes value;
  if (entry.indexed) {
    if (request.read && data.size() == 2) {
      slot = data[0] << 8 | data[1];
      with_index = true;
    } else if (request.read && !data.empty()) {
      out.reply = refuse(request, nerr::kDataSize);
      return out;
    } else if (!request.read && offset > 0) {
      // The index travels in the address field: the data is the value alone.
      value = data;
    } else if (!request.read) {
      if (data.size() < 3) {
        out.reply = refuse(request, nerr::kDataSize);
        return out;
      }
      slot = data[data.size() - 2] << 8 | data[data.size() - 1];
      value.assign(data.begin(), data.end() - 2);
      with_index = true;
    }
  } else {
    if (request.read && !data.empty()) {
      out.reply = refuse(request, nerr::kDataSize);
      return out;
    }
    value = data;
  }
  auto found = entry.slots.find(slot);
  if (found == entry.slots.end()) {
    out.reply = refuse(request, nerr::kIndexTooLarge);
    return out;
  }
  Cell& cell = cells_[found->second];
  const ParamDef& def = *cell.def;
  if (request.read) {
    Bytes reply = computed(cell, slot, now).value_or(cell.value);
    if (with_index) {
      Bytes index = index_bytes(slot);
      reply.insert(reply.end(), index.begin(), index.end());
    }
    out.reply = reply_to(request, request.hash, reply);
    return out;
  }
  if (is_rom(def) || refuses_writes_of(def)) {
    out.reply = refuse(request, nerr::kReadOnly);
    return out;
  }
  Cell& leader = attribute_leader(entry, cell);
  if (def.multiplicity > 0 && !leader.editable) {
    out.reply = refuse(request, nerr::kForbidden);
    return out;
  }
  Bytes stored = value;
  if (def.format == kAttributeList && stored.size() == 1 && stored[0] >= 0xAC && stored[0] <= 0xAF)
    stored[0] = static_cast<std::uint8_t>(stored[0] - 0xAC);
  std::uint8_t code = check_value(def, stored);
  if (code == nerr::kNone) code = check_rules(cell, stored);
  if (code != nerr::kNone) {
    out.reply = refuse(request, code);
    return out;
  }
  cell.value = stored;
  changed_ = true;
  after_write(cell, now);
  Bytes echo = cell.value;
  if (with_index) {
    Bytes index = index_bytes(slot);
    echo.insert(echo.end(), index.begin(), index.end());
  }
  out.reply = reply_to(request, request.hash, echo);
  return out;
}

Instrument::Outcome Instrument::handle_attributes(const Packet& request, int offset) {
  Outcome out;
  bool master = request.hash == commands().master;
  bool write = !request.read;
  const Bytes& d = request.data;
  std::size_t head = write ? 1 : 0;
  if (d.size() != head + 2 && d.size() != head + 4) {
    out.reply = refuse(request, nerr::kDataSize);
    return out;
  }
  bool with_index = d.size() == head + 4;
  int slot = with_index ? (d[head] << 8 | d[head + 1]) : std::max(offset, 0);
  std::size_t at = with_index ? head + 2 : head;
  std::uint16_t target = static_cast<std::uint16_t>(d[at] << 8 | d[at + 1]);
  auto it = entries_.find(target);
  if (it == entries_.end()) {
    out.reply = refuse(request, nerr::kUnknownName);
    return out;
  }
  auto found = it->second.slots.find(slot);
  if (found == it->second.slots.end()) {
    out.reply = refuse(request, nerr::kIndexTooLarge);
    return out;
  }
  Cell& cell = cells_[found->second];
  if (cell.def->multiplicity == 0) {
    out.reply = refuse(request, nerr::kNoAttributes);
    return out;
  }
  Cell& leader = attribute_leader(it->second, cell);
  if (write) {
    bool editable = d[0] & 1;
    bool factory = !(d[0] & 2);
    // Without the master's name only the owner may change a parameter's editability, and
    // nobody but the master hands a parameter over to the factory or takes it back.
    if (!master && (factory != leader.factory || (leader.factory && editable != leader.editable))) {
      out.reply = refuse(request, nerr::kAttributeOwner);
      return out;
    }
    if (editable != leader.editable || factory != leader.factory) changed_ = true;
    leader.editable = editable;
    leader.factory = factory;
  }
  Bytes reply{static_cast<std::uint8_t>((leader.editable ? 1 : 0) | (leader.factory ? 0 : 2))};
  if (with_index) reply.insert(reply.end(), {0, static_cast<std::uint8_t>(slot & 0xFF)});
  reply.insert(reply.end(),
               {static_cast<std::uint8_t>(target >> 8), static_cast<std::uint8_t>(target)});
  out.reply = reply_to(request, request.hash, reply);
  return out;
}

Instrument::Outcome Instrument::handle_calibration(const Packet& request, double now) {
  const Commands& c = commands();
  std::uint16_t h = request.hash;
  bool is_read_command = h == c.clb_s || h == c.clb_t || h == c.clb_g;
  Outcome out;
  if (request.read != is_read_command) {
    out.reply = refuse(request, nerr::kRequestBit);
    return out;
  }
  CommandReply r;
  if (h == c.clb_i) {
    r = calibration_.start(request.data, now, process_.running(), [this](int input) {
      const Cell* type = find_cell("in-t", input);
      if (!type) return -1;
      return static_cast<int>(numeric_value(*type->def, type->value).value_or(-1));
    });
  } else if (!request.data.empty() && h != c.clb_g) {
    r = {nerr::kDataSize, {}};
  } else if (h == c.clb_s) {
    r = calibration_.progress(now);
  } else if (h == c.clb_t) {
    r = calibration_.test(now);
  } else if (h == c.clb_g) {
    r = calibration_.coefficient(request.data, now);
  } else if (h == c.clb_p) {
    r = calibration_.store(now);
    out.delay = calibration_.store_seconds();
  } else {
    r = calibration_.abort();
  }
  out.reply = r.error ? refuse(request, r.error) : reply_to(request, h, r.data);
  return out;
}

std::uint8_t Instrument::check_rules(const Cell& cell, const Bytes& value) const {
  const ParamDef& def = *cell.def;
  if (named(def, "n.Ch") || named(def, "n.Obj")) {
    // Counts of channels and objects change one step at a time: the instrument rebuilds its
    // tables for every step.
    std::optional<double> now = numeric_value(def, cell.value);
    std::optional<double> next = numeric_value(def, value);
    if (now && next && std::fabs(*next - *now) > 1.0) return nerr::kInvalid;
  }
  if (named(def, "r-s")) {
    std::optional<double> v = numeric_value(def, value);
    if (!v || (*v != 0 && *v != 1)) return nerr::kInvalid;
  }
  if (is_network_name(def.name) && !network_rules_hold(cell, value)) return nerr::kInvalid;
  return nerr::kNone;
}

void Instrument::after_write(Cell& cell, double now) {
  const ParamDef& def = *cell.def;
  if (named(def, "r-s")) {
    bool start = numeric_value(def, cell.value).value_or(0) == 1;
    bool allowed = network_start_allowed(find_cell("net.s"));
    if (!allowed) return;  // the instrument ignores start and stop from the network
    if (start && !process_.running())
      start_regulation(now);
    else if (!start)
      process_.stop(now);
  } else if (named(def, "r.co")) {
    if (cell.reference && cell.value == *cell.reference) {
      process_.stop(now);
      reset_configuration();
    }
  }
}

void Instrument::start_regulation(double now) {
  // The first program: its step count "nPC", and per step the kind "PCP.i", the set point
  // "sp", the time to reach it "t.rs" and the time to hold it "t.stb" (hours:minutes, so a
  // clock value counts minutes). A step of the kind "Конец программы" ends the program early.
  std::vector<ProgramStep> program;
  auto number = [this](const char* name, int slot) -> std::optional<double> {
    const Cell* c = find_cell(name, slot);
    if (!c) return std::nullopt;
    return numeric_value(*c->def, c->value);
  };
  double fallback = number("sp", 0).value_or(100.0);
  int steps = static_cast<int>(std::clamp(number("nPC", 0).value_or(5), 1.0, 5.0));
  for (int k = 0; k < steps; ++k) {
    std::optional<double> sp = number("sp", k);
    if (!sp) break;
    if (platform::istarts_with(item_text(find_cell("PCP.i", k)), "Конец")) break;
    ProgramStep step{*sp, 60 * number("t.rs", k).value_or(0), 60 * number("t.stb", k).value_or(0)};
    if (k > 0 && step.setpoint == 0 && step.ramp_seconds == 0 && step.hold_seconds == 0) break;
    program.push_back(step);
  }
  process_.start(now, program, fallback);
}

bool Instrument::network_start_allowed(const Cell* permission) const {
  if (!permission) return true;
  if (permission->def->kind != FormatKind::kItems)
    return numeric_value(*permission->def, permission->value).value_or(1) != 0;
  std::string text = platform::fold_case(item_text(permission));
  for (const char* no : {"запр", "нет", "выкл", "off", "no"})
    if (text.rfind(no, 0) == 0) return false;
  return true;
}

void Instrument::reset_configuration() {
  for (Cell& cell : cells_) {
    if (is_network_name(cell.def->name)) continue;
    cell.value = cell.reference ? *cell.reference : cell.initial;
    cell.editable = cell.def->editable;
    cell.factory = cell.def->factory;
  }
  // The command itself reads back as it was before it was written.
  if (Cell* co = find_cell("r.co")) co->value = co->initial;
  changed_ = true;
}

std::optional<Bytes> Instrument::computed(const Cell& cell, int slot, double now) {
  const ParamDef& def = *cell.def;
  auto status_of = [this](int input) -> std::optional<Bytes> {
    auto it = options_.input_status.find(input + 1);
    if (it == options_.input_status.end()) return std::nullopt;
    return Bytes{it->second.code, 0, 0, it->second.sub_code};
  };
  if (named(def, "rEAd") || named(def, "r.CAL") || named(def, "rd.rg")) {
    int input = std::clamp(slot, 0, Process::kInputs - 1);
    if (auto status = status_of(input)) return status;
    return float_bytes(static_cast<float>(process_.input(input, now)));
  }
  if (named(def, "Set.P")) {
    std::optional<double> sp = process_.setpoint(now);
    if (!sp) return Bytes{250, 0, 0, 0};  // no set point: regulation does not run
    return float_bytes(static_cast<float>(*sp));
  }
  if (named(def, "r.OUt")) return float_bytes(static_cast<float>(process_.output(now)));
  if (named(def, "r.kEY")) return Bytes{0, 0};
  if (named(def, "r.PrG")) return Bytes{0, static_cast<std::uint8_t>(process_.program())};
  if (named(def, "r.StP")) return Bytes{0, static_cast<std::uint8_t>(process_.step(now))};
  if (named(def, "r.St")) return Bytes{0, static_cast<std::uint8_t>(process_.running() ? 1 : 0)};
  if (named(def, "r.SiG")) return Bytes{0, static_cast<std::uint8_t>(process_.alarm(now))};
  if (named(def, "r.Cn")) return Bytes{0, static_cast<std::uint8_t>(process_.discrete_inputs(now))};
  if (named(def, "rtC") && def.kind == FormatKind::kClock) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return bytes_for_number(def, local.tm_hour * 60 + local.tm_min);
  }
  return std::nullopt;
}

bool Instrument::refuses_writes_of(const ParamDef& def) const {
  for (const std::string& name : options_.faults.refuse_write) {
    if (platform::iequals(def.name, name)) return true;
  }
  return false;
}

bool Instrument::is_rom(const ParamDef& def) const {
  if (is_computed_name(def.name) || is_builtin_name(def.name) || def.operational) return true;
  if (named(def, "r.co") || named(def, "r-s")) return false;
  // A read-only parameter with a reference value is the factory's to set; its attributes guard it.
  return def.read_only && def.reference.empty();
}

Instrument::Cell* Instrument::find_cell(std::string_view name, int slot) {
  auto it = entries_.find(hash_name(name));
  if (it == entries_.end()) return nullptr;
  auto found = it->second.slots.find(slot);
  return found == it->second.slots.end() ? nullptr : &cells_[found->second];
}

const Instrument::Cell* Instrument::find_cell(std::string_view name, int slot) const {
  return const_cast<Instrument*>(this)->find_cell(name, slot);
}

Instrument::Cell& Instrument::attribute_leader(const Entry& entry, Cell& cell) {
  int n = cell.def->multiplicity;
  if (n <= 1 || !cell.def->indexed) return cell;
  auto found = entry.slots.find(cell.def->index / n * n);
  return found == entry.slots.end() ? cell : cells_[found->second];
}

std::string Instrument::item_text(const Cell* cell) const {
  if (!cell) return {};
  const ParamDef& def = *cell->def;
  std::optional<double> v = numeric_value(def, cell->value);
  if (!v) return {};
  if (def.kind == FormatKind::kItems) {
    std::size_t pos = static_cast<std::size_t>(*v);
    return pos < def.items.size() ? def.items[pos] : std::string();
  }
  return std::to_string(static_cast<long>(*v));
}

void Instrument::put_network_cells() {
  auto put = [this](const char* name, const std::string& text) {
    Cell* cell = find_cell(name);
    if (!cell) return;
    Bytes bytes;
    if (encode_value(*cell->def, text, bytes, nullptr) && check_value(*cell->def, bytes) == 0)
      cell->value = bytes;
    else
      warnings_.push_back(std::string(name) + " cannot hold \"" + text + "\"");
  };
  put("bPS", std::to_string(line_.baud));
  put("LEn", std::to_string(line_.data_bits));
  if (line_.parity == Parity::kNone || line_.parity == Parity::kEven ||
      line_.parity == Parity::kOdd) {
    // Items: none, even, odd.
    put("PrtY", std::to_string(line_.parity == Parity::kNone   ? 0
                               : line_.parity == Parity::kEven ? 1
                                                               : 2));
  }
  put("Sbit", std::to_string(line_.stop_bits));
  put("A.Len", std::to_string(address_length_));
  put("Addr", std::to_string(base_address_));
}

void Instrument::apply_network_cells() {
  if (const Cell* c = find_cell("bPS"))
    line_.baud = static_cast<unsigned>(to_long(item_text(c), line_.baud));
  if (const Cell* c = find_cell("LEn"))
    line_.data_bits = static_cast<int>(to_long(item_text(c), line_.data_bits));
  if (const Cell* c = find_cell("PrtY")) {
    long pos = static_cast<long>(numeric_value(*c->def, c->value).value_or(0));
    line_.parity = pos == 1 ? Parity::kEven : pos == 2 ? Parity::kOdd : Parity::kNone;
  }
  if (const Cell* c = find_cell("Sbit"))
    line_.stop_bits = static_cast<int>(to_long(item_text(c), line_.stop_bits));
  if (const Cell* c = find_cell("A.Len"))
    address_length_ = static_cast<int>(to_long(item_text(c), address_length_));
  if (const Cell* c = find_cell("Addr"))
    base_address_ = static_cast<unsigned>(to_long(item_text(c), base_address_));
  changed_ = true;
}

bool Instrument::network_rules_hold(const Cell& changed, const Bytes& value) const {
  auto text_of = [&](const char* name) -> std::string {
    const Cell* c = find_cell(name);
    if (!c) return {};
    if (c == &changed) {
      Cell probe = *c;
      probe.value = value;
      return item_text(&probe);
    }
    return item_text(c);
  };
  auto position_of = [&](const char* name) -> long {
    const Cell* c = find_cell(name);
    if (!c) return 0;
    const Bytes& v = c == &changed ? value : c->value;
    return static_cast<long>(numeric_value(*c->def, v).value_or(0));
  };
  const std::string& name = changed.def->name;
  if (platform::iequals(name, "LEn") || platform::iequals(name, "PrtY") ||
      platform::iequals(name, "Sbit")) {
    long bits = to_long(text_of("LEn"), line_.data_bits);
    long parity = position_of("PrtY");  // 0 none, 1 even, 2 odd
    long stop = to_long(text_of("Sbit"), line_.stop_bits);
    if (bits == 7 && stop == 1 && parity == 0) return false;
    if (bits == 8 && stop == 2 && parity != 0) return false;
    return true;
  }
  long alen = to_long(text_of("A.Len"), address_length_);
  long addr = to_long(text_of("Addr"), base_address_);
  long prot = position_of("Prot");
  bool on_addr = platform::iequals(name, "Addr");
  bool on_alen = platform::iequals(name, "A.Len");
  bool on_prot = platform::iequals(name, "Prot");
  if (addr > (alen == 11 ? 2047 : 255)) return false;
  if ((on_addr || on_alen) && alen == 8 && addr > 248) return false;
  if ((on_addr || on_prot) && prot != 0 && addr > 248) return false;
  if ((on_addr || on_prot) && prot == 0 && addr % 8 != 0) return false;
  if ((on_alen || on_prot) && prot != 0 && alen == 11) return false;
  return true;
}

std::optional<Bytes> Instrument::handle_modbus(const Bytes& packet) {
  if (protocol_ == Protocol::kTalv || packet.size() != 1 + sizeof kSwitchBack) return std::nullopt;
  if (packet[0] != base_address_ ||
      !std::equal(std::begin(kSwitchBack), std::end(kSwitchBack), packet.begin() + 1))
    return std::nullopt;
  protocol_ = Protocol::kTalv;
  if (Cell* prot = find_cell("Prot")) prot->value = bytes_for_number(*prot->def, 0);
  changed_ = true;
  return packet;
}

std::optional<Bytes> Instrument::value(std::string_view name, int slot) const {
  const Cell* c = find_cell(name, slot);
  if (!c) return std::nullopt;
  return c->value;
}

std::optional<std::pair<bool, bool>> Instrument::attributes(std::string_view name, int slot) const {
  auto it = entries_.find(hash_name(name));
  if (it == entries_.end()) return std::nullopt;
  auto found = it->second.slots.find(slot);
  if (found == it->second.slots.end()) return std::nullopt;
  Cell& cell = const_cast<Instrument*>(this)->cells_[found->second];
  if (cell.def->multiplicity == 0) return std::nullopt;
  const Cell& leader = const_cast<Instrument*>(this)->attribute_leader(it->second, cell);
  return std::make_pair(leader.editable, leader.factory);
}

void Instrument::set_input_status(int input, std::optional<InputStatus> status) {
  if (status)
    options_.input_status[input] = *status;
  else
    options_.input_status.erase(input);
}

std::string Instrument::cell_key(const Cell& cell) const {
  const ParamDef& def = *cell.def;
  if (def.indexed || def.address_offset != 0) return def.name + ":" + std::to_string(def.slot());
  return def.name;
}

bool Instrument::take_changed() {
  bool calibration = calibration_.take_changed();
  return std::exchange(changed_, false) || calibration;
}

nlohmann::json Instrument::state() const {
  nlohmann::json values = nlohmann::json::object();
  nlohmann::json attributes = nlohmann::json::object();
  for (const Cell& cell : cells_) {
    if (is_computed_name(cell.def->name) || is_builtin_name(cell.def->name)) continue;
    values[cell_key(cell)] = hex(cell.value);
    if (cell.def->multiplicity > 0)
      attributes[cell_key(cell)] = (cell.editable ? 1 : 0) | (cell.factory ? 2 : 0);
  }
  nlohmann::json calibration = nlohmann::json::object();
  for (const auto& [key, list] : calibration_.stored()) calibration[key] = list;
  const char* protocol = protocol_ == Protocol::kModbusRtu     ? "rtu"
                         : protocol_ == Protocol::kModbusAscii ? "ascii"
                                                               : "talv";
  return {{"address", base_address_},
          {"address_length", address_length_},
          {"line",
           {{"baud", line_.baud},
            {"data_bits", line_.data_bits},
            {"parity", std::string(1, parity_letter(line_.parity))},
            {"stop_bits", line_.stop_bits}}},
          {"protocol", protocol},
          {"values", values},
          {"attributes", attributes},
          {"calibration", calibration}};
}

bool Instrument::restore(const nlohmann::json& s, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  try {
    if (!s.is_object()) return fail("an instrument entry is not an object");
    std::unordered_map<std::string, Cell*> by_key;
    for (Cell& cell : cells_) by_key.emplace(cell_key(cell), &cell);
    // Check everything before changing anything.
    std::vector<std::pair<Cell*, Bytes>> values;
    for (const auto& [key, text] : s.at("values").items()) {
      auto it = by_key.find(key);
      if (it == by_key.end()) continue;  // a parameter this description does not have
      Bytes bytes;
      if (!text.is_string() || !unhex(text.get<std::string>(), bytes))
        return fail("the value of " + key + " is not hexadecimal bytes");
      if (check_value(*it->second->def, bytes) != nerr::kNone) continue;  // no longer valid
      values.emplace_back(it->second, bytes);
    }
    std::vector<std::pair<Cell*, int>> attributes;
    for (const auto& [key, bits] : s.at("attributes").items()) {
      auto it = by_key.find(key);
      if (it == by_key.end()) continue;
      if (!bits.is_number_integer()) return fail("the attributes of " + key + " are not a number");
      attributes.emplace_back(it->second, bits.get<int>());
    }
    std::map<std::string, std::vector<float>> calibration;
    if (s.contains("calibration"))
      calibration = s.at("calibration").get<std::map<std::string, std::vector<float>>>();
    unsigned address = s.at("address").get<unsigned>();
    int address_length = s.at("address_length").get<int>();
    const auto& l = s.at("line");
    LineSettings line;
    line.baud = l.at("baud").get<unsigned>();
    line.data_bits = l.at("data_bits").get<int>();
    std::string parity = l.at("parity").get<std::string>();
    line.stop_bits = l.at("stop_bits").get<int>();
    Parity p = Parity::kNone;
    if (parity.size() != 1 || !parse_parity(platform::fold_case(parity), p))
      return fail("unknown parity \"" + parity + "\"");
    line.parity = p;
    if ((address_length != 8 && address_length != 11) || address > 2047 || line.baud == 0 ||
        line.data_bits < 5 || line.data_bits > 8 || (line.stop_bits != 1 && line.stop_bits != 2))
      return fail("impossible network settings");
    std::string protocol = s.value("protocol", "talv");

    for (auto& [cell, bytes] : values) cell->value = bytes;
    for (auto& [cell, bits] : attributes) {
      cell->editable = bits & 1;
      cell->factory = bits & 2;
    }
    calibration_.set_stored(std::move(calibration));
    if (!options_.explicit_address) base_address_ = address;
    if (!options_.explicit_address_length) address_length_ = address_length;
    if (!options_.explicit_line) line_ = line;
    if (options_.protocol == Protocol::kTalv)
      protocol_ = protocol == "rtu"     ? Protocol::kModbusRtu
                  : protocol == "ascii" ? Protocol::kModbusAscii
                                        : Protocol::kTalv;
    if (options_.explicit_address || options_.explicit_address_length || options_.explicit_line)
      put_network_cells();
    return true;
  } catch (const nlohmann::json::exception& e) {
    return fail(std::string("unexpected content (") + e.what() + ")");
  }
}

}  // namespace kba604::sim
