// The connection check, the device check, "APLY", "PRTL" and the connection-search dialog's
// worker on the scripted line, on the test clock: the frames they put on the line, the exit
// flags, the texts they show and the settings they leave.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "link/line_scan.h"
#include "link/link_fixture.h"
#include "model/talv_codec.h"
#include "operations/connection_check.h"
#include "operations/device.h"
#include "operations/network_commands.h"
#include "operations/setup_carrier.h"
#include "platform/settings_store.h"
#include "support/recording_net_param_channel.h"
#include "support/recording_prompter.h"
#include "support/scripted_line.h"
#include "support/test_home.h"

namespace kba604::test {
namespace {

// The switch-back command for address 16 as the instrument echoes it: 10 05 F0 F0 FF 00 with
// the Modbus RTU CRC BC 48 (low byte first), and in Modbus ASCII with the LRC 0C (the byte sum
// is F4), both worked out by hand beforehand.
const std::string kRtuSwitchBack("\x10\x05\xF0\xF0\xFF\x00\xBC\x48", 8);
const std::string kAsciiSwitchBack = ":1005F0F0FF000C\r\n";

const std::string kTimeout = "Таймаут при передаче данных (нет связи)";

std::vector<std::uint8_t> reversed(const std::string& text) {
  return std::vector<std::uint8_t>(text.rbegin(), text.rend());
}

std::string read_request(const char* name, int address = 16) {
  return talv_frame(static_cast<std::uint8_t>(address), 1, hash_name(name), {});
}

// An instrument behind the scripted line. In the ТАЛВ protocol it answers "dev" and "ver" at
// its address, and only while the program's port is at its speed; left in Modbus it echoes only
// the switch-back command of that protocol and then speaks ТАЛВ again. The first
// silent_requests requests go unanswered.
struct LineInstrument {
  enum class Protocol { Talv, Ascii, Rtu };
  std::string model = "KBA604";
  std::string firmware = "1.10";
  Protocol protocol = Protocol::Talv;
  int address = 16;
  int baud = 9600;
  int silent_requests = 0;
  bool silent = false;
  const Sio* port = nullptr;  // the program's side, for the speed the line runs at
  std::function<void(const std::string&)> on_request;

  LineResponse answer(const std::string& request) {
    if (on_request) on_request(request);
    if (silent_requests > 0) {
      --silent_requests;
      return LineResponse::silence();
    }
    if (silent || (port != nullptr && port->baud_rate() != baud)) return LineResponse::silence();
    switch (protocol) {
      case Protocol::Ascii:
      case Protocol::Rtu:
        if (request != (protocol == Protocol::Ascii ? kAsciiSwitchBack : kRtuSwitchBack)) {
          return LineResponse::silence();
        }
        protocol = Protocol::Talv;
        return LineResponse::reply(request);
      case Protocol::Talv:
        break;
    }
    const auto a = static_cast<std::uint8_t>(address);
    if (request == read_request("dev", address)) {
      return LineResponse::reply(talv_frame(a, 1, hash_name("dev"), reversed(model)));
    }
    if (request == read_request("ver", address)) {
      return LineResponse::reply(talv_frame(a, 1, hash_name("ver"), reversed(firmware)));
    }
    if (request == talv_frame(a, 0, hash_name("PRTL"), {})) {
      return LineResponse::reply(talv_frame(a, 0, hash_name("PRTL"), {}));
    }
    return LineResponse::silence();
  }
};

class NetworkOnScriptedLine : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.set_value("Ports/COM1", "/dev/kba604-test-com1");
    settings.set_value("Ports/COM2", "/dev/kba604-test-com2");
    device = Device::create(app, settings, line.opener());
    instrument->port = &device->sio();
    line.set_responder([i = instrument](const std::string& r) { return i->answer(r); });
  }
  void TearDown() override { device->shutdown(); }

  std::vector<std::string> requests_from(std::size_t first) const {
    std::vector<std::string> all = line.requests();
    return std::vector<std::string>(all.begin() + static_cast<long>(first), all.end());
  }

  platform::ManualClock clock;
  RecordingPrompter prompter;
  CKBA604App app{prompter, clock};
  platform::MemorySettingsStore settings;
  ScriptedLine line{clock};
  std::shared_ptr<LineInstrument> instrument = std::make_shared<LineInstrument>();
  std::shared_ptr<Device> device;
};

