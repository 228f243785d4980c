// The record layouts of the description files. The parameter table "parameters.zip" is a run
// of 2343-byte records, the trees "kba604.tree*.zip" are runs of 512-byte records; numbers are
// little-endian, records packed, texts Windows-1251 ending at the first NUL inside their field
// (a field filled to its end has no NUL). The loader, the description compiler and the test
// fixtures share these layouts, so the bytes are written and read in one place.
//
// Texts in the structures below are UTF-8; the conversion to and from Windows-1251 happens
// here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace kba604::description {

inline constexpr std::size_t kParameterRecordSize = 2343;
inline constexpr std::size_t kTreeRecordSize = 512;

// Real trees are a handful of levels deep. A tree whose branches nest more levels below its
// root than this is damaged: the program refuses it, and the description compiler neither
// writes nor reads one, so that no tool walks a nesting deeper than its stack allows.
inline constexpr int kMaximumTreeDepth = 256;

// Field widths, in Windows-1251 bytes.
inline constexpr std::size_t kNameField = 9;
inline constexpr std::size_t kTitleField = 256;
inline constexpr std::size_t kFormatField = 1024;
inline constexpr std::size_t kValueField = 256;
inline constexpr std::size_t kReferenceField = 256;
inline constexpr std::size_t kNoteField = 512;
inline constexpr std::size_t kBranchNameField = 483;
inline constexpr std::size_t kConnectorNameField = 238;
inline constexpr std::size_t kConnectorTemplateField = 256;
inline constexpr std::size_t kConnectorKeyField = 9;
inline constexpr std::size_t kReferenceTitleField = 494;

// The first byte of a tree record.
inline constexpr std::uint8_t kBranchKind = 1;
inline constexpr std::uint8_t kConnectorKind = 2;

struct ParameterRecord {
  std::string name;
  std::string title;
  std::int32_t index_value = -1;
  std::uint8_t index_kind = 0;
  std::uint8_t read_only = 0;
  std::uint8_t flag = 0;
  std::int32_t role = 0;
  std::uint8_t changed = 0;
  std::int32_t multiplicity = 1;
  std::uint8_t editable = 1;
  std::uint8_t owner = 0;
  std::string format;
  std::int32_t decimals = 0;
  float minimum = 0.0f;
  float maximum = 0.0f;
  std::string value;
  std::string reference;
  std::string note;

  bool operator==(const ParameterRecord&) const = default;
};

struct BranchRecord {
  std::int32_t counts[3] = {0, 0, 0};
  std::int32_t values[3] = {0, 0, 0};
  std::int32_t role = 0;
  std::string name;

  std::int64_t child_count() const {
    return std::int64_t{counts[0]} + std::int64_t{counts[1]} + std::int64_t{counts[2]};
  }
  bool operator==(const BranchRecord&) const = default;
};

struct ConnectorRecord {
  std::string name;
  std::string templ;
  std::string key;
  std::int32_t lower = 0;
  std::int32_t upper = 0;

  bool operator==(const ConnectorRecord&) const = default;
};

struct ReferenceRecord {
  std::uint8_t kind = 0;  // anything but kBranchKind and kConnectorKind
  std::int32_t number = 0;
  float minimum = 0.0f;
  float maximum = 0.0f;
  std::uint8_t read_only = 0;
  std::int32_t sub_index = 0;
  std::string title;

  bool operator==(const ReferenceRecord&) const = default;
};

using TreeRecord = std::variant<BranchRecord, ConnectorRecord, ReferenceRecord>;

// Decoding never reads outside the record: `data` must hold the record's full size.
ParameterRecord decode_parameter_record(const std::uint8_t* data);
TreeRecord decode_tree_record(const std::uint8_t* data);

// Encoding fills the fields and zero-fills every field after its text. A text whose
// Windows-1251 form does not fit its field makes the encoder fail; `error` then names the
// field ("name", "title", ...) and the record is left unspecified.
bool encode_parameter_record(const ParameterRecord& record, std::uint8_t* out,
                             std::string* error = nullptr);
bool encode_tree_record(const TreeRecord& record, std::uint8_t* out, std::string* error = nullptr);

// A text field: the Windows-1251 bytes up to the first NUL or the end of the field, as UTF-8.
std::string read_text_field(const std::uint8_t* field, std::size_t width);
// Writes the Windows-1251 form of `text` and zero-fills the rest; false when it does not fit.
bool write_text_field(std::string_view text, std::uint8_t* field, std::size_t width);

std::int32_t read_i32(const std::uint8_t* p);
float read_f32(const std::uint8_t* p);
void write_i32(std::int32_t v, std::uint8_t* p);
void write_f32(float v, std::uint8_t* p);

}  // namespace kba604::description
