// The rules of an edit's end: what a typed text becomes, which rules refuse it with which box,
// and what a taken text changes in the parameter.
#include "operations/edit_end.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/application.h"
#include "link/network_rules.h"
#include "model/object_with_parameters.h"
#include "support/fake_link_device.h"
#include "support/recording_prompter.h"

namespace kba604 {
namespace {

std::unique_ptr<Parameter> make(const char* name, const char* format, const char* value = "0") {
  auto p = std::make_unique<Parameter>();
  p->short_name = name;
  p->format = format;
  p->value = value;
  return p;
}

class EditEndTest : public ::testing::Test {
 protected:
  test::RecordingPrompter prompter;
  ProgramModes modes;
  EditEnd rules{prompter, modes, nullptr};

  EditEnd::Outcome edit(Parameter& p, int column, const char* typed, bool operational = false) {
    return rules.end_edit(p, column, typed, p.value, operational);
  }
};

TEST_F(EditEndTest, TypedTextIsNormalisedBeforeTheRules) {
  auto stored = make("t.1", "STORED_DOT", "1.0");
  EXPECT_EQ(EditEnd::normalise(*stored, "12,5"), "12.5");
  auto clock = make("t.2", "CLK_frm", "00:00");
  EXPECT_EQ(EditEnd::normalise(*clock, "90"), "01:30");
  EXPECT_EQ(EditEnd::normalise(*clock, "0"), "00:00");
  EXPECT_EQ(EditEnd::normalise(*clock, "12:05"), "12:05");
  // Not a count of minutes: left for the value's own check instead of wrapping around.
  EXPECT_EQ(EditEnd::normalise(*clock, "-5"), "-5");
  EXPECT_EQ(EditEnd::normalise(*clock, "12345678901"), "12345678901");

  EXPECT_TRUE(edit(*stored, EditEnd::kValue, "12,5").taken());
  EXPECT_EQ(stored->value, "12.5");
  EXPECT_TRUE(stored->changed);
  EXPECT_TRUE(edit(*clock, EditEnd::kValue, "90").taken());
  EXPECT_EQ(clock->value, "01:30");
}

TEST_F(EditEndTest, TheSameTextChangesNothing) {
  auto p = make("t.1", "DEC_dot", "5");
  EXPECT_EQ(edit(*p, EditEnd::kValue, "5").result, EditEnd::Outcome::Result::Unchanged);
  EXPECT_FALSE(p->changed);
  EXPECT_EQ(prompter.count(), 0u);
}

TEST_F(EditEndTest, CountersTakeOnlyZero) {
  for (const char* name : {"dog", "220", "RES"}) {
    prompter.clear();
    auto p = make(name, "DEC_dot", "7");
    EXPECT_EQ(edit(*p, EditEnd::kValue, "1").result, EditEnd::Outcome::Result::Refused) << name;
    EXPECT_EQ(p->value, "7");
    ASSERT_EQ(prompter.count(), 1u);
    EXPECT_EQ(prompter.records()[0].text, kOnlyZeroText);
    EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Information);
    EXPECT_TRUE(edit(*p, EditEnd::kValue, "0").taken()) << name;
    EXPECT_EQ(p->value, "0");
  }
}

TEST_F(EditEndTest, ValuesTheFormatRefusesKeepTheOldValue) {
  auto p = make("t.1", "DEC_dot", "5");
  p->minimum = 0;
  p->maximum = 10;
  EXPECT_EQ(edit(*p, EditEnd::kValue, "11").result, EditEnd::Outcome::Result::Refused);
  EXPECT_EQ(p->value, "5");
  EXPECT_FALSE(p->changed);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, p->assignment_failure(kNotAcceptable, "11").text);
}

TEST_F(EditEndTest, AttributeAndOwnerColumnsSetTheirFlags) {
  auto p = make("t.1", "DEC_dot", "5");
  p->editable = false;
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kAttribute, "Редактируемый", "Не редактируемый", false)
                  .taken());
  EXPECT_TRUE(p->editable);
  EXPECT_TRUE(p->editability_changed);
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kOwner, "Завод", "Пользователь", false).taken());
  EXPECT_TRUE(p->factory);
  EXPECT_TRUE(p->owner_changed);
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kOwner, "Пользователь", "Завод", false).taken());
  EXPECT_FALSE(p->factory);
  EXPECT_FALSE(p->changed);  // the value itself is untouched
}

