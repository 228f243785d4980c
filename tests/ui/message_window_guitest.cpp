// The one-line message window: the description's loading at start-up and with a file, the
// share of a configuration file stored and read, nothing at all for a hidden start, and text
// handed over from another thread.
// clang-format off
#include <QtTest/QtTest>
#include <QSignalSpy>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/command_line.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "platform/ini_settings_store.h"
#include "runner/document_handler.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "ui/main_window.h"
#include "ui/message_window.h"
#include "ui/qt_services.h"
#include "ui/window_program.h"
// clang-format on

using namespace kba604;

namespace {

// The program's document without a port, its loading shown in a message window, and the
// window over it.
struct FileRig {
  FileRig() {
    app.options.clear();
    CmyCommandLineInfo info(app.options);
    info.parse({"/silent"});
    apply_no_port_rule(app.options);
    apply_start_modes(app.options, app.modes);
    handler = make_document_handler();
    auto* h = static_cast<ConfiguratorDocument*>(handler.get());
    h->set_message_window([this](std::string_view text) { message.show_text(text); });
    start = handler->construct(context);
    if (start != DocumentStart::Ready) return;
    MainWindow::Services s{app, *handler->document(), settings, *profile, h->program_settings(), {},
                           true};
    window = std::make_unique<MainWindow>(std::move(s), view, sink);
  }
  ~FileRig() {
    window.reset();
    if (handler) handler->shutdown();
  }

  test::TestHome home;
  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore store, registration;
  std::unique_ptr<platform::IniSettingsStore> profile = open_window_profile();
  ProgramSettings settings{store};
  StatusOperationView view;
  QtNotificationSink sink;
  UiQueue ui;
  platform::Event close_requested{platform::Event::Reset::Manual};
  platform::Event automation_done{platform::Event::Reset::Manual};
  RunContext context{app,      settings,        registration,    view, sink, "", "",
                     "kba604", close_requested, automation_done, ui};
  MessageWindow message{false};
  QSignalSpy texts{&message, &MessageWindow::text_shown};
  std::unique_ptr<DocumentHandler> handler;
  DocumentStart start = DocumentStart::Refused;
  std::unique_ptr<MainWindow> window;
};

QList<int> percents(const QSignalSpy& spy) {
  QList<int> out;
  for (const QList<QVariant>& args : spy) out << args[0].toInt();
  return out;
}

}  // namespace

class MessageWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void linesSharesAndTheHiddenStart() {
    MessageWindow hidden(true);
    hidden.show_text("Загрузка файлов дерева...");
    hidden.show_percent(50);
    QVERIFY(!hidden.visible());
    QVERIFY(starts_hidden({"/w:0", "/h:0"}));
    QVERIFY(!starts_hidden({"/x:10", "/y:10", "/w:300", "/h:200"}));
    QVERIFY(!starts_hidden({}));

    MessageWindow message(false);
    message.show_percent(30);  // no share without a line above it
    QVERIFY(!message.visible());
    message.show_text("Загрузка файлов дерева...");
    QVERIFY(message.visible());
    QCOMPARE(message.text(), QString("Загрузка файлов дерева..."));
    QCOMPARE(message.percent(), -1);
    message.show_percent(40);
    QCOMPARE(message.percent(), 40);
    message.show_percent(100);
    QVERIFY(!message.visible());

    // A line from another thread is shown when the UI thread gets to it.
    std::thread worker([&] { message.show_text("Архивация данных..."); });
    worker.join();
    QTRY_VERIFY(message.visible());
    QCOMPARE(message.text(), QString("Архивация данных..."));
    message.close();
    QVERIFY(!message.visible());
  }

  void startUpLoadingSaveAndOpenAreShown() {
    FileRig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    // The start-up loaded the description under the loading line.
    QVERIFY(!rig.texts.isEmpty());
    QCOMPARE(rig.texts.front()[0].toString(), QString("Загрузка файлов дерева..."));
    QVERIFY(rig.message.visible());
    show_file_work(rig.message, *rig.window, *rig.handler->document());
    QVERIFY(!rig.message.visible());

    const QString path = QString::fromStdString((rig.home.root() / "saved.604").string());
    QSignalSpy saving(&rig.message, &MessageWindow::percent_shown);
    QVERIFY(rig.window->save_document_as(path));
    const QList<int> stored = percents(saving);
    QVERIFY(stored.size() >= 3);
    QCOMPARE(stored.back(), 100);
    QVERIFY(std::is_sorted(stored.begin(), stored.end()));
    QCOMPARE(rig.texts.back()[0].toString(), QString("Сохранение файла..."));
    QVERIFY(!rig.message.visible());

    // Another file than the one open (that one would ask "Этот файл уже открыт!").
    const std::filesystem::path copy = rig.home.root() / "copy.604";
    std::filesystem::copy_file(path.toStdString(), copy);
    rig.texts.clear();
    QSignalSpy loading(&rig.message, &MessageWindow::percent_shown);
    QVERIFY(rig.window->open_document(QString::fromStdString(copy.string())));
    QVERIFY(!rig.texts.isEmpty());
    QCOMPARE(rig.texts.front()[0].toString(), QString("Загрузка файлов дерева..."));
    const QList<int> read = percents(loading);
    QVERIFY(!read.isEmpty());
    QVERIFY(std::is_sorted(read.begin(), read.end()));
    // Closed by the end of the file or, at the latest, by the tree built anew.
    QVERIFY(!rig.message.visible());
  }
};

QTEST_MAIN(MessageWindowTest)
#include "message_window_guitest.moc"
