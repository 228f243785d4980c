#include "operations/connection_check.h"

#include "app/translatable.h"
#include "model/texts.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// Reads the command name into probe, a parameter of its own, so that the check touches nothing
// of the configuration (the table's "dev" and "ver" may be in use by an operation). True when
// the instrument answered with a value.
bool read_probe(Device& device, Parameter& probe, const char* name, const platform::Event* stop) {
  probe.short_name = name;
  if (stop != nullptr && stop->is_set()) return false;
  const int result = device.ReadParameter(probe, false);
  return result == 0 && !probe.has_no_data();
}

// The error text of a probe that got no value: the request's words, or "Нет данных" when the
// read ended without any (stopped, or a program without a port).
std::string failure_text(const Parameter& probe) {
  return probe.note.empty() ? std::string(kNoData) : probe.note;
}

// One request in the current Modbus protocol, which the link sends as the switch-back command;
// true when the instrument echoed it.
bool switch_back(Device& device, const platform::Event* stop) {
  if (stop != nullptr && stop->is_set()) return false;
  Parameter probe;
  probe.short_name = "dev";
  return device.ReadParameter(probe, false) == 0;
}

}  // namespace

int check_device(Device& device, std::string* error_text, bool show, const platform::Event* stop) {
  std::string errors;
  std::string information;
  int flags = 0;

  Parameter dev;
  if (read_probe(device, dev, "dev", stop)) {
    flags |= device_check::kAnswered;
    if (platform::iequals(dev.value, kModelName)) flags |= device_check::kRightModel;
    information +=
        platform::format(KBA604_TR_NOOP("Messages", "Прибор: %s"), dev.value.c_str()) + "\n";
  } else {
    errors += std::string(KBA604_TR_NOOP("Messages", "Ошибка команды 'dev':")) + "\n" +
              failure_text(dev) + "\n";
    flags = 0;
  }

  Parameter ver;
  if (read_probe(device, ver, "ver", stop)) {
    information +=
        platform::format(KBA604_TR_NOOP("Messages", "Версия прошивки: %s"), ver.value.c_str()) +
        "\n";
  } else {
    errors += std::string(KBA604_TR_NOOP("Messages", "Ошибка команды 'ver':")) + "\n" +
              failure_text(ver) + "\n";
  }

  // An answer names the instrument now on the line; a check cut short by the stop says nothing
  // about it, and a silent line leaves the last answer standing.
  if ((flags & device_check::kAnswered) && (stop == nullptr || !stop->is_set())) {
    device.set_identified((flags & device_check::kRightModel) != 0);
  }

  if (error_text != nullptr) *error_text += errors;
  if (show) {
    Prompter& prompter = device.app().prompter();
    if (!errors.empty()) prompter.show(errors, kCheckDeviceErrorCaption, PromptIcon::Error);
    if (!information.empty()) {
      prompter.show(information, kCheckDeviceCaption, PromptIcon::Information);
    }
  }
  return flags;
}

bool ConnectionCheck(Device& device, const platform::Event* stop) {
  ExitFlags& exit_flags = device.app().exit_flags;
  Sio& sio = device.sio();

  sio.set_converter_automatic(0);
  if (device.reopen_port(false) < 0) return false;

  for (int attempt = 0; attempt < 2; ++attempt) {
    sio.flip_converter();
    device.set_protocol_mode(kProtocolTalv);
    device.reopen_port(false);
    const int flags = check_device(device, nullptr, false, stop);
    if (flags & device_check::kRightModel) {
      exit_flags.clear_bits(ExitFlags::kPortSettings | ExitFlags::kOtherModel);
      return true;
    }
    if (flags & device_check::kAnswered) exit_flags.set_to(ExitFlags::kOtherModel);
  }

  // Nothing answers in the ТАЛВ protocol: perhaps the instrument was switched to Modbus.
  sio.set_converter_automatic(1);
  device.set_protocol_mode(kProtocolModbusAscii);
  device.reopen_port(false);
  if (!switch_back(device, stop)) {
    sio.set_converter_automatic(1);
    device.set_protocol_mode(kProtocolModbusRtu);
    device.reopen_port(false);
    const bool echoed = switch_back(device, stop);
    device.set_protocol_mode(kProtocolTalv);
    if (!echoed) {
      sio.set_converter_automatic(0);
      device.reopen_port(true);
      return false;
    }
  }

  // The instrument echoed the switch-back command and speaks the ТАЛВ protocol again.
  device.set_protocol_mode(kProtocolTalv);
  device.reopen_port(false);
  exit_flags.clear_bits(ExitFlags::kTimeout | ExitFlags::kOtherModel);
  return true;
}

}  // namespace kba604
