// Codes the instrument sends in place of data, turned into words: the network error of an
// "n.Err" reply, the reset cause of the "exit" command, and the status codes that take the
// place of a measured value.
#pragma once

#include <string>

namespace kba604 {

// Text of a network error code (data byte 0 of an "n.Err" reply); empty for an unknown code.
std::string network_error_text(int code);

// Text of a reset cause (data byte 2 of the "exit" reply).
std::string reset_cause_text(int code);

// Status code 240..255 in place of a measured value of "rEAd", "r.CAL", "rd.rg", "Set.P" or
// "r.OUt". sub_code is data byte 3, which details codes 243 and 245; setpoint tells "Set.P",
// whose codes 250 and 251 speak of the regulator. Empty for a code below 240.
std::string measured_status_text(int code, int sub_code, bool setpoint);

// Status code 240..255 in place of a state value of "r.kEY", "r.PrG", "r.StP" or "r.St".
// Empty for a code below 240.
std::string state_status_text(int code);

}  // namespace kba604
