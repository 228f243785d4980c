#include "description/desc_branch.h"

#include <algorithm>
#include <cstdlib>

#include "model/texts.h"
#include "model/value_format.h"
#include "platform/text.h"

namespace kba604 {
namespace {

std::string blanks_for_underscores(std::string text) {
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

constexpr std::string_view kInspectorDelays = "Времена задержек инспектора";

}  // namespace

// ---- connector -------------------------------------------------------------------------------

std::string Connector::text_for(std::int64_t number) const {
  if (number == std::int64_t{lower} - 2) return "противоречия!";
  if (number < lower || number > upper) return std::string(kNoData);
  std::string value = std::to_string(number - lower + 1);
  std::string text;
  if (templ.find('#') == std::string::npos) {
    text = templ + value;
  } else {
    for (char c : templ) {
      if (c == '#') {
        text += value;
      } else {
        text += c;
      }
    }
  }
  return blanks_for_underscores(std::move(text));
}

// ---- branch ----------------------------------------------------------------------------------

DescBranch::DescBranch(std::string name, std::int32_t construction_value, std::int32_t value0,
                       std::int32_t image, std::int32_t selected_image)
    : InvisibleElement(std::move(name)),
      construction_value_(construction_value),
      values_{value0, image, selected_image} {}

void DescBranch::set_record_values(std::int32_t v0, std::int32_t image,
                                   std::int32_t selected_image) {
  values_[0] = v0;
  values_[1] = image;
  values_[2] = selected_image;
}

DescBranch& DescBranch::add_child(std::unique_ptr<DescBranch> child) {
  children_.push_back(std::move(child));
  return *children_.back();
}

Connector& DescBranch::add_connector(std::unique_ptr<Connector> connector) {
  connectors_.push_back(std::move(connector));
  return *connectors_.back();
}

void DescBranch::exclude_from_writing() {
  excluded_ = true;
  for (auto& child : children_) child->exclude_from_writing();
}

void DescBranch::DeleteParameters() {}

WalkCounts DescBranch::CompareAll(ParameterOperations& ops) {
  WalkCounts counts;
  if (ops.stop_requested()) return counts;
  ops.log_branch("Сравниваем ветвь '" + effective_name() + "'");
  counts += ObjectWithParameters::CompareAll(ops);
  for (auto& child : children_) counts += child->CompareAll(ops);
  return counts;
}

WalkCounts DescBranch::ReadAll(ParameterOperations& ops) {
  WalkCounts counts;
  if (ops.stop_requested()) return counts;
  ops.log_branch("Читаем ветвь '" + effective_name() + "'");
  counts += ObjectWithParameters::ReadAll(ops);
  for (auto& child : children_) counts += child->ReadAll(ops);
  return counts;
}

WalkCounts DescBranch::WriteByMode(ParameterOperations& ops, int mode) {
  WalkCounts counts;
  if (excluded_ || ops.stop_requested()) return counts;
  if (mode == kWriteAll || mode == kWriteAllFromRoot || writes_anything(mode)) {
    ops.log_branch("Пишем ветвь '" + effective_name() + "'");
  }
  counts += ObjectWithParameters::WriteByMode(ops, mode);
  for (auto& child : children_) counts += child->WriteByMode(ops, mode);
  return counts;
}

void DescBranch::ResetValues() {
  ObjectWithParameters::ResetValues();
  for (auto& child : children_) child->ResetValues();
}

void DescBranch::Serialize(Archive& ar) {
  InvisibleElement::Serialize(ar);
  if (ar.is_storing()) {
    ar.writer().write_i32(construction_value_);
    ar.writer().write_i32(values_[0]);
  } else {
    construction_value_ = ar.reader().read_i32();
    values_[0] = ar.reader().read_i32();
  }
  for (auto& child : children_) child->Serialize(ar);
}

bool DescBranch::collapses_to_parameter() const {
  return children_.empty() && connectors_.empty() && parameters_.size() == 1;
}

void DescBranch::fill_view(TreeSink& sink, ViewRow parent) {
  InsertIntoTree(sink, parent, -1);
  for (auto& child : children_) {
    if (!child->collapses_to_parameter()) {
      child->fill_view(sink, node_row_);
      continue;
    }
    Parameter& only = *child->parameters_.front();
    only.display_title = child->effective_name();
    only.view_row = sink.insert_parameter(node_row_, only);
  }
  insert_connectors(sink);
}

void DescBranch::insert_connectors(TreeSink& sink) {
  if (connectors_inserted_ || inserted_rows_ < static_cast<int>(parameters_.size())) return;
  connectors_inserted_ = true;
  for (auto& connector : connectors_) {
    std::string text = connector_text(*connector);
    if (text == kNoData) text = kNoDataPlaceholder;
    sink.insert_node(node_row_, text, kConnectorImage, kConnectorImage, nullptr);
  }
}

std::int64_t DescBranch::connector_number_in(const Connector& c) const {
  const std::int64_t lower = c.lower, upper = c.upper;
  std::int64_t result = lower - 1;
  auto combine = [&](std::int64_t number) {
    if (number < lower || number > upper) return true;
    if (result == lower - 1) {
      result = number;
      return true;
    }
    if (number != result) {
      result = lower - 2;
      return false;
    }
    return true;
  };
  for (const Parameter* p : parameters_) {
    if (!platform::iequals(p->short_name, c.key) || p->value == kNoData) continue;
    std::int64_t number;
    std::string first_item = p->format.substr(0, p->format.find(':'));
    if (platform::iequals(first_item, "DEC_dot")) {
      number = std::strtoll(p->value.c_str(), nullptr, 10);
    } else {
      int position = find_item(parse_format(p->format).items, p->value);
      if (position < 0) continue;
      number = position;
    }
    if (!combine(number)) return result;
  }
  for (const auto& child : children_) {
    if (!combine(child->connector_number_in(c))) return result;
  }
  return result;
}

std::int64_t DescBranch::connector_number(const Connector& connector) const {
  return connector_number_in(connector);
}

std::string DescBranch::connector_text(const Connector& connector) const {
  return connector.text_for(connector_number(connector));
}

bool DescBranch::connection_test(const Elements::InvisibleElement& other) const {
  std::string name = other.effective_name();
  return std::any_of(connectors_.begin(), connectors_.end(), [&](const auto& c) {
    return name.find(connector_text(*c)) != std::string::npos;
  });
}

DescBranch* DescBranch::find_branch_listing(const Parameter& parameter) {
  for (const Parameter* p : parameters_) {
    if (p == &parameter) return this;
  }
  for (auto& child : children_) {
    if (DescBranch* found = child->find_branch_listing(parameter)) return found;
  }
  return nullptr;
}

void DescBranch::collect_parameter_lines(std::vector<ParameterLine>& lines,
                                         const std::string& caption, Prompter* prompter) {
  bool listed =
      CheckLinearIndex(prompter) != -1 || !platform::iequals(effective_name(), kInspectorDelays);
  if (listed) {
    for (const Parameter* p : parameters_) {
      auto row = std::find_if(lines.begin(), lines.end(), [&](const ParameterLine& line) {
        if (!platform::iequals(line.short_name, p->short_name)) return false;
        return !(platform::iequals(line.short_name, "A.i.j") && p->linear_index == 1);
      });
      if (row == lines.end()) {
        lines.emplace_back(*p, caption);
        continue;
      }
      std::int64_t index = p->linear_index;
      std::int64_t old_first = row->first_index, old_last = row->last_index;
      if (index < old_first) row->first_index = p->linear_index;
      if (index > old_last) row->last_index = p->linear_index;
      for (std::int64_t distance : {std::abs(index - old_first), std::abs(index - old_last)}) {
        if (distance != 0 && distance < row->index_step) {
          row->index_step = static_cast<std::int32_t>(distance);
        }
      }
    }
  }
  for (auto& child : children_) {
    if (child->collapses_to_parameter()) {
      child->collect_parameter_lines(lines, caption, prompter);
    } else {
      std::string path =
          caption.empty() ? child->effective_name() : caption + " \\ " + child->effective_name();
      child->collect_parameter_lines(lines, path, prompter);
    }
  }
}

}  // namespace kba604
