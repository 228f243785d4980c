// The engine over the shipped KBA604 description, against the in-memory instrument: the walks,
// the totals, initialisation and the image over the real table and trees.
#include <gtest/gtest.h>

#include "description/description_loader.h"
#include "model/archive.h"
#include "operations/eeprom_image.h"
#include "operations_fixture.h"
#include "support/description_files.h"

namespace kba604::test {
namespace {

class ShippedDescription : public OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    DescriptionRequest request;
    request.data_folder = shipped_description_folder();
    request.version_text = "1.10";
    load = load_description(device->table(), request, &prompter);
    ASSERT_TRUE(load.main_tree) << "the build has no shipped description";
    device->set_tree_root(load.main_tree.get());
  }
  void TearDown() override {
    device->forget_description();
    OperationsTest::TearDown();
  }
  DescriptionLoad load;
};

TEST_F(ShippedDescription, ReadingTheWholeTreeVisitsEveryListedParameterOnce) {
  // Every parameter the main tree lists, counted independently of the engine.
  std::size_t listed = 0;
  std::vector<const DescBranch*> pending = {load.main_tree.get()};
  while (!pending.empty()) {
    const DescBranch* b = pending.back();
    pending.pop_back();
    listed += b->size();
    for (const auto& child : b->children()) pending.push_back(child.get());
  }
  run(device->StartRead(*load.main_tree));
  EXPECT_EQ(static_cast<std::size_t>(view.total()), listed);
  EXPECT_EQ(view.done(), view.total());
  EXPECT_EQ(device->transcript().size(), listed);
  ASSERT_FALSE(view.log().empty());
  EXPECT_EQ(view.log()[0].text, "Читаем ветвь 'KBA604'");
}

TEST_F(ShippedDescription, InitialisationWritesEveryReferenceValue) {
  run(device->StartInit(*load.main_tree));
  std::vector<std::string> t = device->transcript();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t[0].rfind("W r.co=", 0), 0u);
  int program_steps = 0;
  for (const std::string& line : t) {
    for (const char* name : {"W sp:", "W t.rs:", "W t.stb:"}) {
      if (line.rfind(name, 0) != 0) continue;
      ++program_steps;
      const int index = std::stoi(line.substr(line.find(':') + 1));
      const std::string value = line.substr(line.find('=') + 1);
      if (index != 0 && index != 5 && index != 10) {
        EXPECT_EQ(value, "0") << line;
      }
    }
  }
  EXPECT_GT(program_steps, 0);
  EXPECT_EQ(view.errors(), 0);
}

TEST_F(ShippedDescription, TheImageCountsTheWholeTableAndStoresTheUnpolled) {
  const ParameterTable& table = device->table();
  ASSERT_GT(table.operational_count(), 0u);
  const std::string bytes = build_eeprom_image(table);
  ArchiveReader r(bytes);
  EXPECT_EQ(r.read_i32(), static_cast<std::int32_t>(table.size()));
  std::size_t records = 0;
  while (!r.at_end()) {
    r.read_u32();
    r.read_string();
    r.read_string();
    ++records;
  }
  EXPECT_EQ(records, table.size() - table.operational_count());
  EepromLoad loaded = load_eeprom_image(device->table(), bytes);
  EXPECT_EQ(loaded.skipped, 0);
  EXPECT_EQ(static_cast<std::size_t>(loaded.matched), records);
}

}  // namespace
}  // namespace kba604::test
