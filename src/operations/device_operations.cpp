#include "operations/device_operations.h"

#include <set>

#include "app/translatable.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// Walks an element as an operation would, without exchanging anything: which parameters the
// walk would hand to the per-parameter operations, and how far its progress would count.
class DryRun final : public ParameterOperations {
 public:
  bool stop_requested() override { return false; }
  int ReadParameter(Parameter& p, bool) override { return visit(p); }
  int WriteParameter(Parameter& p, int) override { return visit(p); }
  int CompareParameter(Parameter& p) override { return visit(p); }
  void add_done(int count) override { done += count; }
  void log_branch(const std::string&) override {}

  std::vector<Parameter*> visited;
  int done = 0;

 private:
  int visit(Parameter& p) {
    visited.push_back(&p);
    return 0;
  }
};

}  // namespace

DeviceOperations::DeviceOperations(CKBA604App& app) : ParameterExchange(app) {}

DeviceOperations::~DeviceOperations() = default;

void DeviceOperations::forget_description() {
  current_element_.store(nullptr);
  single_target_.store(nullptr);
  tree_root_.store(nullptr);
  std::lock_guard lock(mutex_);
  group_list_.clear();
  reread_.clear();
  eeprom_list_.clear();
  next_completion_ = nullptr;
}

// ---- walks without exchange ----------------------------------------------------------------

std::vector<Parameter*> DeviceOperations::walk_parameters(ObjectWithParameters& element) {
  DryRun run;
  element.ReadAll(run);
  return std::move(run.visited);
}

int DeviceOperations::count_writes(ObjectWithParameters& element, int mode) {
  DryRun run;
  element.WriteByMode(run, mode);
  return static_cast<int>(run.visited.size());
}

int DeviceOperations::count_visits(ObjectWithParameters& element, int mode) {
  DryRun run;
  element.WriteByMode(run, mode);
  return run.done;
}

// ---- the worker ------------------------------------------------------------------------------

void DeviceOperations::start_worker(std::shared_ptr<DeviceOperations> self) {
  if (worker_.joinable() || self.get() != this) return;
  worker_.start([self] { self->worker_loop(); });
}

bool DeviceOperations::shutdown(int timeout_ms) {
  link_exit_event().set();
  stop_.set();
  return worker_.join(timeout_ms);
}

void DeviceOperations::keep_while_worker_runs(std::shared_ptr<void> object) {
  std::lock_guard lock(mutex_);
  kept_.push_back(std::move(object));
}

void DeviceOperations::set_completion(std::function<void()> completion) {
  std::lock_guard lock(mutex_);
  next_completion_ = std::move(completion);
}

bool DeviceOperations::wait_idle(int timeout_ms) {
  const bool idle = timeout_ms < 0 ? idle_.wait(-1) : idle_.wait(timeout_ms, app_.clock());
  // The worker marks itself idle under this lock: taking it orders everything the worker did
  // before that mark ahead of what the caller does next.
  if (idle) std::lock_guard lock(idle_mutex_);
  return idle;
}

void DeviceOperations::schedule(platform::Event& event) {
  std::lock_guard lock(idle_mutex_);
  idle_.reset();
  event.set();
}

bool DeviceOperations::any_operation_pending() const {
  for (const platform::Event* e : {&read_, &write_all_, &write_changed_, &compare_, &initialise_,
                                   &eeprom_read_, &group_, &eeprom_write_}) {
    if (e->is_set()) return true;
  }
  return false;
}

