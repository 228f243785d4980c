// The one-line message window: the description's loading at start-up and with a file, the
// share of a configuration file stored and read, nothing at all for a hidden start, and text
// handed over from another thread.
// clang-format off
#include <QtTest/QtTest>
#include <QSignalSpy>
#include <filesystem>
#include <memory>
#include <thread>

#include "files/kba604_doc.h"
#include "runner/document_handler.h"
#include "support/window_rig.h"
#include "ui/main_window.h"
#include "ui/message_window.h"
// clang-format on

using namespace kba604;

namespace {

// The message window and what it showed; made before the document, which reports to it.
struct MessageParts {
  MessageWindow message{false};
  QSignalSpy texts{&message, &MessageWindow::text_shown};
};

// The program's document without a port, its loading shown in a message window, and the
// window over it.
struct FileRig : MessageParts, test::SilentWindowRig {
  FileRig()
      : SilentWindowRig([this](ConfiguratorDocument& h) {
          h.set_message_window([this](std::string_view text) { message.show_text(text); });
        }) {}
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

    const QString path = QString::fromStdString((rig.home->root() / "saved.604").string());
    QSignalSpy saving(&rig.message, &MessageWindow::percent_shown);
    QVERIFY(rig.window->save_document_as(path));
    const QList<int> stored = percents(saving);
    QVERIFY(stored.size() >= 3);
    QCOMPARE(stored.back(), 100);
    QVERIFY(std::is_sorted(stored.begin(), stored.end()));
    QCOMPARE(rig.texts.back()[0].toString(), QString("Сохранение файла..."));
    QVERIFY(!rig.message.visible());

    // Another file than the one open (that one would ask "Этот файл уже открыт!").
    const std::filesystem::path copy = rig.home->root() / "copy.604";
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
