// The exchange of one parameter: ReadParameter, CompareParameter, WriteParameter and
// WriteValue, with their log lines, counters, failure limits and the instrument's own rules
// (stale parameters after a write, counts changed one step at a time, initialisation values,
// check-only parameters and protected attributes).

#include "operations/parameter_exchange.h"

#include <algorithm>

#include "platform/text.h"

namespace kba604 {
namespace {

constexpr LogColour kNormal = log_colour::kNormal;

// The network settings of the instrument; writing one of them makes the APLY command useful.
bool is_network_setting(std::string_view name) {
  return platform::iequals_any(name, {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr"});
}

bool is_stepped_count(std::string_view name) {
  return platform::iequals_any(name, {"n.Ch", "n.Obj"});
}

// The value initialisation writes: the reference value, except that the steps of the program
// ("sp", "t.rs", "t.stb") beyond the first step of each of the three programs start empty.
std::string initialisation_value(const Parameter& p) {
  const bool program_step = platform::iequals(p.short_name, "sp") ||
                            platform::iequals(p.short_name, "t.rs") ||
                            platform::iequals(p.short_name, "t.stb");
  const int index = p.linear_index;
  if (program_step && index != 0 && index != 5 && index != 10) return "0";
  return p.reference_value;
}

const char* editability_text(bool editable) {
  return editable ? "Редактируемый" : "Не редактируемый";
}
const char* owner_text(bool factory) {
  return factory ? "фирме" : "пользователю";
}

std::size_t character_count(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

ParameterExchange::ParameterExchange(CKBA604App& app) : app_(app) {}

ParameterExchange::~ParameterExchange() = default;

std::string ParameterExchange::indexed_name(const Parameter& p) const {
  if (!p.indexed) return p.short_name;
  return platform::format("%s:%i", p.short_name.c_str(), p.linear_index);
}

void ParameterExchange::append_error_log(const Parameter& p) {
  std::string line = p.short_name;
  if (p.indexed) line += platform::format(":%d", p.linear_index);
  line += " - " + p.note;
  app_.append_error_log(line);
}

// ---- reading -----------------------------------------------------------------------------------

int ParameterExchange::ReadParameter(Parameter& parameter, bool count_timeouts) {
  if (stop_requested()) return exchange_result::kStopped;
  add_done(1);
  if (parameter.linear_index < 0) return exchange_result::kNegativeIndex;
  const std::string text = "  Чтение: " + indexed_name(parameter);
  const int result = link_transact(parameter, 1, false);
  const bool failed = result != 0 && parameter.outcome.failed();
  if (failed) {
    add_errors(1);
    append_error_log(parameter);
  }
  notify_changed(parameter);
  if (count_timeouts) note_read_outcome(parameter, result);
  if (failed || !parameter.note.empty()) {
    AddLogLine(text + " = " + parameter.note, true, log_colour::kReadFailed);
  } else {
    AddLogLine(text + " = " + parameter.value);
  }
  note_lost_port(parameter);
  return result;
}

void ParameterExchange::note_lost_port(const Parameter& parameter) {
  if (!parameter.outcome.lost_port()) return;
  std::string message = parameter.note + "\n";
  if (app_.modes.auto_read.exchange(false)) {
    message +=
        "Режим автоматического чтения параметров был отключен.\nВы можете заново включить этот "
        "режим в меню \"Режимы программы\".\n\n";
  }
  message += "Операции обмена остановлены; следующий запрос снова попробует открыть порт.";
  consecutive_failures_.store(0);
  stop_.set();
  if (app_.options.quiet()) {
    AddLogLine(message, true, log_colour::kReadFailed);
  } else {
    app_.prompter().show(message, "Предупреждение", PromptIcon::Warning);
  }
}

void ParameterExchange::note_read_outcome(Parameter& parameter, int result) {
  const bool timeout = result != 0 && parameter.outcome.timed_out();
  if (!timeout) {
    consecutive_failures_.store(0);
    if (OperationListener* l = listener_.load()) l->link_works();
    return;
  }
  const int count = consecutive_failures_.fetch_add(1) + 1;
  if (count <= 4) return;
  std::string message = platform::format(
      "Так как прошло %i неудачных попыток чтения параметров подряд,\nпохоже что прибор КВА-604 "
      "не подключен к компьютеру\n(или связь стабильно отсутствует по какой-либо другой "
      "причине). \n",
      count);
  // The message says that automatic reading was switched off only when it was on.
  if (app_.modes.auto_read.exchange(false)) {
    message +=
        "Режим автоматического чтения параметров был отключен.\nВы можете заново включить этот "
        "режим в меню \"Режимы программы\".\n\n";
  }
  message +=
      "Ради избежания бессмысленных задержек и торможения\nкомпьютера операции обмена "
      "приостановлены.";
  consecutive_failures_.store(0);
  stop_.set();
  if (app_.options.quiet()) {
    // Nothing waits in a box with command-line switches: the message goes into the log.
    AddLogLine(message, true, log_colour::kReadFailed);
  } else {
    app_.prompter().show(message, "Предупреждение", PromptIcon::Warning);
  }
}

// ---- comparing ---------------------------------------------------------------------------------

int ParameterExchange::CompareParameter(Parameter& parameter) {
  if (stop_requested()) return exchange_result::kCompareStopped;
  // The instrument's value is read into a copy, so that the configuration keeps its own.
  Parameter device;
  device.short_name = parameter.short_name;
  device.format = parameter.format;
  device.decimals = parameter.decimals;
  device.linear_index = parameter.linear_index;
  device.attribute_multiplicity = parameter.attribute_multiplicity;
  device.indexed = parameter.indexed;
  device.minimum = parameter.minimum;
  device.maximum = parameter.maximum;
  // The instrument answers a parameter with an address offset at its own address.
  device.address_offset = parameter.address_offset;
  if (parameter.linear_index < 0) return exchange_result::kNegativeIndex;

  const int result = link_transact(device, 1, false);
  note_lost_port(device);
  std::string line = "  Сравниваем: " + parameter.short_name + "=" + parameter.value;
  if (parameter.indexed) line += ":" + std::to_string(parameter.linear_index);
  line += "<>" + device.value;

  if (result != 0) {
    // A failed read is an error of the exchange, not a difference: the parameter gets the
    // link's text and outcome, as a failed read would leave them.
    {
      ValueWriteLock lock(parameter);
      parameter.note = device.note;
      parameter.outcome = device.outcome;
    }
    notify_changed(parameter);
    if (parameter.outcome.failed()) {
      add_errors(1);
      append_error_log(parameter);
    }
    AddLogLine(line + " = " + device.note, true, log_colour::kReadFailed);
    return result;
  }
  AddLogLine(line);

  if (parameter.value == kNoData) {
    skipped_count_.fetch_add(1);
    {
      ValueWriteLock lock(parameter);
      parameter.outcome = {};
    }
    notify_changed(parameter);
    return result;
  }
  // A remark of an earlier comparison is replaced, never chained or left standing.
  std::string old_note = parameter.has_difference_note() ? std::string() : parameter.note;
  const bool differs = device.value != parameter.value || device.editable != parameter.editable ||
                       device.factory != parameter.factory;
  if (!differs) {
    {
      ValueWriteLock lock(parameter);
      parameter.note = old_note;
      parameter.outcome = {};
    }
    notify_changed(parameter);
    return result;
  }
  const int before = difference_count_.fetch_add(1);
  if (before < 10) {
    std::string entry = platform::format("\n%i) Параметер '", before + 1);
    entry += parameter.short_name + " (" + parameter.shown_title() +
             ") в конфигурации: значение=" + parameter.value + "," +
             editability_text(parameter.editable) + ",принадлежит " +
             owner_text(parameter.factory) + "; в приборе: значение=" + device.value + "," +
             editability_text(device.editable) + ",принадлежит " + owner_text(device.factory) +
             ".\n";
    std::lock_guard lock(mutex_);
    difference_text_ += entry;
  }
  std::string note = std::string(kDifferencePrefix) + " '" + device.value + "'," +
                     (device.editable ? "Ред-ый," : "Не ред-ый,") +
                     (device.factory ? "фирм." : "польз.");
  if (!old_note.empty()) note += "; " + old_note;
  {
    ValueWriteLock lock(parameter);
    parameter.note = note;
    parameter.outcome = {};
  }
  notify_changed(parameter);
  return result;
}

// ---- writing -----------------------------------------------------------------------------------

int ParameterExchange::WriteParameter(Parameter& parameter, int mode) {
  if (stop_requested()) return exchange_result::kStopped;
  const std::string wanted =
      mode == kWriteInitialise ? initialisation_value(parameter) : parameter.value;
  if (mode != kWriteInitialise && parameter.has_no_data()) {
    {
      ValueWriteLock lock(parameter);
      parameter.note = std::string(kNotInitialisedNote);
      parameter.outcome = ExchangeOutcome::of(ExchangeOutcome::Kind::NotInitialised);
    }
    notify_changed(parameter);
    return 0;
  }
  if (mode != kWriteAllFromRoot) {
    std::lock_guard lock(mutex_);
    reread_.note_written(parameter, wanted);
  }
  if (is_stepped_count(parameter.short_name)) {
    if (int result = step_count(parameter, mode); result != 0) return result;
  }
  const int result = WriteValue(parameter, mode);
  if (parameter.outcome.failed()) add_errors(1);
  notify_changed(parameter);
  return result;
}

int ParameterExchange::step_count(Parameter& parameter, int mode) {
  const std::string wanted =
      mode == kWriteInitialise ? initialisation_value(parameter) : parameter.value;
  const bool was_changed = parameter.changed;
  AddLogLine("Прочитаем предварительно этот параметр:", false, log_colour::kNotice, true);
  set_total(total_.load() + 1);
  const int read = ReadParameter(parameter, false);
  const std::optional<std::int32_t> have = platform::scan_int(parameter.value);
  const std::optional<std::int32_t> want = platform::scan_int(wanted);
  int result = 0;
  if (read == 0 && parameter.outcome.ok() && have && want && *have != *want) {
    const int step = *want > *have ? 1 : -1;
    const std::string line = "  Запись: " + indexed_name(parameter);
    for (int count = *have + step; count != *want; count += step) {
      if (stop_requested()) {
        result = exchange_result::kStopped;
        break;
      }
      set_total(total_.load() + 1);
      const int written = write_text(parameter, platform::format("%i", count), line);
      add_done(1);
      if (parameter.outcome.failed()) {
        add_errors(1);
        AddLogLine("Вернулась ошибка:", false, log_colour::kReadFailed);
        AddLogLine(parameter.note, false, log_colour::kReadFailed);
      }
      if (written != 0) {
        result = written;
        break;
      }
    }
  }
  // The configuration keeps the wanted count, still marked as changed while it has not reached
  // the instrument.
  {
    ValueWriteLock lock(parameter);
    parameter.value = wanted;
    parameter.changed = was_changed;
  }
  return result;
}

int ParameterExchange::WriteValue(Parameter& parameter, int mode) {
  const std::string text =
      mode == kWriteInitialise ? initialisation_value(parameter) : parameter.value;
  if (platform::iequals(text, kNoData)) {
    ValueWriteLock lock(parameter);
    parameter.note = std::string(kNotInitialisedNote);
    parameter.outcome = ExchangeOutcome::of(ExchangeOutcome::Kind::NotInitialised);
    return exchange_result::kNotInitialised;
  }
  const bool check = mode == kWriteInitialise && parameter.check_only;
  const std::string line = (check ? "Проверка:" : "  Запись: ") + indexed_name(parameter);
  if (parameter.linear_index < 0) {
    ValueWriteLock lock(parameter);
    parameter.outcome = ExchangeOutcome::of(ExchangeOutcome::Kind::NegativeIndex);
    return exchange_result::kNegativeIndex;
  }

  if (check) {
    const int read = link_transact(parameter, 1, false);
    if (read == 0 && parameter.value == text) {
      AddLogLine(line + " = " + text + " [не меняем]");
    } else {
      AddLogLine(line + " =?= " + text + " [проверка]");
      bool saved_editable = parameter.editable, saved_factory = parameter.factory;
      const bool open = !parameter.editable || parameter.factory;
      if (open) open_attributes(parameter, saved_editable, saved_factory);
      {
        ValueWriteLock lock(parameter);
        parameter.value = text;
      }
      link_transact(parameter, 0, true);
      if (open) close_attributes(parameter, saved_editable, saved_factory);
    }
  }
  return write_text(parameter, text, line);
}

int ParameterExchange::write_text(Parameter& parameter, const std::string& text,
                                  const std::string& line) {
  {
    ValueWriteLock lock(parameter);
    parameter.value = text;
  }
  const int result = link_transact(parameter, 0, false);
  if (result != 0) {
    if (parameter.outcome.failed()) append_error_log(parameter);
    AddLogLine(line + " = " + (parameter.note.empty() ? text : parameter.note), false,
               log_colour::kWriteFailed);
    note_write_failure(result, parameter);
    note_lost_port(parameter);
    return result;
  }
  if (is_network_setting(parameter.short_name)) network_settings_written_.store(true);
  consecutive_failures_.store(0);
  AddLogLine(line + " [новое значение] = " + text);
  return result;
}

void ParameterExchange::note_write_failure(int result, const Parameter& parameter) {
  if (result >= 0 && !parameter.outcome.timed_out()) return;
  if (consecutive_failures_.fetch_add(1) + 1 <= 4) return;
  AddLogLine("Прошло 5 безуспешных попыток записи!", true, log_colour::kWriteFailed);
  consecutive_failures_.store(0);
  stop_.set();
}

bool ParameterExchange::open_attributes(Parameter& parameter, bool& saved_editable,
                                        bool& saved_factory) {
  saved_editable = parameter.editable;
  saved_factory = parameter.factory;
  {
    ValueWriteLock lock(parameter);
    parameter.editable = true;
    parameter.factory = false;
  }
  const bool ok = link_exchange_attributes(parameter, 0) == 0;
  AddLogLine(std::string(" - открытие атрибутов: ") + (ok ? "ok" : "ошибка"), false,
             ok ? kNormal : log_colour::kReadFailed);
  return ok;
}

void ParameterExchange::close_attributes(Parameter& parameter, bool saved_editable,
                                         bool saved_factory) {
  {
    ValueWriteLock lock(parameter);
    parameter.editable = saved_editable;
    parameter.factory = saved_factory;
  }
  const bool ok = link_exchange_attributes(parameter, 0) == 0;
  AddLogLine(std::string(" - закрытие атрибутов: ") + (ok ? "ok" : "ошибка"), false,
             ok ? kNormal : log_colour::kReadFailed);
}

// ---- progress and log ----------------------------------------------------------------------

void ParameterExchange::set_total(int total) {
  total_.store(total);
  publish_counters();
}

void ParameterExchange::add_done(int count) {
  done_.fetch_add(count);
  publish_counters();
}

void ParameterExchange::add_errors(int count) {
  errors_.fetch_add(count);
  publish_counters();
}

void ParameterExchange::set_errors(int count) {
  errors_.store(count);
  publish_counters();
}

void ParameterExchange::publish_counters() {
  if (!window_open_.load()) return;
  if (OperationView* view = view_.load()) {
    view->set_counters(done_.load(), total_.load(), errors_.load());
  }
}

void ParameterExchange::AddLogLine(std::string_view text, bool bold, LogColour colour,
                                   bool italic) {
  if (!window_open_.load()) return;
  OperationView* view = view_.load();
  if (view == nullptr) return;
  view->add_log_line(text, colour, bold, italic);
  log_length_.fetch_add(character_count(text) + 1);
}

void ParameterExchange::log_branch(const std::string& line) {
  AddLogLine(line);
}

void ParameterExchange::notify_changed(const Parameter& parameter) {
  NotificationSink* sink = sink_.load();
  if (sink == nullptr) return;
  if (std::optional<std::size_t> index = table_.index_of(parameter))
    sink->parameter_changed(*index);
}

bool ParameterExchange::stop_requested() {
  return stop_.is_set() || link_exit_event().is_set();
}

// ---- state -----------------------------------------------------------------------------------

std::string ParameterExchange::difference_text() const {
  std::lock_guard lock(mutex_);
  return difference_text_;
}

ReReadSet ParameterExchange::reread_set() const {
  std::lock_guard lock(mutex_);
  return reread_;
}

}  // namespace kba604
