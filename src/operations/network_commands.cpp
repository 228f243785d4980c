#include "operations/network_commands.h"

#include "model/texts.h"
#include "operations/connection_check.h"

namespace kba604 {
namespace {

// The settings the instrument takes into use with "APLY", in the element's order.
constexpr const char* kAppliedSettings[] = {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr"};

// Frames of the instrument's broadcast address.
constexpr std::int32_t kBroadcastOffset = -1;

// A command of the instrument as a parameter with a value (empty: the command carries no
// data), so that the engine writes it.
void make_command(Parameter& command, const char* name) {
  command.short_name = name;
  command.title = name;
  command.value.clear();
}

}  // namespace

namespace Dialogs {

std::string CApply::parameters_text() const {
  if (device_ == nullptr) return std::string(kNoDeviceText);
  if (instrument_ == nullptr) return std::string(kNoElementText);
  return instrument_->network_summary();
}

bool CApply::OnOK() {
  check_errors_.clear();
  if (!ready()) return false;
  Device& device = *device_;

  Parameter aply;
  make_command(aply, "APLY");
  device.WriteParameter(aply, kWriteAll);

  if (change_program_settings) {
    Elements::NetRS485prg& program = device.program_settings();
    for (const char* name : kAppliedSettings) {
      const std::string value = instrument_->GetValueByName(name);
      if (value.empty() || value == kNoData) continue;
      program.SetValueByName(name, value, false);
    }
    device.reopen_port(true);
    check_device(device, &check_errors_, false);
  }

  if (broadcast) {
    platform::Clock& clock = device.app().clock();
    aply.address_offset = kBroadcastOffset;
    const int times = three_times ? 3 : 1;
    for (int i = 0; i < times; ++i) {
      clock.sleep_ms(kBroadcastPauseMs);
      device.WriteParameter(aply, kWriteAll);
      clock.sleep_ms(kBroadcastPauseMs);
    }
  }

  if (!check_errors_.empty()) {
    device.app().prompter().show(check_errors_, kErrorCaption, PromptIcon::Error);
  }
  return true;
}

}  // namespace Dialogs

std::string prtl_question(const std::string& protocol) {
  return "ВНИМАНИЕ: Данная операция приведет к переключению на новый протокол обмена.\nЭто может "
         "привести к потере связи с прибором.\n\nНовый протокол обмена: " +
         protocol;
}

int write_prtl(Device& device) {
  Parameter prtl;
  make_command(prtl, "PRTL");
  return device.WriteParameter(prtl, kWriteAll);
}

std::optional<int> send_prtl(Device& device, const Parameter* prot) {
  const std::string protocol = prot != nullptr ? prot->value : std::string(kNoData);
  if (!device.app().prompter().confirm(prtl_question(protocol), kPrtlCaption,
                                       PromptIcon::Warning)) {
    return std::nullopt;
  }
  return write_prtl(device);
}

}  // namespace kba604