TEST_F(NetworkOnScriptedLine, ConnectionCheckFindsTheInstrumentOrBringsItBack) {
  using P = LineInstrument::Protocol;
  struct Case {
    const char* what;
    std::string model;
    P protocol;
    int silent_requests;
    bool silent;
    std::uint32_t flags_before;
    bool result;
    std::uint32_t flags_after;
    int converter_after;     // 0 semi-automatic, 1 automatic
    std::size_t talv_tries;  // ТАЛВ requests before the first Modbus frame (0: none)
  };
  const Case cases[] = {
      // The first try flips the semi-automatic converter to automatic.
      {"the right model at once", "KBA604", P::Talv, 0, false, 0x48, true, 0, 1, 0},
      {"the model without regard to case", "kba604", P::Talv, 0, false, 0, true, 0, 1, 0},
      // "dev" and "ver" four transfers each at the automatic converter, then the
      // semi-automatic one answers: the time-out (4) became a loss (8), which success clears.
      {"the other converter", "KBA604", P::Talv, 8, false, 0, true, 0, 0, 0},
      {"another model", "TRM-101", P::Talv, 0, false, 0, false, 0x40, 0, 4},
      {"left in Modbus ASCII", "KBA604", P::Ascii, 0, false, 0x40, true, 0, 1, 16},
      {"left in Modbus RTU", "KBA604", P::Rtu, 0, false, 0, true, 0, 1, 16},
      {"nothing on the line", "KBA604", P::Talv, 0, true, 0, false, 0x04, 0, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    instrument->model = c.model;
    instrument->protocol = c.protocol;
    instrument->silent_requests = c.silent_requests;
    instrument->silent = c.silent;
    app.exit_flags.set_to(c.flags_before);
    const std::size_t first = line.requests().size();

    EXPECT_EQ(ConnectionCheck(*device), c.result);
    EXPECT_EQ(app.exit_flags.value(), c.flags_after);
    EXPECT_EQ(device->protocol_mode(), kProtocolTalv);
    EXPECT_EQ(device->sio().converter_automatic(), c.converter_after);
    EXPECT_TRUE(line.is_open());
    EXPECT_EQ(prompter.count(), 0u);

    const std::vector<std::string> sent = requests_from(first);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], read_request("dev"));
    if (c.talv_tries > 0) {
      // Two tries of "dev" and "ver" with four transfers each, then the switch-back command in
      // Modbus ASCII (four transfers when nothing echoes) and in Modbus RTU.
      ASSERT_GT(sent.size(), c.talv_tries);
      EXPECT_EQ(sent[c.talv_tries], kAsciiSwitchBack);
      const std::size_t ascii = c.protocol == P::Ascii ? 1 : 4;
      const std::size_t rtu = c.protocol == P::Rtu ? 1 : c.protocol == P::Ascii ? 0 : 4;
      EXPECT_EQ(sent.size(), c.talv_tries + ascii + rtu);
      if (rtu > 0) {
        EXPECT_EQ(sent[c.talv_tries + ascii], kRtuSwitchBack);
      }
    }
    if (c.result && c.protocol != P::Talv) {
      // Back in the ТАЛВ protocol, the instrument answers as it should.
      EXPECT_EQ(check_device(*device, nullptr, false),
                device_check::kRightModel | device_check::kAnswered);
    }
  }
}

TEST_F(NetworkOnScriptedLine, ConnectionCheckWithoutAPortDoesNothing) {
  line.set_present(false);
  EXPECT_FALSE(ConnectionCheck(*device));
  EXPECT_TRUE(line.requests().empty());
  EXPECT_EQ(app.exit_flags.value(), ExitFlags::kPortOpenFailed);
  EXPECT_EQ(prompter.count(), 0u) << "the first opening asks for no message";

  line.set_present(true);
  app.options.mode_flags.store(StartOptions::kSilent);
  EXPECT_FALSE(ConnectionCheck(*device));
  EXPECT_TRUE(line.requests().empty());
}

