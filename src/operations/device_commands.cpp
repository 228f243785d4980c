#include "operations/device_commands.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "app/commands.h"
#include "app/translatable.h"
#include "operations/eeprom_image.h"
#include "platform/atomic_file.h"
#include "platform/file_read.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// An image of the instrument's table takes a few kilobytes; anything far larger is no image.
constexpr std::uintmax_t kLargestImage = 16u << 20;

}  // namespace

DeviceCommands::DeviceCommands(CKBA604App& app, std::shared_ptr<DeviceOperations> device,
                               NotificationSink& sink)
    : app_(app), device_(std::move(device)), sink_(sink) {}

bool DeviceCommands::start_with_completion(int command, const std::function<bool()>& start,
                                           std::function<bool()> after) {
  state_->result.store(false);
  // The completion holds its own share of what it touches: the worker may run it after the
  // commands object is gone.
  device_->set_completion([state = state_, sink = &sink_, command, after = std::move(after)] {
    state->result.store(after());
    sink->command_finished(command);
  });
  if (start()) return true;
  device_->set_completion({});
  return false;
}

// ---- initialisation ------------------------------------------------------------------------

bool DeviceCommands::ask_initialise(const PollingGuard* polling) {
  Prompter& prompter = app_.prompter();
  if (polling != nullptr && polling->AnyPollingOn()) {
    prompter.show(
        KBA604_TR_NOOP(
            "Messages",
            "Перед инициализацией необходимо остановить опрос оперативных параметров!\n\nУберите "
            "\"галочки\" со всех параметров в ветви \"Опрос оперативных параметров\" и повторите "
            "попытку."),
        KBA604_TR_NOOP("Messages", "Запись заводских параметров"), PromptIcon::Warning);
    return false;
  }
  return prompter.confirm(
      KBA604_TR_NOOP("Messages",
                     "Эта операция приведет к потери конфигурации в программе и в приборе!"),
      KBA604_TR_NOOP("Messages", "Вы уверены, что хотите продолжить?"), PromptIcon::Warning);
}

bool DeviceCommands::start_initialise(ObjectWithParameters& root, const PollingGuard* polling) {
  state_->result.store(false);
  if (!ask_initialise(polling)) return false;
  std::shared_ptr<DeviceOperations> device = device_;
  return start_with_completion(
      command::kWriteFactory, [&] { return device->StartInit(root); },
      [device] {
        if (OperationListener* l = device->listener()) l->refresh_views();
        return true;
      });
}

bool DeviceCommands::InitialiseDevice(ObjectWithParameters& root, const PollingGuard* polling) {
  if (!start_initialise(root, polling)) return false;
  device_->wait_idle();
  return last_result();
}

// ---- EEPROM image into a file ----------------------------------------------------------------

bool DeviceCommands::start_save_eeprom_image(const std::string& path) {
  std::shared_ptr<DeviceOperations> device = device_;
  OperationListener* listener = device->listener();
  if (listener != nullptr) listener->set_refresh_timer(false);
  Prompter* prompter = &app_.prompter();
  const bool started = start_with_completion(
      command::kSaveEepromImage, [&] { return device->StartEepromRead(); },
      [device, prompter, path] {
        bool saved = false;
        if (!device->eeprom_read_complete()) {
          // An existing image stays as it was rather than being replaced by a partial one.
          prompter->show(platform::format(
                             KBA604_TR_NOOP("Messages",
                                            "Чтение EEPROM из прибора было прервано. Образ EEPROM "
                                            "не записан в файл \"%s\"."),
                             path.c_str()),
                         "Предупреждение", PromptIcon::Warning);
        } else {
          std::string error;
          saved =
              platform::write_file_atomically(path, build_eeprom_image(device->table()), &error);
          if (!saved) {
            prompter->show(
                platform::format(
                    KBA604_TR_NOOP("Messages",
                                   "Не удалось записать образ EEPROM в файл \"%s\".\n%s"),
                    path.c_str(), error.c_str()),
                "Ошибка", PromptIcon::Error);
          }
        }
        if (OperationListener* l = device->listener()) {
          l->set_refresh_timer(true);
          l->refresh_views();
        }
        return saved;
      });
  if (!started && listener != nullptr) {
    listener->set_refresh_timer(true);
    listener->refresh_views();
  }
  return started;
}

bool DeviceCommands::SaveEepromImage(const std::string& path) {
  if (!start_save_eeprom_image(path)) return false;
  device_->wait_idle();
  return last_result();
}

// ---- EEPROM image from a file ----------------------------------------------------------------

bool DeviceCommands::load_image(const std::string& path) {
  Prompter& prompter = app_.prompter();
  // Only a regular file is read: a folder, FIFO or device node chosen by mistake is refused.
  std::string bytes;
  const bool readable = platform::read_regular_file(path, bytes, kLargestImage).ok();
  if (!readable) {
    prompter.show(platform::format(KBA604_TR_NOOP("Messages", "Файл \"%s\" не удалось открыть!"),
                                   path.c_str()),
                  KBA604_TR_NOOP("Messages", "Ошибка открытия"), PromptIcon::Warning);
    return false;
  }
  EepromLoad load;
  {
    // The image changes values that scanners and views may be reading.
    std::unique_lock lock(device_->table().value_lock());
    load = load_eeprom_image(device_->table(), bytes);
  }
  if (OperationListener* listener = device_->listener()) listener->refresh_views();
  if (!load.damage.empty()) {
    // What was read before the damage stays in the configuration; a damaged image is not
    // offered for writing into the instrument.
    prompter.show(platform::format(KBA604_TR_NOOP("Messages", "Файл \"%s\" не удалось открыть!"),
                                   path.c_str()),
                  KBA604_TR_NOOP("Messages", "Ошибка открытия"), PromptIcon::Warning);
    return false;
  }
  return true;
}

bool DeviceCommands::start_load_eeprom_image(const std::string& path) {
  state_->result.store(false);
  if (!load_image(path)) return false;
  state_->result.store(true);
  if (!app_.prompter().confirm(
          KBA604_TR_NOOP("Messages",
                         "Образ EEPROM загружен в конфигуратор! Хотите записать его в прибор?"),
          KBA604_TR_NOOP("Messages", "Подтверждение"), PromptIcon::Information)) {
    return false;
  }
  std::shared_ptr<DeviceOperations> device = device_;
  OperationListener* listener = device->listener();
  if (listener != nullptr) listener->set_refresh_timer(false);
  auto restart_refresh = [device] {
    if (OperationListener* l = device->listener()) {
      l->refresh_views();
      l->set_refresh_timer(true);
    }
    return true;
  };
  const bool started = start_with_completion(
      command::kLoadEepromImage, [&] { return device->StartEepromWrite(); }, restart_refresh);
  if (!started) {
    restart_refresh();
    state_->result.store(true);
  }
  return started;
}

bool DeviceCommands::LoadEepromImage(const std::string& path) {
  if (start_load_eeprom_image(path)) device_->wait_idle();
  return last_result();
}

}  // namespace kba604
