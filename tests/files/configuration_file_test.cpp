#include "files/configuration_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/recording_prompter.h"
#include "support/build_paths.h"

namespace kba604 {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kGoldenPath = std::string(KBA604_TEST_DATA_DIR) + "/files/golden.604";
const std::string kLongName = [] {
  std::string s = "Очень длинное имя установки: ";
  for (int i = 0; i < 24; ++i) s += "ТАЛВ KBA604 ";
  return s;
}();

// The table of golden.604 (tests/data/files/make_golden_604.py writes the same document byte by
// byte): "ver", an item list without a matching value, an indexed parameter with every flag,
// an operational parameter that the file leaves out, and an item list whose value differs
// from its item only in letter case.
void lay_out_table(ParameterTable& t,
                   const std::string& table_file = "/usr/share/kba604/parameters.zip") {
  t.reset(5, table_file);
  t[0].short_name = "ver";
  t[0].format = "ASCI";
  t[1].short_name = "r.St";
  t[1].format = "Стоп:Пуск";
  t[2].short_name = "Set.P";
  t[2].format = "STORED_DOT";
  t[2].indexed = true;
  t[2].linear_index = 3;
  t[3].short_name = "T.in";
  t[3].format = "STORED_DOT";
  t[3].create_polling_timer();
  t[4].short_name = "n.Ch";
  t[4].format = "Выкл:Вкл:Авто";
}

void fill_golden_values(ParameterTable& t) {
  t[0].value = "2.15";
  t[0].editable = false;
  t[0].factory = true;
  t[1].value = "Нет данных";
  t[1].note = "Таймаут при передаче данных (нет связи)";
  t[1].changed = true;
  t[2].value = "25.5";
  t[2].indexed = true;
  t[2].linear_index = 3;
  t[2].address_offset = 2;
  t[2].editability_changed = true;
  t[2].owner_changed = true;
  t[2].editable = false;
  t[2].factory = true;
  t[2].reserved_number = -7;
  t[2].description_flag = true;
  t[3].value = "81.4";  // operational: not stored
  t[4].value = "авто";
}

std::unique_ptr<Elements::InvisibleElement> golden_service() {
  auto e = std::make_unique<Elements::InvisibleElement>("Сервисные параметры программы");
  const char* values[][2] = {{" ", "1.0.0"}, {"  ", "(c) ТАЛВ"}, {"   ", "Linux 6.1 x86_64"}};
  for (auto& v : values) {
    auto p = std::make_unique<Parameter>();
    p->short_name = v[0];
    p->value = v[1];
    p->format = "ASCI";
    e->add_owned(std::move(p));
  }
  return e;
}

NameTexts golden_names() {
  NameTexts names;
  names.fill(std::string(kNameNotSet));
  names[0] = "Котельная №3";
  names[7] = kLongName;
  return names;
}

// A document as loading sees it: a reload lays the table out anew, every value reset.
class Target : public ConfigurationTarget {
 public:
  Target() {
    lay_out_table(table_);
    names_.fill(std::string(kNameNotSet));
  }
  void reload_description(const std::string& version) override {
    versions.push_back(version);
    lay_out(table_);
  }
  ParameterTable& table() override { return table_; }
  NameTexts& names() override { return names_; }
  void progress(int percent) override { percents.push_back(percent); }

  std::function<void(ParameterTable&)> lay_out = [](ParameterTable& t) { lay_out_table(t); };
  std::vector<std::string> versions;
  std::vector<int> percents;