TEST_F(NetworkOnScriptedLine, DeviceCheckTextsAndFlags) {
  struct Case {
    const char* what;
    std::string model;
    int silent_requests;  // "dev" takes four transfers to fail, "ver" the next four
    int flags;
    std::string errors;
    std::string information;
  };
  const std::string dev_failed = "Ошибка команды 'dev':\n" + kTimeout + "\n";
  const std::string ver_failed = "Ошибка команды 'ver':\n" + kTimeout + "\n";
  const Case cases[] = {
      {"the instrument", "KBA604", 0, 3, "", "Прибор: KBA604\nВерсия прошивки: 1.10\n"},
      {"another model", "TRM-101", 0, 2, "", "Прибор: TRM-101\nВерсия прошивки: 1.10\n"},
      {"nothing answers", "KBA604", 8, 0, dev_failed + ver_failed, ""},
      {"dev lost", "KBA604", 4, 0, dev_failed, "Версия прошивки: 1.10\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    instrument->model = c.model;
    instrument->silent_requests = c.silent_requests;

    // Silently: the error text is appended, nothing is shown.
    std::string errors = "before\n";
    EXPECT_EQ(check_device(*device, &errors, false), c.flags);
    EXPECT_EQ(errors, "before\n" + c.errors);
    EXPECT_EQ(prompter.count(), 0u);

    // "Проверка связи": the boxes.
    instrument->silent_requests = c.silent_requests;
    EXPECT_EQ(check_device(*device, nullptr, true), c.flags);
    std::vector<PromptRecord> boxes = prompter.records();
    std::size_t at = 0;
    if (!c.errors.empty()) {
      ASSERT_GT(boxes.size(), at);
      EXPECT_EQ(boxes[at].text, c.errors);
      EXPECT_EQ(boxes[at].icon, PromptIcon::Error);
      ++at;
    }
    if (!c.information.empty()) {
      ASSERT_GT(boxes.size(), at);
      EXPECT_EQ(boxes[at].text, c.information);
      EXPECT_EQ(boxes[at].caption, "Проверка прибора");
      ++at;
    }
    EXPECT_EQ(boxes.size(), at);
    prompter.clear();
  }
}

TEST_F(NetworkOnScriptedLine, ProbesDoNotCountTowardsTheTimeoutLimit) {
  instrument->silent = true;
  for (int i = 0; i < 4; ++i) check_device(*device, nullptr, false);
  EXPECT_EQ(device->consecutive_failures(), 0);
  EXPECT_FALSE(device->stop_event().is_set());
  EXPECT_TRUE(app.modes.auto_read.load());
  EXPECT_EQ(prompter.count(), 0u);
}

class ApplyOnScriptedLine : public NetworkOnScriptedLine {
 protected:
  // The time of each write of a frame, in test-clock milliseconds.
  std::vector<std::int64_t> write_times(const std::string& frame) const {
    std::vector<std::int64_t> times;
    for (const LineEvent& e : line.events()) {
      if (e.what == "write " + frame) times.push_back(e.at_us / 1000);
    }
    return times;
  }
  void SetUp() override {
    NetworkOnScriptedLine::SetUp();
    // Whole frames in one write: the automatic converter.
    device->sio().set_converter_automatic(1);
  }
  Elements::NetRS485 instrument_settings;
};

TEST_F(ApplyOnScriptedLine, TheDialogsTexts) {
  EXPECT_EQ(Dialogs::CApply(nullptr, &instrument_settings).parameters_text(),
            "Нет данных - контекст устройства не получен диалогом APLY\n\nВнутренняя ошибка "
            "программы");
  EXPECT_EQ(Dialogs::CApply(device.get(), nullptr).parameters_text(),
            "Нет данных - элемент 'Сетевые параметры прибора' не инициализирован\n\nВнутренняя "
            "ошибка программы");
  Dialogs::CApply without(device.get(), nullptr);
  EXPECT_FALSE(without.OnOK());
  EXPECT_TRUE(line.requests().empty());

  instrument_settings.SetValueByName("bPS", "19200", false);
  Dialogs::CApply apply(device.get(), &instrument_settings);
  EXPECT_EQ(apply.parameters_text(),
            "Скорость обмена: 19200\nДлина слова данных: Нет данных\nЧетность: Нет данных\n"
            "Кол-во стоп-бит: Нет данных\nДлина адреса RS-485: Нет данных\nСобственный адрес "
            "прибора: Нет данных\n");
  EXPECT_TRUE(apply.change_program_settings);
  EXPECT_FALSE(apply.broadcast);
  EXPECT_TRUE(apply.three_times);
  EXPECT_FALSE(apply.three_times_enabled());
}

TEST_F(ApplyOnScriptedLine, ApplyMovesTheProgramAndBroadcastsBetweenPauses) {
  // The instrument has taken 19200 baud and address 24 (written before), and moves on APLY.
  instrument_settings.SetValueByName("bPS", "19200", false);
  instrument_settings.SetValueByName("Addr", "24", false);
  instrument_settings.SetValueByName("PrtY", "Четность", false);
  instrument->on_request = [i = instrument.get()](const std::string& r) {
    if (r == talv_frame(16, 0, kHashAply, {})) {
      i->baud = 19200;
      i->address = 24;
    }
  };
  ASSERT_EQ(device->reopen_port(false), 0);
  const std::size_t first = line.requests().size();

  Dialogs::CApply apply(device.get(), &instrument_settings);
  apply.broadcast = true;
  ASSERT_TRUE(apply.OnOK());

  Elements::NetRS485prg& program = device->program_settings();
  EXPECT_EQ(program.GetValueByName("bPS"), "19200");
  EXPECT_EQ(program.GetValueByName("Addr"), "24");
  EXPECT_EQ(program.GetValueByName("PrtY"), "Четность");
  EXPECT_EQ(program.GetValueByName("LEn"), "8") << "a setting without data is not copied";
  EXPECT_EQ(line.settings().baud_rate, 19200);
  EXPECT_EQ(line.settings().parity, platform::Parity::Even);
  EXPECT_TRUE(apply.check_errors().empty());
  EXPECT_EQ(prompter.count(), 0u);

  // APLY at the old settings, the check at the new ones, then three broadcasts (address 255).
  const std::string broadcast = talv_frame(255, 0, kHashAply, {});
  const std::vector<std::string> expected = {talv_frame(16, 0, kHashAply, {}),
                                             read_request("dev", 24),
                                             read_request("ver", 24),
                                             broadcast,
                                             broadcast,
                                             broadcast};
  EXPECT_EQ(requests_from(first), expected);

  // Each broadcast between two pauses of 100 ms: 200 ms between them besides the wait for the
  // reply that never comes (at 19200 baud: interval 1, multiplier 2, 2 × 28 + 50 = 106 ms).
  const std::vector<std::int64_t> times = write_times(broadcast);
  ASSERT_EQ(times.size(), 3u);
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 306);
    EXPECT_LE(times[i] - times[i - 1], 310);
  }
  const std::vector<std::int64_t> checks = write_times(read_request("ver", 24));
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_GE(times[0] - checks[0], 100);
}

