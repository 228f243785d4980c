#include <gtest/gtest.h>

#include <sys/utsname.h>

#include "description/desc_branch.h"
#include "description/elements.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/recording_tree_sink.h"

namespace kba604 {
namespace {

std::unique_ptr<Parameter> make(std::string name, std::string format = "DEC_dot",
                                std::string value = "Нет данных", int index = -1) {
  auto p = std::make_unique<Parameter>();
  p->short_name = std::move(name);
  p->format = std::move(format);
  p->value = std::move(value);
  p->indexed = index >= 0;
  p->linear_index = index;
  p->attribute_multiplicity = 1;
  return p;
}

// Parameters live in a pool here, as they live in the device's table in the program.
class TreeTest : public ::testing::Test {
 protected:
  Parameter& param(std::string name, std::string format = "DEC_dot",
                   std::string value = "Нет данных", int index = -1) {
    pool_.push_back(make(std::move(name), std::move(format), std::move(value), index));
    return *pool_.back();
  }
  std::vector<std::unique_ptr<Parameter>> pool_;
};

// Records what the walks do, in order.
class RecordingOperations final : public ParameterOperations {
 public:
  bool stop_requested() override { return stop; }
  int ReadParameter(Parameter& p, bool) override { return log_op("read " + p.short_name); }
  int WriteParameter(Parameter& p, int) override { return log_op("write " + p.short_name); }
  int CompareParameter(Parameter& p) override { return log_op("compare " + p.short_name); }
  void add_done(int) override {}
  void log_branch(const std::string& line) override { log.push_back(line); }
  int log_op(std::string line) {
    log.push_back(std::move(line));
    return 0;
  }
  bool stop = false;
  std::vector<std::string> log;
};

TEST_F(TreeTest, ExcludedBranchIsNotWrittenButReadAndCompared) {
  DescBranch root("R", 0);
  root.add(param("a"));
  auto& factory = root.add_child(std::make_unique<DescBranch>("F", 0));
  factory.add(param("f"));
  auto& below = factory.add_child(std::make_unique<DescBranch>("G", 0));
  below.add(param("g"));
  factory.exclude_from_writing();

  RecordingOperations ops;
  WalkCounts written = root.WriteByMode(ops, kWriteAllFromRoot);
  EXPECT_EQ(ops.log, (std::vector<std::string>{"Пишем ветвь 'R'", "write a"}));
  EXPECT_EQ(written, (WalkCounts{1, 0}));
  ops.log.clear();
  EXPECT_EQ(below.WriteByMode(ops, kWriteAll), (WalkCounts{0, 0}));
  EXPECT_TRUE(ops.log.empty());
  EXPECT_EQ(root.ReadAll(ops), (WalkCounts{3, 0}));
  EXPECT_EQ(ops.log, (std::vector<std::string>{"Читаем ветвь 'R'", "read a", "Читаем ветвь 'F'",
                                               "read f", "Читаем ветвь 'G'", "read g"}));
  ops.log.clear();
  EXPECT_EQ(root.CompareAll(ops), (WalkCounts{3, 0}));
  EXPECT_EQ(ops.log.size(), 6u);
  ops.stop = true;
  EXPECT_EQ(root.ReadAll(ops), (WalkCounts{0, 0}));
}

TEST_F(TreeTest, WriteOfChangedOnlyLogsBranchesThatWriteSomething) {
  DescBranch root("R", 0);
  root.add(param("a"));
  auto& child = root.add_child(std::make_unique<DescBranch>("C", 0));
  Parameter& b = param("b", "DEC_dot", "5");
  b.changed = true;
  child.add(b);
  RecordingOperations ops;
  root.WriteByMode(ops, kWriteChanged);
  EXPECT_EQ(ops.log, (std::vector<std::string>{"Пишем ветвь 'C'", "write b"}));
}

TEST_F(TreeTest, FillingTheViewCollapsesBranchesOfOneParameter) {
  DescBranch root("Корень", 0, 0, 1, 2);
  root.add(param("top"));
  auto& single = root.add_child(std::make_unique<DescBranch>("Количество каналов", 0));
  Parameter& only = param("n.Ch");
  only.title = "Заголовок";
  single.add(only);
  auto& two = root.add_child(std::make_unique<DescBranch>("Две", 0, 0, 7, 8));
  two.add(param("x"));
  two.add(param("y"));
  auto& linked = root.add_child(std::make_unique<DescBranch>("Со связью", 0));
  linked.add(param("OP.i", "DEC_dot", "3"));
  linked.add_connector(std::make_unique<Connector>("c", "Со связью", "Вход_№#", "OP.i", 1, 8));
  linked.add_connector(std::make_unique<Connector>("d", "Со связью", "Выход", "nothing", 1, 8));
  auto& heater = root.add_child(std::make_unique<DescBranch>("диапазон №1", 0, 0, 5, 6));
  heater.add(param("h1"));
  heater.add(param("h2"));
  auto& lock = root.add_child(std::make_unique<DescBranch>("Блокировки №2", 0, 0, 9, 10));
  lock.add(param("l1"));
  lock.add(param("l2"));

  test::RecordingTreeSink sink;
  root.fill_view(sink, 1);
  std::vector<std::string> texts;
  for (const auto& r : sink.rows) texts.push_back(r.text);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Корень", "<неизвестный параметр>", "Количество каналов", "Две",
                       "<неизвестный параметр>", "<неизвестный параметр>", "Со связью",
                       "<неизвестный параметр>", "Вход №3", "???", "БУИМ типа \"Нагреватель\"",
                       "<неизвестный параметр>", "<неизвестный параметр>",
                       "Блокировка по преходу на новый шаг программы", "<неизвестный параметр>",
                       "<неизвестный параметр>"}));
  const auto* root_row = sink.find_text("Корень");
  EXPECT_EQ(root_row->parent, 1u);
  EXPECT_EQ(root_row->image, 1);
  EXPECT_EQ(root_row->selected_image, 2);
  // The one parameter of "Количество каналов" stands directly under the root, titled with
  // the branch's name.
  const auto* collapsed = sink.find_text("Количество каналов");
  EXPECT_EQ(collapsed->short_name, "n.Ch");
  EXPECT_EQ(collapsed->parent, root_row->row);
  EXPECT_EQ(only.view_row, collapsed->row);
  EXPECT_EQ(sink.find_text("Две")->image, 7);
  EXPECT_EQ(sink.find_text("Вход №3")->image, DescBranch::kConnectorImage);
  EXPECT_EQ(sink.find_text("Вход №3")->parent, sink.find_text("Со связью")->row);
  EXPECT_EQ(sink.find_text("БУИМ типа \"Нагреватель\"")->image, 43);
  EXPECT_EQ(sink.find_text("Блокировка по преходу на новый шаг программы")->image, 9);
  EXPECT_TRUE(linked.connectors_inserted());
  // Connectors go into the view once.
  test::RecordingTreeSink again;
  linked.fill_view(again, 1);
  EXPECT_EQ(again.rows.size(), 2u);
}

