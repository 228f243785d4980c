// The checks a description must pass before it ships with the program. The build runs them on
// the data set (kba604-desc compile --check) and stops with their messages when one fails.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "desc/description_source.h"

namespace kba604::description {

// The short names the program gives a meaning of its own; the shipped description has each.
const std::vector<std::string_view>& special_parameter_names();

// Every fault of the data set, one line each; empty when it passes.
std::vector<std::string> check_data_set(const DescriptionRecords& records);

}  // namespace kba604::description