TEST_F(ApplyOnScriptedLine, ApplyOptionsAndTheErrorAtTheEnd) {
  struct Case {
    const char* what;
    bool change_program;
    bool broadcast;
    bool three_times;
    bool answers;  // the instrument answers at the new settings
    std::size_t broadcasts;
    bool error_box;
  };
  const Case cases[] = {
      {"lost after APLY", true, false, true, false, 0, true},
      {"broadcast once", true, true, false, true, 1, false},
      {"the program stays at its settings", false, true, true, true, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device->program_settings().SetValueByName("bPS", "9600", false);
    device->reopen_port(false);
    instrument->silent = !c.answers;
    instrument_settings.SetValueByName("bPS", "9600", false);
    instrument_settings.SetValueByName("Addr", "32", false);
    instrument->address = c.change_program ? 32 : 16;
    const std::size_t first = line.requests().size();

    Dialogs::CApply apply(device.get(), &instrument_settings);
    apply.change_program_settings = c.change_program;
    apply.broadcast = c.broadcast;
    apply.three_times = c.three_times;
    ASSERT_TRUE(apply.OnOK());

    std::size_t broadcasts = 0, checks = 0;
    for (const std::string& r : requests_from(first)) {
      if (r == talv_frame(255, 0, kHashAply, {})) ++broadcasts;
      if (r == read_request("dev", 32) || r == read_request("ver", 32)) ++checks;
    }
    EXPECT_EQ(broadcasts, c.broadcasts);
    EXPECT_EQ(device->program_settings().GetValueByName("Addr"), c.change_program ? "32" : "16");
    EXPECT_EQ(checks > 0, c.change_program);
    if (c.error_box) {
      ASSERT_EQ(prompter.count(), 1u);
      EXPECT_EQ(prompter.records()[0].caption, "Имела место ошибка");
      EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Error);
      EXPECT_EQ(prompter.records()[0].text, "Ошибка команды 'dev':\n" + kTimeout +
                                                "\nОшибка команды 'ver':\n" + kTimeout + "\n");
    } else {
      EXPECT_EQ(prompter.count(), 0u);
    }
    prompter.clear();
    device->program_settings().SetValueByName("Addr", "16", false);
  }
}

