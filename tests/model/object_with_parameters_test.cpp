#include "model/object_with_parameters.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/recording_prompter.h"

namespace kba604 {
namespace {

// Element whose parameters are all owned by it, made from (name, value) pairs.
struct Fixture {
  ObjectWithParameters element;
  std::vector<Parameter*> p;
  explicit Fixture(int n) {
    for (int i = 0; i < n; ++i) {
      auto q = std::make_unique<Parameter>();
      q->short_name = "p" + std::to_string(i);
      q->value = "v" + std::to_string(i);
      q->format = "ASCI";
      p.push_back(&element.add_owned(std::move(q)));
    }
  }
};

// Records the per-parameter operations; a scripted result per parameter name, and an optional
// parameter after which the stop is requested.
class RecordingOperations final : public ParameterOperations {
 public:
  bool stop_requested() override { return stop_; }
  int ReadParameter(Parameter& p, bool count_timeouts) override {
    calls.push_back("read " + p.short_name + (count_timeouts ? " counting" : ""));
    return finish(p);
  }
  int WriteParameter(Parameter& p, int mode) override {
    calls.push_back("write " + p.short_name + " " + std::to_string(mode));
    return finish(p);
  }
  int CompareParameter(Parameter& p) override {
    calls.push_back("compare " + p.short_name);
    return finish(p);
  }
  void add_done(int count) override { done += count; }
  void log_branch(const std::string& line) override { calls.push_back("log " + line); }

  std::vector<std::string> calls;
  int done = 0;
  std::string fail_on;
  std::string stop_after;
  bool stop_ = false;

 private:
  int finish(Parameter& p) {
    if (p.short_name == stop_after) stop_ = true;
    return p.short_name == fail_on ? 1 : 0;
  }
};

class RecordingSink final : public TreeSink {
 public:
  ViewRow insert_parameter(ViewRow parent, Parameter& parameter) override {
    rows.push_back(std::to_string(parent) + "/" + parameter.short_name);
    return ++next;
  }
  ViewRow insert_node(ViewRow parent, const std::string& text, int, int,
                      ObjectWithParameters*) override {
    rows.push_back(std::to_string(parent) + "/" + text);
    return ++next;
  }
  std::vector<std::string> rows;
  ViewRow next = 100;
};

class CountedParameter final : public Parameter {
 public:
  explicit CountedParameter(int& deaths) : deaths_(deaths) {}
  ~CountedParameter() override { ++deaths_; }

