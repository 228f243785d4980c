#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/commands.h"
#include "description/desc_branch.h"
#include "operations/eeprom_image.h"
#include "operations_fixture.h"
#include "support/test_home.h"

namespace kba604::test {
namespace {

using Engine = OperationsTest;

TEST_F(Engine, ReadLogsEachParameterAndCountsFailures) {
  TestHome home;
  const std::string elog = (home.root() / "errors.log").string();
  app.set_error_log_path(elog);
  make_table(3);
  define(1, "in-t", "1", 4);
  device->set("p0", 0, "5");
  device->set("p2", 0, "7");
  device->fail_next("in-t", FakeLinkDevice::timeout());
  ObjectWithParameters element;
  list(element, 0, 3);

  run(device->StartRead(element));
  EXPECT_EQ(view.opened_codes(), std::vector<int>{1});
  std::vector<LogRecord> log = view.log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0].text, "  Чтение: p0 = 5");
  EXPECT_EQ(log[0].colour, log_colour::kNormal);
  EXPECT_EQ(log[1].text, "  Чтение: in-t:4 = Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(log[1].colour, (LogColour{200, 0, 0}));
  EXPECT_TRUE(log[1].bold);
  EXPECT_EQ(log[2].text, "  Чтение: p2 = 7");
  EXPECT_EQ(log[3].text, "");
  EXPECT_EQ(view.done(), 3);
  EXPECT_EQ(view.total(), 3);
  EXPECT_EQ(view.errors(), 1);
  EXPECT_EQ(param(2).value, "7");
  EXPECT_EQ(param(1).value, "1");  // a failure never changes the value
  EXPECT_FALSE(view.is_open());
  EXPECT_EQ(app.exit_flags.value(), 0u);

  std::ifstream in(elog);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "in-t:4 - Таймаут при передаче данных (нет связи)");
  EXPECT_FALSE(std::getline(in, line));
}

