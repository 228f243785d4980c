// The single-parameter dialog's work without its window: any parameter of the table read or
// written by name, with an index given in the data or in the address, and the protocol of each
// exchange down to the frame bytes, for diagnosis on the line.
//
// The exchange runs on a task thread (execute); the names, the description line and the
// search for the tree's row are plain lookups for the UI thread. An exchange works on a copy
// of the table's parameter that carries the requested index, so that the table's own index and
// address offset never change; what the instrument answered goes back into the table's
// parameter when the request addressed it as the tree does (no index, or its own index in the
// data), so the tree shows what the dialog read or wrote.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "app/translatable.h"
#include "model/parameter_table.h"
#include "operations/direct_exchange.h"

namespace kba604 {

inline constexpr std::string_view kSinglePointCaption =
    KBA604_TR_NOOP("Messages", "Произвольный доступ к отдельным параметрам (Single Point)");
inline constexpr std::string_view kNoDescriptionText =
    KBA604_TR_NOOP("Messages", "Описание параметра");
inline constexpr std::string_view kUnknownTypeText = "<тип неопределен>";
inline constexpr std::string_view kNotInTableText = KBA604_TR_NOOP(
    "Messages",
    "Такой параметр не найден в таблице параметров!\nПроверьте правильность написания.");
inline constexpr std::string_view kNotInTableCaption =
    KBA604_TR_NOOP("Messages", "Параметр не найден");
inline constexpr std::string_view kNotInTreeText =
    KBA604_TR_NOOP("Messages", "Данный параметр не найден!\nВозможно, ошибка в индексе параметра.");
inline constexpr std::string_view kNotInTreeCaption = KBA604_TR_NOOP("Messages", "Сообщение");

// Indexes travel as two bytes.
inline constexpr int kMaxSinglePointIndex = 65535;

// What the dialog shows for a chosen name.
struct SinglePointChoice {
  std::string hash;         // "0x%X"
  std::string description;  // display title, " (", format, ")"
  // The entries of "Что записать:": the items of an item list, blanks for "_"; empty otherwise.
  std::vector<std::string> write_choices;
};

struct SinglePointRequest {
  std::string name;
  bool with_index = false;  // "Наличие лин-го индекса:"
  int from = 0;             // "от"
  int to = 0;               // "до"
  bool index_in_address = false;  // "Индекс в адресе (3 бит)" rather than "Индекс в поле данных"
  bool write = false;  // "Запись" rather than "Чтение"
  std::string what;    // "Что записать:"
};

struct SinglePointOutcome {
  bool found = false;
  // The box for a name the table does not have.
  std::string message;
  std::string caption;
  // The lines for "Протокол обмена данными с прибором:".
  std::vector<std::string> lines;
};

class SinglePoint {
 public:
  explicit SinglePoint(ParameterTable& table) : table_(table) {}

  // "Определите команду:": every short name of the table once, sorted without regard to case.
  std::vector<std::string> names() const;
  // The hash, description line and write choices for a name typed or chosen.
  SinglePointChoice choose(std::string_view name) const;
  // "Выполнить!": one exchange per index from "от" to "до" (one without index; an end below the
  // start gives the start alone). stop, when set, ends the run before the next index.
  SinglePointOutcome execute(DirectExchange& link, const SinglePointRequest& request,
                             const std::atomic<bool>* stop = nullptr);
  // The parameter that "Найти и показать этот параметр в \"дереве\"" looks for: the name with
  // the "от" index (its linear index, or its address offset for an index in the address) when
  // an index is given, else the first with the name; none when the table has no such one.
  Parameter* find(std::string_view name, bool with_index, int index, bool index_in_address) const;

 private:
  ParameterTable& table_;
};

}  // namespace kba604
