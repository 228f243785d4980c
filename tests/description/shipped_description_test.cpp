// The description that ships with the program, as the build compiled it.
#include <gtest/gtest.h>

#include <set>

#include "desc/description_checks.h"
#include "description/description_loader.h"
#include "description/gzip_file.h"
#include "model/talv_codec.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"

namespace kba604 {
namespace {

class ShippedDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    DescriptionRequest request;
    request.data_folder = test::shipped_description_folder();
    load_ = load_description(table_, request, &prompter_);
  }
  Parameter& param(std::string_view name) {
    Parameter* p = table_.find_by_name(name);
    EXPECT_NE(p, nullptr) << name;
    static Parameter none;
    return p ? *p : none;
  }
  ParameterTable table_;
  test::RecordingPrompter prompter_;
  DescriptionLoad load_;
};

TEST_F(ShippedDescription, LoadsWithoutAnyMessage) {
  EXPECT_FALSE(load_.refused);
  EXPECT_EQ(prompter_.count(), 0u);
  ASSERT_TRUE(load_.main_tree);
  ASSERT_TRUE(load_.operational_tree);
  ASSERT_TRUE(load_.hidden_tree);
  EXPECT_GE(table_.size(), 300u);
  EXPECT_EQ(load_.operational_tree->name(), "Опрос оперативных параметров");
}

TEST_F(ShippedDescription, HasEveryNameTheProgramTreatsSpecially) {
  for (auto name : description::special_parameter_names()) {
    EXPECT_NE(table_.find_by_name(name), nullptr) << name;
  }
  // "prot" of the protocol switch and "Prot" of the network rules are one parameter.
  EXPECT_EQ(table_.find_by_name("prot"), table_.find_by_name("Prot"));
  EXPECT_NE(table_.find_by_name("r.st"), nullptr);
}

TEST_F(ShippedDescription, InstrumentVersionPassesTheGate) {
  // The virtual instrument answers "ver" with 1.10.
  EXPECT_EQ(pack_version("1.10"), 0x010Au);
  DescriptionRequest request;
  request.data_folder = test::shipped_description_folder();
  request.read_ver = [](Parameter& ver) {
    ver.value = "1.10";
    return 0;
  };
  auto again = load_description(table_, request, &prompter_);
  EXPECT_TRUE(again.main_tree);
}

TEST_F(ShippedDescription, NetworkBranchHasTheInstrumentsSettingsExactly) {
  ASSERT_NE(load_.network_branch, nullptr);
  struct Expected {
    const char* name;
    const char* format;
  } expected[] = {
      {"bPS", "2400:4800:9600:14400:19200:28800:38400:57600:115200"},
      {"LEn", "7:8"},
      {"PrtY", "Отсутствует:Четность:Нечетность"},
      {"Sbit", "1:2"},
      {"A.Len", "8:11"},
      {"Addr", "DEC_dot"},
  };
  for (const auto& e : expected) {
    Parameter* p = load_.network_branch->FindByName(e.name);
    ASSERT_NE(p, nullptr) << e.name;
    EXPECT_EQ(p->short_name, e.name);
    EXPECT_EQ(p->format, e.format);
    EXPECT_TRUE(p->reference_value.empty()) << e.name;  // initialising keeps the line
  }
  Parameter* prot = load_.network_branch->FindByName("prot");
  ASSERT_NE(prot, nullptr);
  auto items = parse_format(prot->format).items;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], "ТАЛВ");
  EXPECT_EQ(items[1], "Modbus RTU");
  EXPECT_EQ(items[2], "Modbus ASCII");
  Parameter* start = load_.network_branch->FindByName("net.s");
  ASSERT_NE(start, nullptr);
  EXPECT_GE(parse_format(start->format).items.size(), 2u);
}

TEST_F(ShippedDescription, CommandsNeverResetOrStopTheInstrumentOnWriteAll) {
  for (const char* name : {"r-s", "exit", "dev", "ver", "n.Err"}) {
    Parameter& p = param(name);
    EXPECT_FALSE(p.writable()) << name;
    EXPECT_TRUE(p.reference_value.empty()) << name;
    for (int mode : {kWriteChanged, kWriteAll, kWriteAllFromRoot, kWriteInitialise}) {
      p.changed = true;
      EXPECT_FALSE(will_write(p, mode)) << name << " mode " << mode;
    }
  }
  Parameter& reset = param("r.co");
  EXPECT_FALSE(will_write(reset, kWriteAll));
  EXPECT_EQ(reset.reference_value, "Сбросить");
  EXPECT_TRUE(will_write(reset, kWriteInitialise));
}

