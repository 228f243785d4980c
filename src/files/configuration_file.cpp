#include "files/configuration_file.h"

#include "model/archive.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// The table name a file records: the name of the table file without its folder, so that a
// configuration moves between machines whose data folders differ. A stored name with a folder
// (either separator) is compared by its last part.
std::string table_file_name(std::string_view name) {
  std::size_t cut = name.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
}

int percent_of(std::size_t part, std::size_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(part * 100 / whole);
}

// The class header: 0xFFFF (a new class follows), the schema, the class name's length and the
// class name.
void store_class_header(ArchiveWriter& w) {
  w.write_u16(0xFFFF);
  w.write_u16(kDocumentSchema);
  w.write_u16(static_cast<std::uint16_t>(kDocumentClassName.size()));
  w.write_bytes(kDocumentClassName);
}

// False when the data hold no header of our class; the schema otherwise.
bool load_class_header(ArchiveReader& r, std::uint16_t& schema) {
  try {
    if (r.read_u16() != 0xFFFF) return false;
    schema = r.read_u16();
    std::uint16_t length = r.read_u16();
    return length == kDocumentClassName.size() && r.read_bytes(length) == kDocumentClassName;
  } catch (const ArchiveError&) {
    return false;
  }
}

// The parameter section after the table name has been accepted.
void load_entries(ArchiveReader& r, ConfigurationTarget& target, ConfigurationLoad& load) {
  KeyMap keys = target.table().configuration_key_map();
  for (;;) {
    // The entries run to the end of the file: no key, no entry.
    if (r.at_end()) break;
    std::uint32_t key = r.read_u32();
    Parameter* p = keys.find(key);
    if (p != nullptr) {
      Archive ar(r);
      p->Serialize(ar);
      ++load.loaded;
    } else {
      Parameter scratch;
      Archive ar(r);
      scratch.Serialize(ar);
      ++load.skipped;
    }
    target.progress(percent_of(r.position(), r.size()));
  }
}

}  // namespace

std::string store_configuration(Elements::InvisibleElement& service, ParameterTable& table,
                                const NameTexts& names, const ProgressFunction& progress) {
  ArchiveWriter w;
  Archive ar(w);
  store_class_header(w);
  service.Serialize(ar);
  const Parameter* ver = table.find_by_name("ver");
  w.write_string(ver != nullptr ? ver->value : std::string());
  for (const std::string& name : names) w.write_string(name);

  w.write_string(table_file_name(table.name()));
  w.write_u32(static_cast<std::uint32_t>(table.size()));
  w.write_u32(static_cast<std::uint32_t>(table.operational_count()));
  std::size_t i = 0;
  for (Parameter& p : table) {
    ++i;
    if (p.owns_polling_timer()) continue;
    w.write_u32(p.key());
    p.Serialize(ar);
    if (progress && i % 64 == 0) progress(percent_of(i, table.size()));
  }
  if (progress) progress(100);
  return w.take();
}

ConfigurationLoad load_configuration(std::string_view bytes, const std::string& path,
                                     ConfigurationTarget& target, Prompter& prompter, bool quiet) {
  ConfigurationLoad load;
  ArchiveReader r(bytes);
  std::uint16_t schema = 0;
  if (!load_class_header(r, schema)) {
    load.result = ConfigurationLoad::Result::NotConfiguration;
    return load;
  }
  try {
    if (schema != kDocumentSchema) {
      // Without its schema the head of the file cannot be trusted; the parameter section is
      // read from here on as it stands.
      prompter.show(kDamagedDataText, "", PromptIcon::Warning);
    } else {
      // The stored service values are read and dropped: the running program's own version,
      // copyright and system stay in the document.
      Elements::CommonParams stored_service;
      Archive ar(r);
      stored_service.Serialize(ar);
      std::string version = r.read_string();
      target.reload_description(version);
      for (std::string& name : target.names()) name = r.read_string();
    }

    std::string stored_table = r.read_string();
    ParameterTable& table = target.table();
    const std::string current_table = table_file_name(table.name());
    if (table_file_name(stored_table) != current_table) {
      prompter.show("Файл сохранен на базе таблицы параметров '" + stored_table +
                        "',\nа сейчас активна таблица '" + current_table + "'!",
                    "", PromptIcon::Error);
      throw ArchiveError(ArchiveError::Kind::Malformed, "the file was saved from another table");
    }
    std::uint32_t stored_size = r.read_u32();
    r.read_u32();  // the operational count: those parameters are not in the file
    if (!quiet && stored_size != table.size()) {
      prompter.show(platform::format(kTableSizeText, static_cast<int>(stored_size),
                                     static_cast<int>(table.size())),
                    kTableSizeCaption, PromptIcon::Information);
    }
    load_entries(r, target, load);
    load.complete = true;
  } catch (const ArchiveError& e) {
    load.fault = e.what();
    if (!e.end_of_file()) {
      prompter.show(platform::format(kCannotOpenText, path.c_str()), kCannotOpenCaption,
                    PromptIcon::Warning);
    }
  }
  return load;
}

}  // namespace kba604
