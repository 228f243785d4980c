// The wizard's tables and rules without an instrument, the questions between its dialogs, and
// running its work off the UI thread.
#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "calibration/calibration_tasks.h"
#include "calibration/calibration_texts.h"
#include "calibration/calibration_wizard.h"
#include "support/recording_prompter.h"

namespace kba604::test {
namespace {

using namespace calibration;

TEST(CalibrationRules, StatusCodesOutsideTheTableAreUnknown) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "Процесс завершен успешно.\n"},
      {15, "Возникла ошибка при записи результатов юстировки в EEPROM.\n"},
      {16, "Неизвестная ошибка кода статуса.\n"},
      {31, "Неизвестная ошибка кода статуса.\n"},
      {32, "Не готовы юстировочные коэффициенты.\n"},
      {33, "В результате юстировки вычисляется не более 1 коэффициента.\n"},
      {34, "В результате юстировки вычисляется не более 2 коэффициентов.\n"},
      {35, "Неизвестная ошибка кода статуса.\n"},
      {36, "В результате юстировки вычисляется не более 4 коэффициентов.\n"},
      {37, "Неизвестная ошибка кода статуса.\n"},
      {200, "Неизвестная ошибка кода статуса.\n"},
      {255, "Неизвестная ошибка кода статуса.\n"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(status_message(code), text) << code;
  EXPECT_EQ(flags_text(0x83), "Флаг завершения юстировочных измерений.");
  EXPECT_EQ(flags_text(0x02), "Биты первоначальных измерений.");
  EXPECT_EQ(flags_text(0x40), "Флаг успешной записи юстировочных коэффициентов.");
  EXPECT_EQ(flags_text(0x00), "Неизвестное значение флага процесса.");
}

TEST(CalibrationRules, TypesAndTheMenuCommandFollowAccessLevelAndModification) {
  EXPECT_EQ(offered_types(2, 3), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(offered_types(1, 3), (std::vector<int>{4}));
  EXPECT_EQ(offered_types(1, 4), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(offered_types(0, 6), (std::vector<int>{1, 2, 3, 4}));
  for (int modification = 0; modification <= 6; ++modification) {
    const bool middle = modification == 3 || modification == 4 || modification == 6;
    EXPECT_TRUE(calibration_available(true, 2, modification));
    EXPECT_EQ(calibration_available(true, 1, modification), middle) << modification;
    EXPECT_FALSE(calibration_available(true, 0, modification));
    EXPECT_FALSE(calibration_available(false, 2, modification));
  }
}

TEST(CalibrationRules, AccessCodesAreReadAsDecimalNumbers) {
  EXPECT_EQ(access_code(1), 476);
  EXPECT_EQ(access_code(4), 552);
  EXPECT_EQ(typed_code("476"), 476);
  EXPECT_EQ(typed_code("  529xyz"), 529);
  EXPECT_EQ(typed_code("+536"), 536);
  EXPECT_EQ(typed_code("abc"), 0);
  EXPECT_EQ(typed_code(""), 0);
  EXPECT_NE(typed_code("552552552552552552552"), 552);  // no wrap-around to a right code
  // Every written sensor code has its entry, and the type lists are complete.
  EXPECT_EQ(sensors_of_type(1).size(), 25u);
  EXPECT_EQ(sensors_of_type(2).size(), 11u);
  EXPECT_EQ(sensors_of_type(4).size(), 4u);
  EXPECT_EQ(sensor_position(1, 25), 19);
  EXPECT_EQ(sensor_position(2, 25), 9);
  EXPECT_EQ(sensor_position(4, 6), -1);
  EXPECT_EQ(fixed6(1.5), "1.500000");
  EXPECT_EQ(fixed6(-0.0078125), "-0.007812");
}

// Dialogs that end as the test says, one entry per dialog run.
class ScriptedDialogs final : public WizardDialogs {
 public:
  SelectionEnd run_selection(StepsStart& start) override {
    runs.push_back("selection");
    SelectionEnd end = selections.front();
    selections.pop_front();
    start.type = 4;
    start.input = 3;
    return end;
  }
  FollowUp run_steps(const StepsStart& start) override {
    runs.push_back("steps " + std::to_string(start.type) + "/" + std::to_string(start.input));
    FollowUp f = follow_ups.front();
    follow_ups.pop_front();
    return f;
  }
  std::deque<SelectionEnd> selections;
  std::deque<FollowUp> follow_ups;
  std::vector<std::string> runs;
};

TEST(CalibrationWizard, TheQuestionsAfterTheStepsChooseTheNextDialog) {
  RecordingPrompter prompter;
  ScriptedDialogs d;
  d.selections = {SelectionEnd::Cancelled};
  EXPECT_FALSE(run_wizard(d, prompter));
  EXPECT_EQ(d.runs, (std::vector<std::string>{"selection"}));

  // A valve done, No: a new input; a faulty coefficient, Yes: the same steps again; a failed
  // store with a new selection; the last steps end the wizard.
  ScriptedDialogs e;
  e.selections = {SelectionEnd::Continued, SelectionEnd::Continued, SelectionEnd::Continued};
  e.follow_ups = {FollowUp::AskExit, FollowUp::OfferRepeat, FollowUp::RestartSelection,
                  FollowUp::OfferRepeat};
  prompter.answer_next(PromptAnswer::No);
  prompter.answer_next(PromptAnswer::Yes);
  prompter.answer_next(PromptAnswer::No);
  EXPECT_TRUE(run_wizard(e, prompter));
  EXPECT_EQ(e.runs, (std::vector<std::string>{"selection", "steps 4/3", "selection", "steps 4/3",
                                              "steps 4/3", "selection", "steps 4/3"}));
  std::vector<PromptRecord> asked = prompter.records();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].text, "Выйти из юстировки?\n(нет - повторить с новым каналом)");
  EXPECT_EQ(asked[0].caption, "Сообщение");
  EXPECT_EQ(asked[1].text, "Попытка юстировки закончилась неудачно; повторить юстировку?");
  EXPECT_EQ(asked[1].caption, "Вопрос о повторе калибкровки");
  EXPECT_EQ(asked[1].icon, PromptIcon::Question);
}

TEST(CalibrationTasks, QuestionsOfTheWorkerAreAskedOnTheOwnersThread) {
  RecordingPrompter target;
  std::mutex mutex;
  std::deque<std::function<void()>> posted;
  RelayPrompter relay(target, [&](std::function<void()> f) {
    std::lock_guard lock(mutex);
    posted.push_back(std::move(f));
  });
  TaskQueue queue;
  std::vector<int> order;
  PromptAnswer answer = PromptAnswer::Cancel;
  target.answer_next(PromptAnswer::Yes);
  queue.post([&] { order.push_back(1); });
  queue.post([&] {
    answer = relay.ask("Повторить?", "Вопрос", PromptIcon::Question, PromptButtons::YesNo,
                       PromptAnswer::No);
    order.push_back(2);
  });
  // The owner's loop: runs what the worker posts until the worker is done.
  while (!queue.idle()) {
    std::function<void()> f;
    {
      std::lock_guard lock(mutex);
      if (!posted.empty()) {
        f = std::move(posted.front());
        posted.pop_front();
      }
    }
    if (f) f();
    std::this_thread::yield();
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(answer, PromptAnswer::Yes);
  ASSERT_EQ(target.count(), 1u);
  EXPECT_EQ(target.records()[0].caption, "Вопрос");

  // Abandoned (the dialog went): a waiting question gets its safe answer and is never shown.
  queue.post([&] {
    answer = relay.ask("Повторить?", "Вопрос", PromptIcon::Question, PromptButtons::YesNo,
                       PromptAnswer::No);
  });
  for (;;) {
    std::lock_guard lock(mutex);
    if (!posted.empty()) break;
  }
  relay.abandon();
  ASSERT_TRUE(queue.wait_idle(10000));
  EXPECT_EQ(answer, PromptAnswer::No);
  posted.front()();
  EXPECT_EQ(target.count(), 1u);
}

}  // namespace
}  // namespace kba604::test
