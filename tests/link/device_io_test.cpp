#include <gtest/gtest.h>

#include <memory>

#include "app/program_settings.h"
#include "link/link_fixture.h"
#include "model/texts.h"
#include "platform/text.h"

namespace kba604 {
namespace {

using test::answer;
using test::LineResponse;
using test::refusal;
using test::talv_frame;

const std::uint16_t kHashAttr = hash_name("Attr");
const std::uint16_t kHashMaster = hash_name("M.s.t.r.");

std::unique_ptr<Parameter> make(const char* name, const char* format, std::string value = {}) {
  auto p = std::make_unique<Parameter>();
  p->short_name = name;
  p->format = format;
  if (!value.empty()) p->value = std::move(value);
  return p;
}

class RequestTest : public test::LinkTest {
 protected:
  int request(Parameter& p, int request_bit, std::vector<std::string>* trace = nullptr) {
    return io.transact_parameter(trace, &p, request_bit, false);
  }
};

TEST_F(RequestTest, NoPortModeExchangesNothing) {
  app.options.mode_flags.store(StartOptions::kNoPort);
  auto p = make("dev", "ASCI");
  p->note = "earlier";
  EXPECT_EQ(request(*p, 1), kRequestOk);
  EXPECT_EQ(line.open_count(), 0);
  EXPECT_EQ(p->note, "earlier");
}

TEST_F(RequestTest, DevIsReadAndNeverWritten) {
  auto p = make("dev", "ASCI");
  std::vector<std::string> trace;
  EXPECT_EQ(request(*p, 0, &trace), kRequestNoWriteForm);
  EXPECT_TRUE(line.requests().empty());
  EXPECT_EQ(trace, std::vector<std::string>{
                       "Метод формирования посылки записи для команды 'dev' не определен."});
  // The note says it too: a failure without one would be counted and shown as a success.
  EXPECT_EQ(p->note, "Метод формирования посылки записи для команды 'dev' не определен.");

  line.push(answer(0xD681, {'4', '0', '6', 'A', 'B', 'K'}));
  EXPECT_EQ(request(*p, 1), kRequestOk);
  EXPECT_EQ(p->value, "KBA604");
  EXPECT_EQ(line.requests(), std::vector<std::string>{"#HGHGTMOHPGMO\r"});
  // The closed port was opened for each request only.
  EXPECT_FALSE(io.sio().is_open());
  EXPECT_EQ(line.open_count(), 2);
  EXPECT_EQ(p->last_reply_length, 6);
}

TEST_F(RequestTest, TraceLinesOfAWrite) {
  auto p = make("t.rs", "DEC_dot", "300");
  p->indexed = true;
  p->linear_index = 0x41C0;  // index bytes "A" and the Cyrillic "А" of Windows-1251
  const std::uint16_t hash = hash_name("t.rs");
  line.push(answer(hash, {0x01, 0x2C, 0x41, 0xC0}));
  std::vector<std::string> trace;
  EXPECT_EQ(request(*p, 0, &trace), kRequestOk);
  EXPECT_EQ(line.requests()[0], talv_frame(16, 0, hash, {0x01, 0x2C, 0x41, 0xC0}));
  const std::string cyrillic_a = platform::from_cp1251("\xC0");
  const std::vector<std::string> expect = {
      platform::format("Размер инф-ой части посылки %i байт.", 4),
      platform::format(">> Посылка: #%2i : %03i = 0x%02X (%s)", 0, 1, 1, "."),
      platform::format(">> Посылка: #%2i : %03i = 0x%02X (%s)", 1, 44, 44, ","),
      platform::format(">> Посылка: #%2i : %03i = 0x%02X (%s)", 2, 65, 65, "A"),
      platform::format(">> Посылка: #%2i : %03i = 0x%02X (%s)", 3, 192, 192, cyrillic_a.c_str()),
      platform::format("<< Ответ: #%2i : %03i = 0x%02hx (%s)", 0, 1, 1, "."),
      platform::format("<< Ответ: #%2i : %03i = 0x%02hx (%s)", 1, 44, 44, ","),
      platform::format("<< Ответ: #%2i : %03i = 0x%02hx (%s)", 2, 65, 65, "A"),
      platform::format("<< Ответ: #%2i : %03i = 0x%02hx (%s)", 3, 192, 192, cyrillic_a.c_str()),
      platform::format("Инф-ная часть квитанции ответа имеет размер %1i байт.", 4),
  };
  EXPECT_EQ(trace, expect);
  EXPECT_EQ(trace[1], ">> Посылка: # 0 : 001 = 0x01 (.)");
  EXPECT_EQ(trace[8], "<< Ответ: # 3 : 192 = 0xc0 (" + cyrillic_a + ")");
  EXPECT_EQ(p->value, "300");
  EXPECT_FALSE(p->changed);
}

TEST_F(RequestTest, OutcomesOfOneRequest) {
  struct Case {
    const char* what;
    const char* name;
    const char* format;
    LineResponse reply;
    int result;
    std::string value;
    std::string note;
    ExchangeOutcome outcome;
  };
  using Kind = ExchangeOutcome::Kind;
  const std::uint16_t item = hash_name("it.m");
  const std::uint16_t exit = hash_name("exit");
  const Case cases[] = {
      {"undecodable", "it.m", "a:b", answer(item, {5}), kRequestUndecodable, "",
       "Не могу раскодировать ответ", ExchangeOutcome::of(Kind::NotDecodable)},
      {"decoded", "it.m", "a:b", answer(item, {1}), kRequestOk, "b", "", {}},
      {"exit, address",
       "exit",
       "ASCI",
       answer(exit, {0x18, 0x00, 0x10}),
       kRequestOk,
       std::string("Адрес прибора:") + " 16",
       "",
       {}},
      {"exit, register",
       "exit",
       "ASCI",
       answer(exit, {0x00, 0x00, 0x20}),
       kRequestOk,
       std::string("Ошибки регистров ввода/вывода. Номеру сбившегося регистра : ") + " 32",
       "",
       {}},
      {"refused", "it.m", "a:b", refusal(0x28), kRequestFailed, "old", "Не найден дескриптор",
       ExchangeOutcome::refused(0x28)},
      {"silent", "it.m", "a:b", LineResponse::silence(), kRequestFailed, "old",
       "Таймаут при передаче данных (нет связи)", ExchangeOutcome::of(Kind::Timeout)},
  };
  for (const auto& c : cases) {
    auto p = make(c.name, c.format, "old");
    p->changed = true;
    p->outcome = ExchangeOutcome::of(Kind::LineFault);  // of an earlier request
    line.set_responder([](const std::string&) { return LineResponse::silence(); });
    line.push(c.reply);
    EXPECT_EQ(request(*p, 1), c.result) << c.what;
    EXPECT_EQ(p->value, c.value) << c.what;
    EXPECT_EQ(p->note, c.note) << c.what;
    EXPECT_EQ(p->outcome, c.outcome) << c.what << ": " << outcome_name(p->outcome.kind);
    EXPECT_EQ(p->changed, c.result != kRequestOk) << c.what;
    clock.advance_ms(1000);
  }
}

// Values that cannot be put into a frame fail before the line, with a note that says so.
TEST_F(RequestTest, ValuesThatCannotBeSentFailWithANote) {
  struct Case {
    const char* name;
    const char* format;
    const char* value;
    int result;
    const char* note;
    ExchangeOutcome::Kind kind;
  };
  using Kind = ExchangeOutcome::Kind;
  const Case cases[] = {
      {"it.m", "a:b", "c", kRequestNotEncodable,
       "Неверное значение (не удается закодировать данные)", Kind::NotEncodable},
      {"Set.P", "STORED_DOT", "999999999", kRequestNotEncodable,
       "Неверное значение (не удается закодировать данные)", Kind::NotEncodable},
      {"net.n", "NAME", ".AB", kRequestNoWriteForm, "Недопустимый символ в сетевом имени",
       Kind::NoWriteMethod},
      {"dev", "ASCI", "x", kRequestNoWriteForm,
       "Метод формирования посылки записи для команды 'dev' не определен.", Kind::NoWriteMethod},
  };
  for (const auto& c : cases) {
    auto p = make(c.name, c.format, c.value);
    EXPECT_EQ(request(*p, 0), c.result) << c.name;
    EXPECT_EQ(p->note, c.note) << c.name;
    EXPECT_EQ(p->outcome.kind, c.kind) << c.name;
    EXPECT_TRUE(p->outcome.failed()) << c.name;
  }
  EXPECT_TRUE(line.requests().empty());
}

TEST_F(RequestTest, RefusedWriteWithoutMaximumAccess) {
  auto p = make("t.rs", "DEC_dot", "300");
  p->attribute_multiplicity = 1;
  line.push(refusal(kEditingForbidden));
  EXPECT_EQ(request(*p, 0), kRequestWriteRefused);
  EXPECT_EQ(p->note, "Редактирование параметра запрещено атрибутами доступа");
  EXPECT_TRUE(p->outcome.refused_with(kEditingForbidden));
  EXPECT_EQ(line.requests().size(), 1u);
  EXPECT_EQ(p->value, "300");
}

TEST_F(RequestTest, RefusedWriteIsRetriedWithAttributesOpened) {
  io.set_max_access(true);
  auto p = make("t.rs", "DEC_dot", "300");
  p->attribute_multiplicity = 1;
  p->editable = false;
  p->factory = false;
  p->changed = true;
  const std::uint16_t hash = hash_name("t.rs");
  const std::uint8_t hi = hash >> 8, lo = hash & 0xFF;
  line.push(refusal(kEditingForbidden));
  line.push(answer(kHashMaster, {0x03, hi, lo}));
  line.push(answer(hash, {0x01, 0x2C}));
  line.push(answer(kHashMaster, {0x02, hi, lo}));
  EXPECT_EQ(request(*p, 0), kRequestOk);
  // The refused value, the attributes with "editable" set (bit 0) and user-owned (bit 1), the
  // value again, the attributes as they were; the attribute byte comes before the hash.
  const std::vector<std::string> expect = {
      talv_frame(16, 0, hash, {0x01, 0x2C}),
      talv_frame(16, 0, kHashMaster, {0x03, hi, lo}),
      talv_frame(16, 0, hash, {0x01, 0x2C}),
      talv_frame(16, 0, kHashMaster, {0x02, hi, lo}),
  };
  EXPECT_EQ(line.requests(), expect);
  EXPECT_EQ(p->note, "");
  EXPECT_TRUE(p->outcome.ok());
  EXPECT_FALSE(p->changed);
  EXPECT_FALSE(p->editable);
  EXPECT_FALSE(p->factory);
}

TEST_F(RequestTest, RefusedWriteIsNotRetriedWhereItMayNotBe) {
  struct Case {
    const char* what;
    bool max_access;
    bool factory;
    int level;
  };
  const Case cases[] = {
      {"factory-owned", true, true, 2},
      {"middle level", true, false, 1},
      {"no maximum access", false, false, 2},
  };
  for (const auto& c : cases) {
    io.set_max_access(c.max_access);
    app.modes.access_level.store(c.level);
    auto p = make("t.rs", "DEC_dot", "300");
    p->factory = c.factory;
    line.clear_log();
    line.push(refusal(kEditingForbidden));
    EXPECT_EQ(request(*p, 0), kRequestWriteRefused) << c.what;
    EXPECT_EQ(line.requests().size(), 1u) << c.what;
  }
}

TEST_F(RequestTest, RetriedWriteStillRefusedKeepsTheRefusal) {
  io.set_max_access(true);
  auto p = make("t.rs", "DEC_dot", "300");
  const std::uint16_t hash = hash_name("t.rs");
  const std::uint8_t hi = hash >> 8;
  line.push(refusal(kEditingForbidden));
  line.push(LineResponse::reply(talv_frame(16, 1, kHashMaster, {0x03, hi})));  // wrong size
  EXPECT_EQ(request(*p, 0), kRequestWriteRefused);
  EXPECT_EQ(line.requests().size(), 2u);
  EXPECT_EQ(p->note, "Редактирование параметра запрещено атрибутами доступа");
  EXPECT_TRUE(p->outcome.refused_with(kEditingForbidden));
  EXPECT_TRUE(p->editable);  // as it was
}

// The attribute frames of a request: a silent one is a time-out of the request (the failure
// limits count it), a short reply is an error of its own, and attributes left open after a
// repeated write make the request a failure although its value went in.
TEST_F(RequestTest, AttributeFailuresAreTypedByTheirFrame) {
  const std::uint16_t hash = hash_name("t.rs");
  const std::uint8_t hi = hash >> 8, lo = hash & 0xFF;
  auto p = make("t.rs", "DEC_dot", "300");
  p->attribute_multiplicity = 1;
  line.set_responder([](const std::string&) { return LineResponse::silence(); });
  line.push(answer(hash, {0x01, 0x2C}));
  EXPECT_EQ(request(*p, 1), kRequestAttributesFailed);
  EXPECT_EQ(p->outcome.kind, ExchangeOutcome::Kind::AttributeFailure);
  EXPECT_TRUE(p->outcome.timed_out());
  EXPECT_EQ(p->note, "Таймаут при передаче данных (нет связи)");
  clock.advance_ms(1000);

  line.push(answer(hash, {0x01, 0x2C}));
  line.push(LineResponse::reply(talv_frame(16, 1, kHashAttr, {0x03, hi})));
  EXPECT_EQ(request(*p, 1), kRequestAttributesSize);
  EXPECT_EQ(p->outcome.kind, ExchangeOutcome::Kind::AttributeReplySize);
  EXPECT_FALSE(p->outcome.timed_out());
  clock.advance_ms(1000);

  io.set_max_access(true);
  p->attribute_multiplicity = 0;
  line.push(refusal(kEditingForbidden));
  line.push(answer(kHashMaster, {0x03, hi, lo}));
  line.push(answer(hash, {0x01, 0x2C}));
  line.push(refusal(0x07));  // closing them again is refused
  EXPECT_EQ(request(*p, 0), kRequestOk);
  EXPECT_TRUE(p->outcome.failed());
  EXPECT_EQ(p->outcome.kind, ExchangeOutcome::Kind::AttributeFailure);
  EXPECT_EQ(p->outcome.cause, ExchangeOutcome::Kind::Refused);
  EXPECT_EQ(p->outcome.refusal_code, 0x07);
}

TEST_F(RequestTest, AttributesOnlyAtEveryNthIndex) {
  auto p = make("Alr.t", "DEC_dot");
  p->indexed = true;
  p->attribute_multiplicity = 4;
  const std::uint16_t hash = hash_name("Alr.t");
  std::vector<int> attribute_requests;
  for (int index = 0; index <= 9; ++index) {
    p->linear_index = index;
    line.clear_log();
    const auto idx = static_cast<std::uint8_t>(index);
    line.push(answer(hash, {0, 7, 0, idx}));
    line.push(answer(kHashAttr, {0x01, 0, idx, static_cast<std::uint8_t>(hash >> 8),
                                 static_cast<std::uint8_t>(hash & 0xFF)}));
    EXPECT_EQ(request(*p, 1), kRequestOk);
    const auto requests = line.requests();
    if (requests.size() == 2) {
      attribute_requests.push_back(index);
      EXPECT_EQ(requests[1], talv_frame(16, 1, kHashAttr,
                                        {0, idx, static_cast<std::uint8_t>(hash >> 8),
                                         static_cast<std::uint8_t>(hash & 0xFF)}));
    }
    line.clear_script();
    clock.advance_ms(1000);
  }
  EXPECT_EQ(attribute_requests, (std::vector<int>{0, 4, 8}));

  // Not at all while attributes do not travel.
  app.modes.no_attributes.store(true);
  p->linear_index = 0;
  line.clear_log();
  line.push(answer(hash, {0, 7, 0, 0}));
  EXPECT_EQ(request(*p, 1), kRequestOk);
  EXPECT_EQ(line.requests().size(), 1u);
}

TEST_F(RequestTest, AttributeExchange) {
  const std::uint16_t hash = 0x1234;
  struct Case {
    const char* what;
    bool master;
    int request_bit;
    int level;
    bool indexed;
    LineResponse reply;
    int result;
    std::size_t frames;
    bool editable, factory;
  };
  const Case cases[] = {
      {"read", false, 1, 2, false, answer(kHashAttr, {0x00, 0x12, 0x34}), 0, 1, false, true},
      {"read, master", true, 1, 2, false, answer(kHashMaster, {0x03, 0x12, 0x34}), 0, 1, true,
       false},
      {"indexed needs five", false, 1, 2, true, answer(kHashAttr, {0x01, 0x12, 0x34}), 201, 1, true,
       true},
      {"write below level 2", false, 0, 1, false, LineResponse::silence(), 0, 0, true, true},
      {"no answer", false, 1, 2, false, LineResponse::silence(), 200, 4, true, true},
  };
  for (const auto& c : cases) {
    io.set_max_access(c.master);
    app.modes.access_level.store(c.level);
    line.clear_log();
    line.set_responder([](const std::string&) { return LineResponse::silence(); });
    line.push(c.reply);
    bool editable = true, factory = true;
    std::string error;
    EXPECT_EQ(
        io.exchange_attributes(c.request_bit, &editable, hash, c.indexed, 3, &factory, &error),
        c.result)
        << c.what;
    EXPECT_EQ(line.requests().size(), c.frames) << c.what;
    EXPECT_EQ(editable, c.editable) << c.what;
    EXPECT_EQ(factory, c.factory) << c.what;
    if (c.result == 201) {
      EXPECT_EQ(error, "Ошибка атрибутов; размер ответа не совпадает с ожидаемым.\n");
    }
    line.clear_script();
    clock.advance_ms(1000);
  }
}

class ReopenTest : public test::LinkTest {
 protected:
  struct Recorder : NetParamChannel {
    void announce(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
  };
};

TEST_F(ReopenTest, FailureIsToldOnlyWithoutSwitches) {
  line.set_present(false);
  io.program_settings().SetValueByName("Port", "COM3", false);
  EXPECT_EQ(io.reopen_port(true), -1);
  EXPECT_EQ(app.exit_flags.value(), ExitFlags::kPortOpenFailed);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].caption, "Ошибка драйвера последовательного порта");
  EXPECT_EQ(prompter.records()[0].text,
            std::string("Не удается открыть порт ") + "COM3" +
                ". Связь с сетью отсутствует. Проверьте сетевые параметры");