void DeviceOperations::worker_loop() {
  bool port_opened_here = false;
  platform::Event* events[] = {&read_,       &write_all_,   &write_changed_, &compare_,
                               &initialise_, &eeprom_read_, &group_,         &link_exit_event(),
                               &stop_,       &eeprom_write_};
  for (;;) {
    const int index = platform::wait_any(events, -1);
    if (index < 0) continue;
    const Wake wake = static_cast<Wake>(index);
    if (wake == Wake::Exit) break;
    if (wake == Wake::Stop) {
      stop_.reset();
      continue;
    }
    if (!app_.options.no_port() && !link_port_open()) {
      if (link_open_port()) {
        port_opened_here = true;
      } else {
        // The operation runs to its end without traffic: every parameter reports the stop.
        stop_.set();
      }
    }
    const int code = perform(wake);
    // A port the worker opened serves one operation only; other programs may want the line.
    // It is closed before anyone is told that the operation has ended.
    if (port_opened_here) {
      link_close_port();
      port_opened_here = false;
    }
    const bool chained = group_.is_set();  // a forced re-read follows as its own event
    if (!chained) {
      std::function<void()> completion;
      {
        std::lock_guard lock(mutex_);
        completion.swap(completion_);
      }
      if (completion) completion();
    }
    if (OperationListener* l = listener_.load()) {
      l->operation_finished(code);
      const StartOptions& o = app_.options;
      if (!chained && o.any_switch()) {
        if (wake == Wake::Read && (o.switch_flags.load() & StartOptions::kRead)) {
          l->save_after_read();
        }
        l->automation_done();
      }
    }
    std::lock_guard lock(idle_mutex_);
    if (!any_operation_pending()) idle_.set();
  }
  // What was kept for a worker left running goes with it, here on its own thread.
  std::vector<std::shared_ptr<void>> kept;
  std::lock_guard lock(mutex_);
  kept.swap(kept_);
}

int DeviceOperations::perform(Wake wake) {
  const int code = current_code_.load();
  switch (wake) {
    case Wake::Read:
      perform_read();
      break;
    case Wake::WriteAll:
      perform_write(true);
      break;
    case Wake::WriteChanged:
      perform_write(false);
      break;
    case Wake::Compare:
      perform_compare();
      break;
    case Wake::Initialise:
      perform_initialise();
      break;
    case Wake::EepromRead:
      perform_eeprom_read();
      break;
    case Wake::EepromWrite:
      perform_eeprom_write();
      break;
    case Wake::Group:
      perform_group();
      break;
    case Wake::Exit:
    case Wake::Stop:
      break;
  }
  return code;
}

void DeviceOperations::perform_read() {
  if (Parameter* target = single_target_.exchange(nullptr)) {
    if (ReadParameter(*target, true) != 0) set_errors(1);
    publish_counters();
  } else if (ObjectWithParameters* element = current_element_.load()) {
    element->ReadAll(*this);
  }
  FinishOperation(true);
}

void DeviceOperations::perform_write(bool all) {
  if (!all && immediate_write_pending_.exchange(false)) {
    if (ObjectWithParameters* root = tree_root_.load()) {
      current_element_.store(root);
      current_code_.store(operation_code::kWriteChanged);
      set_total(count_writes(*root, kWriteChanged));
      done_.store(0);
      errors_.store(0);
    }
  }
  ObjectWithParameters* element = current_element_.load();
  int mode = kWriteChanged;
  if (all)
    mode = element != nullptr && element == tree_root_.load() ? kWriteAllFromRoot : kWriteAll;
  if (Parameter* target = single_target_.exchange(nullptr)) {
    if (WriteParameter(*target, mode) != 0) set_errors(1);
    publish_counters();
  } else if (element != nullptr) {
    element->WriteByMode(*this, mode);
  }
  FinishOperation(true);
}

void DeviceOperations::perform_compare() {
  if (Parameter* target = single_target_.exchange(nullptr)) {
    if (CompareParameter(*target) != 0) set_errors(1);
    publish_counters();
  } else if (ObjectWithParameters* element = current_element_.load()) {
    element->CompareAll(*this);
  }
  FinishOperation(true);
}

void DeviceOperations::perform_group() {
  std::vector<Parameter*> list = group_list();
  const int kind = group_kind_.load();
  for (Parameter* p : list) {
    if (stop_requested()) break;
    switch (kind) {
      case group_kind::kRead:
        ReadParameter(*p, false);
        break;
      case group_kind::kWrite:
        WriteParameter(*p, kWriteAll);
        add_done(1);
        break;
      case group_kind::kCompare:
        CompareParameter(*p);
        add_done(1);
        break;
      default:
        break;
    }
  }
  group_kind_.store(group_kind::kNone);
  // Only a group comparison reports differences; the text of an earlier comparison is not
  // shown again after a group read or write.
  std::string differences = kind == group_kind::kCompare ? difference_text() : std::string();
  if (!differences.empty()) {
    app_.prompter().show(
        platform::format(KBA604_TR_NOOP("Messages", "Найдены следующие различия:\n\n%s"),
                         differences.c_str()),
        "Сообщение", PromptIcon::Information);
  }
  FinishOperation(true);
}

// ---- starting operations --------------------------------------------------------------------