// A time-out is told by the request's outcome, never by its words: a silent attribute frame
// counts, a refusal counts not, whatever its note says.
TEST_F(Engine, TheFifthTimeoutInARowStopsTheExchange) {
  struct Case {
    // t: time-out, o: answered, a: the attribute frame timed out, x: refused with a note
    // that reads like a time-out
    const char* pattern;
    bool quiet;
    int requests;  // requests made before the stop
    bool stopped;
    bool auto_read = true;  // automatic reading is on before the read
  } cases[] = {
      {"tttttttt", false, 5, true},        {"tttttttt", true, 5, true},
      {"ttttottttt", false, 10, true},     {"ttttotttto", false, 10, false},
      {"tttttttt", false, 5, true, false}, {"ttaattt", false, 5, true},
      {"ttttxtttto", false, 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const int n = static_cast<int>(std::string(c.pattern).size());
    make_table(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      const std::string name = "p" + std::to_string(i);
      using Kind = ExchangeOutcome::Kind;
      if (c.pattern[i] == 't') device->fail_next(name, FakeLinkDevice::timeout());
      if (c.pattern[i] == 'a') {
        const auto silent = ExchangeOutcome::attribute_failure(ExchangeOutcome::of(Kind::Timeout));
        device->fail_next(name, {kRequestAttributesFailed, silent});
      }
      if (c.pattern[i] == 'x') {
        device->fail_next(name, {1, ExchangeOutcome::refused(0x28),
                                 frame_outcome_text(ExchangeOutcome::of(Kind::Timeout))});
      }
    }
    app.modes.auto_read = c.auto_read;
    app.options.switch_flags = c.quiet ? StartOptions::kAnySwitch : 0;
    prompter.clear();
    device->clear_transcript();
    ObjectWithParameters element;
    list(element, 0, static_cast<std::size_t>(n));
    run(device->StartRead(element));

    EXPECT_EQ(static_cast<int>(device->transcript().size()), c.requests);
    EXPECT_EQ(app.modes.auto_read.load(), c.auto_read && !c.stopped);
    const std::string head =
        "Так как прошло 5 неудачных попыток чтения параметров подряд,\nпохоже что прибор "
        "КВА-604 не подключен к компьютеру\n";
    bool box = prompter.count() == 1 && prompter.records()[0].caption == "Предупреждение" &&
               prompter.records()[0].text.rfind(head, 0) == 0;
    bool in_log = false;
    for (const LogRecord& r : view.log()) in_log |= r.text.rfind(head, 0) == 0;
    EXPECT_EQ(box, c.stopped && !c.quiet);
    EXPECT_EQ(in_log, c.stopped && c.quiet);
    // The message tells of automatic reading only when it has just been switched off.
    if (box) {
      const std::string text = prompter.records()[0].text;
      EXPECT_EQ(
          text.find("Режим автоматического чтения параметров был отключен.") != std::string::npos,
          c.auto_read);
      EXPECT_NE(text.find("Ради избежания бессмысленных задержек"), std::string::npos);
    }
    // The limit clears the count, and so does the last answer of the other patterns.
    EXPECT_EQ(device->consecutive_failures(), 0);
    EXPECT_FALSE(device->stop_event().is_set());
  }
}

TEST_F(Engine, TimeoutsInARowAreCountedAcrossOperations) {
  make_table(3);
  ObjectWithParameters element;
  list(element, 0, 3);
  device->fail_next("", FakeLinkDevice::timeout(), 3);
  run(device->StartRead(element));
  EXPECT_EQ(device->consecutive_failures(), 3);
  device->fail_next("", FakeLinkDevice::timeout(), 3);
  device->clear_transcript();
  run(device->StartRead(element));
  EXPECT_EQ(device->transcript().size(), 2u);  // the fifth in a row stops the second read
  EXPECT_EQ(prompter.count(), 1u);
}

TEST_F(Engine, TheCheckBoxSetsTheCaptionOnlyWithoutCommandLineSwitches) {
  struct Case {
    bool switches;
    bool ticked;
    OperationButton caption;
  } cases[] = {
      {false, true, OperationButton::Close},
      {false, false, OperationButton::Stop},
      {true, true, OperationButton::Stop},
  };
  for (const Case& c : cases) {
    app.options.switch_flags = c.switches ? StartOptions::kAnySwitch : 0;
    view.set_button(OperationButton::Stop);
    device->auto_close_toggled(c.ticked);
    EXPECT_EQ(view.button(), c.caption) << c.switches << c.ticked;
  }
}

TEST_F(Engine, FiveFailedWritesInARowStop) {
  make_table(7);
  device->fail_next("", {-1, ExchangeOutcome::of(ExchangeOutcome::Kind::NotEncodable)}, 7);
  ObjectWithParameters element;
  list(element, 0, 7);
  run(device->StartWriteAll(element));
  EXPECT_EQ(device->transcript().size(), 5u);
  EXPECT_TRUE(logged("Прошло 5 безуспешных попыток записи!"));
  EXPECT_EQ(device->consecutive_failures(), 0);
}

// A port that went away stops a read, a write or a comparison at its first failed parameter, as
// five time-outs in a row would: the parameters after it are not tried one by one. So it does
// when it was the attribute frame that found the port gone, after the value came.
TEST_F(Engine, LostPortStopsTheOperationAtOnce) {
  const std::string note = "Последовательный порт COM9 (/dev/pts/7) пропал: Input/output error.";
  struct Case {
    const char* what;
    std::function<bool(ObjectWithParameters&)> start;
  } cases[] = {
      {"read", [this](ObjectWithParameters& e) { return device->StartRead(e); }},
      {"write", [this](ObjectWithParameters& e) { return device->StartWriteAll(e); }},
      {"compare", [this](ObjectWithParameters& e) { return device->StartCompare(e); }},
  };
  const ExchangeOutcome lost = ExchangeOutcome::of(ExchangeOutcome::Kind::LostPort);
  for (const ExchangeOutcome& outcome : {lost, ExchangeOutcome::attribute_failure(lost)})
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + outcome_name(outcome.kind));
    make_table(7);
    device->fail_next("p2", {-1, outcome, note});
    device->clear_transcript();
    app.options.switch_flags = StartOptions::kAnySwitch;  // quiet: the message goes to the log
    ObjectWithParameters element;
    list(element, 0, 7);
    run(c.start(element));
    const std::vector<std::string> transcript = device->transcript();
    ASSERT_FALSE(transcript.empty());
    EXPECT_NE(transcript.back().find("p2"), std::string::npos) << transcript.back();
    for (const std::string& t : transcript) {
      for (const char* later : {"p3", "p4", "p5", "p6"}) {
        EXPECT_EQ(t.find(later), std::string::npos) << t;
      }
    }
    bool said = false;
    for (const LogRecord& r : view.log()) said |= r.text.rfind(note, 0) == 0;
    EXPECT_TRUE(said);
    EXPECT_TRUE(device->operation_stopped());
  }
}

TEST_F(Engine, SkippedAndUninitialisedParameters) {
  make_table(2);
  define(0, "neg", "1", 0).linear_index = -1;
  param(1).value = std::string(kNoData);
  EXPECT_EQ(device->ReadParameter(param(0), true), 6);
  EXPECT_EQ(device->errors(), 0);
  EXPECT_EQ(device->WriteParameter(param(1), kWriteAll), 0);
  EXPECT_EQ(param(1).note, kNotInitialisedNote);
  EXPECT_TRUE(device->transcript().empty());
}

