// The trend view on the offscreen platform: a point per poll, gaps for failed polls, the time
// window and the pause, lines hidden from the legend, and exports holding every visible point.
#include <QChart>
#include <QImage>
#include <QLineSeries>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <iterator>

#include "ui/trend_view.h"

using kba604::PollSnapshot;
using kba604::TrendView;

namespace {

constexpr qint64 kStart = 1800000000000;  // ms since 1970

PollSnapshot poll(const char* name, int offset, qint64 ms, std::string value,
                  std::string note = {}) {
  PollSnapshot s;
  s.short_name = name;
  s.address_offset = offset;
  s.wall_ms = ms;
  s.value = std::move(value);
  s.note = std::move(note);
  return s;
}

int series_of(const TrendView& view, const QString& key, bool visible_only = false) {
  int n = 0;
  for (QAbstractSeries* s : view.chart()->series()) {
    if (s->name() == key && (!visible_only || s->isVisible())) ++n;
  }
  return n;
}

QStringList csv_rows(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  const QString text = QString::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
  QStringList rows = text.split("\r\n");
  if (!rows.isEmpty() && rows.back().isEmpty()) rows.removeLast();
  return rows;
}

}  // namespace

class TrendViewTest : public QObject {
  Q_OBJECT

 private slots:
  void every_poll_is_a_point_and_failures_are_gaps() {
    TrendView view;
    for (int i = 0; i < 10; ++i) {
      view.add_snapshot(
          poll("rEAd", 2, kStart + i * 1000, QString::number(20.5 + i).toStdString()));
      view.add_snapshot(poll("r.OUt", 0, kStart + i * 1000 + 500, "3,5"));
    }
    // A failed poll: a gap, whatever value was left from before.
    view.add_snapshot(poll("rEAd", 2, kStart + 10000, "29.500", "Таймаут при передаче данных"));
    view.add_snapshot(poll("rEAd", 2, kStart + 11000, "31.0"));
    // A value that is no number is not plotted.
    view.add_snapshot(poll("r.St", 0, kStart + 11000, "Стоп"));

    QCOMPARE(view.lines(), (QStringList{"r.OUt", "rEAd@2"}));
    QCOMPARE(view.point_count("rEAd@2"), 12);
    QCOMPARE(view.point_count("r.OUt"), 10);
    // The gap splits the line in two stretches; none of them drops to zero.
    QCOMPARE(series_of(view, "rEAd@2"), 2);
    for (QAbstractSeries* s : view.chart()->series()) {
      for (const QPointF& p : static_cast<QLineSeries*>(s)->points()) QVERIFY(p.y() != 0.0);
    }
  }

  void window_follows_the_latest_point_unless_paused() {
    TrendView view;
    view.set_window_seconds(60);
    view.add_point("a", QDateTime::fromMSecsSinceEpoch(kStart), 1.0);
    QCOMPARE(view.range_end().toMSecsSinceEpoch(), kStart);
    QCOMPARE(view.range_start().toMSecsSinceEpoch(), kStart - 60000);
    view.set_paused(true);
    view.add_point("a", QDateTime::fromMSecsSinceEpoch(kStart + 5000), 2.0);
    QCOMPARE(view.range_end().toMSecsSinceEpoch(), kStart);
    QCOMPARE(view.point_count("a"), 2);  // still taken
    view.set_paused(false);
    QCOMPARE(view.range_end().toMSecsSinceEpoch(), kStart + 5000);
    view.set_window_seconds(86400);
    QCOMPARE(view.range_start().toMSecsSinceEpoch(), kStart + 5000 - 86400000LL);
  }

  void value_axis_fits_the_visible_lines_and_numbers_read_alike_in_any_locale() {
    TrendView view;
    view.set_window_seconds(60);
    for (int i = 0; i < 10; ++i) {
      view.add_snapshot(poll("a", 0, kStart + i * 1000, QString::number(1 + i).toStdString()));
      view.add_snapshot(poll("b", 0, kStart + i * 1000, "1000,5"));
    }
    view.fit_values();
    QVERIFY(view.value_max() >= 1000.5);
    view.set_line_visible("b", false);
    view.fit_values();
    QVERIFY(view.value_min() <= 1.0);
    QVERIFY(view.value_max() >= 10.0 && view.value_max() < 100.0);
    // A point long before the window does not stretch the axis.
    view.set_line_visible("b", true);
    view.add_point("a", QDateTime::fromMSecsSinceEpoch(kStart - 3600000), -5000.0);
    view.fit_values();
    QVERIFY(view.value_min() > -5000.0);
  }

  void csv_export_has_every_visible_point_and_png_is_a_picture() {
    QTemporaryDir dir;
    TrendView view;
    view.resize(640, 400);
    view.set_window_seconds(3600);
    for (int i = 0; i < 50; ++i) {
      view.add_snapshot(poll("Set.P", 0, kStart + i * 1000, "100.25"));
      view.add_snapshot(
          poll("r.OUt", 0, kStart + i * 1000, i == 7 ? "" : "4.5", i == 7 ? "Ошибка" : ""));
      view.add_snapshot(poll("rd.rg", 0, kStart + i * 1000, "1"));
    }
    view.set_line_visible("rd.rg", false);
    QCOMPARE(series_of(view, "rd.rg", true), 0);

    const QString path = dir.filePath("trend.csv");
    QVERIFY(view.export_csv(path));
    const QStringList rows = csv_rows(path);
    QCOMPARE(rows.front(), QString("time,parameter,value"));
    QCOMPARE(rows.size(), 1 + 50 + 50);
    QCOMPARE(rows.filter(",Set.P,100.25").size(), 50);
    QCOMPARE(rows.filter(",r.OUt,4.5").size(), 49);
    QCOMPARE(rows.filter(QRegularExpression(",r\\.OUt,$")).size(), 1);
    QVERIFY(rows.filter("rd.rg").isEmpty());
    // Outside the shown window: left out.
    view.set_window_seconds(60);
    view.add_point("Set.P", QDateTime::fromMSecsSinceEpoch(kStart + 120000), 1.0);
    QVERIFY(view.export_csv(path));
    QCOMPARE(csv_rows(path).size(), 1 + 1);

    QVERIFY(!view.export_csv(dir.filePath("no/such/folder.csv")));
    QVERIFY(view.export_png(dir.filePath("trend.png")));
    QImage image(dir.filePath("trend.png"));
    QVERIFY(!image.isNull());
    QVERIFY(image.width() > 0);
  }
};

QTEST_MAIN(TrendViewTest)
#include "trend_view_guitest.moc"
