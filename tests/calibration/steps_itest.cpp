// The step dialog's logic against the virtual instrument: each step, each way a step fails, and
// a stop in each wait.
#include <cstdio>

#include "calibration/calibration_texts.h"
#include "calibration_fixture.h"
#include "link/sio.h"
#include "link/traffic_tap.h"
#include "support/test_home.h"

namespace kba604::test {
namespace {

using calibration::CalibrationSteps;
using calibration::FollowUp;
using calibration::StepsEnd;
using calibration::StepsStart;

std::string printed(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%f", value);
  return buffer;
}

std::vector<std::string> names(std::initializer_list<const char*> list) {
  return std::vector<std::string>(list.begin(), list.end());
}

StepsStart type(int t, int input = 0) {
  StepsStart s;
  s.type = t;
  s.input = input;
  s.instruction = "инструкция";
  return s;
}

TEST_F(CalibrationOnInstrument, TypeOneRunsFromMeasurementToStoredCoefficient) {
  start();
  auto s = steps(type(1));
  EXPECT_EQ(s->view().caption, "Продолжение юстировки");
  EXPECT_EQ(s->view().status, "Добро пожаловать в утилиту юстировки!");
  EXPECT_EQ(s->view().main_text, "инструкция");

  // Measurement: the start, a second, then a poll a second later finds it finished.
  std::string measuring;
  clock.on_wait = [&](std::size_t n) {
    if (n == 0) measuring = s->view().main_text + "|" + s->view().status;
  };
  s->press_continue();
  char running[100];
  std::snprintf(running, sizeof running, "Проводится юстировка Тип %1i ", 1);
  EXPECT_EQ(measuring, std::string(running) + "|Старт процесса юстировки (CLB.S)");
  EXPECT_EQ(link->names(), names({"CLB.I", "CLB.S"}));
  EXPECT_EQ(link->sent()[0].data, (Bytes{1}));
  EXPECT_EQ(clock.waits, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(s->view().main_text,
            "Юстировочные коэффициенты найдены и после нажатия кнопки \"Продолжить\"\nбудут "
            "сохранены в приборе.");
  EXPECT_EQ(s->view().status, "Измерения завершены...");
  EXPECT_TRUE(s->view().continue_visible && s->view().continue_enabled);
  EXPECT_EQ(s->step(), 1);

  s->press_continue();  // coefficients
  EXPECT_EQ(link->names(), names({"CLB.I", "CLB.S", "CLB.T", "CLB.G"}));
  EXPECT_EQ(link->sent()[3].data, (Bytes{1}));
  EXPECT_EQ(clock.waits.back(), 500);
  EXPECT_EQ(s->view().status, "Проверьте коэффициент(ы)...");
  EXPECT_EQ(s->step(), 2);
  const std::string shown = s->view().main_text;

  s->press_continue();  // storing
  EXPECT_EQ(link->names().back(), "CLB.P");
  EXPECT_EQ(s->view().caption, "Завершение юстировки");
  EXPECT_EQ(s->view().main_text, "Юстировка НСХ преобразования успешно завершена. ");
  EXPECT_EQ(s->view().status, "Завершение юстировки");
  EXPECT_EQ(s->step(), 4);
  auto k = stored();
  ASSERT_EQ(k.count("type1"), 1u);
  EXPECT_EQ(shown, "Значение коэффициента:  " + printed(k["type1"][0]) +
                       " \nГотовность подтвердите нажав на кнопку «Продолжить»\n\nВсе коэффициенты "
                       "вычислены нормально");

  s->press_continue();  // finish
  EXPECT_EQ(link->names().back(), "CLB.A");
  EXPECT_EQ(s->end(), StepsEnd::Continued);
  EXPECT_EQ(s->follow_up(), FollowUp::None);
  s->dialog_gone();
  s->dialog_gone();
  EXPECT_EQ(link->names(), names({"CLB.I", "CLB.S", "CLB.T", "CLB.G", "CLB.P", "CLB.A", "CLB.A"}));
  EXPECT_EQ(prompter.count(), 0u);
}

TEST_F(CalibrationOnInstrument, TypesTwoAndThreeShowEveryCoefficientTheyCompute) {
  start();
  for (int t : {2, 3}) {
    auto s = steps(type(t));
    EXPECT_EQ(s->view().main_text,
              t == 2 ? "Для проведения юстировки характеристики датчика температуры свободных "
                       "концов термопар подключите к контактам «Вход 1» термопару выбранного типа. "
                       "Рабочий спай термопары опустите в сосуд с льдо-водяной смесью (температура "
                       "0,0°С). После установления термостатического режима (примерно 20 мин.) "
                       "подтвердите готовность к выполнению операции нажав на кнопку «Продолжить»"
                     : "Для подготовки прибора к комплексной юстировке подключите к контактам "
                       "«Вход 1» и «Вход 2» калибратор. Готовность к выполнению операции "
                       "подтвердите нажав на кнопку «Продолжить»");
    s->press_continue();
    s->press_continue();
    const std::string shown = s->view().main_text;
    s->press_continue();
    ASSERT_EQ(s->step(), 4) << t;
    EXPECT_EQ(s->view().main_text, t == 2 ? "Юстировка НСХ преобразования успешно завершена. "
                                          : "Комплексная юстировка НСХ преобразования завершена. ");
    std::vector<float> k = stored()["type" + std::to_string(t)];
    if (t == 2) {
      ASSERT_EQ(k.size(), 2u);
      EXPECT_EQ(shown, "Значение первого коэффициента:  " + printed(k[0]) +
                           " \n Значение второго коэффициента:  " + printed(k[1]) +
                           "\n\n\nГотовность подтвердите нажав на кнопку «Продолжить»\n\nВсе "
                           "коэффициенты вычислены нормально");
    } else {
      ASSERT_EQ(k.size(), 4u);
      EXPECT_EQ(shown, "Значение первого коэффициента:\n  K1= " + printed(k[0]) +
                           "\n\nЗначение второго коэффициента:\n  K2= " + printed(k[1]) +
                           "\n\nЗначение третьего коэффициента:\n  K3= " + printed(k[2]) +
                           "\n\nЗначение четвертого коэффициента:\n  K4= " + printed(k[3]) +
                           "\n\n\n\nГотовность подтвердите нажав на кнопку «Продолжить»\n\nВсе "
                           "коэффициенты вычислены нормально");
    }
    EXPECT_EQ(link->count("CLB.G"), t == 2 ? 2 : 2 + 4);
    s->press_continue();
    s->dialog_gone();
  }
}

TEST_F(CalibrationOnInstrument, TypeFourMeasuresTheClosedThenTheOpenPosition) {
  start();
  set_instrument_sensor(2, 41);
  auto s = steps(type(4, 2));
  EXPECT_EQ(
      s->view().main_text,
      "Установите запорно-регулирующий клапан (задвижку) в положение ЗАКРЫТО и подтвердите "
      "готовность к проведению юстировки датчика в этом состоянии нажав на кнопку «Продолжить»");
  std::vector<std::string> measuring;
  clock.on_wait = [&](std::size_t) {
    const std::string text = s->view().main_text;
    if (s->view().status == "Старт процесса юстировки (CLB.S)" &&
        (measuring.empty() || measuring.back() != text)) {
      measuring.push_back(text);
    }
  };
  s->press_continue();
  s->press_continue();
  EXPECT_EQ(s->view().main_text.rfind("Значение коэффициента:  ", 0), 0u);
  s->press_continue();  // the closed position is stored
  EXPECT_EQ(
      s->view().main_text,
      "Теперь установите запорно-регулирующий клапан (задвижку) в положение ОТКРЫТО и подтвердите "
      "готовность к проведению юстировки датчика в этом состоянии нажав на кнопку «Продолжить»");
  EXPECT_EQ(s->view().status, "Продолжение с другим положении клапана (задвижки)");
  EXPECT_EQ(s->view().caption, "Продолжение юстировки");
  EXPECT_EQ(s->valve_position(), 1);
  EXPECT_EQ(s->step(), 0);

  s->press_continue();
  s->press_continue();
  s->press_continue();
  EXPECT_EQ(s->view().main_text,
            "Аналогичным образом произведите юстировку датчиков положения, подключенных к другим "
            "каналам (если такие имеются). ");
  EXPECT_EQ(s->step(), 4);
  s->press_continue();
  EXPECT_EQ(s->end(), StepsEnd::Continued);
  EXPECT_EQ(s->follow_up(), FollowUp::AskExit);

  EXPECT_EQ(measuring, names({"Проводится юстировка датчика положения в закрытом положении",
                              "Проводится юстировка датчика положения в открытом положении"}));
  EXPECT_EQ(link->names(), names({"CLB.I", "CLB.S", "CLB.T", "CLB.G", "CLB.P", "CLB.A", "CLB.I",
                                  "CLB.S", "CLB.T", "CLB.G", "CLB.P", "CLB.A"}));
  EXPECT_EQ(link->sent()[0].data, (Bytes{0x02, 4}));
  EXPECT_EQ(link->sent()[6].data, (Bytes{0x82, 4}));
  auto k = stored();
  EXPECT_EQ(k.count("type4.in3.closed"), 1u);
  EXPECT_EQ(k.count("type4.in3.open"), 1u);
}

TEST_F(CalibrationOnInstrument, AFailedMeasurementShowsItsStatusAndOffersOnlyCancel) {
  const std::vector<std::pair<int, std::string>> cases = {
      {7, "Обрыв датчика при юстировке.\n"},
      {35, "Неизвестная ошибка кода статуса.\n"},
      {200, "Неизвестная ошибка кода статуса.\n"}};
  for (const auto& [code, message] : cases) {
    start({"--cal-status", std::to_string(code)});
    auto s = steps(type(1));
    s->press_continue();
    EXPECT_EQ(s->view().main_text,
              "Процесс поиска измерения юстировки завершен неудачно: " + message)
        << code;
    EXPECT_EQ(s->view().status, "Ошибка");
    EXPECT_TRUE(s->view().continue_visible);
    EXPECT_FALSE(s->view().continue_enabled);
    s->press_continue();  // disabled: nothing is sent
    EXPECT_EQ(link->names(), names({"CLB.I", "CLB.S"}));
    s->press_cancel();
    EXPECT_EQ(s->end(), StepsEnd::Cancelled);
    EXPECT_EQ(link->names().back(), "CLB.A");
  }
}

TEST_F(CalibrationOnInstrument, AMeasurementThatNeverEndsIsPolledTwelveTimes) {
  start({"--cal-never-finish"});
  auto s = steps(type(1));
  std::vector<std::string> statuses;
  clock.on_wait = [&](std::size_t) { statuses.push_back(s->view().status); };
  std::vector<std::string> shown;
  s->set_listener([&] { shown.push_back(s->view().status); });
  s->press_continue();
  EXPECT_EQ(link->count("CLB.S"), 12);
  EXPECT_EQ(clock.waits, std::vector<int>(13, 1000));
  ASSERT_EQ(statuses.size(), 13u);
  char polled[200];
  std::snprintf(polled, sizeof polled, "CLB.S: Флаг процесса=0x%02X. Ждем %i секунд...", 3, 2);
  EXPECT_EQ(statuses[2], polled);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[shown.size() - 2], "CLB.S: ошибка: таймаут");
  EXPECT_EQ(s->view().status, "Ошибка");
  // Judged by the last reply: the measurement was not ready.
  EXPECT_EQ(s->view().main_text,
            "Процесс поиска измерения юстировки завершен неудачно: Не готовы юстировочные "
            "коэффициенты.\n");
  EXPECT_FALSE(s->view().continue_enabled);
}

TEST_F(CalibrationOnInstrument, PollsThatGetNoAnswerEndTheMeasurementAsFailed) {
  start();
  link->fail("CLB.S", 12);
  auto s = steps(type(1));
  s->press_continue();
  EXPECT_EQ(link->count("CLB.S"), 12);
  EXPECT_EQ(s->view().status, "Ошибка");
  EXPECT_EQ(s->view().main_text,
            std::string("Процесс поиска измерения юстировки завершен неудачно: ") + kTimeoutText);
  EXPECT_FALSE(s->view().continue_enabled);
}

TEST_F(CalibrationOnInstrument, AFaultyCoefficientIsShownAndOffersANewAttempt) {
  for (int t : {1, 2}) {
    start({"--cal-bad-coef", std::to_string(t)});
    auto s = steps(type(t));
    s->press_continue();
    s->press_continue();
    EXPECT_EQ(link->sent().back().name, "CLB.G");
    EXPECT_EQ(link->sent().back().data, (Bytes{static_cast<std::uint8_t>(t)}));
    EXPECT_EQ(
        s->view().main_text,
        "Значение ошибочного коэффициента:  9.875000 \n\nГотовность подтвердите нажав на кнопку "
        "«Продолжить»\n\nКоэффициент юстировки не соответствует заданным требованиям. " +
            std::string(t == 2 ? "Возможные причны:\n  1) Подключенная термопара не соответствует "
                                 "заданному типу датчика;\n  2) Температура воздуха окружающего "
                                 "модуль (прибор) не соответствует условиям юстировки (15..30C)\n"
                               : "Проверьте величину сигнала на контактах.Вход 1, а также "
                                 "правильность подключения источника сигналов. После устранения "
                                 "замечаний юстировку повторите."));
    EXPECT_EQ(s->step(), 5);
    s->press_continue();
    EXPECT_EQ(link->names().back(), "CLB.A");
    EXPECT_EQ(s->end(), StepsEnd::Continued);
    EXPECT_EQ(s->follow_up(), FollowUp::OfferRepeat);
    EXPECT_TRUE(stored().empty());
  }
}

TEST_F(CalibrationOnInstrument, AStoreRefusedFourTimesAsksWhetherToCalibrateAgain) {
  start({"--cal-store-fails"});
  for (PromptAnswer answer : {PromptAnswer::Yes, PromptAnswer::No}) {
    link->clear();
    prompter.clear();
    auto s = steps(type(1));
    s->press_continue();
    s->press_continue();
    prompter.answer_next(answer);
    s->press_continue();
    EXPECT_EQ(link->names(), names({"CLB.I", "CLB.S", "CLB.T", "CLB.G", "CLB.P", "CLB.P", "CLB.P",
                                    "CLB.P", "CLB.A"}));
    ASSERT_EQ(prompter.count(), 1u);
    EXPECT_EQ(prompter.records()[0].text,
              "Возникла ошибка при записи результатов юстировки в EEPROM.\nДля повтора юстировки "
              "нажмите кнопку Да");
    EXPECT_EQ(prompter.records()[0].caption, "Ошибка юстировки");
    EXPECT_EQ(s->end(), StepsEnd::Cancelled);
    EXPECT_EQ(s->follow_up(),
              answer == PromptAnswer::Yes ? FollowUp::RestartSelection : FollowUp::None);
  }
  EXPECT_TRUE(stored().empty());
}

TEST_F(CalibrationOnInstrument, ACoefficientReplyWithoutValueIsNeverOfferedForStoring) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"3", "Размер квитанции на команду CLB.G не равер ни 2 ни 5!"},
      {"2", "Не готовы юстировочные коэффициенты.\n"}};
  for (const auto& [bytes, why] : cases) {
    start({"--cal-coef-bytes", bytes});
    auto s = steps(type(1));
    s->press_continue();
    s->press_continue();
    EXPECT_EQ(s->view().main_text,
              "Значение коэффициента:  Нет данных \nГотовность подтвердите нажав на кнопку "
              "«Продолжить»\n\nВсе коэффициенты вычислены нормально\n" +
                  why)
        << bytes;
    EXPECT_EQ(s->view().status, "Ошибка");
    EXPECT_FALSE(s->view().continue_enabled);
    s->press_continue();
    EXPECT_EQ(link->count("CLB.P"), 0);
  }
}

