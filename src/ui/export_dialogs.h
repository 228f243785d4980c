// The export of the measurement protocol ("Экспорт протокола измерений") and the cleaning of
// its archives ("Очистка данных"). The dialogs only collect the choices and show progress; the
// report itself is made by ReportExport on a worker thread, the cleaning by clean_archives.
#pragma once

#include <QDialog>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "app/prompter.h"
#include "measurement/report_export.h"

class QButtonGroup;
class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace kba604 {

inline constexpr std::string_view kCleanDialogCaption =
    QT_TRANSLATE_NOOP("Messages", "Очистка данных");
inline constexpr std::string_view kCleanDialogText = QT_TRANSLATE_NOOP(
    "Messages", "Удалить все сохраненные данные до следующей даты, включительно:");
inline constexpr const char* kDeletedFilesText =
    QT_TRANSLATE_NOOP("Messages", "Количество удаленных файлов: %i.");
inline constexpr std::string_view kExportDialogCaption =
    QT_TRANSLATE_NOOP("Messages", "Экспорт протокола измерений");
// Our words where the desktop has no application for the workbook (a spreadsheet that could
// not be started, in the program's older form).
inline constexpr const char* kNoSpreadsheetText = QT_TRANSLATE_NOOP(
    "Messages", "Не найдено приложение для открытия файлов .xlsx. Отчет сохранен в файле:\n%s");
inline constexpr const char* kNoBrowserText = QT_TRANSLATE_NOOP(
    "Messages", "Не удалось открыть отчет в броузере. Отчет сохранен в файле:\n%s");
inline constexpr std::string_view kNothingToExportText =
    QT_TRANSLATE_NOOP("Messages", "За выбранный период нет записей протокола измерений.");

// Opens a file with the desktop's default application; false when none could be started.
using OpenFile = std::function<bool(const std::filesystem::path&)>;
bool open_with_desktop(const std::filesystem::path& file);

// "Очистка данных": a month picker; OK deletes the archives up to that month, inclusive.
class CCleanDataDlg : public QDialog {
  Q_OBJECT
 public:
  CCleanDataDlg(std::filesystem::path protocol_dir, Prompter& prompter, QWidget* parent = nullptr);
  QDateEdit* month_picker() const { return month_; }
  void accept() override;

 private:
  std::filesystem::path protocol_dir_;
  Prompter& prompter_;
  QDateEdit* month_ = nullptr;
};

class CExportOperDlg : public QDialog {
  Q_OBJECT
 public:
  // table: the parameters whose records enter the report; it must not change while the dialog
  // is open. program_directory holds "protocol" and "temp".
  CExportOperDlg(const ParameterTable& table, std::filesystem::path program_directory,
                 Prompter& prompter, QWidget* parent = nullptr);
  ~CExportOperDlg() override;

  // Seams for tests: the free-space query and the opening of the finished report.
  void set_free_space_query(FreeSpaceQuery query) { free_space_ = std::move(query); }
  void set_opener(OpenFile open) { open_ = std::move(open); }

  // The choices as the worker gets them.
  ReportRequest request() const;
  bool working() const { return worker_.joinable(); }
  const ReportResult& last_result() const { return result_; }

  QRadioButton* period_mode() const { return by_period_; }
  QRadioButton* file_mode() const { return by_file_; }
  QDateEdit* from_date() const { return from_; }
  QDateEdit* to_date() const { return to_; }
  QComboBox* file_list() const { return files_; }
  QComboBox* filter_list() const { return filter_; }
  QRadioButton* browser_output() const { return browser_; }
  QRadioButton* spreadsheet_output() const { return spreadsheet_; }
  QProgressBar* file_progress() const { return file_bar_; }
  QProgressBar* days_progress() const { return days_bar_; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* cancel_button() const { return cancel_; }
  QPushButton* clean_button() const { return clean_; }

 public Q_SLOTS:
  void accept() override;
  void reject() override;

 Q_SIGNALS:
  // Emitted on the dialog's thread when the worker has ended and its result is shown.
  void finished_export();

 private:
  class Progress;
  void fill_file_list();
  void start();
  void worker_done();
  void update_mode();

  const ParameterTable& table_;
  std::filesystem::path program_directory_;
  Prompter& prompter_;
  FreeSpaceQuery free_space_ = file_system_free_space;
  OpenFile open_ = open_with_desktop;

  QRadioButton* by_period_ = nullptr;
  QRadioButton* by_file_ = nullptr;
  QDateEdit* from_ = nullptr;
  QDateEdit* to_ = nullptr;
  QComboBox* files_ = nullptr;
  QComboBox* filter_ = nullptr;
  QRadioButton* browser_ = nullptr;
  QRadioButton* spreadsheet_ = nullptr;
  QProgressBar* file_bar_ = nullptr;
  QProgressBar* days_bar_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* clean_ = nullptr;

  std::unique_ptr<Progress> progress_;
  std::atomic<bool> cancel_flag_{false};
  std::thread worker_;
  ReportRequest running_request_;
  ReportResult result_;
};

}  // namespace kba604
