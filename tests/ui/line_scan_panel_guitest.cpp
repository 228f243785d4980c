// The line scan of the connection-search dialog, driven through its widgets against the virtual
// line with three instruments at different addresses and speeds: what the scan lists, how Escape
// stops it before it closes the dialog, and how a pick moves the program to the instrument.
// The virtual instrument's headers use the word "slots", which Qt's headers turn into a macro:
// they come first.
// clang-format off
#include "support/virtual_instrument.h"
// clang-format on

#include <QComboBox>
#include <QLineEdit>
#include <QtTest/QtTest>
#include <functional>
#include <memory>

#include "app/application.h"
#include "operations/device.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "ui/line_scan_panel.h"
#include "ui/network_dialogs.h"
#include "ui/qt_services.h"

using namespace kba604;

namespace {

bool wait_until(const std::function<bool()>& done, int limit_ms = 60'000) {
  // Sleeps between events as the program's loop does: a spinning wait would take a core
  // from the worker and the virtual instrument it waits for.
  if (!run_events_until(done, limit_ms)) return false;
  QCoreApplication::processEvents();
  return true;
}

QStringList row_texts(QTableWidget& table, int row) {
  QStringList texts;
  for (int c = 0; c < table.columnCount(); ++c) texts << table.item(row, c)->text();
  return texts;
}

// Ticks exactly the speeds given.
void tick_speeds(LineScanPanel& panel, const QStringList& speeds) {
  for (QCheckBox* box : panel.speed_boxes()) box->setChecked(speeds.contains(box->text()));
}

void format_boxes_8n1(LineScanPanel& panel) {
  for (QCheckBox* box : panel.format_boxes()) box->setChecked(box->text() == "8N1");
}

QStringList ticked(const std::vector<QCheckBox*>& boxes) {
  QStringList texts;
  for (QCheckBox* box : boxes) {
    if (box->isChecked()) texts << box->text();
  }
  return texts;
}

// The program's side: its settings at 9600 and address 16, COM1 leading to the virtual line.
struct ScanRig {
  ScanRig() {
    settings.set_value("Ports/COM1", sim.path());
    settings.set_uint32("port_number", 1);
    settings.set_uint32("baud_rate", 9600);
    settings.set_uint32("address", 16);
    device = Device::create(app, settings);
    // The automatic converter: a pseudo-terminal needs no wait for the frame's line time.
    app.modes.rs485_type.store(1);
  }
  ~ScanRig() { device->shutdown(); }
  std::string setting(const char* name) { return device->program_settings().GetValueByName(name); }

  test::TestHome home;
  test::VirtualInstrument sim{{"--address", "16", "--address", "40", "--baud", "19200",
                               "--firmware", "2.01", "--address", "64", "--baud", "38400",
                               "--model", "TRM"}};
  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::shared_ptr<Device> device;
};

}  // namespace

class LineScanPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void scanListsEveryInstrumentStopsOnEscapeAndThePickConnects();
  void theFieldsRefuseWhatCannotBeScannedAndAPickStopsTheScan();
};

