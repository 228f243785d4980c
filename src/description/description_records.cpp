#include "description/description_records.h"

#include <cstring>

#include "platform/text.h"

namespace kba604::description {
namespace {

// Offsets inside a parameter record.
constexpr std::size_t kPName = 0;
constexpr std::size_t kPTitle = 9;
constexpr std::size_t kPIndexValue = 265;
constexpr std::size_t kPIndexKind = 269;
constexpr std::size_t kPReadOnly = 270;
constexpr std::size_t kPFlag = 271;
constexpr std::size_t kPRole = 272;
constexpr std::size_t kPChanged = 276;
constexpr std::size_t kPMultiplicity = 277;
constexpr std::size_t kPEditable = 281;
constexpr std::size_t kPOwner = 282;
constexpr std::size_t kPFormat = 283;
constexpr std::size_t kPDecimals = 1307;
constexpr std::size_t kPMinimum = 1311;
constexpr std::size_t kPMaximum = 1315;
constexpr std::size_t kPValue = 1319;
constexpr std::size_t kPReference = 1575;
constexpr std::size_t kPNote = 1831;

// Offsets inside tree records.
constexpr std::size_t kBCounts = 1;
constexpr std::size_t kBValues = 13;
constexpr std::size_t kBRole = 25;
constexpr std::size_t kBName = 29;
constexpr std::size_t kCName = 1;
constexpr std::size_t kCTemplate = 239;
constexpr std::size_t kCKey = 495;
constexpr std::size_t kCLower = 504;
constexpr std::size_t kCUpper = 508;
constexpr std::size_t kRNumber = 1;
constexpr std::size_t kRMinimum = 5;
constexpr std::size_t kRMaximum = 9;
constexpr std::size_t kRReadOnly = 13;
constexpr std::size_t kRSubIndex = 14;
constexpr std::size_t kRTitle = 18;

static_assert(kPNote + kNoteField == kParameterRecordSize);
static_assert(kBName + kBranchNameField == kTreeRecordSize);
static_assert(kCName + kConnectorNameField == kCTemplate);
static_assert(kCTemplate + kConnectorTemplateField == kCKey);
static_assert(kCKey + kConnectorKeyField == kCLower);
static_assert(kRTitle + kReferenceTitleField == kTreeRecordSize);

bool put_text(std::string_view text, std::uint8_t* field, std::size_t width, const char* what,
              std::string* error) {
  std::string bytes = platform::to_cp1251(text);
  const char* fault = nullptr;
  if (platform::from_cp1251(bytes) != text) {
    fault = "holds a character that Windows-1251 lacks";
  } else if (bytes.find('\0') != std::string::npos) {
    fault = "holds a NUL character";
  } else if (bytes.size() > width) {
    fault = "is too long";
  }
  if (fault == nullptr && write_text_field(text, field, width)) return true;
  if (error) {
    *error = platform::format("%s \"%.*s\" %s (%zu bytes, field of %zu)", what,
                              static_cast<int>(text.size()), text.data(),
                              fault ? fault : "cannot be stored", bytes.size(), width);
  }
  return false;
}

}  // namespace

std::int32_t read_i32(const std::uint8_t* p) {
  std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                    (std::uint32_t{p[3]} << 24);
  return static_cast<std::int32_t>(v);
}

float read_f32(const std::uint8_t* p) {
  std::uint32_t bits = static_cast<std::uint32_t>(read_i32(p));
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void write_i32(std::int32_t v, std::uint8_t* p) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

void write_f32(float v, std::uint8_t* p) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  write_i32(static_cast<std::int32_t>(bits), p);
}

std::string read_text_field(const std::uint8_t* field, std::size_t width) {
  std::size_t len = 0;
  while (len < width && field[len] != 0) ++len;
  return platform::from_cp1251(std::string_view(reinterpret_cast<const char*>(field), len));
}

bool write_text_field(std::string_view text, std::uint8_t* field, std::size_t width) {
  std::string bytes = platform::to_cp1251(text);
  // A NUL inside the text would cut it short on reading: such a text cannot be stored.
  if (bytes.size() > width || bytes.find('\0') != std::string::npos) return false;
  std::memcpy(field, bytes.data(), bytes.size());
  std::memset(field + bytes.size(), 0, width - bytes.size());
  return true;
}

ParameterRecord decode_parameter_record(const std::uint8_t* d) {
  ParameterRecord r;
  r.name = read_text_field(d + kPName, kNameField);
  r.title = read_text_field(d + kPTitle, kTitleField);
  r.index_value = read_i32(d + kPIndexValue);
  r.index_kind = d[kPIndexKind];
  r.read_only = d[kPReadOnly];
  r.flag = d[kPFlag];
  r.role = read_i32(d + kPRole);
  r.changed = d[kPChanged];
  r.multiplicity = read_i32(d + kPMultiplicity);
  r.editable = d[kPEditable];
  r.owner = d[kPOwner];
  r.format = read_text_field(d + kPFormat, kFormatField);
  r.decimals = read_i32(d + kPDecimals);
  r.minimum = read_f32(d + kPMinimum);
  r.maximum = read_f32(d + kPMaximum);
  r.value = read_text_field(d + kPValue, kValueField);
  r.reference = read_text_field(d + kPReference, kReferenceField);
  r.note = read_text_field(d + kPNote, kNoteField);
  return r;
}

bool encode_parameter_record(const ParameterRecord& r, std::uint8_t* out, std::string* error) {
  std::memset(out, 0, kParameterRecordSize);
  if (!put_text(r.name, out + kPName, kNameField, "name", error)) return false;
  if (!put_text(r.title, out + kPTitle, kTitleField, "title", error)) return false;
  write_i32(r.index_value, out + kPIndexValue);
  out[kPIndexKind] = r.index_kind;
  out[kPReadOnly] = r.read_only;
  out[kPFlag] = r.flag;
  write_i32(r.role, out + kPRole);
  out[kPChanged] = r.changed;
  write_i32(r.multiplicity, out + kPMultiplicity);
  out[kPEditable] = r.editable;
  out[kPOwner] = r.owner;
  if (!put_text(r.format, out + kPFormat, kFormatField, "format", error)) return false;
  write_i32(r.decimals, out + kPDecimals);
  write_f32(r.minimum, out + kPMinimum);
  write_f32(r.maximum, out + kPMaximum);
  if (!put_text(r.value, out + kPValue, kValueField, "value", error)) return false;
  if (!put_text(r.reference, out + kPReference, kReferenceField, "reference", error)) return false;
  return put_text(r.note, out + kPNote, kNoteField, "note", error);
}

TreeRecord decode_tree_record(const std::uint8_t* d) {
  if (d[0] == kBranchKind) {
    BranchRecord b;
    for (int i = 0; i < 3; ++i) {
      b.counts[i] = read_i32(d + kBCounts + 4 * i);
      b.values[i] = read_i32(d + kBValues + 4 * i);
    }
    b.role = read_i32(d + kBRole);
    b.name = read_text_field(d + kBName, kBranchNameField);
    return b;
  }
  if (d[0] == kConnectorKind) {
    ConnectorRecord c;
    c.name = read_text_field(d + kCName, kConnectorNameField);
    c.templ = read_text_field(d + kCTemplate, kConnectorTemplateField);
    c.key = read_text_field(d + kCKey, kConnectorKeyField);
    c.lower = read_i32(d + kCLower);
    c.upper = read_i32(d + kCUpper);
    return c;
  }
  ReferenceRecord r;
  r.kind = d[0];
  r.number = read_i32(d + kRNumber);
  r.minimum = read_f32(d + kRMinimum);
  r.maximum = read_f32(d + kRMaximum);
  r.read_only = d[kRReadOnly];
  r.sub_index = read_i32(d + kRSubIndex);
  r.title = read_text_field(d + kRTitle, kReferenceTitleField);
  return r;
}

bool encode_tree_record(const TreeRecord& record, std::uint8_t* out, std::string* error) {
  std::memset(out, 0, kTreeRecordSize);
  if (const auto* b = std::get_if<BranchRecord>(&record)) {
    out[0] = kBranchKind;
    for (int i = 0; i < 3; ++i) {
      write_i32(b->counts[i], out + kBCounts + 4 * i);
      write_i32(b->values[i], out + kBValues + 4 * i);
    }
    write_i32(b->role, out + kBRole);
    return put_text(b->name, out + kBName, kBranchNameField, "branch name", error);
  }
  if (const auto* c = std::get_if<ConnectorRecord>(&record)) {
    out[0] = kConnectorKind;
    if (!put_text(c->name, out + kCName, kConnectorNameField, "connector name", error))
      return false;
    if (!put_text(c->templ, out + kCTemplate, kConnectorTemplateField, "connector template", error))
      return false;
    if (!put_text(c->key, out + kCKey, kConnectorKeyField, "connector key", error)) return false;
    write_i32(c->lower, out + kCLower);
    write_i32(c->upper, out + kCUpper);
    return true;
  }
  const auto& r = std::get<ReferenceRecord>(record);
  if (r.kind == kBranchKind || r.kind == kConnectorKind) {
    if (error) *error = "reference kind";
    return false;
  }
  out[0] = r.kind;
  write_i32(r.number, out + kRNumber);
  write_f32(r.minimum, out + kRMinimum);
  write_f32(r.maximum, out + kRMaximum);
  out[kRReadOnly] = r.read_only;
  write_i32(r.sub_index, out + kRSubIndex);
  return put_text(r.title, out + kRTitle, kReferenceTitleField, "reference title", error);
}

}  // namespace kba604::description