 private:
  ParameterTable table_;
  NameTexts names_;
};

TEST(ConfigurationFile, StoresTheGoldenFileByteForByte) {
  ParameterTable t;
  lay_out_table(t);
  fill_golden_values(t);
  auto service = golden_service();
  const std::string golden = read_file(kGoldenPath);
  ASSERT_FALSE(golden.empty()) << kGoldenPath;
  const std::string stored = store_configuration(*service, t, golden_names());
  ASSERT_EQ(stored.size(), golden.size());
  for (std::size_t i = 0; i < golden.size(); ++i) {
    ASSERT_EQ(static_cast<unsigned char>(stored[i]), static_cast<unsigned char>(golden[i]))
        << "first difference at byte " << i;
  }
}

TEST(ConfigurationFile, LoadingTheGoldenFileRestoresEveryStoredField) {
  Target target;
  target.table()[3].value = "81.4";
  test::RecordingPrompter prompter;
  ConfigurationLoad load =
      load_configuration(read_file(kGoldenPath), kGoldenPath, target, prompter, false);
  EXPECT_EQ(load.result, ConfigurationLoad::Result::Opened);
  EXPECT_TRUE(load.complete);
  EXPECT_EQ(load.loaded, 4u);
  EXPECT_EQ(load.skipped, 0u);
  EXPECT_EQ(prompter.count(), 0u);
  EXPECT_EQ(target.versions, std::vector<std::string>{"2.15"});
  EXPECT_EQ(target.names(), golden_names());
  EXPECT_EQ(target.percents.back(), 100);

  ParameterTable expected;
  lay_out_table(expected);
  fill_golden_values(expected);
  expected[4].value = "Авто";        // the position reloads as the item's own text
  expected[3].value = "Нет данных";  // reset by the reload; the file has no operational values
  ParameterTable& t = target.table();
  for (std::size_t i = 0; i < t.size(); ++i) {
    SCOPED_TRACE(t[i].short_name);
    EXPECT_EQ(t[i].value, expected[i].value);
    EXPECT_EQ(t[i].note, expected[i].note);
    EXPECT_EQ(t[i].indexed, expected[i].indexed);
    EXPECT_EQ(t[i].linear_index, expected[i].linear_index);
    EXPECT_EQ(t[i].address_offset, expected[i].address_offset);
    EXPECT_EQ(t[i].changed, expected[i].changed);
    EXPECT_EQ(t[i].editability_changed, expected[i].editability_changed);
    EXPECT_EQ(t[i].owner_changed, expected[i].owner_changed);
    EXPECT_EQ(t[i].editable, expected[i].editable);
    EXPECT_EQ(t[i].factory, expected[i].factory);
    EXPECT_EQ(t[i].reserved_number, expected[i].reserved_number);
    EXPECT_EQ(t[i].description_flag, expected[i].description_flag);
  }
}

TEST(ConfigurationFile, AFileOfAnotherTableIsRefusedWithBothMessages) {
  std::string golden = read_file(kGoldenPath);
  Target target;
  // The same parameters from another table file.
  target.lay_out = [](ParameterTable& t) { lay_out_table(t, "/data/parameters2.zip"); };
  test::RecordingPrompter prompter;
  ConfigurationLoad load = load_configuration(golden, "/home/ann/a.604", target, prompter, false);
  EXPECT_EQ(load.result, ConfigurationLoad::Result::Opened);
  EXPECT_FALSE(load.complete);
  EXPECT_EQ(load.loaded, 0u);
  auto records = prompter.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text,
            "Файл сохранен на базе таблицы параметров 'parameters.zip',\nа сейчас активна "
            "таблица 'parameters2.zip'!");
  EXPECT_EQ(records[0].icon, PromptIcon::Error);
  EXPECT_EQ(records[1].text, "Файл \"/home/ann/a.604\" не удалось открыть!");
  EXPECT_EQ(records[1].caption, "Ошибка открытия");
  EXPECT_EQ(records[1].icon, PromptIcon::Warning);
  for (const Parameter& p : target.table()) EXPECT_EQ(p.value, "Нет данных");
}

// The stored table size is the golden file's 5; a table of another size still loads every
// entry whose key it knows, with the warning unless started with switches.
TEST(ConfigurationFile, ATableOfAnotherSizeLoadsAfterTheWarningUnlessQuiet) {
  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "not quiet");
    Target target;
    target.lay_out = [](ParameterTable& t) {
      lay_out_table(t);
      std::vector<std::pair<std::string, std::string>> kept;
      for (const Parameter& p : t) kept.emplace_back(p.short_name, p.format);
      kept.emplace_back("new.P", "STORED_DOT");
      t.reset(kept.size(), "parameters.zip");
      for (std::size_t i = 0; i < kept.size(); ++i) {
        t[i].short_name = kept[i].first;
        t[i].format = kept[i].second;
      }
      t[2].indexed = true;
      t[2].linear_index = 3;
    };
    test::RecordingPrompter prompter;
    ConfigurationLoad load =
        load_configuration(read_file(kGoldenPath), "a.604", target, prompter, quiet);
    EXPECT_TRUE(load.complete);
    EXPECT_EQ(load.loaded, 4u);
    if (quiet) {
      EXPECT_EQ(prompter.count(), 0u);
    } else {
      ASSERT_EQ(prompter.count(), 1u);
      EXPECT_EQ(prompter.records()[0].text,
                "В файле сохранено 5 параметров, а в активной таблице 6 параметров!");
      EXPECT_EQ(prompter.records()[0].caption, "Предупреждение");
      EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Information);
    }
    EXPECT_EQ(target.table()[2].value, "25.5");
    EXPECT_EQ(target.table()[5].value, "Нет данных");
  }
}