// ---- writing counts one step at a time and the forced re-read ----------------------------------

struct ChannelTable {
  ObjectWithParameters root, branch;
};

class Channels : public OperationsTest {
 protected:
  // n.Ch, S.idx:0..9, S.SAU; the tree root lists all of them, a branch only n.Ch.
  void SetUp() override {
    OperationsTest::SetUp();
    make_table(12);
    define(0, "n.Ch", "5").changed = true;
    for (int i = 0; i < 10; ++i) define(1 + static_cast<std::size_t>(i), "S.idx", "0", i);
    define(11, "S.SAU", "0");
    list(tree.root, 0, 12);
    tree.branch.add(param(0));
    device->set_tree_root(&tree.root);
    device->set("n.Ch", 0, "2");
  }
  ChannelTable tree;
};

TEST_F(Channels, NChIsWrittenOneStepAtATimeAndEndsWithTheForcedReread) {
  run(device->StartWriteChanged(tree.root));
  std::vector<std::string> expected = {"R n.Ch", "W n.Ch=3", "W n.Ch=4", "W n.Ch=5"};
  for (int i = 0; i < 8; ++i) expected.push_back("R S.idx:" + std::to_string(i));
  expected.push_back("R S.SAU");
  EXPECT_EQ(device->transcript(), expected);
  EXPECT_EQ(device->cell("n.Ch").value, "5");
  EXPECT_EQ(param(0).value, "5");
  EXPECT_FALSE(param(0).changed);

  std::vector<LogRecord> log = view.log();
  auto find = [&](const std::string& text) {
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i].text == text) return static_cast<int>(i);
    }
    return -1;
  };
  const int notice = find("Прочитаем предварительно этот параметр:");
  const int reread = find("Принудительное перечитывание некоторых параметров:");
  ASSERT_GE(notice, 0);
  ASSERT_GT(reread, notice);
  EXPECT_EQ(log[static_cast<std::size_t>(reread)].colour, (LogColour{0, 0, 150}));
  EXPECT_TRUE(log[static_cast<std::size_t>(reread)].italic);
  // The window closes once, after the re-read group.
  EXPECT_EQ(view.closes(), 1);
  EXPECT_EQ(log.back().text, "");
  EXPECT_EQ(view.total(), 9);
  EXPECT_EQ(view.done(), 9);
}

TEST_F(Channels, OnlyAWriteOfTheWholeTreeFromItsRootLeavesTheRereadsOut) {
  struct Case {
    bool from_root;
    bool rereads;
  } cases[] = {{true, false}, {false, true}};
  for (const Case& c : cases) {
    device->set("n.Ch", 0, "4");
    device->clear_transcript();
    param(0).value = "5";
    run(device->StartWriteAll(c.from_root ? tree.root : tree.branch));
    std::vector<std::string> t = device->transcript();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[0], "R n.Ch") << c.from_root;  // the count is stepped in every mode
    bool reread = std::find(t.begin(), t.end(), "R S.SAU") != t.end();
    EXPECT_EQ(reread, c.rereads) << c.from_root;
  }
}

TEST_F(Channels, AFailedStepEndsTheWriteAndKeepsTheWantedCount) {
  device->fail_next("n.Ch", FakeLinkDevice::pass());  // the read answers
  device->fail_next("n.Ch", FakeLinkDevice::bad_reply());
  device->set_single_target(&param(0));
  run(device->StartWriteAll(tree.branch));
  // The failed step ends the write; the re-reads of what it changed follow.
  std::vector<std::string> t = device->transcript();
  ASSERT_EQ(t.size(), 11u);
  EXPECT_EQ(t[0], "R n.Ch");
  EXPECT_EQ(t[1], "W n.Ch=3");
  EXPECT_EQ(t[2], "R S.idx:0");
  EXPECT_EQ(param(0).value, "5");
  EXPECT_TRUE(param(0).changed);
  EXPECT_EQ(param(0).note, "Некорректный ответ");
  EXPECT_TRUE(logged("Вернулась ошибка:"));
}

// ---- comparing
// -----------------------------------------------------------------------------------

std::string expected_entry(int n, const std::string& name, const std::string& title,
                           const std::string& mine, const std::string& theirs) {
  return "\n" + std::to_string(n) + ") Параметер '" + name + " (" + title +
         ") в конфигурации: значение=" + mine +
         ",Редактируемый,принадлежит пользователю; в приборе: значение=" + theirs +
         ",Редактируемый,принадлежит пользователю.\n";
}

