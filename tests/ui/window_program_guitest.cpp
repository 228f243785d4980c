// The program with its window as another program meets it: started with switches on the
// offscreen platform it shows no modal box and ends with the same exit codes as the headless
// program; a second start with a file hands it to the running window; a display that cannot be
// reached sends the program headless instead of ending it.
#include "support/virtual_instrument.h"
// clang-format off
#include <QtTest/QtTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/settings_store.h"
#include "support/child_process.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "platform/display_check.h"
#include "platform/named_event.h"
#include "ui/file_hand_over.h"
// clang-format on

using namespace kba604;
namespace fs = std::filesystem;

namespace {

constexpr int kLimitMs = 120'000;

void write_settings(const test::TestHome& home, const std::string& terminal) {
  fs::create_directories(home.config_dir() / "TALV");
  std::ofstream(home.config_dir() / "TALV" / "KBA604.conf") << "[Ports]\nCOM9=" << terminal << "\n";
}

// Sets an environment variable for the scope and puts it back afterwards.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvOverride() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

class WindowProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void switchesRunTheCommandWithoutAModalBox();
  void commandLineRunsEndAsInTheHeadlessProgram();
  void aSecondStartHandsItsFileToTheRunningWindow();
  void anUnreachableDisplayMeansHeadless();
};

void WindowProgramTest::switchesRunTheCommandWithoutAModalBox() {
  test::TestHome home;
  test::VirtualInstrument sim({"--baud", "115200"});
  write_settings(home, sim.path());
  const std::string file = (home.root() / "read.604").string();
  const std::vector<std::string> line = {"/port:9", "/bps:115200", "/rs485:off"};
  std::vector<std::string> argv = {test::kba604_program()};
  argv.insert(argv.end(), line.begin(), line.end());
  argv.insert(argv.end(), {"/read", file, "/close"});
  test::RunningChild read(argv);
  const test::ChildResult r = read.wait(kLimitMs);
  QCOMPARE(r.exit_code, 0);
  QVERIFY(fs::exists(file));
  QVERIFY(r.err.find("конфигурация сохранена в") != std::string::npos);

  // A missing file for "write": 200, without any box to wait on.
  argv = {test::kba604_program()};
  argv.insert(argv.end(), line.begin(), line.end());
  argv.insert(argv.end(), {"/write", (home.root() / "missing.604").string(), "/close"});
  test::RunningChild write(argv);
  QCOMPARE(write.wait(kLimitMs).exit_code, 200);
}

