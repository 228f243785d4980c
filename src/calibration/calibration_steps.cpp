#include "calibration/calibration_steps.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "app/translatable.h"
#include "calibration/calibration_texts.h"
#include "model/texts.h"

namespace kba604::calibration {
namespace {

constexpr std::string_view kCaption = KBA604_TR_NOOP("Messages", "Продолжение юстировки");
constexpr std::string_view kStoringCaption = KBA604_TR_NOOP("Messages", "Завершение юстировки");
constexpr std::string_view kWelcome = "Добро пожаловать в утилиту юстировки!";
constexpr std::string_view kRepeatQuestion = KBA604_TR_NOOP(
    "Messages",
    "Для повтора предыдущей команды нажмите кнопку Да, или можете выйти из процесса юстировки.");
constexpr std::string_view kRepeatCaption = KBA604_TR_NOOP("Messages", "Ошибка юстировки");
constexpr std::string_view kStoreRepeatCaption = "Ошибка юстировки (WriteCalibration)";

std::string printf_text(const char* format, int a, int b = 0) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

std::string value_text(bool present, float value) {
  return present ? fixed6(static_cast<double>(value)) : std::string(kNoData);
}

std::string too_short(std::string_view command) {
  return "Слишком короткая квитанция на команду " + std::string(command) + "\n";
}

}  // namespace

CalibrationSteps::CalibrationSteps(CalibrationLink& link, Prompter& prompter,
                                   platform::Clock& clock, StepsStart start)
    : link_(link), prompter_(prompter), clock_(clock), start_(std::move(start)) {
  view_.caption = kCaption;
  view_.status = kWelcome;
  view_.main_text = first_text(start_.type, start_.instruction);
}

StepView CalibrationSteps::view() const {
  return locked(view_);
}

StepsEnd CalibrationSteps::end() const {
  return locked(end_);
}

FollowUp CalibrationSteps::follow_up() const {
  return locked(follow_up_);
}

int CalibrationSteps::step() const {
  return locked(step_);
}

int CalibrationSteps::valve_position() const {
  return locked(position_);
}

std::string CalibrationSteps::flags_text() const {
  return locked(flags_text_);
}

void CalibrationSteps::request_stop() {
  stop_.set();
}

bool CalibrationSteps::wait(int ms) {
  return !stop_.wait(ms, clock_);
}

void CalibrationSteps::press_continue() {
  int step;
  {
    std::lock_guard lock(mutex_);
    if (end_ != StepsEnd::Open || !view_.continue_visible || !view_.continue_enabled) return;
    step = step_;
  }
  if (stopping()) return;
  switch (step) {
    case 0:
      measure();
      break;
    case 1:
      coefficients();
      break;
    case 2:
    case 3:
      store();
      break;
    case 4:
      finish(start_.type == 4 ? FollowUp::AskExit : FollowUp::None);
      break;
    default:
      finish(FollowUp::OfferRepeat);
      break;
  }
}

void CalibrationSteps::press_cancel() {
  if (end() != StepsEnd::Open) return;
  abort_and_close(StepsEnd::Cancelled);
}

void CalibrationSteps::dialog_gone() {
  if (std::exchange(gone_, true)) return;
  abort_command();
}

void CalibrationSteps::abort_command() {
  Exchange r = link_.command("CLB.A", 0, {});
  if (r.ok) decode(r.data, 0);
}

void CalibrationSteps::abort_and_close(StepsEnd end, FollowUp follow_up) {
  abort_command();
  update([&] {
    end_ = end;
    follow_up_ = follow_up;
  });
}

void CalibrationSteps::finish(FollowUp follow_up) {
  abort_and_close(StepsEnd::Continued, follow_up);
}

bool CalibrationSteps::decode(const Bytes& data, std::size_t at) {
  if (data.size() < at + 2) return false;
  flags_ = data[at];
  status_ = data[at + 1];
  status_error_ = status_ != 0;
  status_message_ = status_message(status_);
  std::lock_guard lock(mutex_);
  flags_text_ = calibration::flags_text(flags_);
  return true;
}

CalibrationSteps::Outcome CalibrationSteps::exchange_with_retry(std::string_view name,
                                                                int request_bit, const Bytes& data,
                                                                std::string_view context,
                                                                std::string_view question_caption,
                                                                Exchange& out) {
  for (;;) {
    if (stopping()) return Outcome::Stopped;
    out = name == "CLB.P" ? link_.store_command() : link_.command(name, request_bit, data);
    if (out.ok) {
      error_text_.clear();
      return Outcome::Done;
    }
    error_text_ = out.error;
    if (!error_text_.empty()) {
      prompter_.show(error_text_, "Ошибка " + std::string(context), PromptIcon::Error);
    }
    if (!prompter_.confirm(kRepeatQuestion, question_caption, PromptIcon::Question)) {
      abort_and_close(StepsEnd::Cancelled);
      return Outcome::Cancelled;
    }
  }
}

void CalibrationSteps::measure() {
  const int type = start_.type;
  update([&] {
    if (type == 4) {
      view_.main_text = position_ == 0
                            ? "Проводится юстировка датчика положения в закрытом положении"
                            : "Проводится юстировка датчика положения в открытом положении";
    } else {
      view_.main_text = printf_text("Проводится юстировка Тип %1i ", type);
    }
    view_.status = "Старт процесса юстировки (CLB.I)";
    view_.continue_visible = false;
  });

  Bytes start = type == 4
                    ? Bytes{static_cast<std::uint8_t>((position_ << 7) | (start_.input & 0x7F)), 4}
                    : Bytes{static_cast<std::uint8_t>(type)};
  Exchange r;
  for (;;) {
    if (exchange_with_retry("CLB.I", 0, start, "(Запуск процессa юстировки)", kRepeatCaption, r) !=
        Outcome::Done) {
      return;
    }
    if (decode(r.data, 0)) break;
    // A reply without flags and status cannot say that the measurement began.
    r.ok = false;
    prompter_.show(too_short("CLB.I"),
                   KBA604_TR_NOOP("Messages", "Ошибка (Запуск процессa юстировки)"),
                   PromptIcon::Error);
    if (!prompter_.confirm(kRepeatQuestion, kRepeatCaption, PromptIcon::Question)) {
      abort_and_close(StepsEnd::Cancelled);
      return;
    }
  }
  update([&] { view_.status = "Старт процесса юстировки (CLB.S)"; });
  if (!wait(kPollWaitMs)) return;

  Bytes last = r.data;
  bool last_failed = false;
  for (int counter = 1;;) {
    if (!wait(kPollWaitMs)) return;
    Exchange s = link_.command("CLB.S", 1, {});
    if (s.ok && s.data.size() >= 2) {
      last = s.data;
      last_failed = false;
    } else {
      error_text_ = s.ok ? too_short("CLB.S") : s.error;
      last_failed = true;
    }
    const std::uint8_t flags = last[0];
    if (counter == kPollLimit) {
      update([&] { view_.status = "CLB.S: ошибка: таймаут"; });
      break;
    }
    ++counter;
    update([&] {
      view_.status = printf_text("CLB.S: Флаг процесса=0x%02X. Ждем %i секунд...", flags, counter);
    });
    if (flags & kMeasurementFinished) break;
  }

  decode(last, 0);
  // A measurement whose last poll got no answer has not reported its end: the status of an
  // earlier reply ("CLB.I" answers 0 at the start) says nothing about its outcome.
  const bool succeeded = status_ == 0 && !last_failed;
  const std::string failure = last_failed ? error_text_ : status_message_;
  update([&] {
    view_.continue_visible = true;
    if (succeeded) {
      view_.main_text =
          "Юстировочные коэффициенты найдены и после нажатия кнопки \"Продолжить\"\nбудут "
          "сохранены в приборе.";
      view_.status = "Измерения завершены...";
    } else {
      view_.main_text = "Процесс поиска измерения юстировки завершен неудачно: " + failure;
      view_.continue_enabled = false;
      view_.status = "Ошибка";
    }
    step_ = 1;
  });
}

CalibrationSteps::Outcome CalibrationSteps::read_coefficient(int number, std::string_view context,
                                                             bool& has_value, float& value) {
  Exchange g;
  Outcome o = exchange_with_retry("CLB.G", 1, {static_cast<std::uint8_t>(number)}, context,
                                  kRepeatCaption, g);
  if (o != Outcome::Done) return o;
  if (g.data.size() == 2) {
    // No value: the reply carries the flags and the status that says why.
    value_present_ = false;
    decode(g.data, 0);
  } else if (g.data.size() == 5) {
    value_present_ = true;
    first_byte_ = g.data[0];
    std::memcpy(value_bytes_, g.data.data() + 1, 4);
  } else {
    // The bytes of an earlier reply are no value of this coefficient.
    value_present_ = false;
    status_error_ = true;
    status_message_ = "Размер квитанции на команду CLB.G не равер ни 2 ни 5!";
  }
  has_value = value_present_;
  std::uint32_t bits = (std::uint32_t{value_bytes_[0]} << 24) |
                       (std::uint32_t{value_bytes_[1]} << 16) |
                       (std::uint32_t{value_bytes_[2]} << 8) | value_bytes_[3];
  std::memcpy(&value, &bits, sizeof value);
  return Outcome::Done;
}

void CalibrationSteps::coefficients() {
  update([&] { view_.status = "Прием измеренных коэф-тов с прибора..."; });
  if (!wait(kCoefficientWaitMs)) return;
  update([&] { view_.main_text.clear(); });

  Exchange t;
  for (;;) {
    if (exchange_with_retry("CLB.T", 1, {}, "(поиск ошибочных коэффициентов)", kRepeatCaption, t) !=
        Outcome::Done) {
      return;
    }
    if (decode(t.data, 1)) break;
    prompter_.show(too_short("CLB.T"),
                   KBA604_TR_NOOP("Messages", "Ошибка (поиск ошибочных коэффициентов)"),
                   PromptIcon::Error);
    if (!prompter_.confirm(kRepeatQuestion, kRepeatCaption, PromptIcon::Question)) {
      abort_and_close(StepsEnd::Cancelled);
      return;
    }
  }
  const int faulty = t.data[0];

  if (faulty != 0) {
    bool has = false;
    float v = 0;
    if (read_coefficient(faulty, "(определение ошибочного знач-я)", has, v) != Outcome::Done)
      return;
    std::string text = std::string("Значение ошибочного коэффициента: ") + " " +
                       value_text(has, v) + " " +
                       "\n\nГотовность подтвердите нажав на кнопку «Продолжить»" + "\n\n";
    text += "Коэффициент юстировки не соответствует заданным требованиям. ";
    text += start_.type == 2
                ? "Возможные причны:\n  1) Подключенная термопара не соответствует заданному типу "
                  "датчика;\n  2) Температура воздуха окружающего модуль (прибор) не соответствует "
                  "условиям юстировки (15..30C)\n"
                : "Проверьте величину сигнала на контактах.Вход 1, а также правильность "
                  "подключения источника сигналов. После устранения замечаний юстировку повторите.";
    update([&] {
      view_.main_text = text;
      view_.continue_visible = true;
      step_ = 5;
    });
    return;
  }

  std::string text = status_error_
                         ? std::string("Номер и значение ошибочного коэф-та неопределены.") + "\n"
                         : std::string();
  bool all = true;
  auto read = [&](int number, std::string_view context, std::string& shown) {
    bool has = false;
    float v = 0;
    Outcome o = read_coefficient(number, context, has, v);
    all = all && has;
    shown = value_text(has, v);
    return o == Outcome::Done;
  };
  std::string k1, k2, k3, k4;
  switch (start_.type) {
    case 1:
      if (!read(1, "(Тип №1. Определение значения коэф-та)", k1)) return;
      text += "Значение коэффициента:  " + k1 +
              " \nГотовность подтвердите нажав на кнопку «Продолжить»\n\n";
      text += "Все коэффициенты вычислены нормально";
      break;
    case 2:
      if (!read(1, "(Тип №2. Определение значения коэф-та)", k1) ||
          !read(2, "(Тип №2. Определение значения коэф-та)", k2))
        return;
      text += "Значение первого коэффициента:  " + k1 +
              " \n Значение второго коэффициента:  " + k2 +
              "\n\n\nГотовность подтвердите нажав на кнопку «Продолжить»\n\n";
      text += "Все коэффициенты вычислены нормально";
      break;
    case 3:
      if (!read(1, "(Тип №3. Определение значения коэф-та)", k1) ||
          !read(2, "(Тип №3. Определение значения коэф-та)", k2) ||
          !read(3, "(Тип №3. Определение значения коэф-та)", k3) ||
          !read(4, "(Тип №3. Определение значения коэф-та)", k4)) {
        return;
      }
      text += "Значение первого коэффициента:\n  K1= " + k1 +
              "\n\nЗначение второго коэффициента:\n  K2= " + k2 +
              "\n\nЗначение третьего коэффициента:\n  K3= " + k3 +
              "\n\nЗначение четвертого коэффициента:\n  K4= " + k4 +
              "\n\n\n\nГотовность подтвердите нажав на кнопку «Продолжить»\n\n";
      text += "Все коэффициенты вычислены нормально";
      break;
    default:
      if (!read(1, "Тип №4. Определение значения коэф-та", k1)) return;
      text += "Значение коэффициента:  " + k1 +
              " \nГотовность подтвердите нажав на кнопку «Продолжить»\n";
      break;
  }
  // A coefficient the instrument gave no value for cannot be checked by the engineer, so it is
  // not offered for storing: only "Отмена" remains.
  const std::string why = status_message_;
  update([&] {
    view_.continue_visible = true;
    if (all) {
      view_.main_text = text;
      view_.status = "Проверьте коэффициент(ы)...";
    } else {
      view_.main_text = text + "\n" + why;
      view_.continue_enabled = false;
      view_.status = "Ошибка";
    }
    step_ = 2;
  });
}

void CalibrationSteps::store() {
  if (start_.type != 4) update([&] { view_.caption = kStoringCaption; });
  int failures = 0;
  for (;;) {
    Exchange p;
    if (exchange_with_retry("CLB.P", 0, {}, "(запись коэф-та)", kStoreRepeatCaption, p) !=
        Outcome::Done) {
      return;
    }
    // A reply without a status code is no confirmation that the coefficients were stored.
    if (!decode(p.data, 0)) {
      status_ = 0xFF;
      status_error_ = true;
      status_message_ = too_short("CLB.P");
    }
    if (status_ == 0) break;
    if (++failures < kStoreAttempts) continue;
    const bool again =
        prompter_.confirm(status_message_ + "Для повтора юстировки нажмите кнопку Да",
                          "Ошибка юстировки", PromptIcon::Question);
    abort_and_close(StepsEnd::Cancelled, again ? FollowUp::RestartSelection : FollowUp::None);
    return;
  }
  if (start_.type != 4 || position_ == 1) {
    update([&] {
      view_.main_text = completion_text(start_.type);
      view_.status = "Завершение юстировки";
      view_.continue_visible = true;
      step_ = 4;
    });
    return;
  }
  abort_command();
  update([&] {
    view_.main_text =
        "Теперь установите запорно-регулирующий клапан (задвижку) в положение ОТКРЫТО и "
        "подтвердите готовность к проведению юстировки датчика в этом состоянии нажав на кнопку "
        "«Продолжить»";
    view_.status = "Продолжение с другим положении клапана (задвижки)";
    view_.continue_visible = true;
    position_ = 1;
    step_ = 0;
  });
}

}  // namespace kba604::calibration