TEST_F(Engine, TwelveDifferencesAreReportedWithTheFirstTen) {
  make_table(12);
  for (int i = 0; i < 12; ++i) device->set("p" + std::to_string(i), 0, "2");
  ObjectWithParameters element;
  list(element, 0, 12);
  run(device->StartCompare(element));
  device->ReportCompare();

  std::string text = "Обнаружено 12 отличий (показанны только первые 10):\n";
  for (int i = 0; i < 10; ++i) {
    text +=
        expected_entry(i + 1, "p" + std::to_string(i), "Параметр " + std::to_string(i), "1", "2");
  }
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, text);
  EXPECT_EQ(prompter.records()[0].caption, "Результат сравнения");
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Information);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(param(i).note, "Знач-е в приборе: '2',Ред-ый,польз.");
  EXPECT_TRUE(logged("  Сравниваем: p0=1<>2"));
}

TEST_F(Engine, CompareSkipsUnknownValuesAndSeesAttributeDifferences) {
  make_table(4);
  param(0).value = std::string(kNoData);
  define(1, "a.t", "3", 2).attribute_multiplicity = 1;
  device->set("a.t", 2, "3", false, true);  // same value, other attributes
  device->set("p2", 0, "1");
  device->set("p3", 0, "1");
  param(3).note = "Знач-е в приборе: '9',Ред-ый,польз.";  // from an earlier comparison
  ObjectWithParameters element;
  list(element, 0, 4);
  run(device->StartCompare(element));
  device->ReportCompare();
  std::vector<PromptRecord> boxes = prompter.records();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Пропущено параметров из-за отсутствия данных: 1");
  EXPECT_EQ(boxes[1].text,
            "Обнаружено 1 отличий:\n\n1) Параметер 'a.t (Параметр 1) в конфигурации: "
            "значение=3,Редактируемый,принадлежит пользователю; в приборе: "
            "значение=3,Не редактируемый,принадлежит фирме.\n");
  EXPECT_EQ(param(1).note, "Знач-е в приборе: '3',Не ред-ый,фирм.");
  EXPECT_TRUE(logged("  Сравниваем: a.t=3:2<>3"));
  EXPECT_EQ(param(3).note, "");  // the instrument now holds the configured value

  prompter.clear();
  device->set("a.t", 2, "3", true, false);
  run(device->StartCompare(element));
  device->ReportCompare();
  EXPECT_EQ(prompter.records().back().text, "Отличий не обнаружено");
}

// ---- the window
// -----------------------------------------------------------------------------------

TEST_F(Engine, StopThenCloseSetsTheCancelledExitCode) {
  make_table(3);
  ObjectWithParameters element;
  list(element, 0, 3);
  device->hold_requests();
  ASSERT_TRUE(device->StartRead(element));
  device->wait_for_held_request();
  view.set_auto_close(false);
  view.press_button();  // "Остановить"
  EXPECT_EQ(view.button(), OperationButton::Close);
  EXPECT_TRUE(view.is_open());
  const std::int64_t before = clock.now_ms();
  device->release_requests();
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(device->transcript().size(), 1u);  // stopped after the parameter in progress
  EXPECT_LT(clock.now_ms() - before, 2000);    // no pause after a stop
  EXPECT_TRUE(view.is_open());
  EXPECT_EQ(view.log().back().text, "Для закрытия окна нажмите кнопку \"Закрыть\".");
  EXPECT_EQ(view.log().back().colour, (LogColour{128, 0, 0}));
  EXPECT_TRUE(view.log().back().bold);
  EXPECT_EQ(app.exit_flags.value(), 0u);
  view.press_button();  // "Закрыть"
  EXPECT_FALSE(view.is_open());
  EXPECT_EQ(app.exit_flags.value(), ExitFlags::kCancelled);
}

TEST_F(Engine, AFinishedWindowPausesAndClosesByItselfWithoutTouchingTheExitFlags) {
  make_table(2);
  ObjectWithParameters element;
  list(element, 0, 2);
  app.exit_flags.set_bits(ExitFlags::kTimeout);
  const std::int64_t before = clock.now_ms();
  run(device->StartRead(element));
  EXPECT_EQ(clock.now_ms() - before, 2000);
  EXPECT_FALSE(view.is_open());
  EXPECT_EQ(view.button(), OperationButton::Close);
  EXPECT_EQ(app.exit_flags.value(), ExitFlags::kTimeout);
}

