// The edit rules of the network settings, and the instrument's element bound to the network
// branch of a description.
#include <gtest/gtest.h>

#include <memory>

#include "link/net_rs485.h"
#include "link/network_rules.h"
#include "model/texts.h"

namespace kba604 {
namespace {

const std::string kRule1 =
    "\n - при 8-битной адресации базовый адрес прибора должен быть не больше 248";
const std::string kRule2 =
    "\n - при использовании протокола обмена, отличного от ТАЛВ, адрес прибора должен быть не "
    "больше 248";
const std::string kRule4 =
    "\n - при использовании протокола ТАЛВ адрес прибора должен быть кратен 8";
const std::string kRule8 =
    "\n - при использовании протокола обмена, отличного от ТАЛВ, длина адреса не может быть "
    "равна 11 битам";
const std::string kHeading = "Не выполняются следующие требования:";

// The instrument's network settings as the description's network branch lists them, with the
// protocol parameter "prot" (its list: ТАЛВ, Modbus RTU, Modbus ASCII).
class NetworkBranch {
 public:
  NetworkBranch() {
    add("bPS", "2400:4800:9600:14400:19200:28800:38400:57600:115200", "9600");
    add("LEn", "7:8", "8");
    add("PrtY", "Отсутствует:Четность:Нечетность", "Отсутствует");
    add("Sbit", "1:2", "1");
    add("A.Len", "8:11", "8");
    add("Addr", "DEC_dot", "16");
    add("prot", "ТАЛВ:Modbus_RTU:Modbus_ASCII", "ТАЛВ");
  }
  ObjectWithParameters& element() { return element_; }
  void set(const char* name, const char* value) { element_.SetValueByName(name, value, false); }

 private:
  void add(const char* name, const char* format, const char* value) {
    auto p = std::make_unique<Parameter>();
    p->short_name = name;
    p->format = format;
    p->value = value;
    element_.add_owned(std::move(p));
  }
  ObjectWithParameters element_;
};

TEST(NetworkRules, CharacterFormatsTheInstrumentCannotTake) {
  struct Case {
    const char* len;
    const char* sbit;
    const char* parity;
    const char* edited;  // the name whose value is the edited one
    bool accepted;
  };
  const Case cases[] = {
      {"7", "1", "Отсутствует", "LEn", false},  // 7 bits, 1 stop bit, no parity
      {"7", "1", "Четность", "LEn", true},
      {"7", "1", "Нечетность", "PrtY", true},
      {"7", "2", "Отсутствует", "Sbit", true},
      {"8", "2", "Четность", "Sbit", false},
      {"8", "2", "Нечетность", "PrtY", false},
      {"8", "2", "Отсутствует", "PrtY", true},
      {"8", "1", "Четность", "LEn", true},
      {"7", "1", "отсутствует", "prty", false},  // names and texts without regard to case
      {"7", "1", "Нет данных", "LEn", true},     // unknown parity: nothing to refuse
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.len) + " " + c.sbit + " " + c.parity);
    NetworkBranch branch;
    // The other two are the element's current values; the edited one is only proposed.
    branch.set("LEn", c.len);
    branch.set("Sbit", c.sbit);
    branch.set("PrtY", c.parity);
    const std::string proposed = branch.element().GetValueByName(c.edited);
    if (std::string_view(c.edited) == "LEn") branch.set("LEn", c.len[0] == '7' ? "8" : "7");
    if (std::string_view(c.edited) == "Sbit") branch.set("Sbit", c.sbit[0] == '1' ? "2" : "1");
    if (std::string_view(c.edited) == "PrtY") branch.set("PrtY", "Четность");
    EXPECT_EQ(check_char_format(branch.element(), c.edited, proposed), c.accepted);
  }
  // Other names are not this rule's business.
  NetworkBranch branch;
  branch.set("LEn", "7");
  branch.set("PrtY", "Отсутствует");
  EXPECT_TRUE(check_char_format(branch.element(), "Addr", "1"));
}

