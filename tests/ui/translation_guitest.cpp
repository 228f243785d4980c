// The window's language: with the English catalogue in use the menus, the dialogs and the boxes
// the core asks for are English; without it (the suite's own locale, a Russian one or none) they
// are the program's own Russian texts. A box's English is found for fixed texts and for texts the
// core made from a template with values; what a quiet run prints on stderr stays Russian.
// clang-format off
#include <QtTest/QtTest>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <memory>
#include <thread>

#include "app/command_line.h"
#include "app/start_rules.h"
#include "app/translatable.h"
#include "files/configuration_file.h"
#include "files/kba604_doc.h"
#include "model/parameter_table.h"
#include "operations/operation_hooks.h"
#include "platform/ini_settings_store.h"
#include "platform/text.h"
#include "runner/document_handler.h"
#include "runner/tool_modes.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "support/window_rig.h"
#include "ui/export_dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_services.h"
#include "ui/translation.h"
#include "ui/window_program.h"
// clang-format on

using namespace kba604;

namespace {

// The program's document without a port and the window over it.
using WindowRig = test::SilentWindowRig;

QStringList menu_titles(MainWindow& window) {
  QStringList titles;
  for (QAction* a : window.menuBar()->actions()) titles << a->text();
  return titles;
}

QStringList item_texts(MainWindow& window, int menu) {
  QStringList texts;
  QMenu* m = window.menuBar()->actions().at(menu)->menu();
  for (QAction* a : m->actions()) {
    if (!a->isSeparator()) texts << a->text();
  }
  return texts;
}

// Boxes asked for from a worker thread show without blocking; they are found among the
// top-level widgets once the UI thread has run its queue.
QMessageBox* shown_box() {
  for (int i = 0; i < 50; ++i) {
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) return box;
    }
  }
  return nullptr;
}

void close_boxes() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) box->close();
  }
  QCoreApplication::processEvents();
}

}  // namespace

class TranslationTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    use_english(false);
    close_boxes();
  }

  void the_suite_runs_under_a_locale_that_keeps_the_own_texts() {
    QVERIFY(!english_locale_from_environment());
    QVERIFY(!english_in_use());
  }

  void the_window_menus_follow_the_chosen_language() {
    QVERIFY(use_english(true));
    QVERIFY(english_in_use());
    {
      WindowRig english;
      QCOMPARE(english.start, DocumentStart::Ready);
      const QStringList titles = menu_titles(*english.window);
      QVERIFY2(titles.contains(QStringLiteral("&File")), qPrintable(titles.join('|')));
      QVERIFY(titles.contains(QStringLiteral("&Instrument")));
      QVERIFY(titles.contains(QStringLiteral("&Help")));
      QVERIFY(item_texts(*english.window, 0).contains(QStringLiteral("&Open...")));
    }
    QVERIFY(use_english(false));
    WindowRig own;
    const QStringList titles = menu_titles(*own.window);
    QVERIFY2(titles.contains(QStringLiteral("&Файл")), qPrintable(titles.join('|')));
    QVERIFY(titles.contains(QStringLiteral("&Прибор")));
    QVERIFY(item_texts(*own.window, 0).contains(QStringLiteral("&Открыть...")));
  }

  // Qt's own standard buttons speak the program's language: Russian from the system's Qt
  // translations (installed by the project's set-up) unless English is chosen.
  void the_standard_buttons_follow_the_chosen_language() {
    auto yes_no = [] {
      QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                      QMessageBox::Yes | QMessageBox::No);
      return box.button(QMessageBox::Yes)->text() + "|" + box.button(QMessageBox::No)->text();
    };
    QVERIFY(use_english(false));
    QCOMPARE(yes_no(), QStringLiteral("&Да|&Нет"));
    QVERIFY(use_english(true));
    QCOMPARE(yes_no(), QStringLiteral("&Yes|&No"));
    QVERIFY(use_english(false));
    QCOMPARE(yes_no(), QStringLiteral("&Да|&Нет"));
  }

  void a_dialog_follows_the_chosen_language() {
    test::TestHome home;
    ParameterTable table;
    test::RecordingPrompter prompter;
    auto radio_texts = [](QWidget& dialog) {
      QStringList texts;
      for (auto* r : dialog.findChildren<QRadioButton*>()) texts << r->text();
      return texts;
    };
    QVERIFY(use_english(true));
    {
      CExportOperDlg dialog(table, home.data_dir(), prompter);
      QCOMPARE(dialog.windowTitle(), QStringLiteral("Export Measurement Protocol"));
      const QStringList texts = radio_texts(dialog);
      QVERIFY2(texts.contains(QStringLiteral("Export a period of time")),
               qPrintable(texts.join('|')));
      QVERIFY(texts.contains(QStringLiteral("Show the report in the browser")));
    }
    QVERIFY(use_english(false));
    CExportOperDlg dialog(table, home.data_dir(), prompter);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Экспорт протокола измерений"));
    QVERIFY(radio_texts(dialog).contains(QStringLiteral("Экспорт по периоду времени")));
  }

  void core_texts_are_translated_whole_or_by_their_template() {
    const std::string missing = platform::format(kNotConfigurationText, "/tmp/a b/x.604");
    const std::string sizes = platform::format(kTableSizeText, 386, 380);
    QVERIFY(use_english(true));
    QCOMPARE(translate_message(kPollingRunsText),
             QStringLiteral("This operation cannot be carried out while operational parameters "
                            "are being polled.\nSwitch off the polling of all operational "
                            "parameters, then try again."));
    QCOMPARE(translate_message("Предупреждение"), QStringLiteral("Warning"));
    // The values of a text made from a template go into the English template in their order.
    QCOMPARE(translate_message(missing),
             QStringLiteral("The file \"/tmp/a b/x.604\" is not a KBA604 configuration file."));
    QCOMPARE(
        translate_message(sizes),
        QStringLiteral("The file holds 386 parameters, but the active table has 380 parameters!"));
    // A value that itself looks like the template's words does not confuse the match.
    QCOMPARE(
        translate_message(platform::format(kNotConfigurationText, "Файл \"x\" не является")),
        QStringLiteral("The file \"Файл \"x\" не является\" is not a KBA604 configuration file."));
    // A text the catalogue does not know, a parameter's note say, stays as it is.
    QCOMPARE(translate_message("Таймаут при передаче данных (нет связи)"),
             QStringLiteral("Таймаут при передаче данных (нет связи)"));
    QCOMPARE(translate_message(""), QString());
    // A box put together line by line: the lines the catalogue knows are English, a parameter's
    // note among them stays as it is.
    QCOMPARE(translate_message("Прибор: KBA604\nВерсия прошивки: 2.1\n"),
             QStringLiteral("Instrument: KBA604\nFirmware version: 2.1\n"));
    QCOMPARE(
        translate_message("Ошибка команды 'dev':\nТаймаут при передаче данных (нет связи)\n"),
        QStringLiteral("The command 'dev' failed:\nТаймаут при передаче данных (нет связи)\n"));
    QCOMPARE(translate_message("Обнаружено 2 отличий:\nr.St: 1 / 2\nSet.P: 5 / 6"),
             QStringLiteral("2 differences found:\nr.St: 1 / 2\nSet.P: 5 / 6"));
    QCOMPARE(translate_message("Файл описания прибора \"kba604.tree.zip\" не загружен: обрезан."
                               "\nПрограмма продолжит работу без него."),
             QStringLiteral("The instrument description file \"kba604.tree.zip\" was not loaded: "
                            "обрезан.\nThe program will go on without it."));
    QVERIFY(use_english(false));
    QCOMPARE(translate_message(missing), QString::fromStdString(missing));
    QCOMPARE(translate_message("Предупреждение"), QStringLiteral("Предупреждение"));
  }

  void a_box_from_the_core_is_shown_in_the_chosen_language() {
    QtPrompter prompter;
    const std::string text = platform::format(kCannotOpenText, "/home/ann/a.604");
    auto ask_from_worker = [&] {
      std::thread worker([&] { prompter.show(text, kCannotOpenCaption, PromptIcon::Warning); });
      worker.join();
      return shown_box();
    };
    QVERIFY(use_english(true));
    QMessageBox* box = ask_from_worker();
    QVERIFY(box != nullptr);
    QCOMPARE(box->text(), QStringLiteral("The file \"/home/ann/a.604\" could not be opened!"));
    QCOMPARE(box->windowTitle(), QStringLiteral("Open error"));
    close_boxes();

    QVERIFY(use_english(false));
    box = ask_from_worker();
    QVERIFY(box != nullptr);
    QCOMPARE(box->text(), QString::fromStdString(text));
    QCOMPARE(box->windowTitle(), QStringLiteral("Ошибка открытия"));
  }

  void the_usage_text_follows_the_language_and_comes_back() {
    test::TestHome home;
    const std::string own = usage_text();
    QVERIFY(use_english(true));
    const std::string english = usage_text();
    QVERIFY(english.starts_with("Usage: kba604"));
    QVERIFY(english.find("/elog:FILE") != std::string::npos);
    QVERIFY(use_english(false));
    QCOMPARE(usage_text(), own);
  }
};

QTEST_MAIN(TranslationTest)
#include "translation_guitest.moc"
