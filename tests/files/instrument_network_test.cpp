// The instrument's network element of the document: bound to the network branch of whatever
// description is loaded, never pointing into a table that went.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_line.h"
#include "files/kba604_doc.h"
#include "model/texts.h"
#include "support/description_files.h"
#include "support/fake_link_device.h"
#include "support/recording_notification_sink.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

const char* kParameters = R"({"parameters": [
    {"name": "ver", "format": "ASCI", "value": "2.15"},
    {"name": "bPS", "format": "2400:4800:9600:14400:19200:28800:38400:57600:115200"},
    {"name": "Addr", "format": "DEC_dot"},
    {"name": "prot", "format": "ТАЛВ:Modbus_RTU:Modbus_ASCII"}
]})";
const char* kMainTree = R"({"branch": "Корень", "children": [
    {"branch": "Сетевые параметры прибора", "role": 100,
     "children": [{"ref": "bPS"}, {"ref": "Addr"}, {"ref": "prot"}]},
    {"ref": "ver"}
]})";

// The link's part in the menu commands, recorded.
struct RecordingLink : DocumentLink {
  Elements::InvisibleElement& program_settings() override { return settings; }
  int reopen_port(bool) override { return 0; }
  bool connection_check() override { return true; }
  void check_device_and_show() override {}
  void send_prtl(const Parameter* prot) override { prtl.push_back(prot); }

  Elements::InvisibleElement settings;
  std::vector<const Parameter*> prtl;
};

struct InstrumentNetwork : ::testing::Test {
  test::TestHome home;
  test::RecordingPrompter prompter;
  test::RecordingNotificationSink sink;
  platform::MemorySettingsStore store, registration;
  ProgramSettings settings{store};
  CKBA604App app{prompter};
  std::shared_ptr<test::FakeLinkDevice> device;
  RecordingLink link;
  std::unique_ptr<CKBA604Doc> doc;

  void SetUp() override {
    auto files = test::build_description(
        kParameters, {kMainTree, R"({"branch": "Оперативные"})", R"({"branch": "Скрытое"})"});
    files.write_to(home.root() / "desc");
    settings.set_data_directory((home.root() / "desc").string() + "/");
    device = test::FakeLinkDevice::create(app);
    app.options.clear();
    CmyCommandLineInfo(app.options).parse({"/test"});
    DocumentServices services{app,  settings,          registration,
                              sink, "/usr/bin/kba604", home.data_dir()};
    doc = std::make_unique<CKBA604Doc>(services, device, &link);
    doc->construct();
  }
  void TearDown() override {
    doc.reset();
    device->shutdown();
  }
  // Every parameter of the element is either one of the current table or the element's own.
  void expect_no_stale_parameter(const Elements::NetRS485& element) {
    for (const Parameter* p : element.parameters()) {
      const bool in_table = device->table().contains(*p);
      const bool own = std::find(own_.begin(), own_.end(), p) != own_.end();
      EXPECT_TRUE(in_table || own) << p->short_name;
    }
  }
  std::vector<const Parameter*> own_;
};

TEST_F(InstrumentNetwork, FollowsEveryLoadOfTheDescription) {
  Elements::NetRS485& instrument = doc->instrument_network();
  ASSERT_TRUE(instrument.bound());
  instrument.bind(nullptr);
  own_.assign(instrument.parameters().begin(), instrument.parameters().end());
  instrument.bind(doc->network_branch());
  Parameter* speed = device->table().find_by_name("bPS");
  ASSERT_NE(speed, nullptr);
  EXPECT_EQ(instrument.FindByName("bPS"), speed);
  EXPECT_EQ(instrument.FindByName("Addr"), device->table().find_by_name("Addr"));
  EXPECT_EQ(instrument.GetValueByName("LEn"), kNoData) << "not in the branch: the element's own";
  speed->value = "19200";
  EXPECT_NE(instrument.network_summary().find("Скорость обмена: 19200"), std::string::npos);

  // A configuration of another version loads the description again into a new table.
  doc->reload_description("2.15");
  ASSERT_TRUE(instrument.bound());
  EXPECT_EQ(instrument.FindByName("bPS"), device->table().find_by_name("bPS"));
  expect_no_stale_parameter(instrument);

  // A version below the gate loads nothing: the element has only its own parameters then.
  doc->reload_description("0.1");
  EXPECT_FALSE(instrument.bound());
  EXPECT_EQ(instrument.GetValueByName("bPS"), kNoData);
  expect_no_stale_parameter(instrument);
}

TEST_F(InstrumentNetwork, PrtlAsksAboutTheProtocolOfTheLoadedDescription) {
  EXPECT_TRUE(doc->OnCommand(command::kSendPrtl));
  ASSERT_EQ(link.prtl.size(), 1u);
  EXPECT_EQ(link.prtl[0], device->table().find_by_name("prot"));
  EXPECT_NE(link.prtl[0], nullptr);
}

}  // namespace
}  // namespace kba604