TEST_F(CalibrationOnInstrument, AFailedExchangeIsRepeatedOnYesAndCancelsOnNo) {
  start();
  // Yes: "CLB.I" goes again and the measurement carries on.
  link->fail("CLB.I", 1);
  prompter.answer_next(PromptAnswer::Yes);
  auto s = steps(type(1));
  s->press_continue();
  ASSERT_EQ(prompter.count(), 2u);
  EXPECT_EQ(prompter.records()[0].text, kTimeoutText);
  EXPECT_EQ(prompter.records()[0].caption, "Ошибка (Запуск процессa юстировки)");
  EXPECT_EQ(
      prompter.records()[1].text,
      "Для повтора предыдущей команды нажмите кнопку Да, или можете выйти из процесса юстировки.");
  EXPECT_EQ(prompter.records()[1].caption, "Ошибка юстировки");
  EXPECT_EQ(link->names(), names({"CLB.I", "CLB.I", "CLB.S"}));
  EXPECT_EQ(s->step(), 1);
  s->press_cancel();

  // No: "CLB.A" and the dialog closes, whichever command failed.
  struct Case {
    const char* command;
    int presses;  // Continue presses before the one whose exchange fails
    std::vector<std::string> sent;
    std::string error_caption;
    std::string question_caption;
  };
  const std::vector<Case> cases = {
      {"CLB.I", 0, names({"CLB.I", "CLB.A"}), "Ошибка (Запуск процессa юстировки)",
       "Ошибка юстировки"},
      {"CLB.T", 1, names({"CLB.T", "CLB.A"}), "Ошибка (поиск ошибочных коэффициентов)",
       "Ошибка юстировки"},
      {"CLB.G", 1, names({"CLB.T", "CLB.G", "CLB.A"}),
       "Ошибка (Тип №1. Определение значения коэф-та)", "Ошибка юстировки"},
      {"CLB.P", 2, names({"CLB.P", "CLB.A"}), "Ошибка (запись коэф-та)",
       "Ошибка юстировки (WriteCalibration)"},
  };
  for (const Case& c : cases) {
    auto t = steps(type(1));
    for (int i = 0; i < c.presses; ++i) t->press_continue();
    prompter.clear();
    link->clear();
    link->fail(c.command, 1);
    t->press_continue();
    EXPECT_EQ(link->names(), c.sent) << c.command;
    ASSERT_EQ(prompter.count(), 2u) << c.command;
    EXPECT_EQ(prompter.records()[0].caption, c.error_caption);
    EXPECT_EQ(prompter.records()[1].caption, c.question_caption);
    EXPECT_EQ(t->end(), StepsEnd::Cancelled);
  }
}

