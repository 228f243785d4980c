// CKBA604Doc: the program's one configuration document. It owns the program's service element
// and the three description trees, works with the device (its parameter table and operations),
// reads and writes configuration files "*.604" and routes the commands over the whole
// instrument and over the current branch. One instance lives from start-up to exit and is
// reused for every file: new and open reset it and fill it again.
//
// Threads: everything here runs on the UI thread (the headless runner's loop, or the Qt event
// loop); the device's worker performs the operations it starts.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/application.h"
#include "app/mode_switches.h"
#include "app/notifications.h"
#include "app/program_settings.h"
#include "app/translatable.h"
#include "description/description_loader.h"
#include "files/configuration_file.h"
#include "files/protocol_archive.h"
#include "link/net_rs485.h"
#include "operations/device_commands.h"
#include "operations/device_operations.h"
#include "platform/settings_store.h"

namespace kba604 {

inline constexpr std::string_view kServiceElementName = "Сервисные параметры программы";
inline constexpr std::string_view kOperationImpossibleCaption =
    KBA604_TR_NOOP("Messages", "Операция невозможна");
inline constexpr std::string_view kNoTreeText = KBA604_TR_NOOP("Messages", "Дерево не определено");
inline constexpr std::string_view kNoBranchText = KBA604_TR_NOOP("Messages", "Ветвь не определена");
inline constexpr std::string_view kLoadingTreeText =
    KBA604_TR_NOOP("Messages", "Загрузка файлов дерева...");
inline constexpr std::string_view kPackingText = KBA604_TR_NOOP("Messages", "Архивация данных...");
// Asked when the shell or the recent-file list opens the file that is open already.
inline constexpr std::string_view kAlreadyOpenText = KBA604_TR_NOOP(
    "Messages",
    "Этот файл уже открыт! При продолжении открытия файла все изменения будут потеряны!\n\nХотите "
    "продолжить открытие файла?");
inline constexpr std::string_view kAlreadyOpenCaption = KBA604_TR_NOOP("Messages", "Внимание!");
// Our own words: a configuration that "write" was to send, or "newnetparam" to rewrite, could
// not be read to its end.
inline constexpr const char* kNotWholeText = KBA604_TR_NOOP(
    "Messages", "Файл \"%s\" прочитан не полностью; команда командной строки не выполняется.");
// The framework's title of a document without a name, which the document never shows.
inline constexpr std::string_view kUntitled = "Untitled";

// Document commands besides those of app/commands.h.
namespace command {
inline constexpr int kCheckConnection = 138;  // "Проверка связи"
inline constexpr int kWriteErroneous = 147;  // "Записать только параметры с ошибками"
inline constexpr int kBranchRead = 150;          // the current branch: read
inline constexpr int kBranchWrite = 151;         // write
inline constexpr int kBranchWriteChanged = 152;  // write changed
inline constexpr int kBranchCompare = 153;       // compare
inline constexpr int kWriteChanged = 256;  // "Записать только измененные параметры"
inline constexpr int kCompare = 257;  // "Сравнить с реальными значениями"
inline constexpr int kSendPrtl = 32895;  // "Послать команду PRTL"
}  // namespace command

// The link's part in the document's construction: the program's own port settings (the
// element "Сетевые параметры программы"), reopening the port with them, and the checks of the
// instrument at the program's settings.
class DocumentLink {
 public:
  virtual ~DocumentLink() = default;
  // The program's port settings element: parameters "Port", "bPS", "LEn", "PrtY", "Sbit",
  // "A.Len", "Addr".
  virtual Elements::InvisibleElement& program_settings() = 0;
  // Reopens the port with the program's settings; the result of opening (negative: not opened
  // or not to be opened).
  virtual int reopen_port(bool show_message) = 0;
  // The start-up connection check: true when the right instrument answers at the program's
  // settings. It sets and clears the exit flags of a failed or foreign answer.
  virtual bool connection_check() = 0;
  // "Проверка связи": asks the instrument who it is and shows the answer.
  virtual void check_device_and_show() = 0;
  // "Послать команду PRTL": asks whether to switch the instrument to the protocol its "Prot"
  // parameter names (prot, or none), and on Yes sends the command.
  virtual void send_prtl(const Parameter* /*prot*/) {}
};

// What the program gives the document.
struct DocumentServices {
  CKBA604App& app;
  ProgramSettings& settings;
  platform::SettingsStore& registration;
  NotificationSink& sink;
  // The running program, for the configurator registration.
  std::string program_path;
  // The folder under which "protocol" and "temp" live.
  std::filesystem::path program_directory;
};

// How the construction ended.
enum class DocumentConstruction {
  Ready,               // the document works; a configuration may be created or opened
  Refused,             // "test", or the connection search was given up: no configuration
  DescriptionRefused,  // a description file was damaged
};

class CKBA604Doc : public ConfigurationTarget {
 public:
  // The device must have its worker started; link may be none (no port at all: tests and a
  // build without a serial line).
  CKBA604Doc(DocumentServices services, std::shared_ptr<DeviceOperations> device,
             DocumentLink* link);
  ~CKBA604Doc() override;
  CKBA604Doc(const CKBA604Doc&) = delete;
  CKBA604Doc& operator=(const CKBA604Doc&) = delete;

