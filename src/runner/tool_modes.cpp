#include "runner/tool_modes.h"

#include <array>
#include <mutex>
#include <sstream>

#include "app/command_line.h"
#include "app/exit_flags.h"
#include "app/program_settings.h"
#include "app/translatable.h"
#include "description/description_loader.h"
#include "files/parameter_list_export.h"
#include "link/line_scan.h"
#include "platform/display_check.h"
#include "platform/ini_settings_store.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/port_names.h"
#include "platform/text.h"
#include "runner/export_report_tool.h"

namespace kba604 {
namespace {

int run_help(ToolCall& c) {
  c.out << usage_text();
  return 0;
}

int run_version(ToolCall& c) {
  c.out << version_text();
  return 0;
}

int run_signal_exitevent(ToolCall& c) {
  if (!c.rest.empty()) {
    c.err << "kba604: лишние параметры после --signal-exitevent ИМЯ\n";
    return exit_code::kUsage;
  }
  std::string error;
  if (!platform::NamedEvent::signal(strip_quotes(*c.value), &error)) {
    c.err << "kba604: " << error << "\n";
    return exit_code::kSignalFailed;
  }
  return 0;
}

// Boxes of the description loader as complaints of the tool mode.
class ToolPrompter final : public Prompter {
 public:
  explicit ToolPrompter(std::ostream& err) : err_(err) {}
  PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon, PromptButtons,
                   PromptAnswer safe_answer) override {
    err_ << "kba604: ";
    if (!caption.empty()) err_ << caption << ": ";
    err_ << text << "\n";
    return safe_answer;
  }

 private:
  std::ostream& err_;
};

// The parameter list of the installed description, for documentation builds: no instrument, no
// window, nothing opened; the file's path on standard output.
int run_export_parlist(ToolCall& c) {
  std::optional<std::string> file = c.value;
  std::size_t used = 0;
  if (!file && !c.rest.empty()) file = c.rest[used++];
  if (c.rest.size() > used) {
    c.err << "kba604: лишние параметры после --export-parlist [ФАЙЛ]\n";
    return exit_code::kUsage;
  }
  std::filesystem::path target;
  std::string error;
  if (file && !strip_quotes(*file).empty()) {
    std::error_code ec;
    target = std::filesystem::absolute(strip_quotes(*file), ec);
    if (ec) target = strip_quotes(*file);
  } else {
    if (!platform::ensure_program_directory(&error)) {
      c.err << "kba604: " << error << "\n";
      return exit_code::kSaveFailed;
    }
    target = platform::program_directory() / kParameterListFileName;
  }

  platform::IniSettingsStore settings(platform::settings_file());
  DescriptionRequest request;
  request.data_folder = description_data_folder(&settings);
  ParameterTable table;
  ToolPrompter prompter(c.err);
  DescriptionLoad load = load_description(table, request, &prompter);
  if (!load.main_tree) {
    c.err << "kba604: нет дерева параметров в описании прибора (" << request.data_folder.string()
          << ")\n";
    return exit_code::kDescriptionRefused;
  }
  if (!write_parameter_list(*load.main_tree, target, &error)) {
    c.err << "kba604: " << parameter_list_failure_text(target, error) << "\n";
    return exit_code::kSaveFailed;
  }
  c.out << target.string() << "\n";
  return 0;
}

int run_check_display(ToolCall& c) {
  const platform::DisplayCheck display = platform::check_display();
  if (!display.note.empty()) c.err << "kba604: " << display.note << "\n";
  c.out << (display.available ? "window\n" : "headless\n");
  return display.available ? 0 : 1;
}

int run_export_report(ToolCall& c) {
  return run_export_report_tool(*c.value, c.rest, c.out, c.err);
}

// The options of --scan after the mode: "--name VALUE", "--name=VALUE" or "--name:VALUE".
struct ScanOptions {
  std::optional<std::string> port, speeds, addresses;
};

bool parse_scan_options(const std::vector<std::string>& rest, ScanOptions* o, std::ostream& err) {
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const std::string& p = rest[i];
    const std::size_t sep = p.find_first_of(":=");
    const std::string name = platform::fold_case(p.substr(0, sep));
    std::optional<std::string>* slot = name == "--port"        ? &o->port
                                       : name == "--scan-bps"  ? &o->speeds
                                       : name == "--scan-addr" ? &o->addresses
                                                               : nullptr;
    if (slot == nullptr) {
      err << "kba604: --scan не знает параметра \"" << p
          << "\" (бывают --port N, --scan-bps СПИСОК, --scan-addr ОТ..ДО)\n";
      return false;
    }
    if (sep != std::string::npos) {
      *slot = p.substr(sep + 1);
    } else if (i + 1 < rest.size()) {
      *slot = rest[++i];
    } else {
      err << "kba604: " << name << " нужно значение\n";
      return false;
    }
  }
  return true;
}

