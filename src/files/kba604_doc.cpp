#include "files/kba604_doc.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "app/commands.h"
#include "app/registration.h"
#include "app/translatable.h"
#include "files/parameter_list_export.h"
#include "model/texts.h"
#include "platform/atomic_file.h"
#include "platform/default_viewer.h"
#include "platform/file_read.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// The framework's own words for failures of opening and saving.
constexpr const char* kReadFailedText =
    KBA604_TR_NOOP("Messages", "Не удалось прочитать файл \"%s\": %s");
constexpr const char* kSaveFailedText =
    KBA604_TR_NOOP("Messages", "Не удалось сохранить файл \"%s\": %s");
constexpr const char* kViewerFailedText =
    KBA604_TR_NOOP("Messages", "Не удалось открыть файл \"%s\": %s");
// "write" names the configuration to send; one that is not there is said, not only coded.
constexpr const char* kMissingFileText = KBA604_TR_NOOP("Messages", "Файл \"%s\" не существует.");

// Whether two names mean the same file: the same file on the disk (through links and relative
// names), or, for a file that is not there, the same name once made absolute.
bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ec);
  if (ec) return a == b;
  const std::filesystem::path cb = std::filesystem::weakly_canonical(b, ec);
  if (ec) return a == b;
  return ca == cb;
}

std::string file_title(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

CKBA604Doc::CKBA604Doc(DocumentServices services, std::shared_ptr<DeviceOperations> device,
                       DocumentLink* link)
    : app_(services.app),
      settings_(services.settings),
      registration_(services.registration),
      sink_(services.sink),
      program_path_(std::move(services.program_path)),
      program_directory_(std::move(services.program_directory)),
      device_(std::move(device)),
      commands_(app_, device_, sink_),
      link_(link),
      modes_(app_.modes, settings_, app_.prompter(), sink_),
      service_(std::make_unique<Elements::CommonParams>(&registration_)) {
  names_.fill(std::string(kNameNotSet));
  device_->set_notification_sink(&sink_);
}

CKBA604Doc::~CKBA604Doc() {
  // Nothing may point into the trees once they go.
  instrument_network_.bind(nullptr);
  if (device_) device_->forget_description();
}

DocumentConstruction CKBA604Doc::construct() {
  std::error_code ec;
  for (const char* folder : {"protocol", "temp"}) {
    std::filesystem::create_directories(program_directory_ / folder, ec);
  }

  // The program's line settings first: "ver" is to be read through the port the command line
  // names, or else through the program's own settings, never through the port's built-in
  // defaults (COM1 at 9600 baud), which would read the version of whatever answers there.
  const bool settings_given = apply_program_line_settings();
  if (link_ != nullptr && (settings_given || !app_.options.no_port())) link_->reopen_port(false);

  if (message_window_) message_window_(kLoadingTreeText);
  // The device has its table before the description is loaded, so that "ver" exists to be
  // read; the description then loads the table again behind the version gate.
  const std::filesystem::path folder = settings_.data_directory();
  load_parameter_table(device_->table(), folder / "parameters.zip", nullptr);
  load_description(std::nullopt);
  if (description_.refused) return DocumentConstruction::DescriptionRefused;

  apply_device_line_settings();
  register_configurator(registration_, app_.prompter(), program_path_, KBA604_VERSION);

  const StartOptions& o = app_.options;
  if (!o.no_port() && link_ != nullptr) {
    if (!link_->connection_check() && !o.any_switch() && connection_search_ &&
        !connection_search_()) {
      refuse_documents_ = true;
    }
    if (o.mode_flags.load() & StartOptions::kSilent) app_.exit_flags.set_to(0);
  }
  if (o.mode_flags.load() & StartOptions::kTest) refuse_documents_ = true;
  pack_protocol_days();
  return refuse_documents_ ? DocumentConstruction::Refused : DocumentConstruction::Ready;
}

PackRunResult CKBA604Doc::pack_protocol_days() {
  if (message_window_) message_window_(kPackingText);
  return pack_old_day_files(protocol_directory(), current_protocol_file());
}

std::string CKBA604Doc::current_protocol_file() const {
  return day_file_name_of(static_cast<std::int64_t>(std::time(nullptr)));
}

namespace {

// At the start-up a refused description ends the program: its messages must not promise that
// the program goes on without the file.
class EndingPrompter final : public Prompter {
 public:
  explicit EndingPrompter(Prompter& inner) : inner_(inner) {}
  PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer safe_answer) override {
    std::string own(text);
    if (own.ends_with(kContinuesWithoutText)) {
      own.resize(own.size() - kContinuesWithoutText.size());
      own += "\nБез него программа работать не может и завершается.";
    }
    return inner_.ask(own, caption, icon, buttons, safe_answer);
  }

 private:
  Prompter& inner_;
};

}  // namespace

