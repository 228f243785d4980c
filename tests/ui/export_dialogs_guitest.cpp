// The export dialog and the cleaning dialog driven through their real widgets: the choices they
// start with, the free-space check, an export that ends by opening its first page, cancelling,
// and cleaning the archives up to a month.
#include <QComboBox>
#include <QDateEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "ui/export_dialogs.h"

namespace fs = std::filesystem;
using namespace kba604;

class ExportDialogsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TestHome> home_;
  ParameterTable table_{1, "parameters.zip"};
  fs::path protocol() const { return home_->data_dir() / "protocol"; }

  void write_day(const std::string& name, int records) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < records; ++i)
      encode_day_record(make_day_record(1796637600 + i, "rEAd", 0, false, {0x41, 0x48, 0, 0}),
                        bytes);
    std::ofstream out(protocol() / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private slots:
  void init() {
    home_ = std::make_unique<test::TestHome>();
    fs::create_directories(protocol());
    table_[0].short_name = "rEAd";
    table_[0].title = "Измерение";
    table_[0].format = "float";
  }
  void cleanup() { home_.reset(); }

  void startsWithTodayAllParametersAndTheBrowser() {
    write_day("01-11-2026.log", 1);
    ProtocolArchive archive;
    QVERIFY(archive.open(protocol() / "11-2026.var", true));
    QVERIFY(archive.pack("01-11-2026.log", protocol() / "01-11-2026.log"));
    fs::remove(protocol() / "01-11-2026.log");
    write_day("07-12-2026.log", 1);
    test::RecordingPrompter prompter;
    CExportOperDlg dlg(table_, home_->data_dir(), prompter);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Экспорт протокола измерений"));
    QVERIFY(dlg.period_mode()->isChecked());
    QCOMPARE(dlg.from_date()->date(), QDate::currentDate());
    QCOMPARE(dlg.to_date()->date(), QDate::currentDate());
    QCOMPARE(dlg.filter_list()->count(), 4);
    QCOMPARE(dlg.filter_list()->currentIndex(), 0);
    QCOMPARE(dlg.filter_list()->itemText(2), QStringLiteral("Только уставки (Set.P)"));
    QVERIFY(dlg.browser_output()->isChecked());
    QCOMPARE(dlg.file_progress()->maximum(), 100);
    QCOMPARE(dlg.days_progress()->maximum(), 100);
    QCOMPARE(dlg.ok_button()->toolTip(), QStringLiteral("Начать экспорт данных"));
    QCOMPARE(dlg.clean_button()->toolTip(), QStringLiteral("Очистка архива данных"));
    // The archives' streams first, then the day files.
    QCOMPARE(dlg.file_list()->count(), 2);
    QCOMPARE(dlg.file_list()->itemText(0), QStringLiteral("01-11-2026.log"));
    QCOMPARE(dlg.file_list()->itemText(1), QStringLiteral("07-12-2026.log"));

    dlg.file_mode()->setChecked(true);
    dlg.file_list()->setCurrentIndex(0);
    dlg.filter_list()->setCurrentIndex(2);
    dlg.spreadsheet_output()->setChecked(true);
    ReportRequest r = dlg.request();
    QVERIFY(!r.by_period);
    QCOMPARE(QString::fromStdString(r.file_name), QStringLiteral("01-11-2026.log"));
    QVERIFY(r.filter == ReportFilter::SetPoint);
    QVERIFY(r.output == ReportOutput::Spreadsheet);
  }

  void tooLittleFreeSpaceStopsTheExportAndEnoughRunsItToTheOpenedPage() {
    setenv("TZ", "UTC0", 1);
    write_day("07-12-2026.log", 3000);
    test::RecordingPrompter prompter;
    CExportOperDlg dlg(table_, home_->data_dir(), prompter);
    std::uint64_t free_bytes = 399999999;
    dlg.set_free_space_query([&](const fs::path&) { return std::optional<std::uint64_t>(free_bytes); });
    std::vector<fs::path> opened;
    dlg.set_opener([&](const fs::path& file) {
      opened.push_back(file);
      return true;
    });
    dlg.file_mode()->setChecked(true);
    dlg.file_list()->setCurrentIndex(0);
    dlg.show();
    QTest::mouseClick(dlg.ok_button(), Qt::LeftButton);
    QCOMPARE(prompter.count(), 1u);
    QCOMPARE(QString::fromStdString(prompter.records()[0].caption), QStringLiteral("Внимание"));
    QVERIFY(prompter.records()[0].icon == PromptIcon::Error);
    QVERIFY(!dlg.working());

    free_bytes = 400000000;
    QSignalSpy done(&dlg, &CExportOperDlg::finished_export);
    QTest::mouseClick(dlg.ok_button(), Qt::LeftButton);
    QVERIFY(done.count() == 1 || done.wait(20000));
    QVERIFY(dlg.last_result().outcome == ReportOutcome::Done);
    QCOMPARE(opened.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(opened[0].filename().string()), QStringLiteral("07-12-2026.html"));
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.days_progress()->value(), 100);
    QCOMPARE(prompter.count(), 1u);
  }

  void aWorkbookNoApplicationOpensIsNamedInTheMessage() {
    write_day("07-12-2026.log", 2);
    test::RecordingPrompter prompter;
    CExportOperDlg dlg(table_, home_->data_dir(), prompter);
    dlg.set_free_space_query([](const fs::path&) { return std::optional<std::uint64_t>(); });
    dlg.set_opener([](const fs::path&) { return false; });
    dlg.file_mode()->setChecked(true);
    dlg.spreadsheet_output()->setChecked(true);
    QSignalSpy done(&dlg, &CExportOperDlg::finished_export);
    dlg.accept();
    QVERIFY(done.count() == 1 || done.wait(20000));
    QCOMPARE(prompter.count(), 1u);
    QString text = QString::fromStdString(prompter.records()[0].text);
    QVERIFY2(text.contains(QStringLiteral(".xlsx")) &&
                 text.contains(QString::fromStdString((home_->data_dir() / "temp").string())),
             qPrintable(text));
  }

  void cancelWithoutAnExportClosesTheDialog() {
    test::RecordingPrompter prompter;
    CExportOperDlg dlg(table_, home_->data_dir(), prompter);
    dlg.show();
    QTest::mouseClick(dlg.cancel_button(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(!dlg.isVisible());
  }

  void cleaningDecember2025DeletesThatMonthAndEarlier() {
    for (const char* f : {"12-2025.var", "03-2025.var", "01-2026.var"})
      std::ofstream(protocol() / f) << "x";
    test::RecordingPrompter prompter;
    CCleanDataDlg dlg(protocol(), prompter);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Очистка данных"));
    dlg.month_picker()->setDate(QDate(2025, 12, 1));
    dlg.accept();
    QCOMPARE(prompter.count(), 1u);
    QCOMPARE(QString::fromStdString(prompter.records()[0].text),
             QStringLiteral("Количество удаленных файлов: 2."));
    QCOMPARE(QString::fromStdString(prompter.records()[0].caption), QStringLiteral("Сообщение"));
    QVERIFY(!fs::exists(protocol() / "12-2025.var"));
    QVERIFY(!fs::exists(protocol() / "03-2025.var"));
    QVERIFY(fs::exists(protocol() / "01-2026.var"));
  }
};

QTEST_MAIN(ExportDialogsTest)
#include "export_dialogs_guitest.moc"