// Which instruments answer on the port: a "dev" probe to every address of the range at every
// speed asked, one line per instrument on standard output. The port's character format,
// address length and converter come from the program's settings, which the scan only reads.
int run_scan(ToolCall& c) {
  ScanOptions o;
  if (!parse_scan_options(c.rest, &o, c.err)) return exit_code::kUsage;
  platform::IniSettingsStore store(platform::settings_file());
  ProgramSettings program(store);
  const PortSettings port = program.port_settings();

  int port_number = static_cast<int>(port.port_number);
  if (o.port) {
    const std::string& v = *o.port;
    const auto n = platform::com_port_number("COM" + v);
    if (!n || *n < 1 || *n > 255) {
      c.err << "kba604: --port " << v << ": номер порта бывает от 1 до 255\n";
      return exit_code::kUsage;
    }
    port_number = *n;
  }
  const int address_length = port.address_length == 11 ? 11 : 8;
  ScanPlan plan;
  plan.last_address = LineScan::highest_address(address_length);
  std::string error;
  if (o.speeds) {
    if (!parse_scan_speeds(platform::fold_case(*o.speeds), &plan.speeds, &error)) {
      c.err << "kba604: --scan-bps: " << error << "\n";
      return exit_code::kUsage;
    }
  } else {
    plan.speeds = {static_cast<int>(port.baud_rate)};
  }
  if (o.addresses && !parse_scan_addresses(*o.addresses, plan.last_address, &plan.first_address,
                                           &plan.last_address, &error)) {
    c.err << "kba604: --scan-addr: " << error << "\n";
    return exit_code::kUsage;
  }

  std::recursive_mutex link_lock;
  Sio sio(link_lock, platform::Clock::real(), store);
  sio.set_port_name("COM" + std::to_string(port_number));
  sio.set_data_bits(static_cast<int>(port.byte_size));
  sio.set_parity_code(static_cast<int>(port.parity_scheme));
  sio.set_stop_bits(static_cast<int>(port.stop_bits));
  sio.set_address_length(address_length);
  sio.set_converter_automatic(program.rs485_type());

  LineScan scan(sio);
  std::vector<ScanRemark> remarks;
  int last_speed = 0;
  const std::vector<FoundInstrument> found = scan.run(
      plan, nullptr,
      [&](int baud, int) {
        if (baud == last_speed) return;
        last_speed = baud;
        c.err << "kba604: сканирование " << sio.port_name() << " на скорости " << baud
              << " бод, адреса " << plan.first_address << ".." << plan.last_address << " с шагом "
              << plan.address_step << "\n";
      },
      &remarks);
  std::size_t speeds_failed = 0;
  for (const ScanRemark& r : remarks) {
    c.err << "kba604: " << r.baud_rate << " бод";
    if (r.address >= 0) c.err << ", адрес " << r.address;
    c.err << ": " << r.text << "\n";
    if (r.address < 0) ++speeds_failed;
  }
  for (const FoundInstrument& f : found) {
    c.out << "адрес " << f.address << ", " << f.baud_rate << " бод, "
          << character_format(f.data_bits, f.parity_code, f.stop_bits);
    if (f.address_length == 11) c.out << ", 11-битный адрес";
    c.out << ", " << f.model << ", версия " << (f.version.empty() ? "?" : f.version) << "\n";
  }
  if (!found.empty()) return 0;
  if (speeds_failed == plan.speeds.size()) return exit_code::kPortFailed;
  c.err << "kba604: на " << sio.port_name() << " ни один прибор не ответил\n";
  return exit_code::kNothingFound;
}