TEST_F(Engine, ThePortIsOpenedForTheOperationAndAFailedOpeningStopsIt) {
  make_table(2);
  ObjectWithParameters element;
  list(element, 0, 2);
  run(device->StartRead(element));
  EXPECT_EQ(device->port_openings(), 1);
  device->set_port_fails(true);
  device->clear_transcript();
  run(device->StartRead(element));
  EXPECT_TRUE(device->transcript().empty());
  EXPECT_FALSE(view.is_open());
}

TEST_F(Engine, ASecondOperationWaitsForThePreviousWindow) {
  make_table(1);
  ObjectWithParameters element;
  list(element, 0, 1);
  device->hold_requests();
  ASSERT_TRUE(device->StartRead(element));
  device->wait_for_held_request();
  const std::int64_t before = clock.now_ms();
  EXPECT_FALSE(device->StartCompare(element));
  EXPECT_EQ(clock.now_ms() - before, 2000);  // 10 steps of 200 ms
  device->release_requests();
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(view.opened_codes(), std::vector<int>{1});
}

TEST_F(Engine, WritingTheErroneousParametersWritesOnlyThoseWithErrors) {
  make_table(4);
  ObjectWithParameters element;
  list(element, 0, 4);
  // A read-only command whose read failed is not written: it would start regulation.
  define(3, "r-s", "1").access_mask = 5;
  param(3).note = "Таймаут при передаче данных (нет связи)";
  EXPECT_FALSE(device->StartWriteErroneous(element));
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, "Ошибочных параметров не обнаружено!");
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Warning);

  param(0).note = std::string(kNotInitialisedNote);
  param(2).note = "Некорректный ответ";
  run(device->StartWriteErroneous(element));
  EXPECT_EQ(view.opened_codes(), std::vector<int>{18});
  EXPECT_EQ(device->transcript(), std::vector<std::string>{"W p2=1"});
  EXPECT_EQ(param(2).note, "");
}

TEST_F(Engine, ImmediateWriteSendsAChangeWithoutAWindow) {
  make_table(2);
  ObjectWithParameters root;
  list(root, 0, 2);
  device->set_tree_root(&root);
  param(1).changed = true;
  device->immediate_write(param(1));
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_TRUE(device->transcript().empty());  // the mode is off

  app.modes.immediate_write = true;
  device->immediate_write(param(1));
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(device->transcript(), std::vector<std::string>{"W p1=1"});
  EXPECT_TRUE(view.opened_codes().empty());
  EXPECT_TRUE(view.log().empty());
}

TEST_F(Engine, AnImmediateWriteWaitsBehindARunningOperation) {
  make_table(3);
  ObjectWithParameters root, branch;
  list(root, 0, 3);
  list(branch, 0, 2);
  device->set_tree_root(&root);
  app.modes.immediate_write = true;
  device->hold_requests();
  ASSERT_TRUE(device->StartRead(branch));
  device->wait_for_held_request();
  param(2).changed = true;
  device->immediate_write(param(2));
  device->release_requests();
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(device->transcript(), (std::vector<std::string>{"R p0", "R p1", "W p2=1"}));
  EXPECT_EQ(view.done(), 2);
  EXPECT_EQ(view.total(), 2);
}

// ---- initialisation ---------------------------------------------------------------------------

class Initialisation : public OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    make_table(6);
    define(0, "r.co", "Нет").reference_value = "1";
    param(0).access_mask = 6;  // read-only
    define(1, "t.rs", "5", 3).reference_value = "12";
    define(2, "t.rs", "5", 5).reference_value = "12";
    Parameter& kept = define(3, "Ch.At", "0");
    kept.reference_value = "0";
    kept.check_only = true;
    kept.attribute_multiplicity = 1;
    Parameter& checked = define(4, "n.nAM", "KBA2");
    checked.reference_value = "KBA1";
    checked.check_only = true;
    checked.attribute_multiplicity = 1;
    checked.access_mask = 6;
    define(5, "x.y", "3");  // no reference value: not written
    list(root, 0, 6);
    device->set_tree_root(&root);
    device->set("Ch.At", 0, "0");
    device->set("n.nAM", 0, "KBA2", true, true);  // factory-owned: opened around the write
  }
  ObjectWithParameters root;
};

