#include "model/object_with_parameters.h"

#include <algorithm>

#include "app/translatable.h"
#include "platform/text.h"

namespace kba604 {

bool will_write(const Parameter& parameter, int mode) {
  bool has_reference = !parameter.reference_value.empty();
  if (!parameter.writable()) {
    if (mode == kWriteInitialise) return has_reference;
    if (!parameter.check_only) return false;
  }
  switch (mode) {
    case kWriteAll:
    case kWriteAllFromRoot:
      return true;
    case kWriteChanged:
      return parameter.any_change();
    case kWriteInitialise:
      return has_reference;
    default:
      return false;
  }
}

ObjectWithParameters::~ObjectWithParameters() = default;

Parameter& ObjectWithParameters::add_owned(std::unique_ptr<Parameter> parameter) {
  Parameter& p = *parameter;
  owned_.push_back(std::move(parameter));
  parameters_.push_back(&p);
  return p;
}

void ObjectWithParameters::Serialize(Archive& ar) {
  for (Parameter* p : parameters_) p->Serialize(ar);
}

void ObjectWithParameters::DeleteParameters() {
  parameters_.clear();
  inserted_rows_ = 0;
  owned_.clear();
}

std::string ObjectWithParameters::GetValueByName(std::string_view name) const {
  Parameter* p = FindByName(name);
  if (p == nullptr) return std::string();
  ValueReadLock lock(*p);
  return p->value;
}

Parameter* ObjectWithParameters::FindByName(std::string_view name) const {
  for (Parameter* p : parameters_) {
    if (platform::iequals(p->short_name, name)) return p;
  }
  return nullptr;
}

int ObjectWithParameters::SetValueByName(std::string_view name, std::string_view value,
                                         bool mark_change) {
  Parameter* p = FindByName(name);
  if (p == nullptr) return 0;
  ValueWriteLock lock(*p);
  if (mark_change && !platform::iequals(p->value, value)) p->changed = true;
  p->value = std::string(value);
  return 1;
}

WalkCounts ObjectWithParameters::CompareAll(ParameterOperations& ops) {
  WalkCounts counts;
  if (ops.stop_requested()) return counts;
  for (Parameter* p : parameters_) {
    int result = ops.CompareParameter(*p);
    ops.add_done(1);
    ++counts.done;
    if (result != 0) ++counts.failed;
    if (ops.stop_requested()) break;
  }
  return counts;
}

WalkCounts ObjectWithParameters::ReadAll(ParameterOperations& ops) {
  WalkCounts counts;
  if (ops.stop_requested()) return counts;
  for (Parameter* p : parameters_) {
    int result = ops.ReadParameter(*p, true);
    ++counts.done;
    if (result != 0) ++counts.failed;
    if (ops.stop_requested()) break;
  }
  return counts;
}

WalkCounts ObjectWithParameters::WriteByMode(ParameterOperations& ops, int mode) {
  WalkCounts counts;
  if (ops.stop_requested()) return counts;
  bool count_every_visit = mode == kWriteAll || mode == kWriteAllFromRoot;
  for (Parameter* p : parameters_) {
    if (will_write(*p, mode)) {
      int result = ops.WriteParameter(*p, mode);
      ops.add_done(1);
      ++counts.done;
      if (result != 0) ++counts.failed;
      if (ops.stop_requested()) break;
    } else if (count_every_visit) {
      ops.add_done(1);
    }
  }
  return counts;
}

bool ObjectWithParameters::writes_anything(int mode) const {
  return std::any_of(parameters_.begin(), parameters_.end(),
                     [mode](const Parameter* p) { return will_write(*p, mode); });
}

int ObjectWithParameters::InsertIntoTree(TreeSink& sink, ViewRow parent, int count) {
  int total = static_cast<int>(parameters_.size());
  int n = count < 0 ? total : std::min(count, total);
  for (int i = 0; i < n; ++i) {
    Parameter* p = parameters_[static_cast<std::size_t>(i)];
    p->view_row = sink.insert_parameter(parent, *p);
  }
  inserted_rows_ = n;
  return n;
}

int ObjectWithParameters::insert_remaining_rows(TreeSink& sink, ViewRow parent) {
  int total = static_cast<int>(parameters_.size());
  int added = 0;
  for (int i = inserted_rows_; i < total; ++i) {
    Parameter* p = parameters_[static_cast<std::size_t>(i)];
    p->view_row = sink.insert_parameter(parent, *p);
    ++added;
  }
  inserted_rows_ = total;
  return added;
}

int ObjectWithParameters::CheckLinearIndex(Prompter* prompter) {
  for (Parameter* p : parameters_) {
    if (!p->indexed) continue;
    if (linear_index_ == -1) {
      linear_index_ = p->linear_index;
      return linear_index_;
    }
    if (p->linear_index != linear_index_ && prompter != nullptr) {
      prompter->show(
          platform::format(
              KBA604_TR_NOOP("Messages",
                             "Параметер '%s' (%s) имеет подозрительный линейный индекс."),
              p->short_name.c_str(), p->shown_title().c_str()),
          "Предупреждение", PromptIcon::Warning);
    }
  }
  return linear_index_;
}

void ObjectWithParameters::SetLinearIndex(int index) {
  for (Parameter* p : parameters_) {
    if (p->indexed) p->linear_index = index;
  }
  linear_index_ = index;
}

int ObjectWithParameters::ChangeState() const {
  bool any = std::any_of(parameters_.begin(), parameters_.end(),
                         [](const Parameter* p) { return p->any_change(); });
  return any ? 2 : 0;
}

void ObjectWithParameters::ResetValues() {
  for (Parameter* p : parameters_) {
    p->value = std::string(kNoData);
    p->note.clear();
    p->editable = true;
    p->factory = false;
    p->changed = false;
    p->editability_changed = false;
    p->owner_changed = false;
  }
}

bool ObjectWithParameters::HasNotes(bool include_differences) const {
  return std::any_of(parameters_.begin(), parameters_.end(), [&](const Parameter* p) {
    if (!p->has_problem_note()) return false;
    return include_differences || !p->has_difference_note();
  });
}

bool ObjectWithParameters::HasChanges(bool all_flags) const {
  return std::any_of(parameters_.begin(), parameters_.end(), [&](const Parameter* p) {
    return p->changed || (all_flags && (p->editability_changed || p->owner_changed));
  });
}

bool ObjectWithParameters::HasNoData() const {
  return std::any_of(parameters_.begin(), parameters_.end(),
                     [](const Parameter* p) { return p->has_no_data(); });
}

}  // namespace kba604