TEST_F(NetworkOnScriptedLine, PrtlAsksFirstAndNoIsTheSafeAnswer) {
  Parameter prot;
  prot.short_name = "prot";
  prot.value = "Modbus RTU";
  const std::string question =
      "ВНИМАНИЕ: Данная операция приведет к переключению на новый протокол обмена.\nЭто может "
      "привести к потере связи с прибором.\n\nНовый протокол обмена: Modbus RTU";

  EXPECT_EQ(send_prtl(*device, &prot), std::nullopt);
  EXPECT_TRUE(line.requests().empty());
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, question);
  EXPECT_EQ(prompter.records()[0].caption, "Перевод прибора на новый протокол обмена");
  EXPECT_EQ(prompter.records()[0].buttons, PromptButtons::YesNo);

  prompter.answer_next(PromptAnswer::Yes);
  EXPECT_EQ(send_prtl(*device, &prot), 0);
  EXPECT_EQ(line.requests(), std::vector<std::string>{talv_frame(16, 0, hash_name("PRTL"), {})});

  prompter.answer_next(PromptAnswer::Yes);
  send_prtl(*device, nullptr);
  EXPECT_EQ(
      prompter.records().back().text.substr(question.size() - std::string("Modbus RTU").size()),
      "Нет данных");
}

// What the connection-search dialog shows, recorded; a command posted by the worker is
// completed at once, as the dialog's thread would.
class RecordingCarrierView final : public PreStart::SetupCarrierView {
 public:
  void show_status(std::string_view text, bool error) override {
    std::lock_guard lock(mutex_);
    statuses.push_back({std::string(text), error});
  }
  void enable_table(bool enabled) override {
    std::lock_guard lock(mutex_);
    table_enabled = enabled;
  }
  void show_row(std::size_t row, std::string_view value) override {
    std::lock_guard lock(mutex_);
    rows.push_back({row, std::string(value)});
  }
  void end_dialog(int r) override {
    {
      std::lock_guard lock(mutex_);
      result = r;
    }
    ended.set();
  }
  void post_command(PreStart::PendingCommand command) override {
    if (carrier != nullptr) carrier->complete(command);
  }

  struct Status {
    std::string text;
    bool error;
    bool operator==(const Status&) const = default;
  };
  std::vector<Status> status_list() const {
    std::lock_guard lock(mutex_);
    return statuses;
  }

  PreStart::CSetupCarrier* carrier = nullptr;
  platform::Event ended{platform::Event::Reset::Manual};
  int result = 0;
  bool table_enabled = true;
  std::vector<Status> statuses;
  std::vector<std::pair<std::size_t, std::string>> rows;
  mutable std::mutex mutex_;
};

class CarrierOnScriptedLine : public NetworkOnScriptedLine {
 protected:
  void SetUp() override {
    NetworkOnScriptedLine::SetUp();
    carrier = std::make_unique<PreStart::CSetupCarrier>(*device, view);
    view.carrier = carrier.get();
  }
  void TearDown() override {
    carrier->close();
    NetworkOnScriptedLine::TearDown();
  }
  // Waits (for real, the checks themselves run on the test clock) until the worker is idle
  // again or the dialog ended.
  void settle() {
    for (int i = 0; i < 2000 && !carrier->table_enabled() && !view.ended.is_set(); ++i) {
      platform::Clock::real().sleep_ms(5);
    }
  }
  std::string row_value(const char* name) const {
    for (const auto& r : carrier->rows()) {
      if (r.name == name) return r.value;
    }
    return "<no row>";
  }

  RecordingCarrierView view;
  std::unique_ptr<PreStart::CSetupCarrier> carrier;
};

TEST_F(CarrierOnScriptedLine, TheTableShowsTheProgramsSettingsInElementOrder) {
  device->program_settings().SetValueByName("Addr", "24", false);
  carrier->OnInitDialog();
  const std::vector<PreStart::CSetupCarrier::Row> rows = carrier->rows();
  const char* names[] = {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Port"};
  const char* captions[] = {"Скорость обмена", "Длина слова данных",  "Четность",
                            "Кол-во стоп-бит", "Длина адреса RS-485", "Собственный адрес прибора",
                            "Порт компьютера"};
  ASSERT_EQ(rows.size(), std::size(names));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].name, names[i]);
    EXPECT_EQ(rows[i].caption, captions[i]);
  }
  EXPECT_EQ(rows[5].value, "24");
  EXPECT_EQ(rows[0].value, "9600");
}