TEST_F(Initialisation, WritesReferenceValuesWithTheirSpecialCases) {
  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().InitialiseDevice(root, nullptr));
  EXPECT_EQ(view.opened_codes(), std::vector<int>{7});
  std::vector<std::string> expected = {
      "W r.co=1",  // the reset first
      "W r.co=1",  // and again in the tree, where it is listed
      "W t.rs:3=0",  "W t.rs:5=12",   "R Ch.At",     "W Ch.At=0",    "R n.nAM",
      "A n.nAM 1 0", "W~ n.nAM=KBA1", "A n.nAM 1 1", "W n.nAM=KBA1",
  };
  EXPECT_EQ(device->transcript(), expected);
  EXPECT_TRUE(logged("Проверка:Ch.At = 0 [не меняем]"));
  EXPECT_TRUE(logged("Проверка:n.nAM =?= KBA1 [проверка]"));
  EXPECT_TRUE(logged(" - открытие атрибутов: ok"));
  EXPECT_TRUE(logged(" - закрытие атрибутов: ok"));
  EXPECT_TRUE(logged("Проверка:n.nAM [новое значение] = KBA1"));
  EXPECT_EQ(view.total(), 5);  // the parameters with a reference value
  EXPECT_FALSE(logged("Принудительное перечитывание некоторых параметров:"));
}

TEST_F(Initialisation, AResetThatFailsFiveTimesIsLoggedAndTheTreeFollows) {
  device->fail_next("r.co", FakeLinkDevice::bad_reply(), 5);
  run(device->StartInit(root));
  std::vector<std::string> t = device->transcript();
  ASSERT_GE(t.size(), 7u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(t[static_cast<std::size_t>(i)], "W r.co=1");
  EXPECT_EQ(t[5], "W r.co=1");
  EXPECT_EQ(t[6], "W t.rs:3=0");
  EXPECT_TRUE(logged("Не удалось инициализировать параметр \"r.co\"!"));
}

TEST_F(Initialisation, WithoutAResetParameterTheTreeIsWrittenAtOnce) {
  param(0).short_name = "r.cx";
  param(0).reference_value.clear();
  run(device->StartInit(root));
  std::vector<std::string> t = device->transcript();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t[0], "W t.rs:3=0");
  EXPECT_FALSE(logged("Не удалось инициализировать параметр \"r.co\"!"));
}

TEST_F(Initialisation, GuardsComeBeforeAnyExchange) {
  struct Polling final : PollingGuard {
    bool AnyPollingOn() const override { return true; }
  } polling;
  EXPECT_FALSE(commands().InitialiseDevice(root, &polling));
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].caption, "Запись заводских параметров");
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Warning);

  prompter.clear();
  EXPECT_FALSE(commands().InitialiseDevice(root, nullptr));  // the safe answer is No
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text,
            "Эта операция приведет к потери конфигурации в программе и в приборе!");

  prompter.clear();
  device->set_max_access(false);
  EXPECT_FALSE(device->StartInit(root));
  EXPECT_EQ(prompter.records()[0].text,
            "Эта операция доступна только на максимальном уровне доступа");
  EXPECT_TRUE(device->transcript().empty());
  EXPECT_TRUE(view.opened_codes().empty());
}

// ---- the EEPROM image through the device -------------------------------------------------------

TEST_F(Engine, AnImageIsReadSavedLoadedAndWrittenBack) {
  TestHome home;
  const std::string path = (home.root() / "image.eep").string();
  make_table(6);
  define(0, "dev", "KBA604");
  define(1, "n.Err", "0");
  define(2, "r-s", "0");
  define(3, "rEAd", "0").create_polling_timer();
  define(4, "a.b", "1");
  define(5, "c.d", "2", 1);
  device->set("a.b", 0, "11");
  device->set("c.d", 1, "22");
  device->set("dev", 0, "KBA604");

  ASSERT_TRUE(commands().SaveEepromImage(path));
  EXPECT_EQ(view.opened_codes(), std::vector<int>{8});
  EXPECT_EQ(device->transcript(), (std::vector<std::string>{"R dev", "R a.b", "R c.d:1"}));
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, build_eeprom_image(device->table()));

  param(4).value = "0";
  param(5).value = "0";
  device->clear_transcript();
  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().LoadEepromImage(path));
  EXPECT_EQ(param(4).value, "11");
  EXPECT_EQ(param(5).value, "22");
  EXPECT_EQ(prompter.records().back().text,
            "Образ EEPROM загружен в конфигуратор! Хотите записать его в прибор?");
  EXPECT_EQ(view.opened_codes(), (std::vector<int>{8, 9}));
  EXPECT_EQ(device->transcript(), (std::vector<std::string>{"W a.b=11", "W c.d:1=22"}));

  prompter.clear();
  EXPECT_FALSE(commands().LoadEepromImage((home.root() / "missing.eep").string()));
  EXPECT_EQ(prompter.records().back().caption, "Ошибка открытия");
  // A folder, a FIFO or a device node chosen by mistake is refused the same way, at once, and
  // nothing is loaded or written.
  std::filesystem::create_directories(home.root() / "dir.eep");
  ASSERT_EQ(::mkfifo((home.root() / "fifo.eep").c_str(), 0600), 0);
  for (const std::string& wrong : {(home.root() / "dir.eep").string(),
                                   (home.root() / "fifo.eep").string(), std::string("/dev/null")}) {
    prompter.clear();
    device->clear_transcript();
    EXPECT_FALSE(commands().LoadEepromImage(wrong)) << wrong;
    ASSERT_FALSE(prompter.records().empty()) << wrong;
    EXPECT_EQ(prompter.records().back().caption, "Ошибка открытия");
    EXPECT_NE(prompter.records().back().text.find(wrong), std::string::npos);
    EXPECT_TRUE(device->transcript().empty());
    EXPECT_EQ(param(4).value, "11");
  }
}

