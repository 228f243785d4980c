// The connection indicator when the adapter is unplugged: red with the lost port's words while
// the port waits for its device, back to the line's own state once the port is open again.
// clang-format off
#include <QtTest/QtTest>

#include "app/application.h"
#include "link/device_io.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/scripted_line.h"
#include "ui/link_indicator.h"
// clang-format on

namespace kba604 {

class LinkIndicatorTest : public QObject {
  Q_OBJECT

 private slots:
  void aLostPortShowsUntilItIsOpenAgain();
};

void LinkIndicatorTest::aLostPortShowsUntilItIsOpenAgain() {
  platform::ManualClock clock;
  test::RecordingPrompter prompter;
  CKBA604App app(prompter, clock);
  platform::MemorySettingsStore settings;
  // The device node the port's name leads to (it exists; the line itself is scripted).
  settings.set_value("Ports/COM1", "/dev/null");
  test::ScriptedLine line(clock);
  DeviceIO io(app, settings, line.opener());
  QCOMPARE(io.reopen_port(false), 0);
  LinkIndicator indicator(&io, false);
  indicator.refresh();
  QVERIFY(!indicator.toolTip().contains("пропал"));

  // Unplugged under a request.
  line.push(test::LineResponse::vanish());
  char reply[32];
  std::size_t n = 0;
  QCOMPARE(io.sio().transfer("#HG\r", 4, reply, &n), Sio::kLost);
  indicator.refresh();
  QCOMPARE(indicator.colour(), QColor(220, 0, 0));
  QVERIFY2(indicator.toolTip().contains("пропал"), qPrintable(indicator.toolTip()));
  QVERIFY(indicator.text().contains("порт пропал"));

  // Back: the watch (here called by hand) opens it again.
  line.set_present(true);
  QVERIFY(io.sio().reopen_if_back());
  indicator.refresh();
  QVERIFY(!indicator.toolTip().contains("пропал"));
  QVERIFY(!indicator.text().contains("порт пропал"));
}

}  // namespace kba604

QTEST_MAIN(kba604::LinkIndicatorTest)
#include "link_indicator_guitest.moc"
