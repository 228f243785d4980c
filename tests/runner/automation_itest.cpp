// The program driven from the command line as another program drives it: a kba604 process in a
// private home whose [Ports] section maps COM9 to the virtual instrument's pseudo-terminal, and
// the exit code it ends with.
#include <gtest/gtest.h>
#include <signal.h>

#include <sys/stat.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "app/exit_flags.h"
#include "description/description_loader.h"
#include "files/configuration_file.h"
#include "platform/ini_settings_store.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "sim/device_value.h"
#include "sim/frame_log.h"
#include "sim/instrument.h"
#include "support/child_process.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

// Upper bounds of waiting for a process; they only matter when something hangs.
constexpr int kProcessLimitMs = 120'000;
constexpr int kStartLimitMs = 60'000;

const char* const kSavedText = "конфигурация сохранена в";
const char* const kReadTitle = "Идет чтение параметров из прибора";

// The frames the program sent, as the virtual line's frame log heard them.
std::size_t frames_heard(const fs::path& log) {
  std::vector<sim::LoggedFrame> frames;
  std::string error;
  EXPECT_TRUE(sim::read_frame_log(log.string(), frames, &error)) << error;
  return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(),
                                                [](const sim::LoggedFrame& f) { return !f.sent; }));
}

// The program speaks Russian: the first run of two English words in what it said (paths,
// switches and the system's own error texts aside), or "" when there is none.
std::string english_phrase(const std::string& said) {
  std::istringstream lines(said);
  std::string line;
  while (std::getline(lines, line)) {
    // The system's error texts (strerror) come as they are: after ": ", with a capital, up to
    // the end of the line or a ";".
    for (std::size_t at = line.find(": "); at != std::string::npos; at = line.find(": ", at + 1)) {
      if (at + 2 < line.size() && line[at + 2] >= 'A' && line[at + 2] <= 'Z') {
        line.erase(at, line.find(';', at) == std::string::npos ? std::string::npos
                                                               : line.find(';', at) - at);
      }
    }
    std::istringstream words(line);
    std::string word, previous;
    while (words >> word) {
      const bool english = word.size() >= 2 &&
                           word.find_first_of("/\\.-_=:<>\"'()[]0123456789") == std::string::npos &&
                           std::all_of(word.begin(), word.end(),
                                       [](char c) { return (c >= 'a' && c <= 'z') || c == ','; });
      if (english && !previous.empty()) return previous + " " + word;
      previous = english ? word : std::string();
    }
  }
  return "";
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A configuration file loaded the way another program run would load it: over the shipped
// description of the version the file names.
class LoadedConfiguration final : public ConfigurationTarget {
 public:
  explicit LoadedConfiguration(const fs::path& path) {
    const std::string bytes = read_file(path);
    result = load_configuration(bytes, path.string(), *this, prompter, true);
  }
  void reload_description(const std::string& version) override {
    DescriptionRequest request;
    request.data_folder = test::shipped_description_folder();
    request.version_text = version;
    load_ = load_description(table_, request, &prompter);
  }
  ParameterTable& table() override { return table_; }
  NameTexts& names() override { return names_; }
  std::string value(const char* name) const {
    const Parameter* p = table_.find_by_name(name);
    return p != nullptr ? p->value : "<missing>";
  }
  std::size_t stored_parameters() const { return table_.size() - table_.operational_count(); }

  test::RecordingPrompter prompter;
  ConfigurationLoad result;

 private:
  ParameterTable table_;
  NameTexts names_;
  DescriptionLoad load_;
};

// The stored values of an instrument (its EEPROM) as the instrument reports them.
nlohmann::json instrument_values(test::VirtualInstrument& sim) {
  return sim.with([](sim::Instrument& i) { return i.state(); });
}

class Automation : public ::testing::Test {
 protected:
  // The instrument for the next runs, reachable as COM9.
  test::VirtualInstrument& instrument(std::vector<std::string> args = {}) {
    sim_ = std::make_unique<test::VirtualInstrument>(std::move(args));
    map_port(9, sim_->path());
    return *sim_;
  }
  void map_port(int number, const std::string& device) {
    platform::open_program_settings()->set_value("Ports/COM" + std::to_string(number), device);
  }
  std::string setting(const char* name) {
    return platform::open_program_settings()->value(name).value_or("<none>");
  }
  std::string path(const char* name) const { return (home.root() / name).string(); }
  // kba604 with these switches, started in the home's root folder.
  test::ChildResult kba604(std::vector<std::string> args) {
    args.insert(args.begin(), test::kba604_program());
    test::RunningChild child(args, home.root().string());
    return child.wait(kProcessLimitMs);
  }
  std::unique_ptr<test::RunningChild> start_kba604(std::vector<std::string> args) {
    args.insert(args.begin(), test::kba604_program());
    return std::make_unique<test::RunningChild>(args, home.root().string());
  }

  test::TestHome home;
  std::unique_ptr<test::VirtualInstrument> sim_;
};

// The automatic converter type: the semi-automatic one waits out every frame's characters,
// which a pseudo-terminal does not need.
const char* const kLine = "/port:9/rs485:off";

TEST_F(Automation, ReadAndCloseSavesAConfigurationThatLoads) {
  test::VirtualInstrument& sim = instrument();
  const std::uint8_t channels = sim.with([](sim::Instrument& i) { return (*i.value("n.Ch"))[0]; });

  // The long forms of the switches: "--name", "--name=value", "--name:value".
  test::ChildResult r = kba604({"--port=9", "--rs485:off", "--read", "read.604", "--close"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << "stdout belongs to the control channel: " << r.out;
  EXPECT_EQ(english_phrase(r.err), "") << r.err;
  EXPECT_NE(r.err.find(kSavedText), std::string::npos) << r.err;

  LoadedConfiguration file(home.root() / "read.604");
  EXPECT_TRUE(file.result.complete) << file.result.fault;
  EXPECT_EQ(file.result.loaded, file.stored_parameters());
  EXPECT_EQ(file.value("ver"), "1.10");
  EXPECT_EQ(file.value("n.Ch"), std::to_string(channels));
  // The settings the command line gave are the program's from now on.
  EXPECT_EQ(setting("port_number"), "9");
}

// The line settings of the command line are the program's before its first word with the
// instrument, whatever the settings file said; they stay for the next start.
TEST_F(Automation, LineSettingsOfTheCommandLineReachTheInstrument) {
  instrument({"--baud", "19200", "--parity", "even", "--data-bits", "7"});
  for (const char* name : {"first.604", "again.604"}) {
    test::ChildResult r =
        kba604({kLine, "/bps:19200", "/prty:even", "/len:7", "/read", name, "/close"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(home.root() / name));
  }
  EXPECT_EQ(setting("baud_rate"), "19200");
  EXPECT_EQ(setting("parity_scheme"), "1");
  EXPECT_EQ(setting("byte_size"), "7");
  test::ChildResult kept = kba604({kLine, "/read", "kept.604", "/close"});
  EXPECT_EQ(kept.exit_code, 0) << kept.err;
}

// The start-up check brings an instrument left in a Modbus protocol back before the read.
TEST_F(Automation, InstrumentLeftInModbusIsBroughtBackAndRead) {
  for (const char* protocol : {"rtu", "ascii"}) {
    SCOPED_TRACE(protocol);
    instrument({"--protocol", protocol});
    test::ChildResult r = kba604({kLine, "/read", "modbus.604", "/close"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(LoadedConfiguration(home.root() / "modbus.604").value("ver"), "1.10");
  }
}

// The exit codes of the line's faults and of the instrument's answers.
// A read that was stopped or got nothing of the instrument leaves the file it was to replace
// as it was.
// Every fault the virtual instrument can put on the line, in a read: the exit code, the words
// of the fault, and the number of frames the program sent, which the repetition limits bound
// (counted in the instrument's frame log, never by the clock); the earlier file is kept or
// replaced as the outcome says.
// "--trace:FILE" keeps every frame of a run, from the start-up's questions on: the read whose
// first reply was lost shows its time-out and repetition, the read's parameters carry their
// names, and the file ends with the count of transfers. Without a value the switch is refused.
TEST_F(Automation, TraceFileKeepsEveryFrameOfTheRun) {
  instrument({"--drop", "1"});
  const test::ChildResult r =
      kba604({kLine, "--headless", "--trace:trace.txt", "/read", "read.604", "/close"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string trace = read_file(home.root() / "trace.txt");
  EXPECT_NE(trace.find(" dev, данные: нет, КС верна\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("<< (ничего)  таймаут"), std::string::npos) << trace;
  EXPECT_NE(trace.find(", данные: нет, КС верна, повтор 1\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" n.Ch, данные: нет, КС верна\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("-- передач: "), std::string::npos) << trace;
  EXPECT_NE(trace.find(", не записано: 0 --\n"), std::string::npos) << trace;

  EXPECT_EQ(kba604({kLine, "--trace", "/read", "read.604"}).exit_code, exit_code::kUsage);
}

TEST_F(Automation, LineFaultsGiveTheirExitCodes) {
  struct Case {
    std::vector<std::string> instrument;
    int code;
    bool file_kept;
    const char* said;
    // Frames the program may send, as a multiple of a clean read's frames plus a few more.
    int per_clean_frame;
    int extra;
  };
  const Case cases[] = {
      {{}, 0, false, kSavedText, 1, 0},
      // The read stops after five time-outs in a row of four transfers each; the start-up's
      // check tries both kinds of converter before it.
      {{"--silent"}, 202, true, "Таймаут при передаче данных (нет связи)", 0, 250},
      // Three lost answers cost a few repetitions (and, in the start-up's check, a try of the
      // other kind of converter) and nothing else.
      {{"--drop", "3"}, 0, false, kSavedText, 1, 40},
      // Sixteen transfers for each parameter at the most.
      {{"--no-start-every", "1"}, 203, true, "Потеря начала посылки.", 16, 40},
      // A damaged reply is not repeated.
      // A damaged reply is not repeated (the start-up's check tries a few ways more).
      {{"--corrupt-every", "1"}, 203, true, "Ошибка в контрольной сумме ответа", 1, 40},
      {{"--foreign-every", "40"},
       exit_code::kParametersFailed,
       false,
       "Пришла посылка с кодом команды",
       1,
       40},
      {{"--model", "TRM"}, 206, false, "", 1, 80},  // another model answers the parameters it has
  };
  const std::string earlier = "an earlier configuration";
  const fs::path log = home.root() / "frames.log";
  std::size_t clean = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.instrument.empty() ? "clean" : c.instrument[0]);
    std::ofstream(home.root() / "faults.604", std::ios::binary) << earlier;
    std::vector<std::string> args = c.instrument;
    args.insert(args.end(), {"--log", log.string()});
    instrument(args);
    test::ChildResult r = kba604({kLine, "/read", "faults.604", "/close"});
    sim_->stop();
    const std::size_t frames = frames_heard(log);
    if (clean == 0) clean = frames;
    EXPECT_EQ(r.exit_code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(read_file(home.root() / "faults.604") == earlier, c.file_kept) << r.err;
    EXPECT_GT(frames, 0u);
    // A tenth of a clean read more: on a busy machine a reply may come after the reply wait,
    // and its repetition counts too.
    EXPECT_LE(frames, clean * static_cast<std::size_t>(c.per_clean_frame) +
                          static_cast<std::size_t>(c.extra) + clean / 10);
  }
  EXPECT_GT(clean, 300u);  // a read of every parameter
}

// The line vanishes half-way through a read (the instrument's side of the terminal closes, as
// an unplugged adapter would): the read ends at its first failed transfer with a note that names
// the port and the system's reason, the program ends with 201, and the earlier file is kept.
// The port is named by the link the instrument's side places, as an adapter's
// /dev/serial/by-id name is; the line hangs up after answering forty times and the link goes
// with it. A bare /dev/pts/N could be handed to another terminal at once (other tests make them
// meanwhile), and the program's reopening would then reach that one.
TEST_F(Automation, VanishingLineEndsTheReadAtOnceAndKeepsTheFile) {
  const fs::path adapter = home.root() / "usb-adapter";
  instrument({"--link", adapter.string(), "--hang-up-after", "40"});
  map_port(9, adapter.string());
  const std::string earlier = "a good configuration";
  std::ofstream(home.root() / "kill.604", std::ios::binary) << earlier;
  std::unique_ptr<test::RunningChild> child = start_kba604({kLine, "/read", "kill.604", "/close"});
  const test::ChildResult r = child->wait(kProcessLimitMs);
  EXPECT_EQ(r.exit_code, 201) << r.err;
  EXPECT_EQ(read_file(home.root() / "kill.604"), earlier);
  // One parameter failed on the lost port; none was tried after it. (The loss itself is also
  // said on a line of its own, by the watch that waits for the port to come back.)
  const std::size_t lost = r.err.find("= Последовательный порт COM9");
  ASSERT_NE(lost, std::string::npos) << r.err;
  EXPECT_NE(r.err.find("пропал", lost), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Чтение: ", lost), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Потеря начала посылки."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Последовательный не"), std::string::npos) << r.err;
}

// The instrument refuses one parameter's value, as it refuses a read-only one: that parameter
// fails with the instrument's words, without repetitions (a refusal is an answer, not a fault of
// the line), the write goes on through the rest and ends with 11, and the file is untouched.
TEST_F(Automation, RefusedWriteFailsThatParameterAloneWithTheInstrumentsWords) {
  instrument();
  ASSERT_EQ(kba604({kLine, "/read", "good.604", "/close"}).exit_code, 0);
  const std::string good = read_file(home.root() / "good.604");
  std::size_t frames[2] = {0, 0};
  test::ChildResult runs[2];
  for (int refused = 0; refused < 2; ++refused) {
    const fs::path log = home.root() / ("frames" + std::to_string(refused) + ".log");
    std::vector<std::string> args = {"--log", log.string()};
    if (refused) args.insert(args.end(), {"--refuse-write", "i.d.AL"});
    instrument(args);
    runs[refused] = kba604({kLine, "/write", "good.604", "/close"});
    sim_->stop();
    frames[refused] = frames_heard(log);
  }
  EXPECT_EQ(runs[0].exit_code, 0) << runs[0].err;
  const test::ChildResult& r = runs[1];
  EXPECT_EQ(r.exit_code, exit_code::kParametersFailed) << r.err;
  const std::size_t note = r.err.find("Попытка модификации ROM-параметра");
  ASSERT_NE(note, std::string::npos) << r.err;
  EXPECT_NE(r.err.rfind("i.d.AL", note), std::string::npos) << r.err;
  EXPECT_EQ(read_file(home.root() / "good.604"), good);
  EXPECT_GT(frames[1], frames[0] / 2) << "the write went on after the refusal";
  // The refusal costs the few frames of opening the attributes and trying once more, never the
  // sixteen repetitions of a fault of the line.
  EXPECT_LE(frames[1], frames[0] + 8) << "the refused write was repeated";
}

// Replies the instrument spoils now and then (here: another command's hash, which no flag of
// the exit code tells) fail some parameters; the command runs to its end but must not pass for a
// clean one, and a read still saves what it got.
TEST_F(Automation, ParametersThatFailMakeTheCommandEndWith11) {
  instrument({"--foreign-every", "40"});
  test::ChildResult read = kba604({kLine, "/read", "partial.604", "/close"});
  EXPECT_EQ(read.exit_code, exit_code::kParametersFailed) << read.err;
  EXPECT_NE(read.err.find("не удалось считать или записать"), std::string::npos) << read.err;
  EXPECT_NE(read.err.find(kSavedText), std::string::npos) << read.err;
  ASSERT_TRUE(fs::exists(home.root() / "partial.604"));

  test::ChildResult write = kba604({kLine, "/write", "partial.604", "/close"});
  EXPECT_EQ(write.exit_code, exit_code::kParametersFailed) << write.err;
}

TEST_F(Automation, PortThatCannotBeOpenedEndsWith201) {
  map_port(9, path("no-such-terminal"));
  test::ChildResult r = kba604({kLine, "/read", "x.604", "/close"});
  EXPECT_EQ(r.exit_code, 201) << r.err;
  EXPECT_FALSE(fs::exists(home.root() / "x.604"));
}

TEST_F(Automation, WriteOfAMissingFileEndsWith200WithoutAnyWrite) {
  test::VirtualInstrument& sim = instrument();
  const nlohmann::json before = instrument_values(sim);
  test::ChildResult r = kba604({kLine, "/write", "missing.604", "/close"});
  EXPECT_EQ(r.exit_code, 200) << r.err;
  EXPECT_EQ(r.err.find("Запись"), std::string::npos) << r.err;
  EXPECT_EQ(instrument_values(sim), before);
  EXPECT_FALSE(fs::exists(home.root() / "missing.604"));
}

// Our own exit codes, for the failures the flag word cannot tell.
TEST_F(Automation, RefusedStartsGiveTheirOwnExitCodes) {
  test::VirtualInstrument& sim = instrument();
  const nlohmann::json before = instrument_values(sim);
  std::ofstream(home.root() / "junk.604") << "not a configuration";
  // A configuration cut off inside its service element.
  std::ofstream(home.root() / "cut.604", std::ios::binary) << std::string(
      "\xFF\xFF\x01\x00\x0A\x00"
      "CKBA604Doc\x1E",
      17);
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* said;
  };
  const Case cases[] = {
      {{kLine, "/read", "/close"}, exit_code::kNoFileName, "имя файла"},
      {{"/newnetparam/bps:19200"}, exit_code::kNoFileName, "имя файла"},
      {{kLine, "/write", "/close"}, exit_code::kNoFileName, "имя файла"},
      {{kLine, "/calibrate"}, exit_code::kCommandNotStarted, "калибровки"},
      // A folder, a FIFO or a device node named as the configuration to send.
      {{kLine, "/write", "dir.604", "/close"}, exit_code::kFileNotOpened, "папка"},
      {{kLine, "/write", "fifo.604", "/close"}, exit_code::kFileNotOpened, "не обычный файл"},
      {{kLine, "/write", "/dev/null", "/close"}, exit_code::kFileNotOpened, "не обычный файл"},
      {{kLine, "/write", "nosuch.604", "/close"}, 200, "nosuch.604\" не существует"},
      {{kLine, "/write", "junk.604", "/close"}, exit_code::kFileNotOpened, "junk.604"},
      {{kLine, "/write", "cut.604", "/close"}, exit_code::kFileNotOpened, "cut.604"},
      {{"/newnetparam/bps:19200", "junk.604"}, exit_code::kFileNotOpened, "junk.604"},
      {{"/newnetparam/bps:19200", "cut.604"}, exit_code::kFileNotOpened, "cut.604"},
      {{"/newnetparam/bps:19200", "no-such-folder/n.604"},
       exit_code::kSaveFailed,
       "no-such-folder/n.604"},
      {{kLine, "/read", "no-such-folder/r.604", "/close"},
       exit_code::kSaveFailed,
       "no-such-folder/r.604"},
      // Port 0 is the program without a port: nothing can be read or written.
      {{"/port:0", "/read", "none.604", "/close"}, exit_code::kCommandNotStarted, "порт 0"},
  };
  fs::create_directories(home.root() / "dir.604");
  ASSERT_EQ(::mkfifo((home.root() / "fifo.604").c_str(), 0600), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    test::ChildResult r = kba604(c.args);
    EXPECT_EQ(r.exit_code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(english_phrase(r.err), "") << r.err;
  }
  EXPECT_EQ(instrument_values(sim), before);
  EXPECT_EQ(read_file(home.root() / "junk.604"), "not a configuration");
  EXPECT_EQ(read_file(home.root() / "cut.604").size(), 17u);
  EXPECT_FALSE(fs::exists(home.root() / "none.604"));
}

// The tool modes answer on standard output and end with 0 without starting the configurator; a
// command line that cannot be used ends with 2 and says why on standard error.
TEST_F(Automation, ToolModesAnswerOnStandardOutput) {
  const std::string desc =
      (fs::path(test::kba604_program()).parent_path() / "kba604-desc").string();
  const std::vector<std::string> runs[] = {{test::kba604_program(), "--help"},
                                           {test::kba604_program(), "-?"},
                                           {test::kba604_program(), "--version"},
                                           {desc, "--help"}};
  for (const auto& argv : runs) {
    test::ChildResult r = test::run_child(argv);
    EXPECT_EQ(r.exit_code, 0) << argv[1] << r.err;
    EXPECT_FALSE(r.out.empty()) << argv[1];
    EXPECT_TRUE(r.err.empty()) << argv[1] << r.err;
  }
  EXPECT_NE(test::run_child({test::kba604_program(), "--help"}).out.find("/elog:ФАЙЛ"),
            std::string::npos);
  test::ChildResult usage = kba604({"/port:300", "/read", "x.604", "/close"});
  EXPECT_EQ(usage.exit_code, exit_code::kUsage);
  EXPECT_NE(usage.err.find("300"), std::string::npos) << usage.err;
  EXPECT_FALSE(fs::exists(platform::settings_file()));
  EXPECT_FALSE(fs::exists(home.root() / "x.604"));
}

TEST_F(Automation, SecondInstanceIsRefusedWhileTheFirstRuns) {
  instrument();
  // Without "close" the first one stays once its read is saved.
  auto first = start_kba604({kLine, "/read", "first.604"});
  ASSERT_TRUE(first->wait_for_err(kSavedText, kStartLimitMs)) << first->err();

  test::ChildResult second = kba604({"/test"});
  EXPECT_EQ(second.exit_code, exit_code::kAlreadyRunning) << second.err;
  EXPECT_NE(second.err.find("Программа уже запущена!"), std::string::npos) << second.err;

  EXPECT_TRUE(first->running());
  ASSERT_TRUE(first->signal(SIGTERM));
  EXPECT_EQ(first->wait(kProcessLimitMs).exit_code, 0);
}

// Without "close" the program lives on after its command, as its window would, until a
// signal ends it: then it leaves gracefully, its threads stopped and its settings kept.
TEST_F(Automation, WithoutCloseTheProgramStaysUntilASignal) {
  instrument();
  for (int signal_number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal_number);
    fs::remove(home.root() / "stay.604");
    platform::open_program_settings()->remove("port_number");
    auto child = start_kba604({kLine, "/read", "stay.604"});
    ASSERT_TRUE(child->wait_for_err(kSavedText, kStartLimitMs)) << child->err();
    // The port settings were kept as soon as the port took them, not at the end.
    EXPECT_EQ(setting("port_number"), "9");
    EXPECT_TRUE(child->running());

    ASSERT_TRUE(child->signal(signal_number));
    test::ChildResult r = child->wait(kProcessLimitMs);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("завершение по сигналу"), std::string::npos) << r.err;
    EXPECT_TRUE(LoadedConfiguration(home.root() / "stay.604").result.complete);
    EXPECT_EQ(setting("port_number"), "9");
  }
}

// The exit event ends the program with 205, during a read as well as afterwards; a signal
// that cuts the command short does too, so that the supervising program never takes it for
// done (after the command a signal is a normal end, see above).
TEST_F(Automation, ExitEventOrASignalDuringTheCommandEndWith205) {
  // At the instrument's own speed a whole read takes half a minute: long enough to stop.
  const std::vector<std::string> slow = {"--time-scale", "1"};
  struct Case {
    const char* name;
    std::vector<std::string> instrument;
    std::vector<std::string> switches;
    const char* wait_for;
    int signal_number;  // 0: the exit event
  };
  const Case cases[] = {
      {"exit event during the read", slow, {"/read", "end.604", "/close"}, kReadTitle, 0},
      {"exit event after the read", {}, {"/read", "end.604"}, kSavedText, 0},
      {"SIGTERM during the read", slow, {"/read", "end.604", "/close"}, kReadTitle, SIGTERM},
      {"SIGINT during the write", slow, {"/write", "end.604", "/close"}, "Идет запись", SIGINT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    instrument(c.instrument);
    const std::string event = home.unique_name("exit");
    std::vector<std::string> args = {kLine, "/exitevent:" + event};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    auto child = start_kba604(args);
    ASSERT_TRUE(child->wait_for_err(c.wait_for, kStartLimitMs)) << child->err();
    if (c.signal_number == 0) {
      std::string error;
      ASSERT_TRUE(platform::NamedEvent::signal(event, &error)) << error;
    } else {
      ASSERT_TRUE(child->signal(c.signal_number));
    }
    test::ChildResult r = child->wait(kProcessLimitMs);
    EXPECT_EQ(r.exit_code, 205) << r.err;
  }
}

// Started without switches, the program needs the instrument at its own settings; when it is
// not there, the headless program says why and how to mend the settings, and ends.
TEST_F(Automation, FailedConnectionCheckWithoutSwitchesEndsWithTheReason) {
  platform::open_program_settings()->set_value("port_number", "9");
  struct Case {
    std::vector<std::string> instrument;  // none: COM9 leads nowhere
    int code;
    const char* said;
  };
  const Case cases[] = {
      {{}, 201, "не открылся"},
      {{"--silent"}, 202, "никто не ответил"},
      {{"--model", "TRM"}, 206, "ответил не KBA604"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    if (c.code == 201) {
      map_port(9, path("no-such-terminal"));
    } else {
      instrument(c.instrument);
    }
    test::ChildResult r = kba604({});
    EXPECT_EQ(r.exit_code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("COM9"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(platform::settings_file().string()), std::string::npos) << r.err;
  }
}

// An instrument whose configuration differs from the description's initial one in every
// value that a write of the whole configuration carries: item lists take their next item,
// limited numbers another value within their limits. Left alone: the factory's parameters,
// which only the factory write sends, and the network settings, which the instrument takes
// only in combinations of its own rules (and into use only with "APLY"). Returns the number
// of values changed.
int change_every_value(test::VirtualInstrument& sim) {
  std::shared_ptr<const sim::Description> description = test::shipped_description();
  nlohmann::json state = instrument_values(sim);
  const std::set<std::string> network = {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot"};
  int changed = 0;
  for (auto& [key, hex] : state["values"].items()) {
    const std::size_t colon = key.find(':');
    const std::string name = key.substr(0, colon);
    const int slot = colon == std::string::npos ? 0 : std::stoi(key.substr(colon + 1));
    const sim::ParamDef* def = description->find(name, slot);
    if (def == nullptr || def->read_only || def->tree_read_only || def->operational ||
        def->factory || network.count(name) != 0) {
      continue;
    }
    sim::Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.get<std::string>().size(); i += 2) {
      bytes.push_back(
          static_cast<std::uint8_t>(std::stoi(hex.get<std::string>().substr(i, 2), nullptr, 16)));
    }
    const std::optional<double> now = sim::numeric_value(*def, bytes);
    if (!now) continue;
    double next;
    if (def->kind == sim::FormatKind::kItems) {
      if (def->items.size() < 2) continue;
      next = static_cast<double>((static_cast<std::size_t>(*now) + 1) % def->items.size());
    } else if (def->has_limits() && def->maximum > def->minimum) {
      next = def->minimum + (def->maximum - def->minimum) / 3;
      if (def->decimals == 0) next = static_cast<double>(static_cast<long>(next));
      if (next == *now) next = def->minimum;
    } else {
      continue;
    }
    sim::Bytes new_bytes = sim::bytes_for_number(*def, next);
    if (sim::check_value(*def, new_bytes) != 0 || new_bytes == bytes) continue;
    std::string text;
    for (std::uint8_t b : new_bytes) {
      static const char digits[] = "0123456789abcdef";
      text += digits[b >> 4];
      text += digits[b & 15];
    }
    hex = text;
    ++changed;
  }
  std::string error;
  EXPECT_TRUE(sim.with([&](sim::Instrument& i) { return i.restore(state, &error); })) << error;
  return changed;
}

// A configuration read by one process and written by another carries every writable value
// from one instrument to the other; read back, it is the same file.
TEST_F(Automation, ConfigurationCarriesAnInstrumentToAnother) {
  test::VirtualInstrument& source = instrument();
  EXPECT_GT(change_every_value(source), 100);
  const nlohmann::json configured = instrument_values(source)["values"];

  test::ChildResult read = kba604({kLine, "/read", "carried.604", "/close"});
  ASSERT_EQ(read.exit_code, 0) << read.err;

  test::VirtualInstrument& target = instrument();
  ASSERT_NE(instrument_values(target)["values"], configured);
  test::ChildResult write = kba604({kLine, "/write", "carried.604", "/close"});
  ASSERT_EQ(write.exit_code, 0) << write.err;
  const nlohmann::json written = instrument_values(target)["values"];
  std::vector<std::string> different;
  for (auto& [key, value] : configured.items()) {
    if (written.value(key, std::string()) != value.get<std::string>()) {
      different.push_back(key + " " + written.value(key, std::string()) + " instead of " +
                          value.get<std::string>());
    }
  }
  EXPECT_TRUE(different.empty()) << ::testing::PrintToString(different);

  test::ChildResult again = kba604({kLine, "/read", "again.604", "/close"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_TRUE(read_file(home.root() / "again.604") == read_file(home.root() / "carried.604"));
}

}  // namespace
}  // namespace kba604