// Two parameters with one key: the file's entry goes to the first in table order. An entry
// whose key no parameter has is read and dropped, and the entries after it still load.
TEST(ConfigurationFile, EqualKeysLoadIntoTheFirstAndUnknownKeysAreSkipped) {
  ParameterTable source(3, "parameters.zip");
  source[0].short_name = "A.1";
  source[0].value = "1";
  source[1].short_name = "gone";
  source[1].value = "lost";
  source[2].short_name = "B.2";
  source[2].value = "2";
  for (Parameter& p : source) p.format = "ASCI";
  NameTexts names;
  const std::string bytes = store_configuration(*golden_service(), source, names);

  Target target;
  target.lay_out = [](ParameterTable& t) {
    t.reset(3, "parameters.zip");
    t[0].short_name = "B.2";
    t[1].short_name = "A.1";
    t[2].short_name = "b.2";  // the same key as t[0]: the name hash ignores letter case
    for (Parameter& p : t) p.format = "ASCI";
  };
  test::RecordingPrompter prompter;
  ConfigurationLoad load = load_configuration(bytes, "a.604", target, prompter, true);
  EXPECT_TRUE(load.complete);
  EXPECT_EQ(load.loaded, 2u);
  EXPECT_EQ(load.skipped, 1u);
  EXPECT_EQ(target.table()[0].value, "2");
  EXPECT_EQ(target.table()[1].value, "1");
  EXPECT_EQ(target.table()[2].value, "Нет данных");
  EXPECT_EQ(target.versions, std::vector<std::string>{""});  // no "ver": an empty version
}

// A file cut anywhere after its class header opens silently with what was read; a file cut
// inside the header is no configuration.
TEST(ConfigurationFile, AFileCutAnywhereLoadsSilentlyWhatItHolds) {
  const std::string golden = read_file(kGoldenPath);
  for (std::size_t cut = 0; cut < golden.size(); ++cut) {
    SCOPED_TRACE(cut);
    Target target;
    test::RecordingPrompter prompter;
    ConfigurationLoad load = load_configuration(std::string_view(golden).substr(0, cut), "a.604",
                                                target, prompter, false);
    if (cut < 16) {
      EXPECT_EQ(load.result, ConfigurationLoad::Result::NotConfiguration);
      continue;
    }
    EXPECT_EQ(load.result, ConfigurationLoad::Result::Opened);
    EXPECT_EQ(prompter.count(), 0u);
  }
}

TEST(ConfigurationFile, MalformedOrForeignFilesAreTold) {
  const std::string golden = read_file(kGoldenPath);
  struct Case {
    const char* what;
    std::string bytes;
    ConfigurationLoad::Result result;
    std::vector<std::string> messages;
  };
  std::string unicode_marker = golden.substr(0, 16) + std::string("\xFF\xFE\xFF", 3) + "xx";
  std::string other_class = golden;
  other_class[6] = 'X';
  std::string other_schema = golden.substr(0, 16);
  other_schema[2] = 2;
  // After a damaged schema the parameter section follows directly.
  ParameterTable t;
  lay_out_table(t);
  fill_golden_values(t);
  const std::string whole = store_configuration(*golden_service(), t, golden_names());
  const std::size_t section = whole.find(std::string("\x0eparameters.zip", 15));
  ASSERT_NE(section, std::string::npos);
  other_schema += whole.substr(section);
  const Case cases[] = {
      {"unicode string marker",
       unicode_marker,
       ConfigurationLoad::Result::Opened,
       {"Файл \"a.604\" не удалось открыть!"}},
      {"another class", other_class, ConfigurationLoad::Result::NotConfiguration, {}},
      {"empty file", "", ConfigurationLoad::Result::NotConfiguration, {}},
      {"another schema",
       other_schema,
       ConfigurationLoad::Result::Opened,
       {"Данные в файле испорчены!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Target target;
    test::RecordingPrompter prompter;
    ConfigurationLoad load = load_configuration(c.bytes, "a.604", target, prompter, false);
    EXPECT_EQ(load.result, c.result);
    std::vector<std::string> texts;
    for (const auto& r : prompter.records()) texts.push_back(r.text);
    EXPECT_EQ(texts, c.messages);
  }
  // The damaged schema skipped the head but loaded the entries.
  Target target;
  test::RecordingPrompter prompter;
  ConfigurationLoad load = load_configuration(other_schema, "a.604", target, prompter, false);
  EXPECT_TRUE(load.complete);
  EXPECT_EQ(load.loaded, 4u);
  EXPECT_TRUE(target.versions.empty());
  EXPECT_EQ(target.table()[2].value, "25.5");
}

}  // namespace
}  // namespace kba604
