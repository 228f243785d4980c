#include "files/kba604_doc.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/start_rules.h"
#include "model/texts.h"
#include "operations/scanner.h"
#include "platform/atomic_file.h"
#include "support/description_files.h"
#include "support/fake_link_device.h"
#include "support/recording_notification_sink.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

const char* kParameters = R"({"parameters": [
    {"name": "ver", "format": "ASCI", "value": "2.15"},
    {"name": "r.St", "format": "Стоп:Пуск"},
    {"name": "Set.P", "index": 3, "format": "STORED_DOT"},
    {"name": "T.in", "format": "STORED_DOT"},
    {"name": "bPS", "format": "2400:4800:9600:14400:19200:28800:38400:57600:115200"},
    {"name": "Addr", "format": "DEC_dot"},
    {"name": "n.Ch", "format": "Выкл:Вкл:Авто"}
]})";
const char* kMainTree = R"({"branch": "Корень", "children": [
    {"branch": "Уставки", "children": [{"ref": "r.St"}, {"ref": "Set.P:3"}, {"ref": "n.Ch"}]},
    {"branch": "Сетевые параметры прибора", "role": 100, "children": [{"ref": "bPS"},
                                                                   {"ref": "Addr"}]},
    {"ref": "ver"}
]})";
const char* kOperationalTree = R"({"branch": "Оперативные", "children": [{"ref": "T.in"}]})";

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The program's port settings as the link keeps them, with a count of reopenings.
class FakeLink : public DocumentLink {
 public:
  FakeLink() {
    for (const char* name : {"Port", "bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr"}) {
      auto p = std::make_unique<Parameter>();
      p->short_name = name;
      p->format = "ASCI";
      settings_.add_owned(std::move(p));
    }
  }
  Elements::InvisibleElement& program_settings() override { return settings_; }
  int reopen_port(bool) override {
    ++reopenings;
    if (on_reopen) on_reopen();
    return 0;
  }
  bool connection_check() override {
    ++checks;
    return check_result;
  }
  void check_device_and_show() override {}

  Elements::InvisibleElement settings_{"Сетевые параметры программы"};
  int reopenings = 0;
  std::function<void()> on_reopen;
  int checks = 0;
  bool check_result = true;
};

struct Document : ::testing::Test {
  test::TestHome home;
  test::RecordingPrompter prompter;
  test::RecordingNotificationSink sink;
  platform::MemorySettingsStore store, registration;
  ProgramSettings settings{store};
  CKBA604App app{prompter};
  std::shared_ptr<test::FakeLinkDevice> device;
  FakeLink link;
  std::unique_ptr<CKBA604Doc> doc;

  void SetUp() override {
    auto files = test::build_description(kParameters,
                                         {kMainTree, kOperationalTree, R"({"branch": "Скрытое"})"});
    files.write_to(home.root() / "desc");
    settings.set_data_directory((home.root() / "desc").string() + "/");
    device = test::FakeLinkDevice::create(app);
  }
  void TearDown() override {
    doc.reset();
    if (device) device->shutdown();
  }
  // Parses the switches as the start-up does and builds the document.
  DocumentConstruction construct(std::vector<std::string> switches = {}) {
    app.options.clear();
    CmyCommandLineInfo info(app.options);
    info.parse(switches);
    apply_no_port_rule(app.options);
    doc.reset();
    DocumentServices services{app,  settings,          registration,
                              sink, "/usr/bin/kba604", home.data_dir()};
    doc = std::make_unique<CKBA604Doc>(services, device, &link);
    return doc->construct();
  }
  Parameter& param(const char* name) { return *device->table().find_by_name(name); }
  std::filesystem::path file(const char* name) { return home.root() / name; }
  // Saves a configuration with "Set.P" 12.5 and without "KU", then writes a description that
  // has "KU" with the initial text ku_text, in the main tree or in a hidden branch. Returns the
  // saved file's path; the next construct() takes the new description.
  std::string save_then_describe_ku(const char* ku_text, bool in_main_tree) {
    EXPECT_EQ(construct(), DocumentConstruction::Ready);
    EXPECT_TRUE(doc->OnNewDocument());
    param("Set.P").value = "12.5";
    const std::string path = file("a.604").string();
    EXPECT_TRUE(doc->OnSaveDocument(path));
    std::string parameters(kParameters);
    parameters.replace(
        parameters.rfind(']'), 1,
        std::string(R"(, {"name": "KU", "format": "STORED_DOT", "value": ")") + ku_text + "\"}]");
    std::string main_tree(kMainTree);
    std::string hidden = R"({"branch": "Скрытое", "children": [{"ref": "KU"}]})";
    if (in_main_tree) {
      main_tree.replace(main_tree.find(R"({"ref": "n.Ch"})"), 15,
                        R"({"ref": "n.Ch"}, {"ref": "KU"})");
      hidden = R"({"branch": "Скрытое"})";
    }
    test::build_description(parameters, {main_tree, kOperationalTree, hidden})
        .write_to(home.root() / "desc");
    return path;
  }
};

