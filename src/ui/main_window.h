// The main window: the parameter tree over the configuration document, its menus, toolbar and
// status bar, the file commands, the start-up placement and the tray icon.
//
// Wiring a dialog of a later feature into the window: every menu command is a QAction found by
// its command number, and a command has a handler once someone gives it one:
//
//   window.set_command_handler(command::kCalibrate, [&] { CalibrationDialog(...).exec(); });
//
// The action is then enabled whenever the enabling rules of the commands allow it (until then it
// stays disabled), and its menu entry, toolbar button and shortcut run the handler. Commands
// the document routes itself (the operations, the modes) need nothing of the kind.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "app/application.h"
#include "app/program_settings.h"
#include "app/start_rules.h"
#include "operations/edit_end.h"
#include "platform/settings_store.h"
#include "ui/parameter_tree_model.h"

namespace kba604 {

class CKBA604Doc;
class StatusOperationView;
class QtNotificationSink;
class ParameterDelegate;

namespace Elements {
class InvisibleElement;
}

// The window's own commands (beside those of the document).
namespace command {
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileSave = 57603;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kAppExit = 57665;
inline constexpr int kAppAbout = 57664;
inline constexpr int kHelp = 57670;
inline constexpr int kWebSite = 32888;
inline constexpr int kPreviousProblem = 32870;  // "К предыдущему проблемному параметру дерева"
inline constexpr int kNextProblem = 32871;      // "К следующему проблемному параметру дерева"
inline constexpr int kFind = 32872;             // find a parameter by name or title
inline constexpr int kParameterHelp = 32873;    // F1 on a parameter
inline constexpr int kReadParameter = 32874;     // context menu of a parameter row
inline constexpr int kWriteParameter = 32875;
inline constexpr int kCompareParameter = 32876;
}  // namespace command

inline constexpr const char* kUnsavedText =
    QT_TRANSLATE_NOOP("kba604::MainWindow", "Сохранить изменения в \"%1\"?");
inline constexpr const char* kNoMoreProblemsText = "Больше нет параметров с ошибками!";
inline constexpr const char* kMessageCaption = "Сообщение";
inline constexpr const char* kProfileRecentSection = "Recent File List";
inline constexpr int kRecentFiles = 4;

class MainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  struct Services {
    CKBA604App& app;
    CKBA604Doc& doc;
    ProgramSettings& settings;
    // The framework's per-user profile "Configurator - KBA604": recent files, bar layout.
    platform::SettingsStore& profile;
    // The program's own port settings element; none in a build without a port.
    Elements::InvisibleElement* program_settings = nullptr;
    // Reopens the port with the program's port settings.
    std::function<void()> reopen_port;
    // Started with switches: no modal box, no question about unsaved changes.
    bool quiet = false;
  };

  MainWindow(Services services, StatusOperationView& view, QtNotificationSink& sink,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  // ---- wiring --------------------------------------------------------------------------------
  // The action of a menu command; none for an unknown number.
  QAction* command_action(int command) const;
  // Gives a command its handler (see the top of this file).
  void set_command_handler(int command, std::function<void()> handler);
  // A further condition for enabling a command that has a handler (checked with the commands'
  // own rules whenever the commands are refreshed).
  void set_command_enabler(int command, std::function<bool()> enabled);
  CKBA604Doc& document() { return s_.doc; }
  CKBA604App& app() { return s_.app; }
  ParameterTreeModel& model() { return *model_; }
  QTreeView& tree() { return *tree_; }
  EditEnd& edit_rules() { return edit_end_; }

  // ---- the tree ------------------------------------------------------------------------------
  // Rebuilds the tree, keeping the selection by its text path; "Создание дерева..." meanwhile.
  void rebuild_tree();
  // Re-evaluates the enabling of every command, the check marks and the indicators.
  void refresh_commands();
  // Selects the next (forward) or previous problem row; false with "Больше нет параметров с
  // ошибками!" when there is none.
  bool go_to_problem(bool forward);
  // Selects the first parameter whose short name or title contains text (without regard to
  // case), after the selected row; false when none does.
  bool find_parameter(const QString& text);

  // ---- files ---------------------------------------------------------------------------------
  bool new_document();
  // Opens a configuration the way the shell and the recent-file list do: the unsaved-changes
  // question, and "Этот файл уже открыт!" for the file that is open already.
  bool open_document(const QString& path);
  // Opens the file without asking about unsaved changes (the caller has settled them): the
  // tree lets its rows go before the description is loaded again and is built anew after.
  // False while an operation or exchange runs, or when the file was not opened.
  bool replace_document(const QString& path);
  bool save_document();
  bool save_document_as(const QString& path);
  // The question about unsaved changes: true when the person let the document go (saved it or
  // dropped the changes), false on Cancel. Never asked in quiet mode.
  bool settle_unsaved_changes();
  QStringList recent_files() const;

  // ---- start-up ------------------------------------------------------------------------------
  // Places and shows the window as the start switches say (hidden: the tray icon only).
  void place(const WindowPlacement& placement);
  bool geometry_frozen() const { return frozen_.has_value(); }
  // The command of the command line has ended: the geometry is free again.
  void release_geometry();
  QSystemTrayIcon* tray() const { return tray_; }
  // Closes without any question (the automation's "close", the exit event, a signal).
  void close_now();

  // Whether an operation is shown as running in the status bar.
  bool operation_running() const;
  // Waits (with the event loop) until the device's worker and the window's own tasks are idle;
  // for tests and for closing.
  bool wait_idle(int timeout_ms);

 signals:
  // The window has closed and everything it started has stopped.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct CommandInfo {
    QAction* action = nullptr;
    bool routed_by_document = false;
    std::function<void()> handler;
    std::function<bool()> enabler;
  };

  QAction* add_command(QMenu* menu, int command, const QString& text,
                       const QKeySequence& shortcut = {}, bool routed = true);
  void build_menus();
  void build_status_bar();
  void build_tray();
  void run_command(int command);
  void document_command(int command);
  void update_title();
  void update_column_widths();
  void selection_changed();
  void show_context_menu(const QPoint& point);
  void show_parameter_help();
  void open_help();
  void show_about();
  void add_recent_file(const QString& path);
  void rebuild_recent_menu();
  void auto_read_visible();
  void one_second();
  bool edit_cell(Parameter& parameter, int column, const QString& text, bool operational);
  void run_task(std::function<void()> work, std::function<void()> done);
  // Opens a file with open(), the tree's rows let go before and built anew after.
  bool load_document(const QString& path, const std::function<bool()>& open);
  void operation_opened(const QString& title, int total);
  void operation_progress(int done, int total, int errors);
  void operation_closed();
  void hide_to_tray();
  Parameter* selected_parameter() const;
  ObjectWithParameters* selected_element() const;
  bool quiet() const { return s_.quiet; }

  Services s_;
  StatusOperationView& view_;
  QtNotificationSink& sink_;
  EditEnd edit_end_;
  ParameterTreeModel* model_ = nullptr;
  QTreeView* tree_ = nullptr;
  ParameterDelegate* delegate_ = nullptr;
  std::map<int, CommandInfo> commands_;
  QMenu* modes_menu_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  QLabel* hint_ = nullptr;
  QLabel* progress_text_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QToolButton* stop_ = nullptr;
  std::map<int, QLabel*> indicators_;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer refresh_timer_;
  QTimer views_timer_;
  QThreadPool pool_;
  int tasks_running_ = 0;
  std::set<const Parameter*> auto_read_pending_;
  std::optional<QRect> frozen_;
  bool closing_ = false;
  bool force_close_ = false;
  bool read_running_ = false;
};

}  // namespace kba604
