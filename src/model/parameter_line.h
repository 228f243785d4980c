// ParameterLine: one row of the parameter-list export. Parameters of one branch that differ
// only by index are merged into one line spanning their index range.
#pragma once

#include <cstdint>
#include <string>

#include "model/parameter.h"

namespace kba604 {

struct ParameterLine {
  static constexpr std::int32_t kInitialIndexStep = 9999999;

  ParameterLine() = default;
  // A line for one parameter listed under the branch path caption.
  ParameterLine(const Parameter& parameter, std::string caption)
      : caption(std::move(caption)),
        short_name(parameter.short_name),
        title(parameter.shown_title()),
        format(parameter.format),
        attribute_multiplicity(parameter.attribute_multiplicity),
        first_index(parameter.linear_index),
        last_index(parameter.linear_index),
        decimals(parameter.decimals),
        maximum(parameter.maximum),
        minimum(parameter.minimum) {}

  // The path of the branch: branch names joined by " \ ".
  std::string caption;
  std::string short_name;
  // The display title, or the title when none is set.
  std::string title;
  std::string format;
  std::int32_t attribute_multiplicity = 0;
  std::int32_t first_index = 0;
  // The smallest distance between merged indexes; kInitialIndexStep while there is one index.
  std::int32_t index_step = kInitialIndexStep;
  std::int32_t last_index = 0;
  std::int32_t decimals = 0;
  double maximum = 0.0;
  double minimum = 0.0;
};

}  // namespace kba604