// The tool-mode table. To add a tool mode, add one entry here: its name without "--" (lower
// case), how it takes its value (ToolValue), how the usage text shows that value, its handler
// (prints results to call.out, complaints to call.err, returns the exit code; call.rest holds the
// parameters after the mode and its value) and its meaning in one line of the usage text.
const std::array kToolModes = std::to_array<ToolMode>({
    {"help", ToolValue::None, "", run_help,
     KBA604_TR_NOOP("Help", "эта справка (также -h без значения, -? и /?)")},
    {"version", ToolValue::None, "", run_version, KBA604_TR_NOOP("Help", "версия программы")},
    {"signal-exitevent", ToolValue::Required, KBA604_TR_NOOP("Help", "ИМЯ"), run_signal_exitevent,
     KBA604_TR_NOOP("Help", "подать событие завершения программе, запущенной с /exitevent:ИМЯ")},
    {"export-parlist", ToolValue::Optional, KBA604_TR_NOOP("Help", "ФАЙЛ"), run_export_parlist,
     KBA604_TR_NOOP(
         "Help",
         "записать список параметров описания прибора в HTML (по умолчанию parlist.html в каталоге "
         "программы) и вывести путь к файлу")},
    {"check-display", ToolValue::None, "", run_check_display,
     KBA604_TR_NOOP("Help",
                    "открылось бы здесь окно программы (0, \"window\") или нет (1, \"headless\")")},
    {"export-report", ToolValue::Required,
     KBA604_TR_NOOP("Help",
                    "ДД-ММ-ГГГГ.log|ДД-ММ-ГГГГ..ДД-ММ-ГГГГ [--filter all|read|set.p|r.out] [--html "
                    "| --xlsx ФАЙЛ]"),
     run_export_report,
     KBA604_TR_NOOP(
         "Help",
         "отчет протокола измерений без окна: страницы HTML в temp/ (за день файла или первый день "
         "периода) или книга .xlsx в ФАЙЛ; путь первой страницы или книги на stdout")},
    {"scan", ToolValue::None,
     KBA604_TR_NOOP("Help", "[--port N] [--scan-bps СПИСОК] [--scan-addr ОТ..ДО]"), run_scan,
     KBA604_TR_NOOP(
         "Help",
         "найти приборы на линии: запрос \"dev\" по адресам ОТ..ДО с шагом 8 (по умолчанию все) "
         "на скоростях СПИСОК (9600,19200 или all; по умолчанию скорость из настроек), порт COMN "
         "(по умолчанию из настроек); по строке на прибор: адрес, скорость, формат, модель, "
         "версия; настройки не меняются")},
});

// Width on the terminal of a UTF-8 text: one column per character.
std::size_t columns(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

void item(std::ostringstream& s, const std::string& left, std::string_view meaning) {
  constexpr std::size_t kColumn = 30;
  s << "  " << left;
  const std::size_t width = columns(left) + 2;
  if (width + 1 < kColumn) {
    s << std::string(kColumn - width, ' ');
  } else {
    s << "\n" << std::string(kColumn, ' ');
  }
  s << meaning << "\n";
}

}  // namespace

std::span<const ToolMode> tool_modes() {
  return kToolModes;
}

