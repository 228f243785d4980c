#include "ui/export_dialogs.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

#include "files/protocol_archive.h"
#include "platform/text.h"
#include "ui/translation.h"

namespace kba604 {
namespace {

ReportDate date_of(const QDate& d) { return {d.year(), d.month(), d.day()}; }

}  // namespace

bool open_with_desktop(const std::filesystem::path& file) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}

// ---- "Очистка данных" -----------------------------------------------------------------------

CCleanDataDlg::CCleanDataDlg(std::filesystem::path protocol_dir, Prompter& prompter,
                             QWidget* parent)
    : QDialog(parent), protocol_dir_(std::move(protocol_dir)), prompter_(prompter) {
  setWindowTitle(translate_message(kCleanDialogCaption));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(translate_message(kCleanDialogText), this));
  month_ = new QDateEdit(QDate::currentDate(), this);
  month_->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  month_->setDisplayFormat(tr("MMMM yyyyг."));
  month_->setCalendarPopup(true);
  layout->addWidget(month_);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(tr("Отмена"), this);
  ok->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &CCleanDataDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CCleanDataDlg::reject);
}

void CCleanDataDlg::accept() {
  const QDate d = month_->date();
  int deleted = clean_archives(protocol_dir_, d.year(), d.month());
  prompter_.show(platform::format(kDeletedFilesText, deleted), "Сообщение",
                 PromptIcon::Information);
  QDialog::accept();
}

// ---- "Экспорт протокола измерений" --------------------------------------------------------

// The worker's progress, handed to the dialog's thread as queued calls.
class CExportOperDlg::Progress final : public ReportProgress {
 public:
  explicit Progress(CExportOperDlg* dialog) : dialog_(dialog) {}
  void file_progress(int percent) override { set(dialog_->file_bar_, percent); }
  void days_progress(int percent) override { set(dialog_->days_bar_, percent); }

 private:
  void set(QProgressBar* bar, int percent) {
    QMetaObject::invokeMethod(bar, [bar, percent] { bar->setValue(percent); },
                              Qt::QueuedConnection);
  }
  CExportOperDlg* dialog_;
};

CExportOperDlg::CExportOperDlg(const ParameterTable& table,
                               std::filesystem::path program_directory, Prompter& prompter,
                               QWidget* parent)
    : QDialog(parent),
      table_(table),
      program_directory_(std::move(program_directory)),
      prompter_(prompter),
      progress_(std::make_unique<Progress>(this)) {
  setWindowTitle(translate_message(kExportDialogCaption));
  auto* layout = new QVBoxLayout(this);

  auto* source = new QGroupBox(this);
  auto* grid = new QGridLayout(source);
  by_period_ = new QRadioButton(tr("Экспорт по периоду времени"), source);
  by_file_ = new QRadioButton(tr("Экспорт по файлу"), source);
  by_period_->setChecked(true);
  grid->addWidget(by_period_, 0, 0, 1, 4);
  grid->addWidget(
      new QLabel(tr("Укажите за какой период времени хотите просмотреть отчет измерений:"), source),
      1, 0, 1, 4);
  from_ = new QDateEdit(QDate::currentDate(), source);
  to_ = new QDateEdit(QDate::currentDate(), source);
  for (QDateEdit* e : {from_, to_}) {
    e->setCalendarPopup(true);
    e->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  }
  grid->addWidget(new QLabel(tr("От"), source), 2, 0);
  grid->addWidget(from_, 2, 1);
  grid->addWidget(new QLabel(tr("До"), source), 2, 2);
  grid->addWidget(to_, 2, 3);
  grid->addWidget(by_file_, 3, 0, 1, 4);
  grid->addWidget(new QLabel(tr("Выберите файл данных для экспорта:"), source), 4, 0, 1, 4);
  files_ = new QComboBox(source);
  grid->addWidget(files_, 5, 0, 1, 4);
  layout->addWidget(source);

  auto* filter_row = new QHBoxLayout;
  filter_row->addWidget(new QLabel(tr("Фильтр:"), this));
  filter_ = new QComboBox(this);
  filter_->addItems({tr("Все оперативные параметры протокола"), tr("Только измерители (rEAd)"),
                     tr("Только уставки (Set.P)"),
                     tr("Только значение выходного сигнала (r.OUt)")});
  filter_->setCurrentIndex(0);
  filter_row->addWidget(filter_, 1);
  layout->addLayout(filter_row);

  browser_ = new QRadioButton(tr("Показать отчет в броузере"), this);
  spreadsheet_ = new QRadioButton(tr("Показать отчет в MS Excel"), this);
  browser_->setChecked(true);
  auto* outputs = new QHBoxLayout;
  outputs->addWidget(browser_);
  outputs->addWidget(spreadsheet_);
  layout->addLayout(outputs);

  file_bar_ = new QProgressBar(this);
  days_bar_ = new QProgressBar(this);
  for (QProgressBar* bar : {file_bar_, days_bar_}) {
    bar->setRange(0, 100);
    bar->setValue(0);
    layout->addWidget(bar);
  }

  auto* buttons = new QHBoxLayout;
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setToolTip(tr("Начать экспорт данных"));
  cancel_ = new QPushButton(tr("Отмена"), this);
  cancel_->setToolTip(tr("Отменить экспорт данных"));
  clean_ = new QPushButton(tr("Очистка"), this);
  clean_->setToolTip(tr("Очистка архива данных"));
  ok_->setDefault(true);
  buttons->addWidget(clean_);
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, &CExportOperDlg::accept);
  connect(cancel_, &QPushButton::clicked, this, &CExportOperDlg::reject);
  connect(clean_, &QPushButton::clicked, this, [this] {
    CCleanDataDlg clean(program_directory_ / "protocol", prompter_, this);
    clean.exec();
    fill_file_list();
  });
  connect(by_period_, &QRadioButton::toggled, this, &CExportOperDlg::update_mode);
  fill_file_list();
  update_mode();
}