  // With switches no box: one line with the system's reason, said once however often the port
  // is reopened for the same reason.
  app.options.switch_flags.store(StartOptions::kAnySwitch);
  EXPECT_EQ(io.reopen_port(true), -1);
  EXPECT_EQ(io.reopen_port(true), -1);
  ASSERT_EQ(prompter.count(), 2u);
  EXPECT_EQ(prompter.records()[1].buttons, PromptButtons::Ok);
  EXPECT_NE(prompter.records()[1].text.find("COM3"), std::string::npos)
      << prompter.records()[1].text;
  EXPECT_NE(prompter.records()[1].text.find("не удалось открыть"), std::string::npos)
      << prompter.records()[1].text;
  prompter.clear();
  app.options.switch_flags.store(0);
  EXPECT_EQ(io.reopen_port(false), -1);
  EXPECT_EQ(prompter.count(), 0u);

  line.set_present(true);
  EXPECT_EQ(io.reopen_port(true), 0);
  EXPECT_EQ(app.exit_flags.value(), 0u);
  EXPECT_TRUE(io.sio().is_open());
}

// Line settings the port refuses (a rate it does not know, settings the device will not take) are
// used for this run only: they never reach the settings file, so no later start fails on them;
// the exit code stays 201 and the line says which value was refused. Taken ones are kept.
TEST_F(ReopenTest, RefusedSettingsAreNotSaved) {
  app.options.switch_flags.store(StartOptions::kAnySwitch | StartOptions::kLineSettingsGiven);
  Elements::NetRS485prg& e = io.program_settings();
  const std::uint32_t stored = ProgramSettings(settings).port_settings().baud_rate;
  struct Case {
    const char* bps;
    bool device_refuses;
    const char* said;
  } cases[] = {{"12345", false, "12345 бод"}, {"38400", true, "38400 бод"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bps);
    prompter.clear();
    line.set_refuse_settings(c.device_refuses);
    e.SetValueByName("bPS", c.bps, false);
    EXPECT_LT(io.reopen_port(false), 0);
    EXPECT_EQ(app.exit_flags.exit_code(), 201);
    e.save();  // as at the program's end
    EXPECT_EQ(ProgramSettings(settings).port_settings().baud_rate, stored);
    ASSERT_EQ(prompter.count(), 1u);
    EXPECT_NE(prompter.records()[0].text.find(c.said), std::string::npos)
        << prompter.records()[0].text;
  }
  line.set_refuse_settings(false);
  EXPECT_EQ(io.reopen_port(false), 0);
  EXPECT_EQ(app.exit_flags.exit_code(), 0);
  EXPECT_EQ(ProgramSettings(settings).port_settings().baud_rate, 38400u);
}

TEST_F(ReopenTest, SilentOrWithoutPortNeverOpens) {
  for (std::uint16_t mode : {StartOptions::kSilent, StartOptions::kNoPort}) {
    app.options.mode_flags.store(mode);
    EXPECT_EQ(io.reopen_port(true), -1);
    EXPECT_EQ(line.open_count(), 0);
    EXPECT_EQ(prompter.count(), 0u);
    EXPECT_EQ(app.exit_flags.value(), 0u);
  }
}

TEST_F(ReopenTest, SettingsReachThePortAndChangesAreAnnounced) {
  Recorder channel;
  io.set_control_channel(&channel);
  Elements::NetRS485prg& e = io.program_settings();
  e.SetValueByName("bPS", "19200", false);
  e.SetValueByName("Addr", "24", false);
  e.SetValueByName("PrtY", "Четность", false);
  e.SetValueByName("Port", "com1", false);  // the port's own name in another case
  EXPECT_EQ(io.reopen_port(false), 0);
  EXPECT_EQ(io.sio().baud_rate(), 19200);
  EXPECT_EQ(io.sio().device_address(), 24);
  EXPECT_EQ(io.sio().parity_code(), 1);
  EXPECT_EQ(io.sio().port_name(), "COM1");
  EXPECT_EQ(line.settings().baud_rate, 19200);
  EXPECT_EQ(line.settings().parity, platform::Parity::Even);
  EXPECT_TRUE(channel.lines.empty());  // not without the "uni" switch

  app.options.mode_flags.store(StartOptions::kUniGiven);
  e.SetValueByName("LEn", "7", false);
  e.SetValueByName("Sbit", "2", false);
  e.SetValueByName("A.Len", "11", false);
  e.SetValueByName("PrtY", "Нечетность", false);
  e.SetValueByName("Port", "COM2", false);
  EXPECT_EQ(io.reopen_port(false), 0);
  const std::vector<std::string> expect = {"!netparam Port COM2", "!netparam Alen 11",
                                           "!netparam len 7", "!netparam Sbit 2",
                                           "!netparam Prty odd"};
  EXPECT_EQ(channel.lines, expect);
  // Nothing changed since: nothing announced.
  channel.lines.clear();
  EXPECT_EQ(io.reopen_port(false), 0);
  EXPECT_TRUE(channel.lines.empty());
  // An unreadable value leaves the port's setting alone.
  e.SetValueByName("bPS", std::string(kNoData), false);
  e.SetValueByName("PrtY", "Отсутствует", false);
  EXPECT_EQ(io.reopen_port(false), 0);
  EXPECT_EQ(io.sio().baud_rate(), 19200);
  EXPECT_EQ(channel.lines, std::vector<std::string>{"!netparam Prty no"});
  io.set_control_channel(nullptr);
}

}  // namespace
}  // namespace kba604