TEST_F(CarrierOnScriptedLine, EditsFollowTheNetworkRules) {
  carrier->OnInitDialog();
  struct Case {
    std::size_t row;
    const char* text;
    const char* refusal;  // nullptr: taken
    const char* kept;     // the row's value afterwards
  };
  const Case cases[] = {
      {1, "7", "Заданные сетевые настройки не поддерживаются прибором!", "8"},
      {0, "19200", nullptr, "19200"},
      {0, "12345", "", "19200"},  // not in the list: the value's own refusal
      {5, "249",
       "Не выполняются следующие требования:\n - при 8-битной адресации базовый адрес прибора "
       "должен быть не больше 248\n - при использовании протокола ТАЛВ адрес прибора должен быть "
       "кратен 8",
       "16"},
      {5, "24", nullptr, "24"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<BoxMessage> box = carrier->edit_row(c.row, c.text);
    EXPECT_EQ(box.has_value(), c.refusal != nullptr);
    if (box && *c.refusal != '\0') {
      EXPECT_EQ(box->text, c.refusal);
    }
    EXPECT_EQ(carrier->rows()[c.row].value, c.kept);
    EXPECT_EQ(device->program_settings().parameters()[c.row]->value, c.kept);
  }
}

TEST_F(CarrierOnScriptedLine, APortPluggedInWhileTheDialogIsOpenCanBeChosen) {
  carrier->OnInitDialog();
  const std::size_t port_row = 6;
  ASSERT_EQ(carrier->rows()[port_row].name, "Port");
  // No device behind COM7 yet: it is not among the ports.
  settings.set_value("Ports/COM7", "/dev/kba604-test-com7-missing");
  EXPECT_TRUE(carrier->edit_row(port_row, "COM7").has_value());
  EXPECT_EQ(carrier->rows()[port_row].value, "COM1");
  // The adapter is plugged in: its device node appears.
  TestHome home;
  const std::filesystem::path adapter = home.root() / "ttyUSB-adapter";
  std::ofstream(adapter).put('\n');
  settings.set_value("Ports/COM7", adapter.string());
  EXPECT_FALSE(carrier->edit_row(port_row, "COM7").has_value());
  EXPECT_EQ(carrier->rows()[port_row].value, "COM7");
  EXPECT_EQ(device->program_settings().GetValueByName("Port"), "COM7");
}

TEST_F(CarrierOnScriptedLine, AScanWithoutAnswerRestoresTheSpeed) {
  instrument->silent = true;
  carrier->OnInitDialog();
  carrier->OnScan();
  settle();
  ASSERT_TRUE(carrier->table_enabled());
  EXPECT_FALSE(view.ended.is_set());
  const auto statuses = view.status_list();
  ASSERT_EQ(statuses.size(), 10u);
  EXPECT_EQ(statuses[8].text, "Идет сканирование на скорости 115200...");
  EXPECT_EQ(statuses[9],
            (RecordingCarrierView::Status{"Не удалось установить связь с прибором!", true}));
  EXPECT_EQ(row_value("bPS"), "9600");
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
  EXPECT_EQ(device->sio().baud_rate(), 9600) << "the port reopened at the remembered speed";

  // The scan event was reset: the worker waits for the next button.
  instrument->silent = false;
  carrier->OnConnect();
  ASSERT_TRUE(view.ended.wait(10000, platform::Clock::real()));
  EXPECT_EQ(view.result, PreStart::kResultConnected);
}

TEST_F(CarrierOnScriptedLine, TheScanAnnouncesEachSpeedOnceWithUni) {
  RecordingNetParamChannel channel;
  device->set_control_channel(&channel);
  app.options.mode_flags.store(StartOptions::kUniGiven);
  ASSERT_EQ(device->reopen_port(false), 0);
  EXPECT_TRUE(channel.lines().empty()) << "nothing changed yet";
  instrument->silent = true;
  carrier->OnInitDialog();
  carrier->OnScan();
  settle();
  // Many reopenings at each speed (converter flips, protocol modes), one line per change, and
  // the remembered speed at the end.
  const std::vector<std::string> expected = {
      "!netparam bPS 2400",   "!netparam bPS 4800",  "!netparam bPS 9600",  "!netparam bPS 14400",
      "!netparam bPS 19200",  "!netparam bPS 28800", "!netparam bPS 38400", "!netparam bPS 57600",
      "!netparam bPS 115200", "!netparam bPS 9600"};
  EXPECT_EQ(channel.lines(), expected);
  carrier->close();
  device->set_control_channel(nullptr);
}

TEST_F(CarrierOnScriptedLine, ExitDuringAScanRestoresTheSpeedWithoutAFailure) {
  instrument->silent = true;
  // "Выход" is pressed while the scan tries 4800 baud.
  bool pressed = false;
  instrument->on_request = [this, &pressed](const std::string&) {
    if (device->sio().baud_rate() == 4800 && !pressed) {
      pressed = true;
      carrier->OnExit();
    }
  };
  carrier->OnInitDialog();
  carrier->OnScan();
  ASSERT_TRUE(view.ended.wait(10000, platform::Clock::real()));
  EXPECT_EQ(view.result, PreStart::kResultQuit);
  EXPECT_TRUE(carrier->finished());
  const auto statuses = view.status_list();
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[1].text, "Идет сканирование на скорости 4800...");
  EXPECT_EQ(statuses[2], (RecordingCarrierView::Status{"Прерывание операции...", false}));
  EXPECT_EQ(row_value("bPS"), "9600");
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
}