void CKBA604Doc::load_description(std::optional<std::string> version) {
  // The table is replaced: nothing may point into the old one.
  instrument_network_.bind(nullptr);
  DescriptionRequest request;
  request.data_folder = settings_.data_directory();
  request.version_text = std::move(version);
  request.access_level = app_.modes.access_level.load();
  if (!request.version_text && !app_.options.no_port() && link_ != nullptr) {
    request.read_ver = [this](Parameter& ver) { return device_->ReadParameter(ver, false); };
  }
  // Without a version the description is loaded for the start-up, which a refused file ends.
  EndingPrompter ending(app_.prompter());
  Prompter* prompter = request.version_text ? &app_.prompter() : &ending;
  description_ = kba604::load_description(device_->table(), request, prompter);
  description_loaded_ = !description_.stopped_by_version && !description_.refused;
  device_->set_tree_root(description_.main_tree.get());
  instrument_network_.bind(description_.network_branch);
}

void CKBA604Doc::release_description() {
  if (before_release_) before_release_();
  instrument_network_.bind(nullptr);
  device_->forget_description();
  current_branch_ = nullptr;
  selected_parameter_ = nullptr;
  description_ = DescriptionLoad{};
  description_loaded_ = false;
}

void CKBA604Doc::reload_description(const std::string& version) {
  release_description();
  if (message_window_) message_window_(kLoadingTreeText);
  load_description(version);
  // The reloaded table holds the description's initial texts; a configuration is read over a
  // reset table, so that a parameter the file lacks stays "Нет данных" and is never written.
  reset_table();
  if (Parameter* ver = device_->table().find_by_name("ver")) ver->value = version;
  UpdateAllViews();
}

bool CKBA604Doc::set_line_settings(Elements::InvisibleElement& element, bool mark_change,
                                   bool with_port) {
  const StartOptions& o = app_.options;
  const std::string no_data(kNoData);
  auto number = [&](std::uint32_t v) { return v != 0 ? std::to_string(v) : no_data; };
  const char* parity_texts[] = {nullptr, "Четность", "Нечетность", "Отсутствует"};
  struct Item {
    const char* name;
    std::string text;
  };
  const std::string addr = o.addr();
  const std::string sbit = o.sbit();
  const Item items[] = {
      {"Addr", addr.empty() ? no_data : addr},
      {"A.Len", number(static_cast<std::uint32_t>(o.address_length()))},
      {"bPS", number(o.bps.load())},
      {"Len", number(static_cast<std::uint32_t>(o.data_length()))},
      {"Sbit", sbit.empty() ? no_data : sbit},
      {"PrtY", o.parity() != 0 ? parity_texts[o.parity()] : no_data},
  };
  const bool newnetparam = o.mode_flags.load() & StartOptions::kNewNetParam;
  bool any = false;
  for (const Item& item : items) {
    // "newnetparam" describes the instrument's settings as a whole: an item not given leaves
    // "Нет данных", which no write sends.
    if (item.text == no_data && !newnetparam) continue;
    element.SetValueByName(item.name, item.text, mark_change);
    any = true;
  }
  if (with_port && o.port.load() != 0) {
    element.SetValueByName("Port", platform::format("COM%i", o.port.load()), mark_change);
    any = true;
  }
  return any;
}

bool CKBA604Doc::apply_program_line_settings() {
  const StartOptions& o = app_.options;
  if (link_ == nullptr || !(o.switch_flags.load() & StartOptions::kLineSettingsGiven)) {
    return false;
  }
  if (o.mode_flags.load() & StartOptions::kNewNetParam) return false;
  // The port takes them (and the settings file keeps them) when it is reopened next.
  return set_line_settings(link_->program_settings(), false, true);
}

void CKBA604Doc::apply_device_line_settings() {
  const StartOptions& o = app_.options;
  if (!(o.switch_flags.load() & StartOptions::kLineSettingsGiven)) return;
  if (o.mode_flags.load() & StartOptions::kNewNetParam) return;
  if (!(o.switch_flags.load() & StartOptions::kAply)) return;
  if (DescBranch* network = description_.network_branch) set_line_settings(*network, true, false);
}

bool CKBA604Doc::OnNewDocument() {
  if (refuse_documents_) return false;
  if (refuse_while_polling()) return false;
  DeleteContents();
  path_.clear();
  modified_ = false;
  if (!pending_title_.empty()) {
    SetTitle(pending_title_);
    pending_title_.clear();
  } else {
    SetTitle(std::string(kNameNotSet));
  }
  if (reopen_) {
    reopen_ = false;
    if (open_file_command_) open_file_command_();
    return true;
  }
  for (Pending& p : pending_) {
    if (p.value < 0) continue;
    if (Parameter* target = device_->table().device_slot(p.role_code, p.slot)) {
      target->value = platform::format("%1i", p.value);
    }
    p.value = -1;
  }
  UpdateAllViews();
  return true;
}