CExportOperDlg::~CExportOperDlg() {
  // The worker reads the parameter table and posts to this dialog: it ends before either goes.
  cancel_flag_ = true;
  if (worker_.joinable()) worker_.join();
}

void CExportOperDlg::fill_file_list() {
  files_->clear();
  for (const std::string& name : report_data_files(program_directory_ / "protocol"))
    files_->addItem(QString::fromStdString(name));
}

void CExportOperDlg::update_mode() {
  const bool period = by_period_->isChecked();
  from_->setEnabled(period);
  to_->setEnabled(period);
  files_->setEnabled(!period);
}

ReportRequest CExportOperDlg::request() const {
  ReportRequest r;
  r.by_period = by_period_->isChecked();
  r.from = date_of(from_->date());
  r.to = date_of(to_->date());
  r.file_name = files_->currentText().toStdString();
  r.filter = static_cast<ReportFilter>(std::max(0, filter_->currentIndex()));
  r.output = spreadsheet_->isChecked() ? ReportOutput::Spreadsheet : ReportOutput::Browser;
  return r;
}

void CExportOperDlg::accept() {
  if (working()) return;
  if (!enough_space_for_export(program_directory_, free_space_)) {
    prompter_.show(kNoSpaceText, kNoSpaceCaption, PromptIcon::Error);
    return;
  }
  if (!by_period_->isChecked() && files_->currentText().isEmpty()) return;
  start();
}

void CExportOperDlg::start() {
  running_request_ = request();
  cancel_flag_ = false;
  file_bar_->setValue(0);
  days_bar_->setValue(0);
  ok_->setEnabled(false);
  clean_->setEnabled(false);
  worker_ = std::thread([this] {
    ReportExport report(table_, program_directory_);
    ReportResult result = report.run(running_request_, progress_.get(), &cancel_flag_);
    QMetaObject::invokeMethod(
        this, [this, result = std::move(result)]() mutable {
          result_ = std::move(result);
          worker_done();
        },
        Qt::QueuedConnection);
  });
}

void CExportOperDlg::worker_done() {
  if (worker_.joinable()) worker_.join();
  ok_->setEnabled(true);
  clean_->setEnabled(true);
  cancel_->setEnabled(true);
  const std::string where = result_.output.string();
  bool close = true;
  switch (result_.outcome) {
    case ReportOutcome::Done:
      if (!open_(result_.output)) {
        const char* text = running_request_.output == ReportOutput::Spreadsheet
                               ? kNoSpreadsheetText
                               : kNoBrowserText;
        prompter_.show(platform::format(text, where.c_str()), "Ошибка", PromptIcon::Warning);
      }
      break;
    case ReportOutcome::Cancelled:
      // The person stopped the export; the dialog stays for another choice.
      close = false;
      break;
    case ReportOutcome::NothingToExport:
      prompter_.show(kNothingToExportText, "Сообщение", PromptIcon::Information);
      close = false;
      break;
    case ReportOutcome::PageNotWritten:
      prompter_.show(kReportOpenText, kReportErrorCaption, PromptIcon::Warning);
      break;
    case ReportOutcome::WorkbookNotWritten:
      prompter_.show(kReportOpenText, kReportErrorCaption, PromptIcon::Warning);
      break;
  }
  Q_EMIT finished_export();
  if (close) QDialog::accept();
}

void CExportOperDlg::reject() {
  if (!working()) {
    QDialog::reject();
    return;
  }
  cancel_flag_ = true;
  cancel_->setEnabled(false);
}

}  // namespace kba604
