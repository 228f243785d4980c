#include "app/exit_flags.h"

#include <array>

#include "app/translatable.h"

namespace kba604 {

std::span<const ExitCodeMeaning> exit_code_table() {
  static constexpr std::array kTable = std::to_array<ExitCodeMeaning>({
      {0, KBA604_TR_NOOP("Help", "выполнено; с /test - файлы описания загружены")},
      {2, KBA604_TR_NOOP(
              "Help",
              "командную строку нельзя выполнить: ключу нужно значение, номер порта больше 255, "
              "режиму нужно значение")},
      {3, KBA604_TR_NOOP("Help", "программа уже запущена")},
      {4,
       KBA604_TR_NOOP(
           "Help",
           "файлы описания повреждены и не загружены (--export-parlist: нет дерева параметров)")},
      {5, KBA604_TR_NOOP("Help", "read, write или newnetparam без имени файла")},
      {6, KBA604_TR_NOOP("Help",
                         "запуск без ключей: KBA604 не ответил, а ответы не сказали большего")},
      {7, KBA604_TR_NOOP("Help", "--signal-exitevent: ни одна программа не ждет этого события")},
      {8, KBA604_TR_NOOP(
              "Help",
              "файл командной строки не открывается как конфигурация (не файл, поврежден, обрезан, "
              "от другой таблицы параметров)")},
      {9,
       KBA604_TR_NOOP(
           "Help",
           "конфигурацию нельзя сохранить в названный файл, или чтение прервано (файл не тронут); "
           "--export-parlist: список параметров нельзя записать")},
      {10, KBA604_TR_NOOP("Help", "команда командной строки не может начаться")},
      {11,
       KBA604_TR_NOOP("Help", "команда выполнена, но часть параметров не считана или не записана")},
      {12, KBA604_TR_NOOP("Help", "--export-report: в протоколе нет записей для отчета")},
      {13, KBA604_TR_NOOP("Help",
                          "--export-report: отчет не записан (нет места, нет таблицы параметров, "
                          "файл не создан)")},
      {14, KBA604_TR_NOOP("Help", "--scan: ни один прибор не ответил")},
      {200, KBA604_TR_NOOP("Help", "write: названный файл не существует")},
      {201, KBA604_TR_NOOP("Help",
                           "последовательный порт не открылся или пропал во время работы (--scan: "
                           "не открылся ни на одной скорости)")},
      {202, KBA604_TR_NOOP("Help", "прибор не ответил (таймаут)")},
      {203, KBA604_TR_NOOP(
                "Help", "неверные настройки порта, потеря начала посылки или испорченный ответ")},
      {205,
       KBA604_TR_NOOP(
           "Help", "остановлено: событие завершения, отмена операции или сигнал до конца команды")},
      {206, KBA604_TR_NOOP("Help", "ответил не KBA604")},
      {208, KBA604_TR_NOOP("Help", "канал управления не открылся или запись в него не принята")},
  });
  return kTable;
}

int ExitFlags::exit_code() const {
  static constexpr struct {
    std::uint32_t bit;
    int code;
  } kCodes[] = {{kWriteFileMissing, 200}, {kPortOpenFailed, 201}, {kTimeout, 202},
                {kPortSettings, 203},     {kCancelled, 205},      {kOtherModel, 206},
                {kChannelFailed, 208}};
  const std::uint32_t v = value();
  for (const auto& c : kCodes) {
    if (v & c.bit) return c.code;
  }
  return 0;
}

}  // namespace kba604