TEST_F(Engine, WritingAnImageBackSendsNoCommand) {
  // The image holds what the instrument reported, commands included; writing it back sends
  // the settings only: identity, error register, regulation start and the configuration reset
  // stay out.
  TestHome home;
  const std::string path = (home.root() / "image.eep").string();
  make_table(6);
  const char* names[] = {"dev", "ver", "n.Err", "r-s", "r.co", "a.b"};
  for (std::size_t i = 0; i < 6; ++i) {
    define(i, names[i], "1");
    device->set(names[i], 0, "1");
  }
  ASSERT_TRUE(commands().SaveEepromImage(path));
  device->clear_transcript();
  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().LoadEepromImage(path));
  EXPECT_EQ(device->transcript(), std::vector<std::string>{"W a.b=1"});
}

TEST_F(Engine, AnImageReadThatWasStoppedReplacesNoFile) {
  TestHome home;
  const std::string path = (home.root() / "image.eep").string();
  make_table(8);
  for (std::size_t i = 0; i < 8; ++i) device->set(param(i).short_name, 0, "7");
  ASSERT_TRUE(commands().SaveEepromImage(path));
  std::ifstream first(path, std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(first)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(good.empty());

  struct Case {
    const char* what;
    bool port_fails;
    int timeouts;  // every parameter of the table times out this many times
  };
  const Case cases[] = {
      {"the port cannot be opened", true, 0},
      {"the fifth time-out in a row stops the read", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::size_t i = 0; i < 8; ++i) {
      param(i).value = "1";
      if (c.timeouts > 0) device->fail_next(param(i).short_name, FakeLinkDevice::timeout());
    }
    device->set_port_fails(c.port_fails);
    prompter.clear();
    EXPECT_FALSE(commands().SaveEepromImage(path));
    ASSERT_FALSE(prompter.records().empty());
    EXPECT_EQ(prompter.records().back().caption, "Предупреждение");
    EXPECT_NE(prompter.records().back().text.find(path), std::string::npos);
    std::ifstream in(path, std::ios::binary);
    const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now, good);
    device->set_port_fails(false);
  }
}

// ---- automation after an operation -------------------------------------------------------------

struct RecordingListener final : OperationListener {
  void operation_finished(int code) override {
    events.push_back("finished " + std::to_string(code));
  }
  void save_after_read() override { events.push_back("save"); }
  void automation_done() override { events.push_back("done"); }
  std::vector<std::string> events;
};

TEST_F(Channels, AutomationIsToldOnceTheCommandAndItsRereadsHaveRun) {
  RecordingListener listener;
  device->set_listener(&listener);
  app.options.switch_flags = StartOptions::kAnySwitch | StartOptions::kWrite;
  run(device->StartWriteAll(tree.root));
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(listener.events, (std::vector<std::string>{"finished 4", "done"}));

  listener.events.clear();
  app.options.switch_flags = StartOptions::kAnySwitch | StartOptions::kRead;
  device->set("n.Ch", 0, "4");
  param(0).value = "5";
  run(device->StartWriteAll(tree.branch));  // a branch: the re-reads follow
  EXPECT_EQ(listener.events, (std::vector<std::string>{"finished 4", "finished 4", "done"}));

  listener.events.clear();
  run(device->StartRead(tree.root));
  EXPECT_EQ(listener.events, (std::vector<std::string>{"finished 1", "save", "done"}));
  device->set_listener(nullptr);
}

}  // namespace
}  // namespace kba604::test

// ---- walks over branches ---------------------------------------------------------------------