bool CKBA604Doc::refuse_while_polling() {
  if (polling_guard_ == nullptr || !polling_guard_->AnyPollingOn()) return false;
  app_.prompter().show(kPollingRunsText, "", PromptIcon::Error);
  return true;
}

bool CKBA604Doc::OnOpenDocument(const std::string& path) {
  net_settings_saved_ = false;
  if (refuse_documents_) return false;
  // Opening replaces the document, and a file of another table replaces the parameters that
  // are being polled.
  if (refuse_while_polling()) return false;
  const StartOptions& o = app_.options;
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  if (!exists && (o.switch_flags.load() & StartOptions::kWrite)) {
    app_.exit_flags.set_bits(ExitFlags::kWriteFileMissing);
    app_.prompter().show(platform::format(kMissingFileText, path.c_str()), "", PromptIcon::Error);
    return false;
  }

  DeleteContents();
  if (exists) {
    // Only a regular file of a sane size is read: a folder, a FIFO or a device node named by
    // mistake is refused with its reason instead of blocking or ending the program.
    std::string bytes;
    const platform::FileRead read = platform::read_regular_file(path, bytes);
    if (!read.ok()) {
      app_.prompter().show(platform::format(kReadFailedText, path.c_str(), read.reason.c_str()), "",
                           PromptIcon::Error);
      DeleteContents();
      return false;
    }
    ConfigurationLoad load = load_configuration(bytes, path, *this, app_.prompter(), quiet());
    if (load.result == ConfigurationLoad::Result::NotConfiguration) {
      app_.prompter().show(platform::format(kNotConfigurationText, path.c_str()), "",
                           PromptIcon::Error);
      DeleteContents();
      return false;
    }
    const bool whole_needed = (o.switch_flags.load() & StartOptions::kWrite) ||
                              (o.mode_flags.load() & StartOptions::kNewNetParam);
    if (!load.complete && whole_needed) {
      // "write" is about to send the whole configuration to the instrument, "newnetparam" to
      // save it again with new network settings: a file that could not be read to its end (cut
      // off, damaged, of another table) would leave the instrument half written while the
      // program reported success, or be replaced by the little that was read of it.
      app_.prompter().show(platform::format(kNotWholeText, path.c_str()), "", PromptIcon::Error);
      DeleteContents();
      return false;
    }
  }
  path_ = path;
  modified_ = false;
  SetTitle(file_title(path));
  UpdateAllViews();

  if (o.mode_flags.load() & StartOptions::kNewNetParam) {
    // The command-line settings become the instrument's network settings in the named file;
    // the program has then done what it was started for.
    if (DescBranch* network = description_.network_branch) {
      set_line_settings(*network, true, false);
    }
    net_settings_saved_ = OnSaveDocument(path);
    return false;
  }
  return true;
}

bool CKBA604Doc::OnSaveDocument(const std::string& path) {
  ProgressFunction storing;
  if (file_progress_) storing = [this](int percent) { file_progress_(percent, true); };
  const std::string bytes = store_configuration(*service_, device_->table(), names_, storing);
  std::string error;
  save_failed_ = !platform::write_file_atomically(path, bytes, &error);
  if (save_failed_) {
    app_.prompter().show(platform::format(kSaveFailedText, path.c_str(), error.c_str()), "",
                         PromptIcon::Error);
    return false;
  }
  path_ = path;
  modified_ = false;
  SetTitle(file_title(path));
  return true;
}

bool CKBA604Doc::OpenDocumentFile(const std::string& path) {
  if (!path_.empty() && same_file(path, path_) &&
      !app_.prompter().confirm(kAlreadyOpenText, kAlreadyOpenCaption, PromptIcon::Warning)) {
    return false;
  }
  return OnOpenDocument(path);
}

void CKBA604Doc::DeleteContents() {
  names_.fill(std::string(kNameNotSet));
  if (DescBranch* root = main_tree()) root->ResetValues();
  // The parameters outside the main tree too: a read fills only the main tree, and a value that
  // was never read (a description's initial text) must not be saved and sent later as if it had
  // been.
  reset_table();
}

void CKBA604Doc::reset_table() {
  for (Parameter& p : device_->table()) {
    p.value = std::string(kNoData);
    p.note.clear();
    p.editable = true;
    p.factory = false;
    p.changed = false;
    p.editability_changed = false;
    p.owner_changed = false;
  }
}

void CKBA604Doc::SetTitle(const std::string& title) {
  const std::string previous = title_;
  title_ = title;
  if (previous != title && !previous.empty() && !platform::iequals(title, kNameNotSet) &&
      !platform::iequals(title, kUntitled)) {
    UpdateAllViews();
  }
}

