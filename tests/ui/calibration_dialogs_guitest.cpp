// The calibration dialogs driven through their widgets against the virtual instrument: a type-1
// calibration walked to its end with the keyboard and the buttons, a type-4 calibration cancelled
// half-way, a cancel that ends a running wait, and the whole wizard taking a valve sensor
// through both positions to the question of another input.
// Before any Qt header: the virtual instrument has members that Qt's keywords would rename.
#include "support/virtual_instrument.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "calibration/calibration_link.h"
#include "description/description_loader.h"
#include "operations/device.h"
#include "platform/settings_store.h"
#include "support/description_files.h"
#include "support/recording_calibration_link.h"
#include "support/recording_prompter.h"
#include "ui/calibration_dialogs.h"

namespace kba604::test {

// A device on the virtual instrument with the shipped description and the wizard's link to it.
struct Rig {
  explicit Rig(std::vector<std::string> sim_args = {}, platform::Clock* wait_clock = nullptr)
      : sim(std::move(sim_args)), waits(wait_clock ? *wait_clock : manual) {
    settings.set_value("Ports/COM1", sim.path());
    device = Device::create(app, settings);
    device->sio().set_converter_automatic(1);
    DescriptionRequest request;
    request.data_folder = shipped_description_folder();
    request.version_text = "1.10";
    load = load_description(device->table(), request, &prompter);
    if (load.main_tree) device->set_tree_root(load.main_tree.get());
    device_link = std::make_unique<calibration::DeviceCalibrationLink>(*device);
    link = std::make_unique<RecordingLink>(*device_link);
  }
  ~Rig() {
    queue.wait_idle(10000);
    device->forget_description();
    device->shutdown();
  }
  Dialogs::CalibrationContext context() { return {*link, prompter, waits, queue}; }
  int sensor(int input) {
    auto bytes = sim.with([&](sim::Instrument& i) { return i.value("in-t", input); });
    return bytes && !bytes->empty() ? bytes->back() : -1;
  }
  void set_sensor(int input, int code) {
    Parameter* p = device->table().device_slot(105, input);
    p->value = p->parsed_format().items.at(static_cast<std::size_t>(code));
    device->transact_parameter(nullptr, p, 0, false);
  }
  std::map<std::string, std::vector<float>> stored() {
    return sim.with([](sim::Instrument& i) { return i.calibration().stored(); });
  }

  VirtualInstrument sim;
  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::shared_ptr<Device> device;
  DescriptionLoad load;
  std::unique_ptr<calibration::DeviceCalibrationLink> device_link;
  std::unique_ptr<RecordingLink> link;
  platform::ManualClock manual;
  platform::Clock& waits;
  calibration::TaskQueue queue;
};

class CalibrationDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void typeOneWalksToItsEnd();
  void typeFourCancelledHalfWay();
  void cancelEndsARunningWait();
  void wizardTakesAValveToItsEndAndOffersAnotherInput();
};

// Acts on the wizard's modal dialogs as they come up, one act per dialog, in order. A dialog
// an act leaves open is rejected, and so is any dialog after the last act, so that a failed
// check never leaves the test waiting in a modal loop.
class ModalScript {
 public:
  using Act = std::function<void(QDialog&)>;
  explicit ModalScript(std::vector<Act> acts) : acts_(std::move(acts)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      // A new dialog may take the place of one that has gone: the guard forgets the old one.
      if (acting_ || dialog == nullptr || dialog == last_.data()) return;
      acting_ = true;
      last_ = dialog;
      if (next_ < acts_.size()) acts_[next_++](*dialog);
      if (last_ && last_->isVisible()) last_->reject();
      acting_ = false;
    });
    timer_.start(10);
  }
  std::size_t acted() const { return next_; }

 private:
  std::vector<Act> acts_;
  std::size_t next_ = 0;
  bool acting_ = false;
  QPointer<QDialog> last_;
  QTimer timer_;
};

void press_when_ready(Dialogs::CCalibrate2& dialog) {
  QTRY_VERIFY(!dialog.busy() && dialog.continue_button()->isVisible() &&
              dialog.continue_button()->isEnabled());
  QTest::mouseClick(dialog.continue_button(), Qt::LeftButton);
}