TEST_F(TreeTest, ConnectorNumbersAndTexts) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> own;    // format, value of key params
    std::vector<std::pair<std::string, std::string>> child;  // the same in a child branch
    std::string templ;
    std::string text;
  } cases[] = {
      {"no parameter", {}, {}, "Вход_#", "Нет данных"},
      {"no data", {{"DEC_dot", "Нет данных"}}, {}, "Вход_#", "Нет данных"},
      {"decimal", {{"DEC_dot", "3"}}, {}, "Вход_№#", "Вход №2"},
      {"decimal and text", {{"DEC_dot", "4abc"}}, {}, "#-#", "3-3"},
      {"no placeholder", {{"DEC_dot", "8"}}, {}, "Вход_", "Вход 7"},
      {"out of bounds ignored", {{"DEC_dot", "9"}, {"DEC_dot", "2"}}, {}, "#", "1"},
      {"item position", {{"a:b:c_d:e", "C D"}}, {}, "#", "1"},
      {"unknown item ignored", {{"a:b", "z"}, {"a:b", "b"}}, {}, "#", "Нет данных"},
      {"agreeing", {{"DEC_dot", "3"}, {"DEC_dot", "3"}}, {}, "#", "2"},
      {"contradiction", {{"DEC_dot", "3"}, {"DEC_dot", "4"}}, {}, "#", "противоречия!"},
      {"child gives it", {}, {{"DEC_dot", "5"}}, "№#", "№4"},
      {"child contradicts", {{"DEC_dot", "5"}}, {{"DEC_dot", "6"}}, "#", "противоречия!"},
      {"child contradiction ignored",
       {{"DEC_dot", "5"}},
       {{"DEC_dot", "2"}, {"DEC_dot", "3"}},
       "#",
       "4"},
  };
  for (const auto& c : cases) {
    DescBranch branch("B", 0);
    for (const auto& [format, value] : c.own) branch.add(param("key", format, value));
    branch.add(param("other", "DEC_dot", "6"));
    auto& child = branch.add_child(std::make_unique<DescBranch>("C", 0));
    for (const auto& [format, value] : c.child) child.add(param("KEY", format, value));
    Connector connector("n", "B", c.templ, "Key", 2, 8);
    EXPECT_EQ(branch.connector_text(connector), c.text) << c.what;
  }
  // The bounds decide the contradiction and no-data numbers.
  Connector connector("n", "B", "#", "k", 10, 20);
  EXPECT_EQ(connector.text_for(8), "противоречия!");
  EXPECT_EQ(connector.text_for(9), "Нет данных");
  EXPECT_EQ(connector.text_for(20), "11");
}

