// The configuration file "*.604": the values and state of every configuration parameter, keyed
// by the parameter's name hash and linear index, so that a file loads into any description
// that knows the same parameters.
//
// Layout, in order (little-endian integers, length-prefixed Windows-1251 texts, model/archive.h):
//   class header      16-bit 0xFFFF, 16-bit schema 1, 16-bit name length 10, "CKBA604Doc"
//   service element   its name, 32-bit parameter count, each parameter record
//   version           the value text of "ver" (empty when the table has none)
//   name texts        22 texts
//   table name        the table file the description came from ("parameters.zip")
//   table size        32-bit number of table parameters
//   operational count 32-bit number of table parameters that own a polling timer
//   entries           to the end of the file: 32-bit key, parameter record; one per table
//                     parameter that owns no polling timer, in table order
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/prompter.h"
#include "app/translatable.h"
#include "description/elements.h"
#include "model/parameter_table.h"

namespace kba604 {

inline constexpr std::size_t kNameTextCount = 22;
using NameTexts = std::array<std::string, kNameTextCount>;
// Every name text after a reset, and the title of a new document.
inline constexpr std::string_view kNameNotSet = "Имя не задано";

inline constexpr std::string_view kDocumentClassName = "CKBA604Doc";
inline constexpr std::uint16_t kDocumentSchema = 1;

// The messages of loading.
inline constexpr std::string_view kDamagedDataText =
    KBA604_TR_NOOP("Messages", "Данные в файле испорчены!");
inline constexpr const char* kCannotOpenText =
    KBA604_TR_NOOP("Messages", "Файл \"%s\" не удалось открыть!");
inline constexpr std::string_view kCannotOpenCaption =
    KBA604_TR_NOOP("Messages", "Ошибка открытия");
inline constexpr const char* kTableSizeText = KBA604_TR_NOOP(
    "Messages", "В файле сохранено %i параметров, а в активной таблице %i параметров!");
inline constexpr std::string_view kTableSizeCaption = KBA604_TR_NOOP("Messages", "Предупреждение");
// The open of a file that is no configuration of this program; our own words, since the
// framework's open step reports it.
inline constexpr const char* kNotConfigurationText =
    KBA604_TR_NOOP("Messages", "Файл \"%s\" не является файлом конфигурации прибора KBA604.");

// Reports progress in percent (0..100) while a file is stored or loaded.
using ProgressFunction = std::function<void(int percent)>;

// The bytes of a configuration file. The service element is written with its own name and
// parameters; the table's non-operational parameters follow in table order.
std::string store_configuration(Elements::InvisibleElement& service, ParameterTable& table,
                                const NameTexts& names, const ProgressFunction& progress = {});

// What loading fills: the document implements it.
class ConfigurationTarget {
 public:
  virtual ~ConfigurationTarget() = default;
  // Releases the description and loads it again for the version text stored in the file,
  // without asking the instrument; the table() is the new one afterwards.
  virtual void reload_description(const std::string& version) = 0;
  virtual ParameterTable& table() = 0;
  virtual NameTexts& names() = 0;
  virtual void progress(int /*percent*/) {}
};

struct ConfigurationLoad {
  enum class Result {
    Opened,            // the document counts as opened (possibly after a reported fault)
    NotConfiguration,  // the class header is missing or names another class: the open fails
  };
  Result result = Result::Opened;
  // Entries loaded into a parameter, and entries whose key matched none (read and dropped).
  std::size_t loaded = 0;
  std::size_t skipped = 0;
  // The file was read to its end without a fault.
  bool complete = false;
  // The fault that stopped reading, empty when none; a premature end stops silently.
  std::string fault;
};

// Loads a configuration file's bytes into target. path names the file in messages. quiet: the
// program was started with switches, so the table-size warning is not shown. Faults after the
// class header are caught here: a premature end of the file stops reading silently, any other
// fault (including a file of another table) shows kCannotOpenText; what was read stays.
ConfigurationLoad load_configuration(std::string_view bytes, const std::string& path,
                                     ConfigurationTarget& target, Prompter& prompter, bool quiet);

}  // namespace kba604