  // When the start-up connection check fails and no switch was given: the connection search
  // with the person; false means the person gave up, and the program ends.
  void set_connection_search(std::function<bool()> search) {
    connection_search_ = std::move(search);
  }
  // Whether background polling runs; a new or opened document is refused then.
  void set_polling_guard(const PollingGuard* guard) { polling_guard_ = guard; }
  const PollingGuard* polling_guard() const { return polling_guard_; }
  // Called before the description's trees and table go (a configuration file opened with
  // another table): the scanners stop and forget the operational parameters then.
  void set_before_release(std::function<void()> hook) { before_release_ = std::move(hook); }
  // Shows "Нельзя выполнить эту операцию, так как включен опрос оперативных параметров…" and
  // returns true while polling runs: replacing or closing the document and changing the
  // program's port settings are refused then.
  bool refuse_while_polling();
  // The one-line message window of the start-up ("Загрузка файлов дерева...").
  // The share of a configuration file stored (storing) or read so far, 0..100, while it is.
  void set_file_progress(std::function<void(int percent, bool storing)> progress) {
    file_progress_ = std::move(progress);
  }
  void set_message_window(std::function<void(std::string_view)> show) {
    message_window_ = std::move(show);
  }
  // The open-file command that a new document issues when the reopen flag is set.
  void set_open_file_command(std::function<void()> open) { open_file_command_ = std::move(open); }
  // How a page the document has written is handed to the desktop's viewer ("xdg-open" unless
  // the front end gives its own); false, with the reason, when it could not be handed over.
  using FileViewer = std::function<bool(const std::filesystem::path&, std::string* error)>;
  void set_file_viewer(FileViewer viewer) { file_viewer_ = std::move(viewer); }

  // The construction, in this order: folders "protocol" and "temp"; the program's line
  // settings from the command line, and the port reopened with the program's settings; the
  // description, loaded after reading "ver" from the instrument; the instrument's line
  // settings with "aply"; the configurator registration; the start-up connection check unless
  // the program has no port; "test".
  DocumentConstruction construct();

  // Packs every day file of the protocol but the current one into its monthly archive, while
  // the message window says "Архивация данных...". Runs at the end of the construction (so
  // before a command of the command line) and at the daily change.
  PackRunResult pack_protocol_days();
  // The name of the day file that recording appends to now ("%d-%m-%Y.log" of the local
  // date), which packing leaves alone.
  std::string current_protocol_file() const;
  std::filesystem::path protocol_directory() const { return program_directory_ / "protocol"; }
  std::filesystem::path temp_directory() const { return program_directory_ / "temp"; }

  // ---- the framework's document steps ------------------------------------------------------
  bool OnNewDocument();
  // Opens a configuration file (or, when it does not exist, an empty document under its name,
  // except with "write"). "newnetparam" turns the open into a save of the command-line line
  // settings, after which the open is refused. With "write" or "newnetparam" a file that cannot
  // be read to its end is refused too, and left as it is.
  bool OnOpenDocument(const std::string& path);
  // Writes the configuration to path without ever leaving a half-written file; on success the
  // path becomes the document's and the modified mark is cleared.
  bool OnSaveDocument(const std::string& path);
  // The shell or the recent-file list opens path: the file that is open already (the same file,
  // by whatever name) is opened again only when the person agrees to lose the changes. False
  // when the document was kept or the open failed.
  bool OpenDocumentFile(const std::string& path);
  // Name texts to "Имя не задано", every value of the table (the main tree and the parameters
  // outside it) to "Нет данных".
  void DeleteContents();
  // Every parameter of the table to "Нет данных", without note or marks: what a configuration
  // file is read over after the description was reloaded for it.
  void reset_table();
  void SetTitle(const std::string& title);
  void UpdateAllViews();

