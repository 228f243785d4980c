// The type selection against the virtual instrument: the sensor lists follow the instrument's
// sensor type, the access codes guard the steps, and the chosen sensor type is written into
// "in-t" before they begin.
#include "calibration/calibration_texts.h"
#include "calibration_fixture.h"

namespace kba604::test {
namespace {

using calibration::SelectionEnd;

TEST_F(CalibrationOnInstrument, TypeOneWritesTheChosenSensorAndHandsOverItsInstruction) {
  start();
  auto sel = selection();
  EXPECT_EQ(sel->view().types, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(sel->view().sensors_shown);
  EXPECT_FALSE(sel->view().code_shown);
  sel->choose_type(1);
  calibration::SelectionView v = sel->view();
  EXPECT_EQ(v.description, "Юстировка НСХ преобразования");
  EXPECT_TRUE(v.sensors_shown && v.code_shown);
  EXPECT_FALSE(v.inputs_shown);
  ASSERT_EQ(v.sensors.size(), 25u);
  EXPECT_EQ(v.sensors[3], "Термопара TХА (К) '05' ");
  EXPECT_EQ(v.sensor, 3);  // the instrument's "in-t" holds type 6 out of the box

  sel->choose_sensor(1);  // "Термопара TХК (L) '04' ", code 5
  sel->press_continue("476");
  ASSERT_EQ(sel->end(), SelectionEnd::Continued);
  EXPECT_EQ(sel->steps_start().type, 1);
  EXPECT_EQ(
      sel->steps_start().instruction,
      "Для юстировки НСХ преобразования ТХК (L), ТХА (К), ТНН (N), ТЖК (J), а также шкалы минус "
      "50,0…+ 50,0 мВ подключите к контактам «Вход 1» источник образцового напряжения (например, "
      "потенциометр постоянного тока ПП-63 с классом точности не хуже 0,05) и установите на нем "
      "значение 40,30 мВ. Готовность подтвердите нажав на кнопку «Продолжить»");
  EXPECT_EQ(instrument_sensor(0), 5);
  EXPECT_EQ(device->table().device_slot(105, 0)->value, "ТХК(L)");
  EXPECT_EQ(prompter.count(), 0u);
}

TEST_F(CalibrationOnInstrument, ValveSensorsFollowTheChosenInputAndKeepTheirCodes) {
  start();
  set_instrument_sensor(5, 41);
  auto sel = selection();
  sel->choose_type(4);
  EXPECT_EQ(sel->view().sensors.size(), 4u);
  EXPECT_EQ(sel->view().inputs.size(), 8u);
  EXPECT_EQ(sel->view().inputs[7], "Вход №8");
  EXPECT_EQ(sel->view().input, -1);
  EXPECT_EQ(sel->view().sensor, -1);  // input 1 holds no valve sensor
  // Each valve code preselects its own entry, so Continue writes back what was read.
  const std::vector<std::pair<int, int>> codes = {{41, 1}, {26, 0}, {27, 2}, {28, 3}};
  for (const auto& [code, position] : codes) {
    set_instrument_sensor(5, code);
    sel->choose_input(5);
    EXPECT_EQ(sel->view().sensor, position) << code;
    EXPECT_EQ(sel->view().input, 5);
  }
  sel->press_continue("552");
  ASSERT_EQ(sel->end(), SelectionEnd::Continued);
  EXPECT_EQ(instrument_sensor(5), 28);
  EXPECT_EQ(sel->steps_start().input, 5);
  EXPECT_EQ(sel->steps_start().type, 4);
}

TEST_F(CalibrationOnInstrument, NothingIsSentWithoutATypeOrTheRightCode) {
  start();
  auto sel = selection();
  sel->press_continue("476");
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, "Выбертие тип юстировки для прохода в следующее меню.");
  EXPECT_EQ(prompter.records()[0].caption, "Ошибка");
  EXPECT_TRUE(link->sent().empty());
  EXPECT_EQ(link->sensor_reads, 0);

  // Three wrong codes, a right one (no sensor chosen: nothing more), three wrong: still open.
  sel->choose_type(1);
  sel->choose_sensor(-1);
  prompter.clear();
  for (const char* code : {"475", "", "abc", "476", "1", "4760", "-476"}) sel->press_continue(code);
  EXPECT_EQ(sel->end(), SelectionEnd::Open);
  EXPECT_EQ(prompter.count(), 6u);
  EXPECT_EQ(prompter.records()[0].text, "Неправильно введен код доступа!");
  EXPECT_EQ(prompter.records()[0].caption, "Ошибка");
  EXPECT_TRUE(link->sent().empty());
  // The fourth wrong one in a row closes the dialog.
  sel->press_continue("477");
  EXPECT_EQ(sel->end(), SelectionEnd::Cancelled);
  EXPECT_EQ(wrong_codes.value(), 0);

  // The count outlives the dialog: two wrong codes here and two in the next close it.
  auto first = selection();
  first->choose_type(3);
  first->press_continue("1");
  first->press_continue("2");
  first->press_cancel();
  auto second = selection();
  second->choose_type(3);
  second->press_continue("3");
  EXPECT_EQ(second->end(), SelectionEnd::Open);
  second->press_continue("4");
  EXPECT_EQ(second->end(), SelectionEnd::Cancelled);
  // The right code of type 3 continues without writing anything.
  auto third = selection();
  third->choose_type(3);
  third->press_continue("536 ");
  EXPECT_EQ(third->end(), SelectionEnd::Continued);
  EXPECT_TRUE(link->sent().empty());
}

TEST_F(CalibrationOnInstrument, AnUnreadableSensorTypeAsksToReadAgain) {
  start();
  // A value that names no sensor type: Yes reads the instrument again.
  device->table().device_slot(105, 0)->value = "Чепуха";
  prompter.answer_next(PromptAnswer::Yes);
  auto sel = selection();
  sel->choose_type(2);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text,
            "Странный ответ на \"in-t\": 'Чепуха'\nДля повтора предыдущей команды нажмите кнопку "
            "Да, или можете выйти из процесса юстировки.");
  EXPECT_EQ(prompter.records()[0].caption, "Проблема обмена с прибором");
  EXPECT_EQ(sel->view().sensor, 2);  // type 6 in the thermocouple list
  EXPECT_EQ(sel->end(), calibration::SelectionEnd::Open);