namespace kba604::test {
namespace {

class Branches : public OperationsTest {
 protected:
  // KBA604 { p0; Входы { p1, p2; Вход №1 { p3 } }; Сеть (excluded from writing) { p4 } }
  void SetUp() override {
    OperationsTest::SetUp();
    make_table(5);
    root.add(param(0));
    DescBranch& inputs = root.add_child(std::make_unique<DescBranch>("Входы", 0));
    inputs.add(param(1));
    inputs.add(param(2));
    inputs.add_child(std::make_unique<DescBranch>("Вход №1", 0)).add(param(3));
    DescBranch& net = root.add_child(std::make_unique<DescBranch>("Сеть", 0));
    net.add(param(4));
    net.exclude_from_writing();
    device->set_tree_root(&root);
    for (int i = 0; i < 5; ++i) device->set("p" + std::to_string(i), 0, std::to_string(10 + i));
  }
  DescBranch& inputs() { return *root.children()[0]; }
  DescBranch root{"KBA604", 0};
};

TEST_F(Branches, ABranchReadAnnouncesItselfBeforeItsParameters) {
  run(device->StartRead(inputs()));
  std::vector<std::string> expected = {"Читаем ветвь 'Входы'", "  Чтение: p1 = 11",
                                       "  Чтение: p2 = 12",    "Читаем ветвь 'Вход №1'",
                                       "  Чтение: p3 = 13",    ""};
  EXPECT_EQ(log_texts(), expected);
  EXPECT_EQ(view.total(), 3);
  EXPECT_EQ(view.done(), 3);
}

TEST_F(Branches, WritesSkipExcludedBranchesAndQuietBranches) {
  param(3).changed = true;
  run(device->StartWriteChanged(root));
  std::vector<std::string> expected = {"Пишем ветвь 'Вход №1'", "  Запись: p3 [новое значение] = 1",
                                       ""};
  EXPECT_EQ(log_texts(), expected);
  EXPECT_EQ(view.total(), 1);

  device->clear_transcript();
  run(device->StartWriteAll(root));
  EXPECT_EQ(device->transcript(),
            (std::vector<std::string>{"W p0=1", "W p1=1", "W p2=1", "W p3=1"}));
  EXPECT_EQ(view.done(), view.total());
}

TEST_F(Branches, ForcedRereadsAreFoundAnywhereInTheTree) {
  define(0, "Rel.a", "1", 2).changed = true;
  define(4, "S.OE", "0");
  run(device->StartWriteChanged(inputs()));  // nothing changed below "Входы"
  EXPECT_TRUE(device->transcript().empty());
  run(device->StartWriteChanged(root));
  EXPECT_EQ(device->transcript(), (std::vector<std::string>{"W Rel.a:2=1", "R S.OE"}));
}

}  // namespace
}  // namespace kba604::test

namespace kba604::test {
namespace {

// The asynchronous forms of the whole-instrument commands return while the operation runs and
// tell its end once through the sink, after what the command does with the result.
TEST_F(Engine, CommandsStartedForAWindowFinishThroughTheSink) {
  TestHome home;
  const std::string path = (home.root() / "image.eep").string();
  make_table(3);
  for (std::size_t i = 0; i < 3; ++i) device->set(param(i).short_name, 0, "7");

  device->hold_requests();
  ASSERT_TRUE(commands().start_save_eeprom_image(path));
  device->wait_for_held_request();  // the read runs while the caller goes on
  EXPECT_TRUE(sink.finished_commands().empty());
  EXPECT_FALSE(std::filesystem::exists(path));
  device->release_requests();
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(sink.finished_commands(), std::vector<int>{command::kSaveEepromImage});
  EXPECT_TRUE(commands().last_result());
  EXPECT_TRUE(std::filesystem::exists(path));

  // Loaded, but not to be written (the safe answer): nothing starts, nothing to wait for.
  param(0).value = "1";
  EXPECT_FALSE(commands().start_load_eeprom_image(path));
  EXPECT_TRUE(commands().last_result());
  EXPECT_EQ(param(0).value, "7");
  EXPECT_EQ(sink.finished_commands().size(), 1u);

  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().start_load_eeprom_image(path));
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(sink.finished_commands(),
            (std::vector<int>{command::kSaveEepromImage, command::kLoadEepromImage}));

  // A missing file and a refused initialisation end at once, with their messages.
  EXPECT_FALSE(commands().start_load_eeprom_image((home.root() / "none.eep").string()));
  EXPECT_FALSE(commands().last_result());
  ObjectWithParameters root;
  list(root, 0, 3);
  EXPECT_FALSE(commands().start_initialise(root, nullptr));  // answered No
  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().start_initialise(root, nullptr));
  ASSERT_TRUE(device->wait_idle(-1));
  EXPECT_EQ(sink.finished_commands().back(), command::kWriteFactory);
  EXPECT_EQ(sink.finished_commands().size(), 3u);
}

}  // namespace
}  // namespace kba604::test