TEST_F(TreeTest, ConnectionTestLooksForAConnectorTextInTheOtherName) {
  DescBranch branch("B", 0);
  branch.add(param("k", "DEC_dot", "2"));
  branch.add_connector(std::make_unique<Connector>("n", "B", "Вход_#", "k", 1, 8));
  EXPECT_TRUE(branch.connection_test(Elements::InvisibleElement("Датчик: Вход 2 (ТХА)")));
  EXPECT_FALSE(branch.connection_test(Elements::InvisibleElement("Вход 3")));
}

TEST_F(TreeTest, FindsTheFirstBranchListingAParameterDepthFirst) {
  Parameter& p = param("p");
  Parameter& q = param("q");
  DescBranch root("R", 0);
  auto& a = root.add_child(std::make_unique<DescBranch>("A", 0));
  auto& a1 = a.add_child(std::make_unique<DescBranch>("A1", 0));
  a1.add(p);
  auto& b = root.add_child(std::make_unique<DescBranch>("B", 0));
  b.add(p);
  b.add(q);
  EXPECT_EQ(root.find_branch_listing(p), &a1);
  EXPECT_EQ(root.find_branch_listing(q), &b);
  EXPECT_EQ(root.find_branch_listing(param("none")), nullptr);
}

TEST_F(TreeTest, ParameterLinesMergeIndexesAndFollowTheCollapsingRule) {
  DescBranch root("R", 0);
  for (int i : {0, 1, 2, 3}) root.add(param("x", "DEC_dot", "1", i));
  auto& inputs = root.add_child(std::make_unique<DescBranch>("Входы", 0));
  for (int i : {0, 2, 4}) inputs.add(param("y", "DEC_dot", "1", i));
  inputs.add(param("A.i.j", "DEC_dot", "1", 0));
  inputs.add(param("a.i.J", "DEC_dot", "1", 1));  // index 1 starts a row of its own
  auto& one = inputs.add_child(std::make_unique<DescBranch>("Один", 0));
  one.add(param("z"));
  auto& delays = root.add_child(std::make_unique<DescBranch>("времена задержек инспектора", 0));
  delays.add(param("d1"));
  delays.add(param("d2"));

  std::vector<ParameterLine> lines;
  test::RecordingPrompter prompter;
  root.collect_parameter_lines(lines, "", &prompter);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].short_name, "x");
  EXPECT_EQ(lines[0].caption, "");
  EXPECT_EQ(lines[0].first_index, 0);
  EXPECT_EQ(lines[0].last_index, 3);
  EXPECT_EQ(lines[0].index_step, 1);
  EXPECT_EQ(lines[1].short_name, "y");
  EXPECT_EQ(lines[1].caption, "Входы");
  EXPECT_EQ(lines[1].last_index, 4);
  EXPECT_EQ(lines[1].index_step, 2);
  EXPECT_EQ(lines[2].short_name, "A.i.j");
  EXPECT_EQ(lines[2].index_step, ParameterLine::kInitialIndexStep);
  EXPECT_EQ(lines[3].short_name, "a.i.J");
  EXPECT_EQ(lines[4].short_name, "z");  // joins its parent's group
  EXPECT_EQ(lines[4].caption, "Входы");
}