void CalibrationDialogsTest::typeOneWalksToItsEnd() {
  Rig rig;
  QVERIFY(rig.load.main_tree);
  calibration::WrongCodeCount wrong_codes;
  calibration::StepsStart start;
  {
    Dialogs::CCalibrate selection(rig.context(), wrong_codes, 2, 0);
    selection.show();
    QCOMPARE(selection.windowTitle(), QStringLiteral("Создание юстировки"));
    QVERIFY(!selection.sensor_list()->isVisible());
    // The keyboard alone: the first type, the entry two above the instrument's sensor, the code
    // and Enter.
    selection.type_list()->setFocus();
    QTest::keyClick(selection.type_list(), Qt::Key_Down);
    QTRY_COMPARE(selection.sensor_list()->count(), 25);
    QTRY_VERIFY(!selection.busy());
    QCOMPARE(selection.sensor_list()->currentIndex(), 3);
    QVERIFY(selection.sensor_list()->isVisible() && !selection.input_list()->isVisible());
    QTest::keyClick(selection.sensor_list(), Qt::Key_Up);
    QTest::keyClick(selection.sensor_list(), Qt::Key_Up);
    QTRY_VERIFY(selection.continue_button()->isEnabled());
    QTest::keyClicks(selection.code_field(), "476");
    QTest::keyClick(selection.code_field(), Qt::Key_Return);
    QTRY_VERIFY(!selection.isVisible());
    QCOMPARE(selection.result(), static_cast<int>(QDialog::Accepted));
    start = selection.steps_start();
  }
  QCOMPARE(rig.sensor(0), 5);
  QCOMPARE(start.type, 1);
  {
    Dialogs::CCalibrate2 steps(rig.context(), start);
    steps.show();
    QCOMPARE(steps.windowTitle(), QStringLiteral("Продолжение юстировки"));
    QCOMPARE(steps.main_text()->toPlainText().toStdString(), start.instruction);
    QCOMPARE(steps.status_field()->text(), QStringLiteral("Добро пожаловать в утилиту юстировки!"));
    for (int i = 0; i < 3; ++i) press_when_ready(steps);
    QTRY_COMPARE(steps.windowTitle(), QStringLiteral("Завершение юстировки"));
    QTRY_COMPARE(steps.main_text()->toPlainText(),
                 QStringLiteral("Юстировка НСХ преобразования успешно завершена. "));
    press_when_ready(steps);
    QTRY_VERIFY(!steps.isVisible());
    QCOMPARE(steps.result(), static_cast<int>(QDialog::Accepted));
    QVERIFY(steps.follow_up() == calibration::FollowUp::None);
    QCOMPARE(rig.link->count("CLB.A"), 1);
  }
  QVERIFY(rig.queue.wait_idle(10000));
  QCOMPARE(rig.link->count("CLB.A"), 2);
  QCOMPARE(rig.stored().count("type1"), std::size_t{1});
  QCOMPARE(rig.prompter.count(), std::size_t{0});
}

