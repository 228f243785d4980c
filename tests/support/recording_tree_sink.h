// A tree view for tests: records every row inserted, with its parent, text and images, and
// hands out increasing row handles.
#pragma once

#include <string>
#include <vector>

#include "model/object_with_parameters.h"

namespace kba604::test {

struct RecordedRow {
  ViewRow row = 0;
  ViewRow parent = 0;
  std::string text;        // node text, or the parameter's shown title
  std::string short_name;  // empty for a node
  int image = -1;
  int selected_image = -1;
  ObjectWithParameters* element = nullptr;
  Parameter* parameter = nullptr;
};

class RecordingTreeSink final : public TreeSink {
 public:
  ViewRow insert_parameter(ViewRow parent, Parameter& parameter) override {
    rows.push_back({++last_, parent, parameter.shown_title(), parameter.short_name, -1, -1, nullptr,
                    &parameter});
    return last_;
  }
  ViewRow insert_node(ViewRow parent, const std::string& text, int image, int selected_image,
                      ObjectWithParameters* element) override {
    rows.push_back({++last_, parent, text, {}, image, selected_image, element, nullptr});
    return last_;
  }

  // The row with that handle, or none.
  const RecordedRow* find(ViewRow row) const {
    for (const auto& r : rows) {
      if (r.row == row) return &r;
    }
    return nullptr;
  }
  // The first row with that text, or none.
  const RecordedRow* find_text(const std::string& text) const {
    for (const auto& r : rows) {
      if (r.text == text) return &r;
    }
    return nullptr;
  }

  std::vector<RecordedRow> rows;

 private:
  ViewRow last_ = 100;
};

}  // namespace kba604::test