void CKBA604Doc::UpdateAllViews() {
  sink_.views_changed();
}

void CKBA604Doc::set_pending_value(int i, int value, int role_code, int slot) {
  if (i < 0 || i >= static_cast<int>(pending_.size())) return;
  pending_[static_cast<std::size_t>(i)] = Pending{value, role_code, slot};
}

void CKBA604Doc::set_selection(ObjectWithParameters* branch, Parameter* parameter) {
  current_branch_ = branch;
  selected_parameter_ = parameter;
}

void CKBA604Doc::refuse(std::string_view text) {
  app_.prompter().show(text, kOperationImpossibleCaption, PromptIcon::Error);
}

bool CKBA604Doc::run_operation(int command, ObjectWithParameters& element) {
  DeviceOperations& d = *device_;
  switch (command) {
    case command::kReadAll:
    case command::kBranchRead:
      return d.StartRead(element);
    case command::kWriteAll:
    case command::kBranchWrite:
      return d.StartWriteAll(element);
    case command::kWriteChanged:
    case command::kBranchWriteChanged:
      return d.StartWriteChanged(element);
    case command::kWriteErroneous:
      return d.StartWriteErroneous(element);
    case command::kCompare:
    case command::kBranchCompare:
      return d.StartCompare(element);
    case command::kWriteFactory:
      return commands_.InitialiseDevice(element, polling_guard_);
    default:
      return false;
  }
}

bool CKBA604Doc::tree_command(int command) {
  DescBranch* root = main_tree();
  if (root == nullptr) {
    refuse(kNoTreeText);
    return true;
  }
  device_->set_single_target(nullptr);
  operation_started_ = run_operation(command, *root);
  return true;
}

bool CKBA604Doc::branch_command(int command) {
  if (current_branch_ == nullptr && selected_parameter_ == nullptr) {
    refuse(kNoBranchText);
    return true;
  }
  ObjectWithParameters* target = current_branch_;
  if (selected_parameter_ != nullptr) {
    // One parameter: the operation runs on the first branch that lists it, restricted to it.
    DescBranch* root = main_tree();
    DescBranch* listing =
        root != nullptr ? root->find_branch_listing(*selected_parameter_) : nullptr;
    if (listing == nullptr) {
      refuse(kNoBranchText);
      return true;
    }
    device_->set_single_target(selected_parameter_);
    target = listing;
  } else {
    device_->set_single_target(nullptr);
  }
  operation_started_ = run_operation(command, *target);
  if (!operation_started_) device_->set_single_target(nullptr);
  return true;
}

bool CKBA604Doc::OnCommand(int command) {
  operation_started_ = false;
  switch (command) {
    case command::kShowIndexes:
    case command::kAutoRead:
    case command::kImmediateWrite:
    case command::kNoAttributes:
    case command::kConverterSemiAuto:
    case command::kConverterAuto:
      return modes_.run(command);
    case command::kCheckConnection:
      if (link_ != nullptr) link_->check_device_and_show();
      return true;
    case command::kSendPrtl:
      if (link_ != nullptr) link_->send_prtl(device_->table().find_by_name("prot"));
      return true;
    case command::kReadAll:
    case command::kWriteAll:
    case command::kWriteChanged:
    case command::kWriteErroneous:
    case command::kCompare:
    case command::kWriteFactory:
      return tree_command(command);
    case command::kBranchRead:
    case command::kBranchWrite:
    case command::kBranchWriteChanged:
    case command::kBranchCompare:
      return branch_command(command);
    case command::kAccessDenied:
      app_.prompter().show(kAccessDeniedText, "", PromptIcon::Information);
      return true;
    case command::kExportParameterList:
      export_parameter_list();
      return true;
    default:
      return false;
  }
}

bool CKBA604Doc::export_parameter_list() {
  DescBranch* root = main_tree();
  if (root == nullptr) {
    refuse(kNoTreeText);
    return false;
  }
  const std::filesystem::path target = program_directory_ / kParameterListFileName;
  std::string error;
  if (!write_parameter_list(*root, target, &error)) {
    app_.prompter().show(parameter_list_failure_text(target, error), "", PromptIcon::Error);
    return false;
  }
  const bool opened = file_viewer_ ? file_viewer_(target, &error)
                                   : platform::open_in_default_viewer(target, &error);
  if (!opened) {
    app_.prompter().show(platform::format(kViewerFailedText, target.c_str(), error.c_str()), "",
                         PromptIcon::Warning);
  }
  return true;
}

bool CKBA604Doc::save_eeprom_image(const std::string& path) {
  return commands_.SaveEepromImage(path);
}

bool CKBA604Doc::load_eeprom_image(const std::string& path) {
  const bool loaded = commands_.LoadEepromImage(path);
  if (loaded) UpdateAllViews();
  return loaded;
}

}  // namespace kba604
