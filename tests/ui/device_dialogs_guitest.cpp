// The regulation and single-parameter dialogs driven through their widgets on the offscreen
// platform: the regulation dialog against the virtual instrument, the single-parameter dialog
// against an instrument kept in memory.
// The virtual instrument's headers use the word "slots", which Qt's headers turn into a macro:
// they come first.
#include "support/virtual_instrument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>
#include <atomic>
#include <map>
#include <mutex>

#include "app/application.h"
#include "description/description_loader.h"
#include "link/device_io.h"
#include "platform/event.h"
#include "platform/settings_store.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"
#include "ui/regul_dlg.h"
#include "ui/single_point_dlg.h"

namespace kba604 {
namespace {

// An instrument in memory: values by name, every request written down.
class MemoryExchange final : public DirectExchange {
 public:
  int transact(std::vector<std::string>* trace, Parameter& p, int request_bit,
               bool as_position) override {
    std::lock_guard lock(mutex_);
    requests.push_back((request_bit ? "R " : "W ") + p.short_name +
                       (p.indexed ? ":" + std::to_string(p.linear_index) : std::string()) +
                       (request_bit ? "" : "=" + p.value + (as_position ? "#" : "")));
    if (trace != nullptr) trace->push_back("кадр");
    if (request_bit == 1) p.value = values[p.short_name];
    return kRequestOk;
  }
  std::mutex mutex_;
  std::vector<std::string> requests;
  std::map<std::string, std::string> values;
};

// The link, telling whether a request is in progress and counting the requests by name.
class AnnouncingExchange final : public DirectExchange {
 public:
  explicit AnnouncingExchange(std::shared_ptr<DirectExchange> link) : link_(std::move(link)) {}
  int transact(std::vector<std::string>* trace, Parameter& p, int request_bit,
               bool as_position) override {
    ++inside;
    const int result = link_->transact(trace, p, request_bit, as_position);
    {
      std::lock_guard lock(mutex_);
      ++counts_[(request_bit ? "R " : "W ") + p.short_name];
    }
    --inside;
    return result;
  }
  // Requests done so far: "R r.St", "W r-s", ...
  int count(const std::string& request) {
    std::lock_guard lock(mutex_);
    return counts_[request];
  }
  std::atomic<int> inside{0};

 private:
  std::shared_ptr<DirectExchange> link_;
  std::mutex mutex_;
  std::map<std::string, int> counts_;
};

// Holds every request until it is let go, as an instrument that answers late.
class HeldExchange final : public DirectExchange {
 public:
  int transact(std::vector<std::string>* trace, Parameter&, int, bool) override {
    ++inside;
    released.wait(-1);
    if (trace != nullptr) trace->push_back("кадр");
    --inside;
    return kRequestOk;
  }
  std::atomic<int> inside{0};
  platform::Event released{platform::Event::Reset::Manual};
};

// A link to the virtual instrument with the shipped description, for the regulation dialog.
struct RegulationRig {
  explicit RegulationRig(Prompter& prompter) : app(prompter) {
    settings.set_value("Ports/COM1", sim.path());
    io = std::make_shared<DeviceIO>(app, settings);
    io->sio().set_converter_automatic(1);
    DescriptionRequest request;
    request.data_folder = test::shipped_description_folder().string();
    request.version_text = "1.10";
    load = load_description(table, request, &prompter);
    link = std::make_shared<AnnouncingExchange>(std::make_shared<LinkExchange>(io));
  }
  std::unique_ptr<RegulationControl> control() {
    std::string error;
    return RegulationControl::create(link, table, &error);
  }

  test::VirtualInstrument sim;
  CKBA604App app;
  platform::MemorySettingsStore settings;
  std::shared_ptr<DeviceIO> io;
  ParameterTable table;
  DescriptionLoad load;
  std::shared_ptr<AnnouncingExchange> link;
};

}  // namespace

class DeviceDialogs : public QObject {
  Q_OBJECT

 private slots:
  void regulationShowsStateStartsAndClosesAfterItsWorker();
  void regulationIsRefusedWithoutTheState();
  void regulationReportsAStartTheInstrumentRefuses();
  void singlePointShowsNameHashAndTooltips();
  void singlePointExecutesOffTheWindowThread();
  void singlePointFindsTheParameterInTheTree();
  void singlePointExitWaitsForTheExchange();

