// The readable source of a description (JSON, see data/description/README.md) and its
// translation to and from the records of the binary description files. The description
// compiler (kba604-desc) and the build's checks of the shipped data set run on this; the
// program itself only loads the binary files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "description/description_records.h"
#include "description/record_files.h"

namespace kba604::description {
// Key order of the source files is kept as written.
using SourceJson = nlohmann::ordered_json;
}  // namespace kba604::description

namespace kba604::description {

// The identifier by which a tree of the source refers to a parameter record: its short name,
// ":" and the linear index when it is indexed, "@" and the address offset when it has one.
std::string derived_record_id(const ParameterRecord& record);

// Expands every {"repeat": {"var": v, "from": a, "to": b[, "step": s]}, "each": x} found in an
// array into the copies of x for v = a..b, with "{v}", "{v+n}", "{v-n}", "{v*m}" and
// "{v*m+n}" in strings replaced by the value (a string that is just one placeholder becomes a
// number). False with a message on a malformed repeat.
bool expand_repeats(SourceJson& node, std::string& error);

// Source to records. `trees` holds the JSON of the three tree files (null for an absent tree,
// which then compiles to an empty file). Every fault is added to `errors` as one line that
// names the source file and the place.
bool compile_description(const SourceJson& parameters,
                         const std::array<SourceJson, kTreeCount>& trees, DescriptionRecords& out,
                         std::vector<std::string>& errors);

// Records to source: the parameter file and the three tree files. Parameter identifiers are
// the derived ones, made unique with an explicit "id" where two records would share one.
// A tree whose records do not form one complete root branch cannot be written: false with the
// reason in `errors`.
bool decompile_description(const DescriptionRecords& records, SourceJson& parameters,
                           std::array<SourceJson, kTreeCount>& trees,
                           std::vector<std::string>& errors);

// JSON text with one record per line: objects and arrays short enough stay on one line.
std::string dump_source(const SourceJson& value);

}  // namespace kba604::description
