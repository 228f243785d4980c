// The whole-instrument operations of the engine: initialisation with the factory values and
// the EEPROM image read from and written to the instrument.
#include "app/translatable.h"
#include "operations/device_operations.h"
#include "platform/text.h"

namespace kba604 {

// ---- initialisation ------------------------------------------------------------------------

bool DeviceOperations::StartInit(ObjectWithParameters& element) {
  if (!wait_for_previous_window()) return false;
  current_element_.store(&element);
  set_total(count_writes(element, kWriteInitialise));
  done_.store(0);
  errors_.store(0);
  if (!link_max_access()) {
    app_.prompter().show(
        KBA604_TR_NOOP("Messages", "Эта операция доступна только на максимальном уровне доступа"),
        "Ошибка", PromptIcon::Error);
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
  if (code == operation_code::kEepromRead) eeprom_read_complete_.store(false);
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

}  // namespace kba604