bool DeviceOperations::wait_for_previous_window() {
  for (int step = 0; step < 10 && (window_open_.load() || busy()); ++step) {
    platform::wait_any({&window_closed_}, 200, app_.clock());
  }
  return !window_open_.load() && !busy();
}

bool DeviceOperations::open_window(int code, platform::Event& event) {
  log_length_.store(0);
  stop_.reset();
  operation_stopped_.store(false);
  {
    std::lock_guard lock(mutex_);
    reread_.clear();
  }
  current_code_.store(code);
  {
    std::lock_guard lock(mutex_);
    completion_ = std::move(next_completion_);
    next_completion_ = nullptr;
  }
  if (code >= operation_code::kGroupRead && code <= operation_code::kGroupCompare) {
    group_kind_.store(code - operation_code::kGroupRead + group_kind::kRead);
  }
  if (OperationView* view = view_.load()) {
    button_.store(OperationButton::Stop);
    start_ms_.store(app_.clock().now_ms());
    window_closed_.reset();
    window_open_.store(true);
    view->open(code, total_.load(), this);
    view->set_auto_close(true);
    publish_counters();
  }
  schedule(event);
  return true;
}

void DeviceOperations::close_window() {
  if (!window_open_.exchange(false)) return;
  if (OperationView* view = view_.load()) view->close();
  window_closed_.set();
}

bool DeviceOperations::StartRead(ObjectWithParameters& element) {
  if (!wait_for_previous_window()) return false;
  current_element_.store(&element);
  set_total(single_target() != nullptr ? 1 : static_cast<int>(walk_parameters(element).size()));
  done_.store(0);
  errors_.store(0);
  return open_window(operation_code::kRead, read_);
}

bool DeviceOperations::StartWriteAll(ObjectWithParameters& element) {
  if (!wait_for_previous_window()) return false;
  current_element_.store(&element);
  const int mode = &element == tree_root() ? kWriteAllFromRoot : kWriteAll;
  const bool single = single_target() != nullptr;
  set_total(single ? 1 : count_visits(element, mode));
  done_.store(single ? 1 : 0);
  errors_.store(0);
  return open_window(operation_code::kWriteAll, write_all_);
}

bool DeviceOperations::StartWriteChanged(ObjectWithParameters& element) {
  if (!wait_for_previous_window()) return false;
  current_element_.store(&element);
  const bool single = single_target() != nullptr;
  set_total(single ? 1 : count_writes(element, kWriteChanged));
  done_.store(single ? 1 : 0);
  errors_.store(0);
  return open_window(operation_code::kWriteChanged, write_changed_);
}

bool DeviceOperations::StartWriteErroneous(ObjectWithParameters& element) {
  std::vector<Parameter*> list;
  std::set<const Parameter*> seen;
  for (Parameter* p : walk_parameters(element)) {
    // Only what a write of the element would write: a read-only parameter whose read failed
    // cannot be written, and some of them are commands ("r-s" starts or stops regulation).
    if (p->has_problem_note() && will_write(*p, kWriteAll) && seen.insert(p).second) {
      list.push_back(p);
    }
  }
  if (list.empty()) {
    app_.prompter().show(KBA604_TR_NOOP("Messages", "Ошибочных параметров не обнаружено!"), "",
                         PromptIcon::Warning);
    return false;
  }
  current_element_.store(&element);
  return StartGroup(group_kind::kWrite, std::move(list));
}

bool DeviceOperations::StartCompare(ObjectWithParameters& element) {
  if (!wait_for_previous_window()) return false;
  current_element_.store(&element);
  const bool single = single_target() != nullptr;
  set_total(single ? 1 : static_cast<int>(walk_parameters(element).size()));
  done_.store(single ? 1 : 0);
  errors_.store(0);
  difference_count_.store(0);
  skipped_count_.store(0);
  {
    std::lock_guard lock(mutex_);
    difference_text_.clear();
  }
  return open_window(operation_code::kCompare, compare_);
}

bool DeviceOperations::StartGroup(int kind, std::vector<Parameter*> parameters) {
  if (kind < group_kind::kRead || kind > group_kind::kCompare || parameters.empty()) return false;
  if (!wait_for_previous_window()) return false;
  set_total(static_cast<int>(parameters.size()));
  done_.store(0);
  errors_.store(0);
  if (kind == group_kind::kCompare) {
    difference_count_.store(0);
    skipped_count_.store(0);
  }
  {
    std::lock_guard lock(mutex_);
    group_list_ = std::move(parameters);
    if (kind == group_kind::kCompare) difference_text_.clear();
  }
  return open_window(operation_code::kGroupRead + kind - group_kind::kRead, group_);
}