TEST_F(Document, ConstructionReadsVerLoadsTheTreesAndMakesItsFolders) {
  device->set("ver", 0, "2.20");
  ASSERT_EQ(construct({"/port:2"}), DocumentConstruction::Ready);
  EXPECT_TRUE(doc->description_loaded());
  ASSERT_NE(doc->main_tree(), nullptr);
  ASSERT_NE(doc->network_branch(), nullptr);
  EXPECT_TRUE(param("T.in").owns_polling_timer());
  // "ver" was read from the instrument to pass the version gate before the description loaded.
  EXPECT_EQ(device->transcript().front(), "R ver");
  EXPECT_EQ(link.checks, 1);
  EXPECT_TRUE(std::filesystem::is_directory(home.data_dir() / "protocol"));
  EXPECT_TRUE(std::filesystem::is_directory(home.data_dir() / "temp"));
  EXPECT_EQ(registration.value("name"), "KBA604");
  EXPECT_FALSE(registration.contains("KBA604/name"));
  EXPECT_EQ(doc->service().size(), 3u);
}

// The program's line settings reach its port before "ver" is read, so that the version comes
// through the port the command line names; "aply" hands them to the instrument's element too.
TEST_F(Document, ConstructionPacksTheOldDaysBeforeAnyCommandAndLeavesTodays) {
  std::filesystem::path protocol = home.data_dir() / "protocol";
  std::filesystem::create_directories(protocol);
  const std::string today = day_file_name_of(std::time(nullptr));
  for (const std::string& name : {std::string("01-11-2020.log"), today}) {
    std::ofstream(protocol / name) << "records of " << name;
  }
  std::vector<std::string> shown;
  auto make = [&] {
    app.options.clear();
    doc.reset();
    DocumentServices services{app, settings, registration, sink, "/usr/bin/kba604", home.data_dir()};
    doc = std::make_unique<CKBA604Doc>(services, device, &link);
    doc->set_message_window([&](std::string_view text) { shown.emplace_back(text); });
  };
  make();
  ASSERT_EQ(doc->construct(), DocumentConstruction::Ready);
  EXPECT_EQ(shown.back(), "Архивация данных...");
  ProtocolArchive november;
  ASSERT_TRUE(november.open(protocol / "11-2020.var", false));
  EXPECT_EQ(november.list(), std::vector<std::string>{"01-11-2020.log"});
  ProtocolArchive current;
  EXPECT_FALSE(current.open(archive_path_for(protocol, today), false));
}