  // A failed read and No: the dialog closes.
  link->fail("in-t", 1);
  prompter.clear();
  sel->choose_type(1);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, std::string(kTimeoutText) +
                                            "Для повтора предыдущей команды нажмите кнопку Да, или "
                                            "можете выйти из процесса юстировки.");
  EXPECT_EQ(sel->end(), SelectionEnd::Cancelled);
}

TEST_F(CalibrationOnInstrument, AFailedSensorWriteIsRepeatedOrCancels) {
  start();
  for (PromptAnswer answer : {PromptAnswer::Yes, PromptAnswer::No}) {
    prompter.clear();
    auto sel = selection();
    sel->choose_type(2);
    sel->choose_sensor(0);  // code 5
    link->fail("in-t write", 1);
    prompter.answer_next(answer);
    sel->press_continue("529");
    ASSERT_EQ(prompter.count(), 1u);
    EXPECT_EQ(prompter.records()[0].text, std::string(kTimeoutText) +
                                              "\nДля повтора предыдущей команды нажмите кнопку Да, "
                                              "или можете выйти из процесса юстирвки.");
    EXPECT_EQ(prompter.records()[0].caption, "Ошибка обмена с прибором (запись)");
    EXPECT_EQ(sel->end(),
              answer == PromptAnswer::Yes ? SelectionEnd::Continued : SelectionEnd::Cancelled);
  }
  EXPECT_EQ(instrument_sensor(0), 5);

  // A write the instrument never answered may or may not have been taken: the table claims
  // neither value, and the next look at the input reads the instrument.
  Parameter* p = device->table().device_slot(105, 0);
  sim->with([](sim::Instrument& i) { i.faults().silent = true; });
  EXPECT_FALSE(device_link->write_sensor_type(0, 21).empty());
  EXPECT_EQ(p->value, "Нет данных");
  EXPECT_FALSE(p->note.empty());
}

}  // namespace
}  // namespace kba604::test