 private:
  int& deaths_;
};

TEST(ObjectWithParameters, LookupsByNameIgnoreCaseAndTakeTheFirst) {
  Fixture f(3);
  f.p[2]->short_name = "P1";
  EXPECT_EQ(f.element.FindByName("p1"), f.p[1]);
  EXPECT_EQ(f.element.FindByName("P1"), f.p[1]);
  EXPECT_EQ(f.element.GetValueByName("P1"), "v1");
  EXPECT_EQ(f.element.FindByName("nope"), nullptr);
  EXPECT_EQ(f.element.GetValueByName("nope"), "");
  f.p[0]->short_name = "Ток";
  EXPECT_EQ(f.element.FindByName("ТОК"), f.p[0]);
}

TEST(ObjectWithParameters, SetValueByNameMarksOnlyRealChanges) {
  Fixture f(2);
  EXPECT_EQ(f.element.SetValueByName("P0", "V0", true), 1);  // same text but for letter case
  EXPECT_EQ(f.p[0]->value, "V0");
  EXPECT_FALSE(f.p[0]->changed);
  EXPECT_EQ(f.element.SetValueByName("p0", "w", false), 1);
  EXPECT_FALSE(f.p[0]->changed);
  EXPECT_EQ(f.element.SetValueByName("p0", "x", true), 1);
  EXPECT_TRUE(f.p[0]->changed);
  EXPECT_EQ(f.element.SetValueByName("zz", "x", true), 0);
}

TEST(ObjectWithParameters, LinearIndexCheckTakesFirstThenWarns) {
  test::RecordingPrompter prompter;
  Fixture f(3);
  f.p[0]->indexed = false;
  f.p[0]->linear_index = 9;
  f.p[1]->indexed = true;
  f.p[1]->linear_index = 3;
  f.p[1]->title = "Канал";
  f.p[2]->indexed = true;
  f.p[2]->linear_index = 4;
  f.p[2]->short_name = "S.idx";
  f.p[2]->title = "Номер";
  f.p[2]->display_title = "Номер датчика";
  EXPECT_EQ(f.element.linear_index(), -1);
  EXPECT_EQ(f.element.CheckLinearIndex(&prompter), 3);
  EXPECT_EQ(prompter.count(), 0u);
  EXPECT_EQ(f.element.CheckLinearIndex(&prompter), 3);
  ASSERT_EQ(prompter.count(), 1u);
  auto rec = prompter.records()[0];
  EXPECT_EQ(rec.text, "Параметер 'S.idx' (Номер датчика) имеет подозрительный линейный индекс.");
  EXPECT_EQ(rec.caption, "Предупреждение");
  EXPECT_EQ(rec.icon, PromptIcon::Warning);
  // The table is not changed by the warning.
  EXPECT_EQ(f.p[2]->linear_index, 4);
  // Without a prompter the check is silent.
  EXPECT_EQ(f.element.CheckLinearIndex(nullptr), 3);

  Fixture none(2);
  EXPECT_EQ(none.element.CheckLinearIndex(&prompter), -1);
}

TEST(ObjectWithParameters, SetLinearIndexTouchesIndexedParametersOnly) {
  Fixture f(2);
  f.p[1]->indexed = true;
  f.element.SetLinearIndex(5);
  EXPECT_EQ(f.p[0]->linear_index, 0);
  EXPECT_EQ(f.p[1]->linear_index, 5);
  EXPECT_EQ(f.element.linear_index(), 5);
}

TEST(ObjectWithParameters, StateQueries) {
  Fixture f(2);
  EXPECT_EQ(f.element.ChangeState(), 0);
  EXPECT_FALSE(f.element.HasChanges(true));
  f.p[1]->owner_changed = true;
  EXPECT_EQ(f.element.ChangeState(), 2);
  EXPECT_FALSE(f.element.HasChanges(false));
  EXPECT_TRUE(f.element.HasChanges(true));
  f.p[0]->changed = true;
  EXPECT_TRUE(f.element.HasChanges(false));

  EXPECT_FALSE(f.element.HasNoData());
  f.p[1]->value = "НЕТ данных";
  EXPECT_TRUE(f.element.HasNoData());

  struct NoteCase {
    const char* note;
    bool with_differences;
    bool without_differences;
  };
  const NoteCase notes[] = {
      {"", false, false},
      {"Значение не записано, так как параметер не инициализирован", false, false},
      {"Знач-е в приборе: '1',Ред-ый,польз.", true, false},
      {"Ошибки на линии связи", true, true},
  };
  for (const NoteCase& c : notes) {
    f.p[0]->note = c.note;
    EXPECT_EQ(f.element.HasNotes(true), c.with_differences) << c.note;
    EXPECT_EQ(f.element.HasNotes(false), c.without_differences) << c.note;
  }
}

TEST(ObjectWithParameters, ResetValuesReturnsToNoData) {
  Fixture f(2);
  for (Parameter* p : f.p) {
    p->note = "x";
    p->editable = false;
    p->factory = true;
    p->changed = p->editability_changed = p->owner_changed = true;
  }
  f.element.ResetValues();
  for (Parameter* p : f.p) {
    EXPECT_EQ(p->value, "Нет данных");
    EXPECT_EQ(p->note, "");
    EXPECT_TRUE(p->editable);
    EXPECT_FALSE(p->factory);
    EXPECT_FALSE(p->any_change());
  }
}

TEST(ObjectWithParameters, OwnedParametersDieWithTheElementReferencedOnesDoNot) {
  int deaths = 0;
  auto outside = std::make_unique<CountedParameter>(deaths);
  {
    ObjectWithParameters element;
    element.add_owned(std::make_unique<CountedParameter>(deaths));
    element.add(*outside);
    EXPECT_TRUE(element.owns_parameters());
    element.DeleteParameters();
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(element.size(), 0u);
    element.add_owned(std::make_unique<CountedParameter>(deaths));
    element.add(*outside);
  }
  EXPECT_EQ(deaths, 2);
  ObjectWithParameters referencing;
  referencing.add(*outside);
  EXPECT_FALSE(referencing.owns_parameters());
}

TEST(ObjectWithParameters, SerializeWritesEveryRecordInListOrder) {
  Fixture f(2);
  ArchiveWriter w;
  Archive out(w);
  f.element.Serialize(out);
  Fixture g(2);
  g.p[0]->value = g.p[1]->value = "";
  ArchiveReader r(w.bytes());
  Archive in(r);
  g.element.Serialize(in);
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(g.p[0]->value, "v0");
  EXPECT_EQ(g.p[1]->value, "v1");
}

TEST(ObjectWithParameters, InsertIntoTreeRemembersHowManyRowsAreInTheView) {
  Fixture f(3);
  RecordingSink sink;
  EXPECT_EQ(f.element.InsertIntoTree(sink, 7, 2), 2);
  EXPECT_EQ(f.element.inserted_rows(), 2);
  EXPECT_EQ(sink.rows, (std::vector<std::string>{"7/p0", "7/p1"}));
  EXPECT_EQ(f.p[1]->view_row, 102u);
  EXPECT_EQ(f.element.insert_remaining_rows(sink, 7), 1);
  EXPECT_EQ(sink.rows.back(), "7/p2");
  EXPECT_EQ(f.element.insert_remaining_rows(sink, 7), 0);
  // A rebuilt view starts from the first parameter again; a negative count means all.
  sink.rows.clear();
  EXPECT_EQ(f.element.InsertIntoTree(sink, 1, -1), 3);
  EXPECT_EQ(sink.rows.size(), 3u);
  EXPECT_EQ(f.element.InsertIntoTree(sink, 1, 10), 3);
}

TEST(ObjectWithParameters, WriteRuleByModeWritabilityReferenceAndCheckOnly) {
  struct Case {
    bool writable;
    bool check_only;
    bool changed;
    bool reference;
    int mode;
    bool written;
  };
  const Case cases[] = {
      {true, false, false, false, 1, true},   {true, false, false, false, 2, true},
      {true, false, false, false, 0, false},  {true, false, true, false, 0, true},
      {true, false, false, false, -1, false}, {true, false, false, true, -1, true},
      {false, false, false, false, 1, false}, {false, false, true, false, 0, false},
      {false, false, false, true, -1, true},  {false, false, false, false, -1, false},
      {false, true, false, false, 1, true},   {false, true, false, false, 0, false},
      {false, true, true, false, 0, true},    {false, true, false, true, 2, true},
  };
  for (const Case& c : cases) {
    Parameter p;
    p.access_mask = c.writable ? 7 : 5;
    p.check_only = c.check_only;
    p.changed = c.changed;
    if (c.reference) p.reference_value = "0";
    EXPECT_EQ(will_write(p, c.mode), c.written)
        << c.writable << c.check_only << c.changed << c.reference << " mode " << c.mode;
  }
}

TEST(ObjectWithParameters, WalksCountAndStopAfterTheCurrentParameter) {
  Fixture f(4);
  RecordingOperations ops;
  ops.fail_on = "p1";
  EXPECT_EQ(f.element.ReadAll(ops), (WalkCounts{4, 1}));
  EXPECT_EQ(ops.calls.front(), "read p0 counting");
  EXPECT_EQ(ops.done, 0);  // a read counts itself

  RecordingOperations cmp;
  cmp.stop_after = "p1";
  EXPECT_EQ(f.element.CompareAll(cmp), (WalkCounts{2, 0}));
  EXPECT_EQ(cmp.calls, (std::vector<std::string>{"compare p0", "compare p1"}));
  EXPECT_EQ(cmp.done, 2);

  RecordingOperations stopped;
  stopped.stop_ = true;
  EXPECT_EQ(f.element.ReadAll(stopped), (WalkCounts{}));
  EXPECT_EQ(f.element.CompareAll(stopped), (WalkCounts{}));
  EXPECT_EQ(f.element.WriteByMode(stopped, 1), (WalkCounts{}));
  EXPECT_TRUE(stopped.calls.empty());
}

TEST(ObjectWithParameters, WriteWalkCountsVisitsInFullModesAndWritesOtherwise) {
  Fixture f(4);
  f.p[1]->access_mask = 5;  // read-only
  f.p[2]->changed = true;
  f.p[3]->reference_value = "1";

  RecordingOperations all;
  EXPECT_EQ(f.element.WriteByMode(all, 1), (WalkCounts{3, 0}));
  EXPECT_EQ(all.done, 4);
  EXPECT_EQ(all.calls, (std::vector<std::string>{"write p0 1", "write p2 1", "write p3 1"}));

  RecordingOperations changed;
  EXPECT_EQ(f.element.WriteByMode(changed, 0), (WalkCounts{1, 0}));
  EXPECT_EQ(changed.done, 1);
  EXPECT_TRUE(f.element.writes_anything(0));

  RecordingOperations init;
  init.fail_on = "p3";
  EXPECT_EQ(f.element.WriteByMode(init, -1), (WalkCounts{1, 1}));
  EXPECT_EQ(init.calls, (std::vector<std::string>{"write p3 -1"}));

  f.p[2]->changed = false;
  EXPECT_FALSE(f.element.writes_anything(0));
}

}  // namespace
}  // namespace kba604