TEST_F(CarrierOnScriptedLine, AFailedConnectionIsShownAndTheTableComesBack) {
  instrument->silent = true;
  // The check holds at its first request until the test has tried to edit.
  platform::Event edited(platform::Event::Reset::Manual);
  instrument->on_request = [&edited](const std::string&) {
    edited.wait(10000, platform::Clock::real());
  };
  carrier->OnInitDialog();
  carrier->OnConnect();
  EXPECT_FALSE(carrier->table_enabled());
  EXPECT_EQ(carrier->edit_row(0, "19200").value_or(BoxMessage{"taken", "", {}}).text, "");
  edited.set();
  settle();
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
  const auto statuses = view.status_list();
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0], (RecordingCarrierView::Status{"Идет сканирование...", false}));
  EXPECT_EQ(statuses[1],
            (RecordingCarrierView::Status{"Не удалось установить связь с прибором!", true}));
  EXPECT_FALSE(view.ended.is_set());
  EXPECT_TRUE(carrier->table_enabled());
}

TEST_F(CarrierOnScriptedLine, ClosingTheDialogWaitsForTheExchangeInProgress) {
  instrument->silent = true;
  // The instrument's line holds the first request until the test lets it go.
  platform::Event in_exchange(platform::Event::Reset::Manual);
  platform::Event release(platform::Event::Reset::Manual);
  instrument->on_request = [&](const std::string&) {
    in_exchange.set();
    release.wait(10000, platform::Clock::real());
  };
  carrier->OnInitDialog();
  carrier->OnConnect();
  ASSERT_TRUE(in_exchange.wait(10000, platform::Clock::real()));
  platform::Event closed(platform::Event::Reset::Manual);
  std::thread closing([&] {
    carrier->close();
    closed.set();
  });
  EXPECT_FALSE(closed.wait(50, platform::Clock::real()));
  release.set();
  closing.join();
  // The worker has returned: it touched the view for the last time before close came back.
  EXPECT_TRUE(carrier->finished());
  EXPECT_TRUE(view.table_enabled);
  EXPECT_FALSE(view.ended.is_set());
}

TEST_F(CarrierOnScriptedLine, OfflineAndExitWaitForTheWorker) {
  struct Case {
    bool offline;
    int result;
  };
  for (const Case c :
       {Case{true, PreStart::kResultConnected}, Case{false, PreStart::kResultQuit}}) {
    SCOPED_TRACE(c.offline ? "offline" : "exit");
    RecordingCarrierView v;
    PreStart::CSetupCarrier carrier(*device, v);
    v.carrier = &carrier;
    app.options.mode_flags.store(StartOptions::kUniGiven | StartOptions::kAutoReadOn);
    app.modes.auto_read.store(true);
    carrier.OnInitDialog();
    if (c.offline) {
      carrier.OnOffline();
    } else {
      carrier.OnExit();
    }
    ASSERT_TRUE(v.ended.wait(10000, platform::Clock::real()));
    EXPECT_EQ(v.result, c.result);
    EXPECT_EQ(v.status_list().front().text, "Прерывание операции...");
    if (c.offline) {
      EXPECT_EQ(app.options.mode_flags.load(), 0x0002);
      EXPECT_FALSE(app.modes.auto_read.load());
    } else {
      EXPECT_EQ(app.options.mode_flags.load(), StartOptions::kUniGiven | StartOptions::kAutoReadOn);
    }
    carrier.close();
    EXPECT_FALSE(device->stop_event().is_set());
  }
}