TEST_F(Document, LineSettingsOfTheCommandLineGoToTheirElements) {
  std::string port_at_reopening;
  std::vector<std::string> requests_at_reopening;
  link.on_reopen = [&] {
    port_at_reopening = link.program_settings().GetValueByName("Port");
    requests_at_reopening = device->transcript();
  };
  ASSERT_EQ(construct({"/port:5/bps:19200/addr:24/prty:even/aply"}), DocumentConstruction::Ready);
  Elements::InvisibleElement& prg = link.program_settings();
  EXPECT_EQ(prg.GetValueByName("Port"), "COM5");
  EXPECT_EQ(prg.GetValueByName("bPS"), "19200");
  EXPECT_EQ(prg.GetValueByName("Addr"), "24");
  EXPECT_EQ(prg.GetValueByName("PrtY"), "Четность");
  EXPECT_EQ(prg.GetValueByName("LEn"), "Нет данных");  // not given: left as it was
  EXPECT_EQ(link.reopenings, 1);
  EXPECT_EQ(port_at_reopening, "COM5");
  EXPECT_TRUE(requests_at_reopening.empty());
  EXPECT_EQ(device->transcript().front(), "R ver");
  EXPECT_EQ(doc->network_branch()->GetValueByName("bPS"), "19200");
  EXPECT_TRUE(param("bPS").changed);
  EXPECT_EQ(doc->network_branch()->GetValueByName("Addr"), "24");
}

// Whatever the command line says, a program with a port reopens it once with its settings
// before "ver" is read, and one without a port leaves it closed.
TEST_F(Document, PortTakesTheProgramsSettingsBeforeTheVersionIsRead) {
  struct Case {
    std::vector<std::string> switches;
    int reopenings;
    const char* port;
  };
  const Case cases[] = {
      {{"/port:3"}, 1, "COM3"},
      {{"/port:1/prty:even/prty:xyz"}, 1, "Нет данных"},  // the settings flag was cleared
      {{}, 1, "Нет данных"},                              // no switch: the saved settings
      {{"/read/close"}, 0, "Нет данных"},                 // a switch without a port
      {{"/bps:19200/close"}, 1, "Нет данных"},  // no port, but the settings are taken and kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.switches));
    link.reopenings = 0;
    link.program_settings().SetValueByName("Port", "Нет данных", false);
    ASSERT_EQ(construct(c.switches), DocumentConstruction::Ready);
    EXPECT_EQ(link.reopenings, c.reopenings);
    EXPECT_EQ(link.program_settings().GetValueByName("Port"), c.port);
  }
}

TEST_F(Document, TestAndAFailedSearchRefuseEveryDocument) {
  ASSERT_EQ(construct({"/test"}), DocumentConstruction::Refused);
  EXPECT_EQ(link.checks, 0);  // "test" alone has no port: no check
  EXPECT_FALSE(doc->OnNewDocument());
  EXPECT_FALSE(doc->OnOpenDocument(file("a.604").string()));

  // Without switches a failed check asks for the search; giving up refuses documents.
  link.check_result = false;
  app.options.clear();
  device = test::FakeLinkDevice::create(app);
  DocumentServices services{app, settings, registration, sink, "/usr/bin/kba604", home.data_dir()};
  doc = std::make_unique<CKBA604Doc>(services, device, &link);
  int searches = 0;
  doc->set_connection_search([&] {
    ++searches;
    return false;
  });
  EXPECT_EQ(doc->construct(), DocumentConstruction::Refused);
  EXPECT_EQ(searches, 1);
}

TEST_F(Document, SilentClearsTheCodeOfTheCheck) {
  link.check_result = false;
  app.exit_flags.set_bits(ExitFlags::kTimeout);
  ASSERT_EQ(construct({"/silent/port:1"}), DocumentConstruction::Ready);
  EXPECT_EQ(app.exit_flags.value(), 0u);
}