void LineScanPanelTest::scanListsEveryInstrumentStopsOnEscapeAndThePickConnects() {
  ScanRig rig;
  SetupCarrierDialog dialog(*rig.device, rig.prompter);
  dialog.show();
  LineScanPanel& panel = dialog.line_scan_panel();
  // The program's speed with its neighbours, and its own character format.
  QCOMPARE(ticked(panel.speed_boxes()), (QStringList{"4800", "9600", "14400"}));
  QCOMPARE(ticked(panel.format_boxes()), QStringList{"8N1"});
  QCOMPARE(panel.first_address_box().singleStep(), 8);
  QCOMPARE(panel.last_address_box().value(), 248);

  // Escape during a scan stops the scan within a probe; the dialog stays.
  tick_speeds(panel, {"9600", "19200", "38400"});
  QTest::mouseClick(&panel.scan_button(), Qt::LeftButton);
  QVERIFY(panel.scanning());
  QVERIFY(!dialog.connect_button().isEnabled());
  QCOMPARE(panel.progress_bar().maximum(), 96);
  QVERIFY(wait_until([&] { return panel.progress_label().text().contains("адрес"); }));
  const int at_escape = panel.probes_begun();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  QVERIFY(wait_until([&] { return !panel.scanning(); }));
  QVERIFY2(panel.probes_begun() <= at_escape + 1, qPrintable(QString::number(at_escape)));
  QVERIFY(panel.progress_label().text().startsWith("Сканирование прервано"));
  QCOMPARE(dialog.ended_with(), 0);
  QVERIFY(dialog.connect_button().isEnabled());
  QVERIFY(dialog.table().isEnabled());

  // Addresses 8..72 at three speeds: every instrument once, in the order they answered.
  panel.first_address_box().setValue(8);
  panel.last_address_box().setValue(72);
  QTest::mouseClick(&panel.scan_button(), Qt::LeftButton);
  QVERIFY(wait_until([&] { return !panel.scanning(); }));
  QTableWidget& found = panel.found_table();
  QCOMPARE(found.rowCount(), 3);
  QCOMPARE(row_texts(found, 0), (QStringList{"16", "9600", "8N1", "KBA604", "1.10"}));
  QCOMPARE(row_texts(found, 1), (QStringList{"40", "19200", "8N1", "KBA604", "2.01"}));
  QCOMPARE(row_texts(found, 2), (QStringList{"64", "38400", "8N1", "TRM", "1.10"}));
  QCOMPARE(panel.progress_bar().value(), 27);
  QCOMPARE(panel.progress_label().text(), QString("Сканирование завершено. Найдено приборов: 3."));
  // Nothing the scan did reached the program's settings or the dialog's table.
  QCOMPARE(rig.setting("bPS"), std::string("9600"));
  QCOMPARE(rig.setting("Addr"), std::string("16"));
  QCOMPARE(qobject_cast<QComboBox*>(dialog.row_editor(0))->currentText(), QString("9600"));
  QVERIFY(rig.prompter.records().empty());

  // Enter on the second row picks it: its settings go into the table and the program's
  // settings, and the connection at them ends the dialog.
  found.setFocus();
  found.selectRow(1);
  QTest::keyClick(&found, Qt::Key_Return);
  QVERIFY(wait_until([&] { return dialog.ended_with() != 0; }));
  QCOMPARE(dialog.ended_with(), PreStart::kResultConnected);
  QCOMPARE(dialog.status().text(), QString("Связь установлена!"));
  QCOMPARE(qobject_cast<QComboBox*>(dialog.row_editor(0))->currentText(), QString("19200"));
  QCOMPARE(qobject_cast<QLineEdit*>(dialog.row_editor(5))->text(), QString("40"));
  QCOMPARE(rig.setting("bPS"), std::string("19200"));
  QCOMPARE(rig.setting("Addr"), std::string("40"));
}

void LineScanPanelTest::theFieldsRefuseWhatCannotBeScannedAndAPickStopsTheScan() {
  ScanRig rig;
  SetupCarrierDialog dialog(*rig.device, rig.prompter);
  dialog.show();
  LineScanPanel& panel = dialog.line_scan_panel();
  // A range without a multiple of 8 in it, no speed, no format: nothing starts, each says why.
  panel.first_address_box().setValue(17);
  panel.last_address_box().setValue(23);
  QVERIFY(!panel.start_scan());
  QCOMPARE(panel.first_address_box().value(), 24);
  QVERIFY(panel.progress_label().text().contains("кратного 8"));
  panel.first_address_box().setValue(16);
  tick_speeds(panel, {});
  QVERIFY(!panel.start_scan());
  QCOMPARE(panel.progress_label().text(), QString("Не выбрано ни одной скорости."));
  QTest::mouseClick(&panel.all_speeds_button(), Qt::LeftButton);
  QCOMPARE(ticked(panel.speed_boxes()).size(), 9);
  for (QCheckBox* box : panel.format_boxes()) box->setChecked(false);
  QVERIFY(!panel.start_scan());
  QVERIFY(!panel.scanning());
  // Enter in an address field starts the scan (not the dialog's default button): 7N2 at one
  // address and one speed finds nobody there.
  panel.format_boxes()[4]->setChecked(true);
  tick_speeds(panel, {"9600"});
  panel.last_address_box().setValue(16);
  QTest::keyClick(&panel.last_address_box(), Qt::Key_Return);
  QVERIFY(panel.scanning());
  QVERIFY(wait_until([&] { return !panel.scanning(); }));
  QCOMPARE(panel.progress_label().text(), QString("Ни один прибор не ответил."));
  QCOMPARE(dialog.ended_with(), 0);

  // A double click on an instrument while the scan goes on: the scan stops, then the pick.
  format_boxes_8n1(panel);
  tick_speeds(panel, {"9600", "19200", "38400"});
  panel.first_address_box().setValue(0);
  panel.last_address_box().setValue(248);
  QVERIFY(panel.start_scan());
  QTableWidget& found = panel.found_table();
  QVERIFY(wait_until([&] { return found.rowCount() > 0; }));
  const QRect cell = found.visualRect(found.model()->index(0, 0));
  // A double click follows a press on the same cell, as a person's does.
  QTest::mouseClick(found.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(found.viewport(), Qt::LeftButton, {}, cell.center());
  QVERIFY(wait_until([&] { return dialog.ended_with() != 0; }));
  QVERIFY(!panel.scanning());
  QVERIFY(panel.probes_begun() < 96);
  QCOMPARE(dialog.ended_with(), PreStart::kResultConnected);
  QCOMPARE(rig.setting("bPS"), std::string("9600"));
  QCOMPARE(rig.setting("Addr"), std::string("16"));
}

QTEST_MAIN(LineScanPanelTest)
#include "line_scan_panel_guitest.moc"