TEST_F(CarrierOnScriptedLine, ALineScanHoldsTheSearchAndChangesNothingUntilAPick) {
  instrument->address = 40;
  instrument->baud = 19200;
  carrier->OnInitDialog();
  ASSERT_TRUE(carrier->begin_line_scan());
  // The line is the scan's: no second scan, no check, no edit meanwhile.
  EXPECT_FALSE(carrier->begin_line_scan());
  EXPECT_FALSE(carrier->table_enabled());
  EXPECT_FALSE(view.table_enabled);
  carrier->OnConnect();
  EXPECT_EQ(carrier->edit_row(0, "19200").value_or(BoxMessage{"taken", "", {}}).text, "");

  ScanPlan plan;
  plan.speeds = {9600, 19200};
  plan.first_address = 32;
  plan.last_address = 48;
  std::vector<std::string> told;
  ScanListener listener;
  listener.found = [&](const FoundInstrument& f) { told.push_back(f.model + " " + f.version); };
  const std::vector<FoundInstrument> found = carrier->run_line_scan(plan, listener);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].address, 40);
  EXPECT_EQ(found[0].baud_rate, 19200);
  EXPECT_EQ(told, std::vector<std::string>{"KBA604 1.10"});
  // 3 addresses at 2 speeds and one "ver": the check above never ran.
  EXPECT_EQ(line.requests().size(), 7u);
  EXPECT_TRUE(view.status_list().empty());
  // The line is given back as it was: settings untouched, port at the program's speed.
  EXPECT_TRUE(carrier->table_enabled());
  EXPECT_TRUE(view.table_enabled);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
  EXPECT_EQ(device->program_settings().GetValueByName("Addr"), "16");
  EXPECT_EQ(device->sio().baud_rate(), 9600);
  EXPECT_TRUE(device->sio().is_open());

  // The pick puts the instrument's settings into the table and the element and connects.
  EXPECT_FALSE(carrier->OnPickFound(found[0]).has_value());
  ASSERT_TRUE(view.ended.wait(10000, platform::Clock::real()));
  EXPECT_EQ(view.result, PreStart::kResultConnected);
  EXPECT_EQ(row_value("bPS"), "19200");
  EXPECT_EQ(row_value("Addr"), "40");
  EXPECT_EQ(row_value("PrtY"), "Отсутствует");
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "19200");
  EXPECT_EQ(device->program_settings().GetValueByName("Addr"), "40");
  EXPECT_EQ(device->sio().device_address(), 40);
  EXPECT_EQ(view.status_list().back().text, "Связь установлена!");
}

TEST_F(CarrierOnScriptedLine, PicksTheProgramCannotTakeAreRefusedAndExitStopsALineScan) {
  carrier->OnInitDialog();
  FoundInstrument f;
  f.address = 20;
  f.baud_rate = 19200;
  const auto box = carrier->OnPickFound(f);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text,
            "Не выполняются следующие требования:\n - при использовании протокола ТАЛВ адрес "
            "прибора должен быть кратен 8");
  for (const LineFormat bad : {LineFormat{7, 3, 1}, LineFormat{8, 2, 1}, LineFormat{8, 1, 2}}) {
    f.address = 24;
    f.data_bits = bad.data_bits;
    f.parity_code = bad.parity_code;
    f.stop_bits = bad.stop_bits;
    const auto refused = carrier->OnPickFound(f);
    ASSERT_TRUE(refused.has_value()) << character_format(bad);
    EXPECT_EQ(refused->text, "Заданные сетевые настройки не поддерживаются прибором!");
  }
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
  EXPECT_EQ(device->program_settings().GetValueByName("Addr"), "16");
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(carrier->table_enabled());

  // "Выход" while the scan probes its third address: no further probe, and the dialog ends
  // without a failure.
  instrument->silent = true;
  int requests = 0;
  instrument->on_request = [&](const std::string&) {
    if (++requests == 3) carrier->OnExit();
  };
  ASSERT_TRUE(carrier->begin_line_scan());
  ScanPlan plan;
  plan.speeds = {9600, 19200};
  EXPECT_TRUE(carrier->run_line_scan(plan, {}).empty());
  EXPECT_EQ(line.requests().size(), 3u);
  ASSERT_TRUE(view.ended.wait(10000, platform::Clock::real()));
  EXPECT_EQ(view.result, PreStart::kResultQuit);
  EXPECT_FALSE(carrier->line_scan_running());
  EXPECT_FALSE(carrier->begin_line_scan());
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
}

}  // namespace
}  // namespace kba604::test