TEST_F(Document, SavedConfigurationReloadsEveryValueNoteAndMark) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnNewDocument());
  EXPECT_EQ(doc->title(), "Имя не задано");
  param("r.St").value = "Пуск";
  param("r.St").note = "Знач-е в приборе: Стоп";
  param("Set.P").value = "12.5";
  param("Set.P").changed = true;
  param("Set.P").editable = false;
  param("n.Ch").value = "вкл";
  param("T.in").value = "81.4";
  const std::string path = file("a.604").string();
  ASSERT_TRUE(doc->OnSaveDocument(path));
  EXPECT_EQ(doc->path(), path);
  EXPECT_EQ(doc->title(), "a.604");

  ASSERT_TRUE(doc->OnNewDocument());
  EXPECT_EQ(param("Set.P").value, "Нет данных");
  ASSERT_TRUE(doc->OnOpenDocument(path));
  EXPECT_EQ(param("r.St").value, "Пуск");
  EXPECT_EQ(param("r.St").note, "Знач-е в приборе: Стоп");
  EXPECT_EQ(param("Set.P").value, "12.5");
  EXPECT_TRUE(param("Set.P").changed);
  EXPECT_FALSE(param("Set.P").editable);
  EXPECT_EQ(param("n.Ch").value, "Вкл");
  EXPECT_NE(param("T.in").value, "81.4");  // operational values are not in the file
  EXPECT_FALSE(doc->modified());
  EXPECT_EQ(prompter.count(), 0u);
}

TEST_F(Document, OpeningAMissingFile) {
  ASSERT_EQ(construct({"/write/close"}), DocumentConstruction::Ready);
  EXPECT_FALSE(doc->OnOpenDocument(file("none.604").string()));
  EXPECT_EQ(app.exit_flags.exit_code(), 200);
  // One line says why, and asks nothing.
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].buttons, PromptButtons::Ok);
  EXPECT_NE(prompter.records()[0].text.find("none.604\" не существует"), std::string::npos);

  app.exit_flags.set_to(0);
  app.options.clear_after_automation();
  EXPECT_TRUE(doc->OnOpenDocument(file("none.604").string()));
  EXPECT_EQ(doc->title(), "none.604");
  EXPECT_FALSE(std::filesystem::exists(file("none.604")));
}

// A folder, a FIFO or a device node named as the configuration is refused with its reason; none
// is read (a FIFO would block the program, a folder ended it).
TEST_F(Document, AFileThatIsNoRegularFileIsRefusedWithItsReason) {
  ASSERT_EQ(construct({"/write/close"}), DocumentConstruction::Ready);
  std::filesystem::create_directories(file("dir.604"));
  ASSERT_EQ(::mkfifo(file("fifo.604").c_str(), 0600), 0);
  const std::string paths[] = {file("dir.604").string(), file("fifo.604").string(), "/dev/null"};
  for (const std::string& path : paths) {
    prompter.clear();
    EXPECT_FALSE(doc->OnOpenDocument(path)) << path;
    ASSERT_EQ(prompter.count(), 1u) << path;
    const std::string text = prompter.records()[0].text;
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_NE(text.find("это "), std::string::npos) << text;
  }
  EXPECT_EQ(app.exit_flags.value(), 0u);
}

// A file saved before the description had "KU" is opened over a description whose "KU" starts
// with a text of its own ("1.000"): what the file lacks stays "Нет данных", so a write never
// sends a value that nobody read.
TEST_F(Document, ParametersTheFileLacksStayWithoutData) {
  // "KU" sits outside the main tree, as the amplification factors of the inputs do.
  const std::string path = save_then_describe_ku("1.000", false);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_NE(device->table().find_by_name("KU"), nullptr);
  ASSERT_TRUE(doc->OnOpenDocument(path));
  EXPECT_EQ(param("KU").value, "Нет данных");
  EXPECT_EQ(param("Set.P").value, "12.5");
  // A new configuration, which "read" fills and saves, holds no initial text either.
  param("KU").value = "1.000";
  ASSERT_TRUE(doc->OnNewDocument());
  EXPECT_EQ(param("KU").value, "Нет данных");
}

