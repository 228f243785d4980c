#include <gtest/gtest.h>

#include "app/operation_view.h"

namespace kba604 {
namespace {

TEST(OperationView, TitlesByOperationCode) {
  struct Case {
    int code;
    const char* title;
  } cases[] = {
      {1, "Идет чтение параметров из прибора"},
      {4, "Идет запись параметров в прибор"},
      {5, "Идет запись измененных значений параметров в прибор"},
      {6, "Идет сравнение параметров в конфигурации и в приборе"},
      {7, "Идет инициализация прибора"},
      {8, "Идет считывание EEPROM из прибора"},
      {9, "Идет запись EEPROM в прибор"},
      {17, "Идет чтение группы параметров из прибора"},
      {18, "Идет запись группы параметров в прибор"},
      {19, "Идет сравнение группы значений параметров"},
      {2, ""},
      {0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(operation_title(c.code), c.title) << c.code;
}

TEST(OperationView, HeadlessViewClosesByItselfAndKeepsItsState) {
  platform::ManualClock clock;
  StderrOperationView view(clock);
  view.open(1, 10, nullptr);
  EXPECT_TRUE(view.is_open());
  EXPECT_TRUE(view.auto_close());
  view.set_counters(10, 10, 2);
  view.add_log_line("Ошибка\nвторая строка", log_colour::kReadFailed, true, false);
  view.close();
  EXPECT_FALSE(view.is_open());
  view.close();  // a second close is harmless
}

}  // namespace
}  // namespace kba604