TEST_F(CalibrationOnInstrument, CancelStopsEveryWaitAtOnce) {
  // The start's second, the first poll's, a later poll's, and the half second before the
  // coefficients.
  struct Case {
    std::vector<std::string> sim;
    int presses;
    std::size_t stop_at;
    std::vector<std::string> before_cancel;
  };
  const std::vector<Case> cases = {
      {{"--cal-never-finish"}, 0, 0, names({"CLB.I"})},
      {{"--cal-never-finish"}, 0, 1, names({"CLB.I"})},
      {{"--cal-never-finish"}, 0, 6, names({"CLB.I", "CLB.S", "CLB.S", "CLB.S", "CLB.S", "CLB.S"})},
      {{}, 1, 2, names({"CLB.I", "CLB.S"})},
  };
  for (const Case& c : cases) {
    start(c.sim);
    clock.waits.clear();
    auto s = steps(type(1));
    for (int i = 0; i < c.presses; ++i) s->press_continue();
    clock.on_wait = [&](std::size_t n) {
      if (n == c.stop_at) s->request_stop();
    };
    const std::int64_t before = clock.now_us();
    s->press_continue();
    clock.on_wait = nullptr;
    EXPECT_EQ(clock.waits.size(), c.stop_at + 1) << c.stop_at;
    EXPECT_EQ(link->names(), c.before_cancel) << c.stop_at;
    // The stopped wait took no time.
    EXPECT_EQ(clock.now_us() - before,
              static_cast<std::int64_t>(c.stop_at - (c.presses ? 2 : 0)) * 1000 * 1000);
    s->press_continue();  // a stopped dialog starts nothing more
    s->press_cancel();
    s->dialog_gone();
    std::vector<std::string> expected = c.before_cancel;
    expected.insert(expected.end(), {"CLB.A", "CLB.A"});
    EXPECT_EQ(link->names(), expected) << c.stop_at;
    EXPECT_EQ(s->end(), StepsEnd::Cancelled);
  }
}