TEST_F(ShippedDescription, OperationalTreePollsTheMeasuredValues) {
  std::set<std::string> polled;
  std::function<void(const DescBranch&)> walk = [&](const DescBranch& b) {
    for (const Parameter* p : b.parameters()) {
      EXPECT_TRUE(p->owns_polling_timer()) << p->short_name;
      EXPECT_FALSE(p->indexed) << p->short_name;
      polled.insert(p->short_name + "@" + std::to_string(p->address_offset));
    }
    for (const auto& c : b.children()) walk(*c);
  };
  walk(*load_.operational_tree);
  for (int input = 0; input < 8; ++input) {
    EXPECT_TRUE(polled.count("rEAd@" + std::to_string(input))) << input;
  }
  for (const char* name : {"r.CAL", "rd.rg", "Set.P", "r.OUt", "r.kEY", "r.PrG", "r.StP", "r.St",
                           "r.SiG", "r.Cn", "rtC"}) {
    EXPECT_TRUE(polled.count(std::string(name) + "@0")) << name;
  }
  EXPECT_EQ(polled.size(), 19u);
}

TEST_F(ShippedDescription, KeysOfConfigurationParametersAreUnique) {
  std::map<std::uint32_t, std::string> keys;
  for (const Parameter& p : table_) {
    if (p.owns_polling_timer()) continue;
    std::uint32_t key = (p.indexed ? static_cast<std::uint32_t>(p.linear_index) : 0xFFFFu) << 16 |
                        hash_name(p.short_name);
    auto [it, inserted] = keys.emplace(key, p.short_name);
    EXPECT_TRUE(inserted) << p.short_name << " and " << it->second;
  }
  EXPECT_EQ(table_.configuration_key_map().size(), keys.size());
}

// The parameter with that name and index.
Parameter* indexed(ParameterTable& table, std::string_view name, int index) {
  for (Parameter& p : table) {
    if (p.short_name == name && p.indexed && p.linear_index == index) return &p;
  }
  return nullptr;
}

TEST_F(ShippedDescription, RoleSlotsAndRoleTablesAreFilled) {
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(table_.device_slot(105, k), indexed(table_, "in-t", k)) << k;
    EXPECT_EQ(table_.device_slot(108, k), indexed(table_, "AL.ty", k)) << k;
    EXPECT_EQ(table_.device_slot(115, k), indexed(table_, "cal.t", k)) << k;
    EXPECT_EQ(table_.device_slot(116, k), indexed(table_, "S.idx", k)) << k;
    EXPECT_EQ(table_.role_table_entry(1, k * 16 + 0), indexed(table_, "in.L", k)) << k;
    EXPECT_EQ(table_.role_table_entry(1, k * 16 + 3), indexed(table_, "KU", k)) << k;
    EXPECT_EQ(table_.role_table_entry(2, (k / 2 + (k % 2 ? 24 : 0)) * 10 + 1),
              indexed(table_, "AL.H", k))
        << k;
  }
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(table_.device_slot(106, k), indexed(table_, "rG.ty", k)) << k;
  }
  EXPECT_EQ(table_.device_slot(200, 0), table_.find_by_name("n.Ch"));
  EXPECT_EQ(table_.role_table_entry(3, 1 * 2 + 1), indexed(table_, "bU.H", 1));
  EXPECT_EQ(table_.role_table_entry(4, 1 * 4 + 2), indexed(table_, "bL.t", 2));
  EXPECT_EQ(table_.role_table_entry(5, 10), indexed(table_, "nPC", 10));
}

TEST_F(ShippedDescription, TreeShowsTheElementsTheProgramKnowsByName) {
  std::set<std::string> names;
  std::function<void(const DescBranch&)> walk = [&](const DescBranch& b) {
    names.insert(b.name());
    for (const auto& c : b.children()) walk(*c);
  };
  walk(*load_.main_tree);
  for (const char* name : {"Диапазон №1", "Диапазон №2", "Блокировки №1", "Блокировки №2",
                           "Блокировки №3", "Времена задержек инспектора"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
  EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& n) {
    return n.find("Точка") != std::string::npos;
  }));
}

}  // namespace
}  // namespace kba604
