// The instrument commands of the main window that need more than the document's own routing:
// initialisation with its guards, the EEPROM image into and from a "*.eep" file chosen in a
// file dialog, "Записать только параметры с ошибками", "Послать команду PRTL", the "APLY"
// dialog, "Сетевые параметры программы" (the program's own branch of the tree, edited there)
// and the offer of "APLY" after an operation that wrote the instrument's network settings.
// Everything that waits on the line runs on the device's worker or off the UI thread; the
// questions are asked on the UI thread before.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/commands.h"

namespace kba604 {

class MainWindow;
class ConfiguratorDocument;
class CKBA604App;
class CKBA604Doc;
class Device;
class PollingGuard;
class ProgressOperationView;
class QtNotificationSink;
namespace Dialogs {
class CApply;
}

// The command that opens the "APLY" dialog.
namespace command {
inline constexpr int kSendAply = 266;
}  // namespace command

// Our own words: no text of the program offers "APLY" after the instrument's network settings
// were written, so the question says plainly what it does.
inline constexpr const char* kOfferAplyText =
    "В прибор записаны новые сетевые параметры. Прибор перейдет на них только после команды "
    "APLY.\n\nПослать команду APLY сейчас?";
inline constexpr const char* kOfferAplyCaption = "Сетевые параметры прибора";
inline constexpr const char* kEepromFilter = "Файлы образов EEPROM (*.eep)";
inline constexpr const char* kSaveEepromTitle = "Сохранить образ EEPROM...";
inline constexpr const char* kOpenEepromTitle = "Открыть образ EEPROM...";

class OperationCommands final : public QObject {
  Q_OBJECT

 public:
  struct Services {
    CKBA604App& app;
    MainWindow& window;
    CKBA604Doc& doc;
    ProgressOperationView& view;
    QtNotificationSink& sink;
    // The scanners' guard: initialisation is refused while anything is polled. May be none.
    const PollingGuard* polling = nullptr;
    // Started with switches: no dialog of these commands opens modally.
    bool quiet = false;
  };

  explicit OperationCommands(Services services);
  ~OperationCommands() override;

  // How a file is chosen: save or open, with the dialog's title; empty when cancelled. The
  // default asks with QFileDialog; tests give their own.
  using FileChooser = std::function<QString(bool save, const QString& title)>;
  void set_file_chooser(FileChooser chooser) { choose_file_ = std::move(chooser); }
  // How the "APLY" dialog is asked: true to send, with the options it leaves in apply. The
  // default shows ApplyDialog; tests give their own.
  using AplyAsker = std::function<bool(Dialogs::CApply& apply)>;
  void set_aply_asker(AplyAsker asker) { ask_aply_ = std::move(asker); }

  // The commands (UI thread).
  void initialise();
  void save_eeprom_image();
  void load_eeprom_image();
  void write_erroneous();
  void send_prtl();
  void send_aply();
  void program_network_settings();

  // Whether an operation or an exchange of these commands runs (nothing else starts then).
  bool busy() const;
  // Waits (with the event loop) until the exchanges started here have ended.
  bool wait_done(int timeout_ms);

 signals:
  // An exchange started here off the UI thread has ended.
  void exchange_done();

 private:
  // A few times a second: the commands' enabling follows the worker as soon as it is idle (the
  // window's own refresh may have looked while it was finishing), and the offer of "APLY".
  void poll();
  // After an operation that wrote the instrument's network settings: the offer of "APLY".
  void offer_aply();
  void run_off_ui(std::function<void()> work, std::function<void()> done);
  Device* device() const;

  // Polling runs when the scanners poll or any box of the operational branch is ticked.
  class Polling;
  Services s_;
  std::unique_ptr<Polling> polling_;
  FileChooser choose_file_;
  AplyAsker ask_aply_;
  QTimer poll_timer_;
  bool was_busy_ = false;
  QThreadPool pool_;
  int running_ = 0;
};

// Gives the window over the configurator document its progress window (view), its instrument
// commands and the connection indicator in the status bar, and lets the control channel's
// "!open" go through the window's tree; returns the object that carries the
// commands (a child of the window), none when the document has no device with a link.
OperationCommands* wire_window_operations(MainWindow& window, ConfiguratorDocument& document,
                                          ProgressOperationView& view, QtNotificationSink& sink,
                                          bool quiet);

}  // namespace kba604