std::optional<int> run_tool_mode(const std::vector<std::string>& params, std::ostream& out,
                                 std::ostream& err) {
  if (params.empty()) return std::nullopt;
  const std::string_view first = params[0];
  std::string name;
  std::optional<std::string> value;
  if (first == "-h" || first == "-?" || first == "/?") {
    name = "help";
  } else if (first.starts_with("--") && first.size() > 2) {
    const std::string_view body = first.substr(2);
    const std::size_t sep = body.find_first_of(":=");
    name = platform::fold_case(body.substr(0, sep));
    if (sep != std::string_view::npos) value = std::string(body.substr(sep + 1));
  } else {
    return std::nullopt;
  }
  const ToolMode* mode = nullptr;
  for (const ToolMode& m : kToolModes) {
    if (m.name == name) mode = &m;
  }
  if (mode == nullptr) return std::nullopt;

  std::size_t next = 1;
  switch (mode->value) {
    case ToolValue::None:
      if (value) {
        err << "kba604: режим --" << name << " не принимает значения\n";
        return exit_code::kUsage;
      }
      break;
    case ToolValue::Optional:
      break;
    case ToolValue::Required:
      if (!value && params.size() > 1) value = params[next++];
      if (!value || value->empty()) {
        err << "kba604: режиму --" << name << " нужно значение: kba604 --" << name << " "
            << mode->value_help << "\n";
        return exit_code::kUsage;
      }
      break;
  }
  ToolCall call{
      value, {params.begin() + static_cast<std::ptrdiff_t>(next), params.end()}, out, err};
  return mode->run(call);
}

std::string version_text() {
  return std::string("kba604 ") + KBA604_VERSION + " - конфигуратор прибора KBA604\n" +
         KBA604_COPYRIGHT + "\n";
}

std::string usage_text() {
  std::ostringstream s;
  s << KBA604_TR(
      "Help",
      "Использование: kba604 [КЛЮЧИ] [ФАЙЛ.604]\n"
      "               kba604 РЕЖИМ [ЗНАЧЕНИЕ]\n"
      "\n"
      "Ключ начинается с \"/\" или \"-\", значение идет после \":\"; несколько ключей можно\n"
      "склеить через \"/\" (/port:3/bps:9600). --имя, --имя:значение и --имя=значение\n"
      "означают то же, что /имя:значение. Имена и значения - без учета регистра; значение\n"
      "ключа-файла занимает весь остаток параметра и сохраняет регистр. Параметр, не\n"
      "являющийся ключом, - файл конфигурации; путь вида /home/ann/a.604 - тоже файл, а после\n"
      "параметра \"--\" файлами считаются все параметры.\n"
      "\n"
      "Ключи:\n");
  for (const SwitchEntry& sw : switch_table()) {
    std::string left = "/" + std::string(sw.name);
    if (!sw.value_help.empty()) left += ":" + translated("Help", sw.value_help);
    item(s, left, translated("Help", sw.help));
  }
  s << KBA604_TR("Help", "\nРежимы (только первым параметром; программа не запускается):\n");
  for (const ToolMode& m : kToolModes) {
    std::string left = "--" + std::string(m.name);
    if (!m.value_help.empty()) {
      const std::string value = translated("Help", m.value_help);
      left += m.value == ToolValue::Optional ? "[=" + value + "]" : " " + value;
    }
    item(s, left, translated("Help", m.help));
  }
  s << KBA604_TR("Help",
                 "\nСтандартный вывод в обычной работе принадлежит каналу управления (/io:stdio);\n"
                 "все сообщения программы идут в стандартный поток ошибок.\n"
                 "\nКоды завершения (из 200-208 действует наименьший):\n");
  for (const ExitCodeMeaning& e : exit_code_table())
    item(s, std::to_string(e.code), translated("Help", e.meaning));
  s << KBA604_TR("Help", "\nФайлы:\n");
  item(s, platform::settings_file().string(),
       KBA604_TR("Help", "настройки программы и порты [Ports]"));
  item(s, platform::devices_file().string(),
       KBA604_TR("Help", "регистрация конфигуратора, раздел [KBA604]"));
  item(s, (platform::config_home() / "TALV" / "Configurator - KBA604.conf").string(),
       KBA604_TR("Help", "последние файлы и расположение панелей окна"));
  item(s, platform::program_directory().string(),
       KBA604_TR("Help", "каталог программы: protocol/ (протокол измерений), temp/ (отчеты)"));
  item(s, platform::default_data_directory().string(),
       KBA604_TR("Help", "файлы описания (или папка из настройки datadirectory)"));
  item(s, platform::runtime_dir().string(),
       KBA604_TR("Help", "блокировка второго экземпляра, каналы управления"));
  return s.str();
}

}  // namespace kba604