// The same over a description whose "KU" sits in the main tree and starts with an empty text, as
// many description files give it: a write of the file sends only what the file holds, skips
// "KU" with the not-initialised note and counts no failure, so the command ends as a clean one.
TEST_F(Document, AWriteOfAFileThatLacksParametersSendsOnlyWhatItHolds) {
  const std::string path = save_then_describe_ku("", true);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(construct({"/port:1"}), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnOpenDocument(path));
  device->clear_transcript();
  ASSERT_TRUE(doc->OnCommand(command::kWriteAll));
  ASSERT_TRUE(device->wait_idle(-1));
  const std::vector<std::string> sent = device->transcript();
  EXPECT_NE(std::find(sent.begin(), sent.end(), "W Set.P:3=12.5"), sent.end());
  for (const std::string& request : sent)
    EXPECT_EQ(request.find("KU"), std::string::npos) << request;
  EXPECT_EQ(param("KU").note, kNotInitialisedNote);
  EXPECT_EQ(device->errors(), 0);
}

TEST_F(Document, AFileThatIsNoConfigurationIsRefusedAndTheDocumentStaysReset) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  std::ofstream(file("text.604")) << "just some text";
  param("Set.P").value = "7";
  EXPECT_FALSE(doc->OnOpenDocument(file("text.604").string()));
  EXPECT_EQ(param("Set.P").value, "Нет данных");
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_NE(prompter.records()[0].text.find("text.604"), std::string::npos);
}

// "newnetparam" writes the command-line settings as the instrument's network settings into the
// named file and then refuses the open, which ends the start-up.
TEST_F(Document, NewNetParamWritesTheSettingsIntoTheFileAndEndsTheStart) {
  ASSERT_EQ(construct({"/port:4/bps:38400/addr:32/newnetparam"}), DocumentConstruction::Ready);
  EXPECT_EQ(link.reopenings, 0);  // the program's own port stays as it was
  EXPECT_EQ(link.program_settings().GetValueByName("bPS"), "Нет данных");
  const std::string path = file("net.604").string();
  EXPECT_FALSE(doc->OnOpenDocument(path));
  ASSERT_TRUE(std::filesystem::exists(path));

  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnOpenDocument(path));
  EXPECT_EQ(param("bPS").value, "38400");
  EXPECT_EQ(param("Addr").value, "32");
}

// The start-up learns whether "newnetparam" wrote its file, so that a failed save never ends
// as a success.
TEST_F(Document, NewNetParamTellsWhetherItsFileWasWritten) {
  ASSERT_EQ(construct({"/bps:38400/newnetparam"}), DocumentConstruction::Ready);
  EXPECT_FALSE(doc->OnOpenDocument(file("no-such-folder/net.604").string()));
  EXPECT_FALSE(doc->net_settings_saved());
  EXPECT_TRUE(doc->save_failed());
  EXPECT_FALSE(std::filesystem::exists(file("no-such-folder")));

  EXPECT_FALSE(doc->OnOpenDocument(file("net.604").string()));
  EXPECT_TRUE(doc->net_settings_saved());
  EXPECT_FALSE(doc->save_failed());
  EXPECT_TRUE(std::filesystem::exists(file("net.604")));
}

// "write" sends the whole configuration and "newnetparam" saves it again: a file that cannot
// be read to its end is refused with a message and the document stays reset, while without
// those switches the same file opens with what it holds.
TEST_F(Document, WriteAndNewNetParamRefuseAConfigurationThatIsNotWhole) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnNewDocument());
  param("r.St").value = "Пуск";
  param("Set.P").value = "12.5";
  param("n.Ch").value = "Авто";
  const std::string whole_path = file("whole.604").string();
  ASSERT_TRUE(doc->OnSaveDocument(whole_path));
  const std::string whole = read_file(whole_path);

  // The same configuration as saved from another table, whose name has the same length.
  std::string other = whole;
  const std::size_t table_name = other.find("parameters.zip");
  ASSERT_NE(table_name, std::string::npos);
  other.replace(table_name, 14, "parameterz.zip");

  struct Case {
    const char* name;
    std::string bytes;
    const char* loaded_without_write;  // "r.St" after an open without "write"
  } cases[] = {
      {"cut.604", whole.substr(0, whole.size() - 5), "Пуск"},
      {"other.604", other, "Нет данных"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = file(c.name).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;

    // "newnetparam" leaves the file as it is instead of saving the little it read.
    for (const char* switches : {"/write/port:1/close", "/bps:9600/newnetparam"}) {
      SCOPED_TRACE(switches);
      ASSERT_EQ(construct({switches}), DocumentConstruction::Ready);
      prompter.clear();
      EXPECT_FALSE(doc->OnOpenDocument(path));
      EXPECT_FALSE(doc->net_settings_saved());
      EXPECT_EQ(param("r.St").value, "Нет данных");
      ASSERT_GE(prompter.count(), 1u);
      EXPECT_NE(prompter.records().back().text.find(c.name), std::string::npos);
      EXPECT_EQ(app.exit_flags.value(), 0u);
      EXPECT_EQ(read_file(path), c.bytes);
    }

    ASSERT_EQ(construct(), DocumentConstruction::Ready);
    EXPECT_TRUE(doc->OnOpenDocument(path));
    EXPECT_EQ(param("r.St").value, c.loaded_without_write);
  }
  ASSERT_EQ(construct({"/write/port:1/close"}), DocumentConstruction::Ready);
  EXPECT_TRUE(doc->OnOpenDocument(whole_path));
  EXPECT_EQ(param("Set.P").value, "12.5");
}