void CalibrationDialogsTest::typeFourCancelledHalfWay() {
  Rig rig;
  rig.set_sensor(2, 26);
  calibration::StepsStart start;
  start.type = 4;
  start.input = 2;
  {
    Dialogs::CCalibrate2 steps(rig.context(), start);
    steps.show();
    // The closed position to its end, then the open position's measurement.
    for (int i = 0; i < 3; ++i) press_when_ready(steps);
    QTRY_COMPARE(steps.status_field()->text(),
                 QStringLiteral("Продолжение с другим положении клапана (задвижки)"));
    QCOMPARE(rig.link->count("CLB.A"), 1);
    press_when_ready(steps);
    QTRY_COMPARE(steps.status_field()->text(), QStringLiteral("Измерения завершены..."));
    QTRY_VERIFY(!steps.busy());
    QTest::mouseClick(steps.cancel_button(), Qt::LeftButton);
    QTRY_VERIFY(!steps.isVisible());
    QCOMPARE(steps.result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(rig.link->count("CLB.A"), 2);
    QCOMPARE(rig.link->count("CLB.T"), 1);  // nothing of the open position went further
  }
  QVERIFY(rig.queue.wait_idle(10000));
  QCOMPARE(rig.link->count("CLB.A"), 3);
  QCOMPARE(rig.link->names().back(), std::string("CLB.A"));
  auto stored = rig.stored();
  QCOMPARE(stored.count("type4.in3.closed"), std::size_t{1});
  QCOMPARE(stored.count("type4.in3.open"), std::size_t{0});
}

void CalibrationDialogsTest::cancelEndsARunningWait() {
  // Waits on the real clock and a measurement that never ends: only the cancel can end them.
  Rig rig({"--cal-never-finish"}, &platform::Clock::real());
  calibration::StepsStart start;
  {
    Dialogs::CCalibrate2 steps(rig.context(), start);
    steps.show();
    QTest::mouseClick(steps.continue_button(), Qt::LeftButton);
    QTRY_COMPARE(rig.link->count("CLB.I"), 1);
    QVERIFY(steps.busy());
    QVERIFY(steps.cancel_button()->isEnabled());
    QTest::keyClick(&steps, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!steps.isVisible(), 3000);
    QCOMPARE(steps.result(), static_cast<int>(QDialog::Rejected));
    QVERIFY(rig.link->count("CLB.S") < 3);
  }
  QVERIFY(rig.queue.wait_idle(10000));
  QCOMPARE(rig.link->count("CLB.A"), 2);
}

// The whole wizard as the menu runs it: a valve sensor on input 3 chosen in "Создание
// юстировки", both positions measured and stored in "Продолжение юстировки", then "Выйти из
// юстировки?" answered No, which opens a new type selection for another input.
void CalibrationDialogsTest::wizardTakesAValveToItsEndAndOffersAnotherInput() {
  Rig rig;
  rig.set_sensor(2, 26);  // "до 0,9 кОм" on input 3
  rig.prompter.answer_next(PromptAnswer::No);
  auto valve_on_input_three = [](QDialog& dialog) {
    auto* d = qobject_cast<Dialogs::CCalibrate*>(&dialog);
    QVERIFY(d != nullptr);
    d->type_list()->setFocus();
    QTest::keyClick(d->type_list(), Qt::Key_End);  // the last type: 4
    QTRY_COMPARE(d->input_list()->count(), 8);
    QTRY_VERIFY(!d->busy());
    d->input_list()->setCurrentIndex(2);
    emit d->input_list()->activated(2);
    QTRY_VERIFY(!d->busy());
    QCOMPARE(d->input_list()->currentText(), QString::fromUtf8("Вход №3"));
    // The dialog shows the worker's answer at its next refresh.
    QTRY_COMPARE(d->sensor_list()->currentIndex(), 0);  // what the instrument holds
    QTest::keyClicks(d->code_field(), "552");
    QTest::keyClick(d->code_field(), Qt::Key_Return);
    QTRY_VERIFY(!d->isVisible());
  };
  auto both_positions = [](QDialog& dialog) {
    auto* d = qobject_cast<Dialogs::CCalibrate2*>(&dialog);
    QVERIFY(d != nullptr);
    for (int i = 0; i < 3; ++i) press_when_ready(*d);
    QTRY_COMPARE(d->status_field()->text(),
                 QString::fromUtf8("Продолжение с другим положении клапана (задвижки)"));
    for (int i = 0; i < 3; ++i) press_when_ready(*d);
    QTRY_COMPARE(d->status_field()->text(), QString::fromUtf8("Завершение юстировки"));
    press_when_ready(*d);
    QTRY_VERIFY(!d->isVisible());
    QCOMPARE(d->result(), static_cast<int>(QDialog::Accepted));
  };
  bool offered_again = false;
  auto another_input = [&](QDialog& dialog) {
    auto* d = qobject_cast<Dialogs::CCalibrate*>(&dialog);
    QVERIFY(d != nullptr);
    offered_again = true;
    QTest::mouseClick(d->cancel_button(), Qt::LeftButton);
    QTRY_VERIFY(!d->isVisible());
  };
  ModalScript script({valve_on_input_three, both_positions, another_input});
  const bool continued =
      Dialogs::run_calibration_wizard(*rig.device, rig.prompter, 2, 0, nullptr, rig.manual);
  QVERIFY(continued);
  QCOMPARE(script.acted(), std::size_t{3});
  QVERIFY(offered_again);
  const std::vector<PromptRecord> asked = rig.prompter.records();
  QCOMPARE(asked.size(), std::size_t{1});
  QCOMPARE(asked[0].text, std::string("Выйти из юстировки?\n(нет - повторить с новым каналом)"));
  QCOMPARE(asked[0].caption, std::string("Сообщение"));
  const auto stored = rig.stored();
  QCOMPARE(stored.count("type4.in3.closed"), std::size_t{1});
  QCOMPARE(stored.count("type4.in3.open"), std::size_t{1});
  QCOMPARE(rig.sensor(2), 26);
}

}  // namespace kba604::test

QTEST_MAIN(kba604::test::CalibrationDialogsTest)
#include "calibration_dialogs_guitest.moc"
