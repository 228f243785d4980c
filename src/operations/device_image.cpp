// The whole-instrument operations over the engine: initialisation with the factory values and
// the EEPROM image, read into a file or loaded from one and written to the instrument.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "operations/device_operations.h"
#include "operations/eeprom_image.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// An image of the instrument's table takes a few kilobytes; anything far larger is no image.
constexpr std::uintmax_t kLargestImage = 16u << 20;

}  // namespace

// ---- initialisation ------------------------------------------------------------------------

bool DeviceOperations::InitialiseDevice(ObjectWithParameters& root, const PollingGuard* polling) {
  Prompter& prompter = app_.prompter();
  if (polling != nullptr && polling->AnyPollingOn()) {
    prompter.show(
        "Перед инициализацией необходимо остановить опрос оперативных параметров!\n\nУберите "
        "\"галочки\" со всех параметров в ветви \"Опрос оперативных параметров\" и повторите "
        "попытку.",
        "Запись заводских параметров", PromptIcon::Warning);
    return false;
  }
  if (!prompter.confirm("Эта операция приведет к потери конфигурации в программе и в приборе!",
                        "Вы уверены, что хотите продолжить?", PromptIcon::Warning)) {
    return false;
  }
  if (!StartInit(root)) return false;
  wait_idle();
  if (OperationListener* l = listener_.load()) l->refresh_views();
  return true;
}

bool DeviceOperations::StartInit(ObjectWithParameters& element) {
  if (!wait_for_previous_window()) return false;
  current_element_.store(&element);
  set_total(count_writes(element, kWriteInitialise));
  done_.store(0);
  errors_.store(0);
  if (!link_max_access()) {
    app_.prompter().show("Эта операция доступна только на максимальном уровне доступа", "Ошибка",
                         PromptIcon::Error);
    return false;
  }
  return open_window(operation_code::kInitialise, initialise_);
}

void DeviceOperations::perform_initialise() {
  if (Parameter* reset = table_.find_by_name("r.co")) {
    bool written = false;
    for (int attempt = 0; attempt < 5 && !written && !stop_requested(); ++attempt) {
      written = WriteParameter(*reset, kWriteInitialise) == 0;
    }
    if (!written) {
      AddLogLine("Не удалось инициализировать параметр \"r.co\"!", false, log_colour::kReadFailed);
    }
  }
  if (ObjectWithParameters* element = current_element_.load()) {
    element->WriteByMode(*this, kWriteInitialise);
  }
  FinishOperation(false);
}

// ---- EEPROM image ----------------------------------------------------------------------------

bool DeviceOperations::StartEepromRead() {
  return start_eeprom_operation(operation_code::kEepromRead, {"n.Err", "r-s"}, eeprom_read_);
}

bool DeviceOperations::StartEepromWrite() {
  // The configuration reset "r.co" is a command too: written with the value an instrument
  // reports after its last reset, it would undo every value the image wrote before it.
  return start_eeprom_operation(operation_code::kEepromWrite,
                                {"dev", "ver", "n.Err", "r-s", "r.co"}, eeprom_write_);
}

// The image operations go over the whole table but the polled parameters and the commands
// that must not travel (the error register, regulation start/stop; identity and the
// configuration reset on writing).
bool DeviceOperations::start_eeprom_operation(int code,
                                              std::initializer_list<std::string_view> excluded,
                                              platform::Event& event) {
  if (!wait_for_previous_window()) return false;
  std::vector<Parameter*> list;
  for (Parameter& p : table_) {
    if (p.owns_polling_timer() || platform::iequals_any(p.short_name, excluded)) continue;
    list.push_back(&p);
  }
  {
    std::lock_guard lock(mutex_);
    eeprom_list_ = std::move(list);
    set_total(static_cast<int>(eeprom_list_.size()));
  }
  done_.store(0);
  errors_.store(0);
  return open_window(code, event);
}

void DeviceOperations::perform_eeprom_read() {
  std::vector<Parameter*> list;
  {
    std::lock_guard lock(mutex_);
    list = eeprom_list_;
  }
  for (Parameter* p : list) {
    if (stop_requested()) break;
    ReadParameter(*p, true);
  }
  // A read cut short (the button, the failure limit, a port that would not open) leaves most
  // of the table as the configuration had it: such an image is no image of the instrument.
  eeprom_read_complete_.store(!stop_requested());
  FinishOperation(false);
}

void DeviceOperations::perform_eeprom_write() {
  std::vector<Parameter*> list;
  {
    std::lock_guard lock(mutex_);
    list = eeprom_list_;
  }
  for (Parameter* p : list) {
    if (stop_requested()) break;
    WriteParameter(*p, kWriteAll);
    add_done(1);
  }
  FinishOperation(false);
}

bool DeviceOperations::SaveEepromImage(const std::string& path) {
  OperationListener* listener = listener_.load();
  if (listener != nullptr) listener->set_refresh_timer(false);
  eeprom_read_complete_.store(false);
  const bool started = StartEepromRead();
  if (started) wait_idle();
  bool saved = false;
  if (started && !eeprom_read_complete_.load()) {
    // An existing image stays as it was rather than being replaced by a partial one.
    app_.prompter().show(platform::format("Чтение EEPROM из прибора было прервано. Образ EEPROM "
                                          "не записан в файл \"%s\".",
                                          path.c_str()),
                         "Предупреждение", PromptIcon::Warning);
  } else if (started) {
    std::string error;
    saved = platform::write_file_atomically(path, build_eeprom_image(table_), &error);
    if (!saved) {
      app_.prompter().show(platform::format("Не удалось записать образ EEPROM в файл \"%s\".\n%s",
                                            path.c_str(), error.c_str()),
                           "Ошибка", PromptIcon::Error);
    }
  }
  if (listener != nullptr) {
    listener->set_refresh_timer(true);
    listener->refresh_views();
  }
  return saved;
}

bool DeviceOperations::LoadEepromImage(const std::string& path) {
  Prompter& prompter = app_.prompter();
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  std::string bytes;
  bool readable = !ec && size <= kLargestImage;
  if (readable) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    readable = in.good() || in.eof();
    bytes = content.str();
  }
  if (!readable) {
    prompter.show(platform::format("Файл \"%s\" не удалось открыть!", path.c_str()),
                  "Ошибка открытия", PromptIcon::Warning);
    return false;
  }
  const EepromLoad load = load_eeprom_image(table_, bytes);
  OperationListener* listener = listener_.load();
  if (listener != nullptr) listener->refresh_views();
  if (!load.damage.empty()) {
    // What was read before the damage stays in the configuration; a damaged image is not
    // offered for writing into the instrument.
    prompter.show(platform::format("Файл \"%s\" не удалось открыть!", path.c_str()),
                  "Ошибка открытия", PromptIcon::Warning);
    return false;
  }
  if (!prompter.confirm("Образ EEPROM загружен в конфигуратор! Хотите записать его в прибор?",
                        "Подтверждение", PromptIcon::Information)) {
    return true;
  }
  if (listener != nullptr) listener->set_refresh_timer(false);
  if (StartEepromWrite()) wait_idle();
  if (listener != nullptr) {
    listener->refresh_views();
    listener->set_refresh_timer(true);
  }
  return true;
}

}  // namespace kba604