// The instrument answers "CLB.P" only once the coefficients are in its EEPROM, later than the
// usual reply wait allows: the store waits longer for that one reply, in a single transfer, and
// the usual wait is back for the requests after it.
TEST_F(CalibrationOnInstrument, TheStoreWaitsLongerForItsOneLateReply) {
  constexpr int kStoreMs = 250;
  start({"--time-scale", "1", "--no-pacing", "--cal-time", "0", "--cal-store-ms",
         std::to_string(kStoreMs)});
  auto s = steps(type(1));
  s->press_continue();
  s->press_continue();
  ASSERT_EQ(s->step(), 2);
  ASSERT_EQ(device->sio().open_port(), 0);
  const std::uint16_t usual = device->sio().reply_wait();
  ASSERT_LT(usual, kStoreMs);  // an ordinary request would have given up before the answer
  auto tap = std::make_shared<TrafficTap>();
  device->sio().add_tap(tap);
  s->press_continue();
  device->sio().remove_tap(tap.get());
  EXPECT_EQ(s->step(), 4);
  EXPECT_EQ(s->view().status, "Завершение юстировки");
  EXPECT_EQ(prompter.count(), 0u);
  EXPECT_EQ(stored().count("type1"), 1u);
  const std::vector<TrafficRecord> transfers = tap->take();
  ASSERT_EQ(transfers.size(), 1u);  // no repetition picked up a late answer
  EXPECT_EQ(transfers[0].result, Sio::kReceived);
  EXPECT_GE(transfers[0].round_trip_us, std::int64_t{kStoreMs} * 1000);
  EXPECT_EQ(device->sio().reply_wait(), usual);
}

TEST_F(CalibrationOnInstrument, StoredCoefficientsSurviveARestartOfTheInstrument) {
  TestHome home;
  const std::string state = (home.root() / "kba604.json").string();
  start({"--state", state});
  auto s = steps(type(1));
  for (int i = 0; i < 3; ++i) s->press_continue();
  ASSERT_EQ(s->step(), 4);
  const auto before = stored();
  ASSERT_EQ(before.count("type1"), 1u);
  stop_device();
  sim->stop();
  sim = std::make_unique<VirtualInstrument>(std::vector<std::string>{"--state", state});
  EXPECT_EQ(stored(), before);
}

}  // namespace
}  // namespace kba604::test