TEST(NetworkRules, AddressRulesGiveTheirLinesInRuleOrder) {
  struct Case {
    const char* what;
    const char* alen;
    const char* prot;
    const char* addr;
    const char* edited;
    const char* value;
    std::string message;  // empty: accepted
  };
  const Case cases[] = {
      {"249 with 8-bit addressing under ТАЛВ", "8", "ТАЛВ", "16", "Addr", "249",
       kHeading + kRule1 + kRule4},
      {"248 with 8-bit addressing", "8", "ТАЛВ", "16", "Addr", "248", ""},
      {"2040 with 11-bit addressing", "11", "ТАЛВ", "16", "Addr", "2040", ""},
      {"20 under ТАЛВ", "11", "ТАЛВ", "16", "Addr", "20", kHeading + kRule4},
      {"20 under Modbus", "8", "Modbus RTU", "16", "Addr", "20", ""},
      {"256 under Modbus", "11", "Modbus RTU", "16", "Addr", "256", kHeading + kRule2},
      {"Modbus with an 11-bit address", "11", "ТАЛВ", "16", "prot", "Modbus RTU",
       kHeading + kRule8},
      {"Modbus at 800 with 11 bits", "11", "ТАЛВ", "800", "Prot", "Modbus ASCII",
       kHeading + kRule2 + kRule8},
      {"8 bits with address 800", "11", "ТАЛВ", "800", "A.Len", "8", kHeading + kRule1},
      {"11 bits under Modbus", "8", "Modbus ASCII", "16", "A.Len", "11", kHeading + kRule8},
      {"a length change is no address rule 4", "11", "ТАЛВ", "20", "A.Len", "11", ""},
      {"the address unknown", "8", "ТАЛВ", "Нет данных", "A.Len", "8", ""},
      {"no value yet", "8", "ТАЛВ", "16", "Addr", "Нет данных", ""},
      {"other names pass", "8", "ТАЛВ", "249", "bPS", "9600", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NetworkBranch branch;
    branch.set("A.Len", c.alen);
    branch.set("prot", c.prot);
    branch.set("Addr", c.addr);
    std::string message = "untouched";
    const bool accepted = check_address_rules(c.edited, branch.element(), c.value, &message);
    EXPECT_EQ(accepted, c.message.empty());
    EXPECT_EQ(message, c.message.empty() ? "untouched" : c.message);
  }
}

TEST(NetworkRules, TheProgramsSettingsSpeakTalv) {
  Elements::NetRS485prg program(nullptr, {});
  program.SetValueByName("A.Len", "11", false);
  std::string message;
  EXPECT_FALSE(check_address_rules("Addr", program, "20", &message));
  EXPECT_EQ(message, kHeading + kRule4);
  EXPECT_TRUE(check_address_rules("Addr", program, "24", &message));
}

TEST(NetworkRules, TheTreeViewAsksTheChecksInOrder) {
  NetworkBranch branch;
  branch.set("prot", "Modbus RTU");  // rule 4 is off: the multiple of 8 is the view's own check
  struct Case {
    const char* name;
    const char* value;
    const char* text;  // nullptr: accepted
    const char* caption;
  };
  const Case cases[] = {
      {"Sbit", "2", nullptr, nullptr},
      {"LEn", "7", "Заданные сетевые настройки не поддерживаются прибором!",
       "Неудалось изменить значение"},  // with 1 stop bit and no parity
      {"Addr", "20", "Значение адреса должно быть кратно 8!",
       "Неудалось изменить значение сетевого адреса"},
      {"Addr", "24", nullptr, nullptr},
      {"Addr", "250", nullptr, "Неудалось изменить значение"},  // rules 1 and 2 first
      {"bPS", "19200", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    std::optional<BoxMessage> box = check_network_edit(branch.element(), c.name, c.value);
    if (c.caption == nullptr) {
      EXPECT_FALSE(box);
      continue;
    }
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, c.caption);
    if (c.text != nullptr) {
      EXPECT_EQ(box->text, c.text);
    } else {
      EXPECT_EQ(box->text, kHeading + kRule1 + kRule2);
    }
  }
  branch.set("Sbit", "2");
  branch.set("PrtY", "Четность");
  std::optional<BoxMessage> box = check_network_edit(branch.element(), "LEn", "8");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Заданные сетевые настройки не поддерживаются прибором!");
  EXPECT_EQ(box->caption, "Неудалось изменить значение");
}

TEST(InstrumentNetworkElement, BindsToTheBranchAndBackBeforeEachReload) {
  Elements::NetRS485 instrument;
  instrument.SetValueByName("bPS", "4800", false);
  ASSERT_FALSE(instrument.bound());

  auto first = std::make_unique<NetworkBranch>();
  first->set("bPS", "19200");
  instrument.bind(&first->element());
  EXPECT_TRUE(instrument.bound());
  EXPECT_EQ(instrument.size(), 6u);
  EXPECT_EQ(instrument.GetValueByName("bPS"), "19200");
  EXPECT_EQ(instrument.GetValueByName("Addr"), "16");
  EXPECT_EQ(instrument.FindByName("prot"), nullptr) << "only the six settings";
  // A change through the element is a change of the branch's parameter.
  instrument.SetValueByName("Addr", "24", true);
  EXPECT_EQ(first->element().GetValueByName("Addr"), "24");
  EXPECT_TRUE(first->element().FindByName("Addr")->changed);
  EXPECT_EQ(instrument.network_summary().substr(0, std::string("Скорость обмена: 19200\n").size()),
            "Скорость обмена: 19200\n");

  // The reload: first unbound, then the old branch goes, then the new one is bound.
  instrument.bind(nullptr);
  EXPECT_FALSE(instrument.bound());
  first.reset();
  EXPECT_EQ(instrument.GetValueByName("bPS"), "4800");
  for (const Parameter* p : instrument.parameters()) EXPECT_EQ(p->attribute_multiplicity, 0);

  // A branch without some settings leaves those to the element.
  ObjectWithParameters partial;
  auto speed = std::make_unique<Parameter>();
  speed->short_name = "BPS";
  speed->value = "57600";
  Parameter& bound = partial.add_owned(std::move(speed));
  instrument.bind(&partial);
  EXPECT_TRUE(instrument.bound());
  EXPECT_EQ(instrument.parameters()[0], &bound);
  EXPECT_EQ(instrument.GetValueByName("LEn"), std::string(kNoData));
  instrument.bind(nullptr);
  EXPECT_NE(instrument.parameters()[0], &bound);
}

}  // namespace
}  // namespace kba604