  // ---- commands ------------------------------------------------------------------------------
  // Runs a menu command routed by the document; false for a command it does not route.
  bool OnCommand(int command);
  // Whether the last whole-tree or branch command started its operation on the device (it
  // may have ended since); false after "Дерево не определено" and the like.
  bool operation_started() const { return operation_started_; }
  // The selection in the parameter view: the current branch (or element), and the selected
  // parameter when a parameter row is selected.
  void set_selection(ObjectWithParameters* branch, Parameter* parameter);
  // "Экспорт списка параметров в HTML": writes "parlist.html" in the program directory from the
  // main tree and opens it in the viewer. A file that could not be written is said so and not
  // opened. True when the page was written.
  bool export_parameter_list();
  // The EEPROM image commands with the file the person chose.
  bool save_eeprom_image(const std::string& path);
  bool load_eeprom_image(const std::string& path);

  // ---- state ---------------------------------------------------------------------------------
  DeviceOperations& device() { return *device_; }
  // The commands over the whole instrument, with their asynchronous forms for a window.
  DeviceCommands& device_commands() { return commands_; }
  Elements::CommonParams& service() { return *service_; }
  DescBranch* main_tree() const { return description_.main_tree.get(); }
  DescBranch* operational_tree() const { return description_.operational_tree.get(); }
  DescBranch* hidden_tree() const { return description_.hidden_tree.get(); }
  DescBranch* network_branch() const { return description_.network_branch; }
  // The instrument's network settings element ("Сетевые параметры прибора", the "APLY"
  // dialog's source): bound to the network branch of the loaded description, its own
  // parameters while there is none.
  Elements::NetRS485& instrument_network() { return instrument_network_; }
  const std::filesystem::path& tooltip_file() const { return description_.tooltip_file; }
  bool description_loaded() const { return description_loaded_; }
  bool refuses_documents() const { return refuse_documents_; }
  void set_refuse_documents(bool refuse) { refuse_documents_ = refuse; }
  const std::string& title() const { return title_; }
  const std::string& path() const { return path_; }
  bool modified() const { return modified_; }
  // Whether the last save failed.
  bool save_failed() const { return save_failed_; }
  // Whether "newnetparam" wrote its file: the start-up has then done what it was for.
  bool net_settings_saved() const { return net_settings_saved_; }
  void set_modified(bool modified) { modified_ = modified; }
  const NameTexts& name_texts() const { return names_; }
  void set_pending_title(std::string title) { pending_title_ = std::move(title); }
  // A pending value (0..2) that the next new document writes into the parameter in the role
  // slot (code, slot) of the device.
  void set_pending_value(int i, int value, int role_code, int slot);
  void set_reopen(bool reopen) { reopen_ = reopen; }

  // ConfigurationTarget
  void reload_description(const std::string& version) override;
  ParameterTable& table() override { return device_->table(); }
  void progress(int percent) override {
    if (file_progress_) file_progress_(percent, false);
  }
  NameTexts& names() override { return names_; }

 private:
  struct Pending {
    int value = -1;
    int role_code = 0;
    int slot = 0;
  };

  // Loads the description; version from a file, or none to read "ver" from the instrument.
  void load_description(std::optional<std::string> version);
  void release_description();
  // Hands the command-line line settings to an element, as texts by parameter name; false when
  // no item was given.
  bool set_line_settings(Elements::InvisibleElement& element, bool mark_change, bool with_port);
  // The command-line line settings into the program's own settings; true when any was given.
  bool apply_program_line_settings();
  void apply_device_line_settings();
  // The whole-tree and branch commands.
  bool tree_command(int command);
  bool branch_command(int command);
  bool run_operation(int command, ObjectWithParameters& element);
  void refuse(std::string_view text);
  bool quiet() const { return app_.options.quiet(); }

  CKBA604App& app_;
  ProgramSettings& settings_;
  platform::SettingsStore& registration_;
  NotificationSink& sink_;
  std::string program_path_;
  std::filesystem::path program_directory_;
  std::shared_ptr<DeviceOperations> device_;
  DeviceCommands commands_;
  DocumentLink* link_;
  ModeSwitches modes_;

  std::unique_ptr<Elements::CommonParams> service_;
  DescriptionLoad description_;
  Elements::NetRS485 instrument_network_;
  NameTexts names_;
  ObjectWithParameters* current_branch_ = nullptr;
  Parameter* selected_parameter_ = nullptr;

  std::string title_;
  std::string path_;
  bool modified_ = false;
  std::string pending_title_;
  std::array<Pending, 3> pending_{};
  bool reopen_ = false;
  bool description_loaded_ = false;
  bool refuse_documents_ = false;
  bool save_failed_ = false;
  bool operation_started_ = false;
  bool net_settings_saved_ = false;

  std::function<bool()> connection_search_;
  const PollingGuard* polling_guard_ = nullptr;
  std::function<void()> before_release_;
  std::function<void(std::string_view)> message_window_;
  std::function<void(int percent, bool storing)> file_progress_;
  std::function<void()> open_file_command_;
  FileViewer file_viewer_;
};

}  // namespace kba604