 private:
  test::RecordingPrompter prompter;
};

void DeviceDialogs::regulationShowsStateStartsAndClosesAfterItsWorker() {
  if (!test::shipped_description_exists()) QSKIP("no description in the build tree");
  RegulationRig rig(prompter);
  QVERIFY(rig.load.main_tree != nullptr);
  test::VirtualInstrument& sim = rig.sim;
  std::shared_ptr<DeviceIO> io = rig.io;
  std::shared_ptr<AnnouncingExchange> link = rig.link;
  auto control = rig.control();
  QVERIFY(control != nullptr);
  Dialogs::CRegulDlg dialog(std::move(control), prompter);
  dialog.show();
  QCOMPARE(dialog.windowTitle(), QString::fromUtf8("Запуск / Остановка регулирования"));
  QTableWidget* t = dialog.table();
  QCOMPARE(t->horizontalHeaderItem(0)->text(), QString::fromUtf8("№ объекта"));
  QCOMPARE(t->horizontalHeaderItem(3)->text(), QString::fromUtf8("Значение"));
  QCOMPARE(t->columnWidth(1), 3 * t->columnWidth(0));
  QCOMPARE(t->item(0, 0)->text(), QStringLiteral("1"));
  QCOMPARE(t->item(0, 2)->text(), QStringLiteral("r.St"));
  QTRY_COMPARE(t->item(0, 3)->text(), QString::fromUtf8("Режим СТОП"));
  QTRY_VERIFY(dialog.network_start()->isEnabled());
  QCOMPARE(dialog.network_start()->currentText(), QString::fromUtf8("Разрешен"));

  QTest::mouseClick(dialog.start_button(), Qt::LeftButton);
  QTRY_COMPARE(t->item(0, 3)->text(), QString::fromUtf8("Режим РАБОТА"));
  QVERIFY(sim.with([](sim::Instrument& i) { return i.regulating(); }));
  QTest::mouseClick(dialog.stop_button(), Qt::LeftButton);
  QTRY_COMPARE(t->item(0, 3)->text(), QString::fromUtf8("Режим СТОП"));

  // Held at the link lock, the worker cannot end: the dialog waits for it.
  {
    std::unique_lock hold(io->link_lock());
    // With the lock held here, a request in progress cannot end.
    QTRY_VERIFY(link->inside.load() > 0);
    QTest::mouseClick(dialog.cancel_button(), Qt::LeftButton);
    QVERIFY(dialog.closing());
    QCoreApplication::processEvents();
    QVERIFY(dialog.isVisible());
  }
  QTRY_VERIFY(!dialog.isVisible());
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
  QCOMPARE(prompter.count(), std::size_t{0});
}

void DeviceDialogs::regulationIsRefusedWithoutTheState() {
  prompter.clear();
  ParameterTable table(1, "test");
  table[0].short_name = "net.s";
  QCOMPARE(Dialogs::CRegulDlg::run(std::make_shared<MemoryExchange>(), table, prompter),
           int(QDialog::Rejected));
  QCOMPARE(prompter.count(), std::size_t{1});
  QCOMPARE(prompter.records()[0].text, std::string("Не найден параметр \"r.st\"!"));
}

// "Запрещен" chosen in "Запуск по сети:" reaches the instrument, which then ignores "r-s": the
// click and two repetitions go out, then the start failure is shown once with its exclamation.
void DeviceDialogs::regulationReportsAStartTheInstrumentRefuses() {
  if (!test::shipped_description_exists()) QSKIP("no description in the build tree");
  prompter.clear();
  RegulationRig rig(prompter);
  QVERIFY(rig.load.main_tree != nullptr);
  Dialogs::CRegulDlg dialog(rig.control(), prompter);
  dialog.show();
  QComboBox* permission = dialog.network_start();
  QTRY_VERIFY(permission->isEnabled());
  QCOMPARE(permission->currentText(), QString::fromUtf8("Разрешен"));
  permission->setFocus();
  QTest::keyClick(permission, Qt::Key_Up);
  QCOMPARE(permission->currentText(), QString::fromUtf8("Запрещен"));
  QTRY_COMPARE(rig.sim.with([](sim::Instrument& i) { return i.value("net.s"); }),
               std::optional<sim::Bytes>(sim::Bytes{0}));

  QTest::mouseClick(dialog.start_button(), Qt::LeftButton);
  QTRY_COMPARE(prompter.count(), std::size_t{1});
  QCOMPARE(prompter.records()[0].text,
           std::string("Попытка запуска прибора по сети RS485 неудачна.\n Возможно управление "
                       "прибором по сети заблокировано параметром NET.S"));
  QVERIFY(prompter.records()[0].icon == PromptIcon::Warning);
  QCOMPARE(rig.link->count("W r-s"), 3);
  // The polls go on and the pending start is over: nothing more is written or shown.
  const int reads = rig.link->count("R r.St");
  QTRY_VERIFY(rig.link->count("R r.St") >= reads + 2);
  QCOMPARE(rig.link->count("W r-s"), 3);
  QCOMPARE(prompter.count(), std::size_t{1});
  QCOMPARE(dialog.table()->item(0, 3)->text(), QString::fromUtf8("Режим СТОП"));
  QVERIFY(!rig.sim.with([](sim::Instrument& i) { return i.regulating(); }));
  QTest::mouseClick(dialog.cancel_button(), Qt::LeftButton);
  QTRY_VERIFY(!dialog.isVisible());
}

void DeviceDialogs::singlePointShowsNameHashAndTooltips() {
  ParameterTable table(2, "test");
  table[0].short_name = "r.St";
  table[0].format = "Режим_СТОП:Режим_РАБОТА";
  table[0].title = "Режим работы прибора";
  table[1].short_name = "Addr";
  table[1].format = "DEC_dot";
  Dialogs::CSinglePoint dialog(std::make_shared<MemoryExchange>(), table, prompter);
  QCOMPARE(dialog.windowTitle(),
           QString::fromUtf8("Произвольный доступ к отдельным параметрам (Single Point)"));
  QCOMPARE(dialog.description_label()->text(), QString::fromUtf8("Описание параметра"));
  QCOMPARE(dialog.name_box()->count(), 2);
  QCOMPARE(dialog.name_box()->itemText(0), QStringLiteral("Addr"));
  QCOMPARE(dialog.from_edit()->text(), QStringLiteral("0"));
  QCOMPARE(dialog.to_edit()->text(), QStringLiteral("0"));
  QCOMPARE(dialog.from_edit()->toolTip(),
           QString::fromUtf8(
               "Начальный индекс параметра, а также индекс, используемый при поиске в дереве."));
  QCOMPARE(dialog.to_edit()->toolTip(), QString::fromUtf8("Конечный индекс параметра."));
  QCOMPARE(dialog.find_button()->text(),
           QString::fromUtf8("Найти и показать этот параметр в \"дереве\""));

  dialog.name_box()->setCurrentIndex(1);
  QCOMPARE(dialog.hash_edit()->text(), QStringLiteral("0x2810"));
  QCOMPARE(dialog.description_label()->text(),
           QString::fromUtf8("Режим работы прибора (Режим_СТОП:Режим_РАБОТА)"));
  QCOMPARE(dialog.what_box()->count(), 2);
  QCOMPARE(dialog.what_box()->itemText(1), QString::fromUtf8("Режим РАБОТА"));
  dialog.name_box()->setEditText(QStringLiteral("Addr"));
  QCOMPARE(dialog.what_box()->count(), 0);
  dialog.name_box()->setEditText(QStringLiteral("x.y"));
  QCOMPARE(dialog.description_label()->text(),
           QString::fromUtf8("<неизвестный параметр> (<тип неопределен>)"));
}

void DeviceDialogs::singlePointExecutesOffTheWindowThread() {
  prompter.clear();
  ParameterTable table(1, "test");
  table[0].short_name = "r.St";
  table[0].format = "Стоп:Работа";
  table[0].title = "Режим";
  auto link = std::make_shared<MemoryExchange>();
  link->values["r.St"] = "Работа";
  Dialogs::CSinglePoint dialog(link, table, prompter);
  QSignalSpy executed(&dialog, &Dialogs::CSinglePoint::executed);
  dialog.name_box()->setEditText(QStringLiteral("r.st"));
  QTest::mouseClick(dialog.execute_button(), Qt::LeftButton);
  QTRY_COMPARE(executed.count(), 1);
  QStringList lines;
  for (int i = 0; i < dialog.protocol()->count(); ++i) lines << dialog.protocol()->item(i)->text();
  QCOMPARE(lines, (QStringList{QString::fromUtf8("r.St (Режим)"), QString::fromUtf8("кадр"),
                               QString::fromUtf8("Нет ошибок; строковая нотация ответа:"),
                               QString::fromUtf8("Работа")}));

  // A write of the entry chosen in "Что записать:", with an index range in the data.
  dialog.write_button()->setChecked(true);
  dialog.index_check()->setChecked(true);
  dialog.to_edit()->setText(QStringLiteral("1"));
  dialog.what_box()->setCurrentIndex(0);
  QTest::mouseClick(dialog.execute_button(), Qt::LeftButton);
  QTRY_COMPARE(executed.count(), 2);
  QCOMPARE(link->requests, (std::vector<std::string>{"R r.St", "W r.St:0=Стоп", "W r.St:1=Стоп"}));

  dialog.name_box()->setEditText(QStringLiteral("нет.такого"));
  QTest::mouseClick(dialog.execute_button(), Qt::LeftButton);
  QTRY_COMPARE(executed.count(), 3);
  QCOMPARE(prompter.count(), std::size_t{1});
  QCOMPARE(prompter.records()[0].caption, std::string("Параметр не найден"));
}

void DeviceDialogs::singlePointFindsTheParameterInTheTree() {
  prompter.clear();
  ParameterTable table(2, "test");
  for (int i = 0; i < 2; ++i) {
    table[i].short_name = "in-t";
    table[i].indexed = true;
    table[i].linear_index = i;
  }
  Parameter* shown = nullptr;
  Dialogs::CSinglePoint dialog(std::make_shared<MemoryExchange>(), table, prompter,
                               [&](Parameter& p) {
                                 shown = &p;
                                 return true;
                               });
  dialog.name_box()->setEditText(QStringLiteral("in-t"));
  dialog.index_check()->setChecked(true);
  dialog.from_edit()->setText(QStringLiteral("1"));
  QTest::mouseClick(dialog.find_button(), Qt::LeftButton);
  QCOMPARE(shown, &table[1]);
  QCOMPARE(prompter.count(), std::size_t{0});

  dialog.name_box()->setEditText(QStringLiteral("r.St"));
  QTest::mouseClick(dialog.find_button(), Qt::LeftButton);
  QCOMPARE(prompter.count(), std::size_t{1});
  QCOMPARE(prompter.records()[0].text,
           std::string("Данный параметр не найден!\nВозможно, ошибка в индексе параметра."));
  QCOMPARE(prompter.records()[0].caption, std::string("Сообщение"));
}

// "Выход" while an exchange runs closes the dialog only once the exchange has ended, and the
// lines of that exchange are dropped with the dialog.
void DeviceDialogs::singlePointExitWaitsForTheExchange() {
  prompter.clear();
  ParameterTable table(1, "test");
  table[0].short_name = "r.St";
  table[0].format = "DEC_dot";
  auto link = std::make_shared<HeldExchange>();
  Dialogs::CSinglePoint dialog(link, table, prompter);
  dialog.show();
  dialog.name_box()->setEditText(QStringLiteral("r.St"));
  QTest::mouseClick(dialog.execute_button(), Qt::LeftButton);
  QTRY_COMPARE(link->inside.load(), 1);
  QVERIFY(dialog.busy());
  QVERIFY(!dialog.execute_button()->isEnabled());
  QTest::mouseClick(dialog.exit_button(), Qt::LeftButton);
  QCoreApplication::processEvents();
  QVERIFY(dialog.isVisible());
  link->released.set();
  QTRY_VERIFY(!dialog.isVisible());
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
  QCOMPARE(dialog.protocol()->count(), 0);
  QCOMPARE(link->inside.load(), 0);
  QCOMPARE(prompter.count(), std::size_t{0});
}

}  // namespace kba604

QTEST_MAIN(kba604::DeviceDialogs)
#include "device_dialogs_guitest.moc"