TEST(Elements, NamesTextsAndRenaming) {
  Elements::InvisibleElement plain;
  EXPECT_EQ(plain.effective_name(), "Невизуальный элемент");
  EXPECT_EQ(plain.display_text(), "Невизуальный элемент (Невизуальный элемент)");
  EXPECT_EQ(plain.group_name(), "Не относящиеся ко схеме");
  EXPECT_EQ(plain.diagram_number(), -999);
  EXPECT_EQ(plain.diagram_rect(), DiagramRect{});
  EXPECT_EQ(plain.SetValueByName("Название", "Печь", true), 1);
  EXPECT_EQ(plain.display_text(), "Печь (Невизуальный элемент)");
  EXPECT_EQ(plain.linear_index(), -1);

  Elements::VisibleElement visible("Блок");
  EXPECT_EQ(visible.display_text(), "Блок (Визуальный элемент)");
  EXPECT_EQ(visible.group_name(), "Относящиеся ко схеме");
  test::RecordingPrompter prompter;
  EXPECT_FALSE(visible.refuse_connection(plain, prompter));
  prompter.answer_next(PromptAnswer::Yes);
  EXPECT_TRUE(visible.confirm_connection(plain, prompter));
  EXPECT_FALSE(visible.confirm_connection(plain, prompter));  // the safe answer: no
  auto boxes = prompter.records();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Блок 'Блок' нельзя соединить/отсоединить \nс/от блока 'Печь'\n");
  EXPECT_EQ(boxes[0].icon, PromptIcon::Error);
  EXPECT_EQ(boxes[1].text, "Элемент 'Блок' соединить/отсоединить \nс/от элемента 'Печь'?");
  EXPECT_EQ(boxes[1].buttons, PromptButtons::YesNo);
}

TEST(Elements, ServiceParametersAreNeverWritten) {
  platform::MemorySettingsStore registration;
  registration.set_value("version", "0.0.9");
  Elements::CommonParams service(&registration);
  ASSERT_EQ(service.size(), 3u);
  const char* names[] = {" ", "  ", "   "};
  const char* titles[] = {"Версия", "Копирайт", "Операционная система"};
  for (std::size_t i = 0; i < 3; ++i) {
    Parameter& p = *service.parameters()[i];
    EXPECT_EQ(p.short_name, names[i]);
    EXPECT_EQ(p.title, titles[i]);
    EXPECT_EQ(p.attribute_multiplicity, 0);
    for (int mode : {kWriteInitialise, kWriteChanged, kWriteAll, kWriteAllFromRoot}) {
      p.changed = true;
      EXPECT_FALSE(will_write(p, mode)) << titles[i] << " mode " << mode;
    }
  }
  EXPECT_EQ(service.parameters()[0]->value, KBA604_VERSION);
  EXPECT_EQ(service.parameters()[1]->value, KBA604_COPYRIGHT);
  struct utsname u {};
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(service.parameters()[2]->value,
            std::string(u.sysname) + " " + u.release + " " + u.machine);
  EXPECT_EQ(service.tree_image(), 20);
  EXPECT_EQ(service.type_name(), "Сервисные параметры программы");
  // Registration: a missing value is written, an existing one kept.
  EXPECT_EQ(registration.value("name"), "KBA604");
  EXPECT_EQ(registration.value("version"), "0.0.9");
  // Deleting the parameters builds them anew.
  service.DeleteParameters();
  EXPECT_EQ(service.size(), 3u);
}

TEST_F(TreeTest, BranchPersistenceRoundTrips) {
  DescBranch root("R", 7, 11);
  root.add(param("a", "DEC_dot", "1"));
  auto& child = root.add_child(std::make_unique<DescBranch>("C", 3, 4));
  child.add(param("b", "DEC_dot", "2"));
  ArchiveWriter writer;
  Archive out(writer);
  root.Serialize(out);
  root.parameters()[0]->value = "9";
  child.parameters()[0]->value = "9";
  std::string bytes = writer.take();
  ArchiveReader reader(bytes);
  Archive in(reader);
  root.Serialize(in);
  EXPECT_EQ(root.parameters()[0]->value, "1");
  EXPECT_EQ(child.parameters()[0]->value, "2");
  EXPECT_EQ(root.construction_value(), 7);
  EXPECT_EQ(child.record_value(0), 4);
  EXPECT_TRUE(reader.at_end());
}

}  // namespace
}  // namespace kba604