void DeviceOperations::immediate_write(const Parameter& changed) {
  if (!app_.modes.immediate_write.load() || !changed.any_change()) return;
  ObjectWithParameters* root = tree_root();
  if (root == nullptr) return;
  // The worker takes the tree and the counters when it comes to the write, so that a running
  // operation keeps its element and counters.
  immediate_write_pending_.store(true);
  schedule(write_changed_);
}

void DeviceOperations::ReportCompare() {
  Prompter& prompter = app_.prompter();
  const int skipped = skipped_count_.load();
  if (skipped > 0) {
    prompter.show(
        platform::format(
            KBA604_TR_NOOP("Messages", "Пропущено параметров из-за отсутствия данных: %i"),
            skipped),
        "Результат сравнения", PromptIcon::Information);
  }
  const int count = difference_count_.load();
  std::string text;
  if (count > 0) {
    text = platform::format(
               count > 10 ? KBA604_TR_NOOP("Messages",
                                           "Обнаружено %i отличий (показанны только первые 10):")
                          : KBA604_TR_NOOP("Messages", "Обнаружено %i отличий:"),
               count) +
           "\n" + difference_text();
  } else {
    text = KBA604_TR_NOOP("Messages", "Отличий не обнаружено");
  }
  prompter.show(text, "Результат сравнения", PromptIcon::Information);
}

void DeviceOperations::FinishOperation(bool allow_reread) {
  if (stop_requested()) operation_stopped_.store(true);
  if (allow_reread) {
    std::vector<Parameter*> list;
    {
      std::lock_guard lock(mutex_);
      if (!reread_.empty()) {
        ObjectWithParameters* root = tree_root_.load();
        if (root == nullptr) root = current_element_.load();
        if (root != nullptr) {
          std::set<const Parameter*> seen;
          for (Parameter* p : walk_parameters(*root)) {
            if (reread_.names(*p) && seen.insert(p).second) list.push_back(p);
          }
        }
        reread_.clear();
      }
      if (!list.empty()) group_list_ = list;
    }
    if (!list.empty()) {
      group_kind_.store(group_kind::kRead);
      total_.store(static_cast<int>(list.size()));
      done_.store(0);
      errors_.store(0);
      if (window_open_.load()) {
        if (OperationView* view = view_.load()) view->set_range(total_.load());
      }
      publish_counters();
      AddLogLine("Принудительное перечитывание некоторых параметров:", false, log_colour::kNotice,
                 true);
      schedule(group_);
      return;
    }
  }
  AddLogLine("");
  // The result stays in view for a moment; without a window there is nothing to look at.
  if (window_open_.load()) {
    platform::wait_any({&stop_, &link_exit_event()}, 2000, app_.clock());
    button_.store(OperationButton::Close);
    if (OperationView* view = view_.load()) view->set_button(OperationButton::Close);
    OperationView* view = view_.load();
    const bool close_switch = app_.options.switch_flags.load() & StartOptions::kClose;
    if (close_switch || (view != nullptr && view->auto_close())) {
      close_window();
    } else {
      AddLogLine("Для закрытия окна нажмите кнопку \"Закрыть\".", true, log_colour::kHint);
    }
  }
  stop_.reset();
}

// ---- the person's controls -------------------------------------------------------------------

void DeviceOperations::button_pressed() {
  stop_.set();
  if (button_.load() == OperationButton::Stop) {
    button_.store(OperationButton::Close);
    if (OperationView* view = view_.load()) view->set_button(OperationButton::Close);
    return;
  }
  close_window();
  app_.exit_flags.set_to(ExitFlags::kCancelled);
}

void DeviceOperations::auto_close_toggled(bool ticked) {
  if (app_.options.any_switch()) return;
  const OperationButton button = ticked ? OperationButton::Close : OperationButton::Stop;
  button_.store(button);
  if (OperationView* view = view_.load()) view->set_button(button);
}

// ---- state -----------------------------------------------------------------------------------

std::vector<Parameter*> DeviceOperations::group_list() const {
  std::lock_guard lock(mutex_);
  return group_list_;
}

}  // namespace kba604