TEST_F(EditEndTest, PolledRowsChangeThePeriodOrWriteAtOnce) {
  auto p = make("r.St", "DEC_dot", "3");
  p->note = "old failure";
  EXPECT_EQ(edit(*p, EditEnd::kName, "999", true).result, EditEnd::Outcome::Result::Refused);
  EXPECT_EQ(p->polling_period(), Parameter::kDefaultPollingPeriodMs);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, kPollingPeriodText);
  EXPECT_EQ(prompter.records()[0].caption, kPollingPeriodCaption);
  EXPECT_EQ(edit(*p, EditEnd::kName, "abc", true).result, EditEnd::Outcome::Result::Refused);
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kName, "2500", "1000", true).taken());
  EXPECT_EQ(p->polling_period(), 2500);
  // A fraction is cut off, as the scanner's own rule does.
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kName, "1500.7", "2500", true).taken());
  EXPECT_EQ(p->polling_period(), 1500);

  EditEnd::Outcome o = edit(*p, EditEnd::kValue, "4", true);
  EXPECT_TRUE(o.taken());
  EXPECT_TRUE(o.write_now);
  EXPECT_EQ(p->value, "4");
  EXPECT_TRUE(p->note.empty());
}

TEST_F(EditEndTest, NewPeriodOfAPolledRowRestartsItsPollingThroughTheScanner) {
  platform::ManualClock clock;
  Scanner scanner([](Parameter&) { return 0; }, std::make_shared<std::recursive_mutex>(), clock);
  rules.set_scanner(&scanner);
  auto p = make("r.OUt", "float", "1.0");
  p->create_polling_timer();
  clock.advance_ms(10000);
  ASSERT_EQ(scanner.arm(*p), 0);
  EXPECT_EQ(p->next_due_ms(), 11000);
  clock.advance_ms(700);
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kName, "3000", "1000", true).taken());
  // Armed again, its first poll one new period from the edit.
  EXPECT_TRUE(p->timer_armed());
  EXPECT_EQ(p->next_due_ms(), 13700);
  EXPECT_EQ(edit(*p, EditEnd::kName, "999,9", true).result, EditEnd::Outcome::Result::Refused);
  EXPECT_EQ(p->polling_period(), 3000);
  EXPECT_TRUE(p->timer_armed());
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].caption, kPollingPeriodCaption);
}

TEST_F(EditEndTest, NetworkSettingsAreCheckedBeforeTheyAreTaken) {
  ObjectWithParameters own;
  auto addr = make("Addr", "DEC_dot", "16");
  own.add(*addr);
  rules.set_network_elements(&own, nullptr);
  EXPECT_EQ(edit(*addr, EditEnd::kValue, "17").result, EditEnd::Outcome::Result::Refused);
  EXPECT_EQ(addr->value, "16");
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].caption, kEditRefusedCaption);
  EditEnd::Outcome o = edit(*addr, EditEnd::kValue, "24");
  EXPECT_TRUE(o.taken());
  EXPECT_TRUE(o.port_settings_changed);

  // A parameter "Addr" outside the settings elements still keeps to multiples of 8.
  prompter.clear();
  auto other = make("Addr", "DEC_dot", "8");
  EXPECT_EQ(edit(*other, EditEnd::kValue, "9").result, EditEnd::Outcome::Result::Refused);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, kAddressMultipleText);
  EXPECT_EQ(prompter.records()[0].caption, kAddressRefusedCaption);
}

TEST_F(EditEndTest, OwnPortSettingsStayWhilePolling) {
  struct Polling final : PollingGuard {
    bool AnyPollingOn() const override { return true; }
  } polling;
  ObjectWithParameters own;
  auto addr = make("Addr", "DEC_dot", "16");
  own.add(*addr);
  rules.set_network_elements(&own, nullptr);
  rules.set_polling_guard(&polling);
  EXPECT_EQ(edit(*addr, EditEnd::kValue, "24").result, EditEnd::Outcome::Result::Refused);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, kPollingRunsText);
}

TEST(EditEndImmediateWrite, ATakenChangeGoesToTheWorkerOnlyInImmediateMode) {
  test::RecordingPrompter prompter;
  CKBA604App app(prompter);
  auto device = test::FakeLinkDevice::create(app);
  ObjectWithParameters root;
  auto p = make("t.1", "DEC_dot", "5");
  root.add(*p);
  device->set_tree_root(&root);
  EditEnd rules(prompter, app.modes, device.get());

  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kValue, "6", "5", false).taken());
  ASSERT_TRUE(device->wait_idle(60'000));
  EXPECT_TRUE(p->changed);  // nothing was written

  app.modes.immediate_write.store(true);
  EXPECT_TRUE(rules.end_edit(*p, EditEnd::kValue, "7", "6", false).taken());
  ASSERT_TRUE(device->wait_idle(60'000));
  EXPECT_FALSE(p->changed);  // written by the worker
  EXPECT_EQ(device->cell("t.1").value, "7");
  device->shutdown();
}

}  // namespace
}  // namespace kba604
