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