// Opening the file that is open already asks first; No keeps the document as it is.
TEST_F(Document, OpeningTheOpenFileAgainAsksBeforeLosingChanges) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnNewDocument());
  param("Set.P").value = "1.5";
  const std::string path = file("Open.604").string();
  ASSERT_TRUE(doc->OnSaveDocument(path));
  param("Set.P").value = "2.5";  // a change since the save

  // The same file by another name; letter case makes another file here.
  const std::filesystem::path link = file("link.604");
  std::filesystem::create_symlink(path, link);
  prompter.answer_next(PromptAnswer::No);
  EXPECT_FALSE(doc->OpenDocumentFile(link.string()));
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text,
            "Этот файл уже открыт! При продолжении открытия файла все изменения будут "
            "потеряны!\n\nХотите продолжить открытие файла?");
  EXPECT_EQ(prompter.records()[0].caption, "Внимание!");
  EXPECT_EQ(prompter.records()[0].buttons, PromptButtons::YesNo);
  EXPECT_EQ(param("Set.P").value, "2.5");

  prompter.answer_next(PromptAnswer::Yes);
  EXPECT_TRUE(doc->OpenDocumentFile(path));
  EXPECT_EQ(prompter.count(), 2u);
  EXPECT_EQ(param("Set.P").value, "1.5");

  // Another file opens without a question.
  ASSERT_TRUE(doc->OnSaveDocument(file("OPEN.604").string()));
  ASSERT_TRUE(doc->OpenDocumentFile(path));
  EXPECT_EQ(prompter.count(), 2u);
  ASSERT_TRUE(doc->OnSaveDocument(file("other.604").string()));
  ASSERT_TRUE(doc->OnNewDocument());
  EXPECT_TRUE(doc->OpenDocumentFile(path));
  EXPECT_EQ(prompter.count(), 2u);
}

TEST_F(Document, DocumentIsNeitherReplacedNorInitialisedWhilePolling) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  Scanner scanner([](Parameter&) { return 0; }, std::make_shared<std::recursive_mutex>());
  doc->set_polling_guard(&scanner);
  doc->set_before_release([&] { scanner.StopScanners(); });
  scanner.serve(doc->operational_tree());
  ASSERT_EQ(scanner.arm(param("T.in")), 0);

  const std::string path = (home.root() / "other.604").string();
  EXPECT_FALSE(doc->OnNewDocument());
  EXPECT_FALSE(doc->OnOpenDocument(path));
  doc->OnCommand(command::kWriteFactory);  // "Записать заводские параметры в прибор"
  ASSERT_EQ(prompter.count(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(prompter.records()[i].text,
              "Нельзя выполнить эту операцию, так как включен опрос оперативных параметров.\n"
              "Выключите опрос всех оперативных параметров, затем повторите попытку.");
    EXPECT_EQ(prompter.records()[i].icon, PromptIcon::Error);
  }
  EXPECT_EQ(prompter.records()[2].caption, "Запись заводских параметров");
  EXPECT_EQ(prompter.records()[2].icon, PromptIcon::Warning);

  // With the box cleared a configuration of the table is opened; the scanners let the
  // parameters go before the description is loaded again.
  scanner.disarm(param("T.in"));
  ASSERT_TRUE(doc->OnSaveDocument(path));
  EXPECT_TRUE(doc->OnOpenDocument(path));
  EXPECT_TRUE(scanner.polled().empty());
}

