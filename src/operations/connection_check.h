// The checks that the right instrument answers at the program's network settings: check_device
// asks the instrument who it is ("dev") and what firmware it runs ("ver"); ConnectionCheck tries
// the ТАЛВ protocol with both kinds of RS-485 converter and, when nothing answers, brings an
// instrument back from Modbus ASCII or Modbus RTU.
//
// Both read through the operation engine (ReadParameter) on the calling thread, without
// counting time-outs towards the limit of five in a row: they probe the line, and an instrument
// left in Modbus gives time-outs by design. The start-up check runs on the UI thread while the
// worker is idle; the connection search runs it on its own worker under the link lock.
//
//   if (!ConnectionCheck(device)) ...                 // the start-up check
//   std::string errors;
//   int flags = check_device(device, &errors, false);  // silently
//   check_device(device, nullptr, true);                // "Проверка связи": shows the answer
#pragma once

#include <string>
#include <string_view>

#include "app/translatable.h"
#include "operations/device.h"
#include "platform/event.h"

namespace kba604 {

// Flags of check_device.
namespace device_check {
inline constexpr int kRightModel = 0x1;  // "dev" answered with the model name "kba604"
inline constexpr int kAnswered = 0x2;    // "dev" answered at all
}  // namespace device_check

// The model name "dev" answers with, compared without regard to case.
inline constexpr std::string_view kModelName = "kba604";
inline constexpr std::string_view kCheckDeviceCaption =
    KBA604_TR_NOOP("Messages", "Проверка прибора");
inline constexpr std::string_view kCheckDeviceErrorCaption = KBA604_TR_NOOP("Messages", "Ошибка");

// Reads "dev" and then "ver". A failed read appends "Ошибка команды 'dev':\n" (or "... 'ver'")
// with the request's error text and a line break to *error_text (when given); a failed "dev"
// answers no flags. A read answered adds "Прибор: " and the name (or "Версия прошивки: " and the
// version) to the information text. With show, a non-empty error text is shown in an error box
// and a non-empty information text in a box "Проверка прибора"; without it nothing is shown.
// Returns the device_check flags.
// stop, when given, ends the check early: once it is set no further request is made, and each
// read counts as interrupted (as the engine's reads do once its stop event is set).
int check_device(Device& device, std::string* error_text, bool show,
                 const platform::Event* stop = nullptr);

// True when the right instrument answers at the program's settings, possibly after switching it
// back to the ТАЛВ protocol:
// 1. the semi-automatic converter, the port reopened (without a message); false when it could
//    not be opened (or the program runs silent or without a port);
// 2. twice: the converter flipped, the ТАЛВ protocol, the port reopened, check_device without
//    showing anything; the right model clears the exit flags 8 and 64 and answers true; another
//    model sets the exit flags to 64;
// 3. the automatic converter, Modbus ASCII, the port reopened, one request (in that protocol
//    the switch-back command); its echo goes to 5;
// 4. else the same in Modbus RTU, the ТАЛВ protocol again; when that fails too, the
//    semi-automatic converter, the port reopened with the failure message, false;
// 5. the ТАЛВ protocol, the port reopened, the exit flags 4 and 64 cleared, true.
// The protocol mode is ТАЛВ again whichever way the check ends. stop, when given, interrupts the
// check as for check_device: the steps run on without requests, so that the check ends soon with
// false and the protocol mode restored.
bool ConnectionCheck(Device& device, const platform::Event* stop = nullptr);

}  // namespace kba604
