// The RS-485 network settings of the instrument, in one table for everything that knows them:
// value conversion (a code received for a line setting selects its entry by position), the
// network settings elements (names, captions and value lists of their parameters) and the
// checks of a description (the network branch must list each of them with exactly this format).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kba604 {

struct NetworkSetting {
  std::string_view name;
  // The caption the network settings elements give the parameter; empty for the settings that
  // only the description's network branch lists.
  std::string_view caption;
  // The value format; empty means any item list.
  std::string_view format;
};

// The five line settings first, then the address, then the two that only the description's
// network branch has. The order is the order of the network settings elements.
inline constexpr NetworkSetting kNetworkSettings[] = {
    {"bPS", "Скорость обмена", "2400:4800:9600:14400:19200:28800:38400:57600:115200"},
    {"LEn", "Длина слова данных", "7:8"},
    {"PrtY", "Четность", "Отсутствует:Четность:Нечетность"},
    {"Sbit", "Кол-во стоп-бит", "1:2"},
    {"A.Len", "Длина адреса RS-485", "8:11"},
    {"Addr", "Собственный адрес прибора", "DEC_dot"},
    {"Prot", "", "ТАЛВ:Modbus_RTU:Modbus_ASCII"},
    {"net.s", "", ""},
};

// The settings of the character format and the address length: the instrument sends each as
// the position of its value in the list, whatever format the description gives it.
inline constexpr std::span<const NetworkSetting> kLineSettings{kNetworkSettings, 5};
// The settings the network settings elements show: the line settings and the address.
inline constexpr std::span<const NetworkSetting> kElementSettings{kNetworkSettings, 6};

// The entry of a line setting by its name (without regard to case); none for any other name.
const NetworkSetting* find_line_setting(std::string_view name);

}  // namespace kba604