TEST_F(Document, NewDocumentTakesThePendingTitleOnce) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  doc->set_pending_title("Котельная");
  ASSERT_TRUE(doc->OnNewDocument());
  EXPECT_EQ(doc->title(), "Котельная");
  ASSERT_TRUE(doc->OnNewDocument());
  EXPECT_EQ(doc->title(), "Имя не задано");
}

TEST_F(Document, CommandsWithoutTreeOrBranchAreImpossible) {
  // A version below the gate loads no tree.
  device->set("ver", 0, "0.9");
  ASSERT_EQ(construct({"/port:1"}), DocumentConstruction::Ready);
  EXPECT_EQ(doc->main_tree(), nullptr);
  struct Case {
    int command;
    const char* text;
  };
  const Case cases[] = {{139, "Дерево не определено"},
                        {140, "Дерево не определено"},
                        {257, "Дерево не определено"},
                        {150, "Ветвь не определена"},
                        {153, "Ветвь не определена"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    prompter.clear();
    EXPECT_TRUE(doc->OnCommand(c.command));
    EXPECT_FALSE(doc->operation_started());
    ASSERT_EQ(prompter.count(), 1u);
    EXPECT_EQ(prompter.records()[0].text, c.text);
    EXPECT_EQ(prompter.records()[0].caption, "Операция невозможна");
    EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Error);
  }
  EXPECT_FALSE(device->busy());
}

// A selected parameter restricts a branch command to itself, on the first branch that lists it.
TEST_F(Document, BranchCommandOnASelectedParameterRunsOnItAlone) {
  ASSERT_EQ(construct({"/port:1"}), DocumentConstruction::Ready);
  device->set("Set.P", 3, "42");
  device->set("r.St", 0, "Пуск");
  device->clear_transcript();
  doc->set_selection(nullptr, &param("Set.P"));
  EXPECT_TRUE(doc->OnCommand(150));
  EXPECT_TRUE(doc->operation_started());
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(device->transcript(), std::vector<std::string>{"R Set.P:3"});
  EXPECT_EQ(param("Set.P").value, "42");

  // The whole tree reads everything, without the restriction.
  device->clear_transcript();
  EXPECT_TRUE(doc->OnCommand(139));
  EXPECT_TRUE(doc->operation_started());
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(device->transcript().size(), 6u);
  EXPECT_EQ(param("r.St").value, "Пуск");
}

// A configuration saved by one document is what another, built afresh, loads; a save that is
// cut off before its rename leaves the earlier file whole.
TEST_F(Document, InterruptedSaveLeavesTheEarlierFileWhole) {
  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnNewDocument());
  param("Set.P").value = "1.5";
  const std::string path = file("keep.604").string();
  ASSERT_TRUE(doc->OnSaveDocument(path));
  const std::string before = read_file(path);

  param("Set.P").value = "99.5";
  platform::set_atomic_write_fault([](const std::filesystem::path&) { return false; });
  EXPECT_FALSE(doc->OnSaveDocument(path));
  platform::set_atomic_write_fault({});
  EXPECT_EQ(read_file(path), before);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_NE(prompter.records()[0].text.find("keep.604"), std::string::npos);
  // Only the configuration itself is in the folder: no temporary file stays behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(home.root())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);

  ASSERT_EQ(construct(), DocumentConstruction::Ready);
  ASSERT_TRUE(doc->OnOpenDocument(path));
  EXPECT_EQ(param("Set.P").value, "1.5");
}

}  // namespace
}  // namespace kba604