// Every command-line run ends with the window as it ends without one (the switch "headless"):
// the same exit code, the same reason on standard error, and no box that would wait for a
// person (a run that waited would be killed at the limit and end with another code).
void WindowProgramTest::commandLineRunsEndAsInTheHeadlessProgram() {
  test::TestHome home;
  test::VirtualInstrument sim({"--baud", "115200"});
  // The slow one keeps a write going long enough for the exit event to come in the middle.
  test::VirtualInstrument slow({"--baud", "115200", "--time-scale", "1"});
  fs::create_directories(home.config_dir() / "TALV");
  std::ofstream(home.config_dir() / "TALV" / "KBA604.conf")
      << "[Ports]\nCOM9=" << sim.path() << "\nCOM7=" << slow.path()
      << "\nCOM8=" << (home.root() / "no-such-terminal").string() << "\n";
  fs::create_directories(home.root() / "dir.604");
  std::ofstream(home.root() / "junk.604") << "not a configuration";
  const std::string line = "/port:9/bps:115200/rs485:off";
  // A configuration to send, read once beforehand.
  {
    test::RunningChild read({test::kba604_program(), "--headless", line, "/read",
                             (home.root() / "good.604").string(), "/close"},
                            home.root().string());
    QCOMPARE(read.wait(kLimitMs).exit_code, 0);
  }
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* said;
    const char* exit_event_after = nullptr;  // signal the exit event once stderr holds this
  };
  const Case cases[] = {
      {{"/test"}, 0, ""},
      // The operation's log and its counters on standard error, for the program that started it.
      {{line, "/write", "good.604", "/close"}, 0, "с ошибками: 0  Продолжительность"},
      {{line, "/write", "missing.604", "/close"}, 200, "missing.604\" не существует"},
      {{line, "/write", "dir.604", "/close"}, 8, "папка"},
      {{line, "/write", "junk.604", "/close"}, 8, "junk.604"},
      {{line, "/read", "no-such-folder/r.604", "/close"}, 9, "no-such-folder/r.604"},
      {{line, "/read", "/close"}, 5, "имя файла"},
      {{"/port:300", "/read", "x.604", "/close"}, 2, "300"},
      {{"/port:0", "/read", "none.604", "/close"}, 10, "порт 0"},
      {{"/port:8/rs485:off", "/read", "x.604", "/close"}, 201, "COM8"},
      {{"/port:7/bps:115200/rs485:off", "/write", "good.604", "/close"}, 205, "", "Идет запись"},
  };
  for (const Case& c : cases) {
    int codes[2] = {-1, -1};
    std::string said[2];
    for (int window = 0; window < 2; ++window) {
      std::vector<std::string> argv = {test::kba604_program()};
      if (window == 0) argv.push_back("--headless");
      argv.insert(argv.end(), c.args.begin(), c.args.end());
      std::string event;
      if (c.exit_event_after != nullptr) {
        event = home.unique_name("exit");
        argv.push_back("/exitevent:" + event);
      }
      test::RunningChild child(argv, home.root().string());
      if (c.exit_event_after != nullptr) {
        QVERIFY2(child.wait_for_err(c.exit_event_after, kLimitMs), child.err().c_str());
        std::string error;
        QVERIFY2(platform::NamedEvent::signal(event, &error), error.c_str());
      }
      const test::ChildResult r = child.wait(kLimitMs);
      codes[window] = r.exit_code;
      said[window] = r.err;
    }
    const QString what = QString::fromStdString(c.args.back() + " " + c.args.front());
    QVERIFY2(codes[0] == c.code, qPrintable(what + ": " + QString::fromStdString(said[0])));
    QVERIFY2(codes[1] == c.code, qPrintable(what + ": " + QString::fromStdString(said[1])));
    for (const std::string& err : said) {
      QVERIFY2(err.find(c.said) != std::string::npos,
               qPrintable(what + ": " + QString::fromStdString(err)));
    }
    // The window run had its window: it never said it went without one.
    QVERIFY2(said[1].find("без окна") == std::string::npos, said[1].c_str());
  }
}

void WindowProgramTest::aSecondStartHandsItsFileToTheRunningWindow() {
  test::TestHome home;
  FileHandOver hand_over;
  QVERIFY(hand_over.listen());
  QString received;
  connect(&hand_over, &FileHandOver::file_received, this,
          [&received](const QString& path) { received = path; });
  bool taken = false;
  const fs::path cwd = fs::current_path();
  std::thread second([&taken] { taken = hand_over_file(QStringLiteral("some.604"), kLimitMs); });
  QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), kLimitMs);
  second.join();
  QVERIFY(taken);
  // The name is made absolute where the second start was made.
  QCOMPARE(received, QString::fromStdString((cwd / "some.604").string()));

  // The program as a person starts it the second time: it hands the file over and ends with 0.
  const std::string file = (home.root() / "handed.604").string();
  received.clear();
  test::RunningChild again({test::kba604_program(), file});
  QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), kLimitMs);
  QCOMPARE(again.wait(kLimitMs).exit_code, 0);
  QCOMPARE(received, QString::fromStdString(file));
}

void WindowProgramTest::anUnreachableDisplayMeansHeadless() {
  {
    EnvOverride platform("QT_QPA_PLATFORM", "offscreen");
    QVERIFY(platform::check_display().available);
  }
  EnvOverride platform("QT_QPA_PLATFORM", nullptr);
  EnvOverride wayland("WAYLAND_DISPLAY", nullptr);
  EnvOverride display("DISPLAY", ":987");
  const platform::DisplayCheck check = platform::check_display();
  QVERIFY(!check.available);
  QVERIFY(!check.note.empty());

  // The program says so in one line and goes on headless: "/test" ends with 0 after loading the
  // description.
  test::TestHome home;
  const test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
  QCOMPARE(r.exit_code, 0);
  QVERIFY(r.err.find("недоступен; программа работает без окна") != std::string::npos ||
          r.err.find("нет клиентской библиотеки X") != std::string::npos);
}

QTEST_MAIN(WindowProgramTest)
#include "window_program_guitest.moc"
