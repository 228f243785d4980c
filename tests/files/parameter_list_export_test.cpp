// The parameter list page: rows and cells for hand-made descriptions that hold every edge of the
// rules, the shipped description checked row by row against what its source says, the file's
// code page, and the document's command with its failures.
#include "files/parameter_list_export.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/application.h"
#include "app/commands.h"
#include "description/desc_branch.h"
#include "description/description_loader.h"
#include "files/kba604_doc.h"
#include "model/parameter_table.h"
#include "model/talv_codec.h"
#include "platform/atomic_file.h"
#include "platform/text.h"
#include "support/description_files.h"
#include "support/fake_link_device.h"
#include "support/recording_notification_sink.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

// One row of the page as a reader sees it: the group it stands under and its eight cells.
struct PageRow {
  std::string group;
  std::vector<std::string> cells;
};

std::string between(const std::string& text, std::size_t& at, const std::string& open,
                    const std::string& close) {
  const std::size_t start = text.find(open, at);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(close, start + open.size());
  if (end == std::string::npos) return {};
  at = end + close.size();
  return text.substr(start + open.size(), end - start - open.size());
}

// Reads the generated table back: group captions and the cells of every row, in page order.
std::vector<PageRow> read_rows(const std::string& page) {
  const std::string table = page.substr(0, page.find("</table>"));
  std::vector<PageRow> rows;
  std::string group;
  std::size_t at = 0;
  const std::string group_open = "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>";
  while (true) {
    const std::size_t next_group = table.find(group_open, at);
    const std::size_t next_row = table.find("<tr>\n\t<td>", at);
    if (next_row == std::string::npos) break;
    if (next_group < next_row) {
      group = between(table, at, group_open, "</b></td></tr>\n");
      continue;
    }
    at = next_row + 4;
    PageRow row{group, {}};
    const std::size_t row_end = table.find("</tr>\n", at);
    while (true) {
      std::size_t probe = at;
      std::string cell = between(table, probe, "\t<td>", "\t</td>\n");
      if (probe > row_end || probe == at) break;
      row.cells.push_back(cell);
      at = probe;
    }
    at = row_end;
    rows.push_back(row);
  }
  return rows;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The hash cell of a name; the hash itself is checked against the protocol's worked values
// where it is defined.
std::string hash_of(const char* name) {
  return platform::format("%04X", hash_name(name));
}

std::string items(std::initializer_list<const char*> texts) {
  std::string cell = "\n\t<ol start=0>\n";
  for (const char* t : texts) cell += std::string("\t\t<li> ") + t + "\n";
  return cell + "\t</ol>";
}

// A description whose main tree holds each edge of the collecting and cell rules.
const char* kEdgeParameters = R"({"parameters": [
  {"repeat": {"var": "k", "from": 0, "to": 3}, "each":
    {"name": "x", "index": "{k}", "title": "Икс №{k+1} <a&b> \"q\" 'r'", "format": "DEC_dot"}},
  {"repeat": {"var": "k", "from": 0, "to": 2}, "each":
    {"name": "y", "index": "{k*2}", "title": "Игрек", "format": "STORED_DOT", "decimals": 1, "min": -10, "max": 10.5,
     "multiplicity": 3}},
  {"name": "s", "index": 5, "title": "Один индекс", "format": "Выкл_1:Вкл", "multiplicity": 0},
  {"name": "eq", "title": "Равные пределы", "format": "STORED_DOT", "min": 5, "max": 5},
  {"name": "t", "title": "Время", "format": "CLK_frm", "min": 0, "max": 125},
  {"name": "f", "title": "Вещественное", "format": "float", "min": 0.1, "max": 2},
  {"name": "z", "title": "Одинокий", "format": "ASCI"},
  {"name": "n", "title": "Имя", "format": "name"},
  {"name": "str", "title": "Строка", "format": "string"},
  {"name": "e", "title": "Пункты", "format": "a<b:c&d"},
  {"name": "d1", "title": "Задержка 1", "format": "DEC_dot"},
  {"name": "d2", "title": "Задержка 2", "format": "DEC_dot"},
  {"name": "d3", "index": 0, "title": "Задержка по индексу", "format": "DEC_dot"},
  {"name": "d3", "index": 1, "title": "Задержка по индексу", "format": "DEC_dot"}
]})";
const char* kEdgeTree = R"({"branch": "Корень", "children": [
  {"ref": "x:0"}, {"ref": "x:1"}, {"ref": "x:2"}, {"ref": "x:3"},
  {"branch": "Входы <№1>", "children": [
    {"ref": "y:0"}, {"ref": "y:2"}, {"ref": "y:4"}, {"ref": "s:5"},
    {"branch": "Одна", "children": [{"ref": "z"}]},
    {"ref": "eq"}, {"ref": "t"}, {"ref": "f"}
  ]},
  {"branch": "Времена задержек инспектора", "children": [{"ref": "d1"}, {"ref": "d2"}]},
  {"branch": "Прочее", "children": [{"ref": "n"}, {"ref": "str"}, {"ref": "e"},
    {"branch": "времена задержек ИНСПЕКТОРА", "children": [{"ref": "d3:0"}, {"ref": "d3:1"}]}
  ]},
  {"ref": "x:1"}
]})";

struct ParameterList : ::testing::Test {
  test::TestHome home;
  ParameterTable table;
  DescriptionLoad load;

  void load_from(const char* parameters, const char* tree) {
    auto files = test::build_description(parameters, {tree, "", ""});
    files.write_to(home.root() / "desc");
    DescriptionRequest request;
    request.data_folder = (home.root() / "desc").string() + "/";
    request.version_text = "1.10";
    load = load_description(table, request, nullptr);
    ASSERT_TRUE(load.main_tree);
  }
};

TEST_F(ParameterList, RowsMergeIndexesJoinGroupsAndFillEveryCell) {
  load_from(kEdgeParameters, kEdgeTree);
  const std::string page = parameter_list_page(collect_parameter_list(*load.main_tree));
  const std::vector<PageRow> rows = read_rows(page);
  const std::string inputs = "Входы &lt;№...&gt;";
  const std::vector<PageRow> expected = {
      {"",
       {"1", "x", hash_of("x"), "Икс №... &lt;a&amp;b&gt; &quot;q&quot; &#39;r&#39;",
        "Знаковое целое число", "0, 1 .. 3", "нет ограничений", "обычн. атрибуты"}},
      {inputs,
       {"2", "y", hash_of("y"), "Игрек", "Знаковое число с односторонней десятичной точкой",
        "0, 2 .. 4", "от -10 до 10.5", "дерево атр-ов обрезано (кратность индекcов 3)"}},
      {inputs,
       {"3", "s", hash_of("s"), "Один индекс", items({"Выкл 1", "Вкл"}), "нет индекса",
        "нет ограничений", "нет атрибутов"}},
      {inputs,
       {"4", "eq", hash_of("eq"), "Равные пределы", "Число с плавающей точкой", "нет индекса",
        "нет ограничений", "обычн. атрибуты"}},
      {inputs,
       {"5", "t", hash_of("t"), "Время", "Составной тип данных с информацией о времени",
        "нет индекса", "от 00:00 до 02:05", "обычн. атрибуты"}},
      {inputs,
       {"6", "f", hash_of("f"), "Вещественное", "32-разрядное вещественное число", "нет индекса",
        "от 0.1 до 2", "обычн. атрибуты"}},
      // The branch with one parameter adds it to its parent's group, after
      // the parent's own parameters.
      {inputs,
       {"7", "z", hash_of("z"), "Одинокий", "Строковый тип", "нет индекса", "нет ограничений",
        "обычн. атрибуты"}},
      // The inspector's delays are left out unless indexed.
      {"Прочее",
       {"8", "n", hash_of("n"), "Имя", "Нетипизированный набор битов", "нет индекса",
        "нет ограничений", "обычн. атрибуты"}},
      {"Прочее",
       {"9", "str", hash_of("str"), "Строка", "Строковый тип", "нет индекса", "нет ограничений",
        "обычн. атрибуты"}},
      {"Прочее",
       {"10", "e", hash_of("e"), "Пункты", items({"a&lt;b", "c&amp;d"}), "нет индекса",
        "нет ограничений", "обычн. атрибуты"}},
      {"Прочее \\ времена задержек ИНСПЕКТОРА",
       {"11", "d3", hash_of("d3"), "Задержка по индексу", "Знаковое целое число", "0, 1",
        "нет ограничений", "обычн. атрибуты"}},
  };
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].group, expected[i].group);
    EXPECT_EQ(rows[i].cells, expected[i].cells);
  }
  // The head, the first group without a caption, and the first row exactly as written.
  const std::string head =
      "<html>\n<head>\n<meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
      "charset=windows-1251\">\n\t<title>Список параметров прибора КВА117</title>\n</head>\n\n"
      "<body>\n<h4>Список обычных (неоперативных) параметров</h4>\n<table border=1 "
      "style=\"font-size=12px\">\n<tr>\n<td><strong><b>№</b></strong></td>\n<td><strong><b>"
      "Параметр</b></strong></td>\n<td><strong><b>Hash</b></strong></td>\n<td><strong><b>"
      "Описание</b></strong></td>\n<td><strong><b>Тип</b></strong></td>\n<td><strong><b>"
      "Индексация</b></strong></td>\n<td><strong><b>Диапазон значений</b></strong></td>\n"
      "<td><strong><b>Атрибуты</b></strong></td>\n</tr>\n<tr>\n\t<td>1\t</td>\n\t<td>x\t</td>\n"
      "\t<td>" +
      hash_of("x") + "\t</td>\n";
  EXPECT_EQ(page.substr(0, head.size()), head);
  EXPECT_NE(page.find("\t<td>обычн. атрибуты\t</td>\n</tr>\n<tr><td colspan=8 bgColor=\"#ffffaa\">"
                      "<b>Входы &lt;№...&gt;</b></td></tr>\n<tr>\n<td><strong><b>№"),
            std::string::npos);
  const std::string tail = "</table>\n\n<br>\n<h4>Список оперативных параметров</h4>\n";
  EXPECT_NE(page.find(tail), std::string::npos);
  EXPECT_EQ(page.substr(page.size() - 25), "</table>\n</body>\n</html>\n");
}

// Rows of the shipped description, as its source files describe them: every group in order
// with its names, and every cell of the rows that carry an edge of the rules.
TEST_F(ParameterList, ShippedDescriptionRowByRow) {
  DescriptionRequest request;
  request.data_folder = test::shipped_description_folder().string();
  request.version_text = "1.10";
  load = load_description(table, request, nullptr);
  ASSERT_TRUE(load.main_tree);
  const std::vector<PageRow> rows =
      read_rows(parameter_list_page(collect_parameter_list(*load.main_tree)));

  // Groups follow the tree; a one-parameter branch ("Количество измерительных каналов") joins
  // its parent, the inspector's delays are left out, "OFFS" is no parameter of the tree.
  const std::vector<std::pair<std::string, std::vector<std::string>>> groups = {
      {"Информация о приборе", {"dev", "ver", "exit", "n.Err", "dog", "220", "res"}},
      {"Общие параметры", {"S.SAU", "Ch.At", "r-s", "n.Ch", "n.Obj"}},
      {"Общие параметры \\ Соответствие каналов и входов", {"S.idx"}},
      {"Общие параметры", {"n.nAM"}},
      {"Входы \\ Вход №...", {"in-t", "dP", "in.L", "in.H", "SH", "KU", "Fb", "inF"}},
      {"Входы \\ Вход №... \\ Юстировка", {"cal.t", "n.in.c"}},
      {"Регуляторы \\ Регулятор №...",
       {"rG.ty", "rG.in", "rG.SP", "rG.hy", "rG.Pb", "rG.ti", "rG.td", "rG.tP", "rG.oL", "rG.oH"}},
      {"БУИМ \\ Диапазон №...", {"bU.L", "bU.H", "bU.tP", "bU.dz", "bU.rE"}},
      {"Выходы", {"S.OE", "S.OD", "n.rel"}},
      {"Выходы \\ Выход №...", {"OP", "OP.i", "Rel.a", "al.re", "OD.tP", "r.OD.i"}},
      {"Сигнализация \\ Канал сигнализации №...",
       {"AL.ty", "AL.in", "AL.L", "AL.H", "AL.hy", "AL.dL"}},
      {"Блокировки \\ Блокировки №...", {"bL.on", "bL.t", "bL.OP"}},
      {"Логические функции \\ Логическая функция №...", {"lg.ty", "A.i.j", "A.i.j"}},
      {"Программа технолога", {"S.MD"}},
      {"Программа технолога \\ Программа №...", {"nPC"}},
      {"Программа технолога \\ Программа №... \\ Шаг №...", {"PCP.i", "sp", "t.rs", "t.stb"}},
      {"Сетевые параметры прибора",
       {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot", "net.s"}},
      {"Заводские настройки", {"F.nUM", "F.dAt"}},
      {"Заводские настройки \\ Точка 1 (начало шкалы)", {"cL.0"}},
      {"Заводские настройки \\ Точка 2 (конец шкалы)", {"cL.1"}},
  };
  std::vector<std::pair<std::string, std::string>> expected_order, actual_order;
  for (const auto& [group, names] : groups) {
    for (const std::string& name : names) expected_order.emplace_back(group, name);
  }
  for (const PageRow& row : rows) {
    ASSERT_EQ(row.cells.size(), 8u);
    actual_order.emplace_back(row.group, row.cells[1]);
  }
  EXPECT_EQ(actual_order, expected_order);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].cells[0], std::to_string(i + 1));

  auto row = [&](const std::string& name, int nth = 0) -> std::vector<std::string> {
    for (const PageRow& r : rows) {
      if (r.cells[1] == name && nth-- == 0) return r.cells;
    }
    ADD_FAILURE() << "no row " << name;
    return {};
  };
  using Cells = std::vector<std::string>;
  EXPECT_EQ(row("dog"),
            (Cells{"5", "dog", hash_of("dog"), "Счетчик срабатываний сторожевого таймера",
                   "Знаковое целое число", "нет индекса", "от 0 до 65535", "нет атрибутов"}));
  EXPECT_EQ(row("S.idx"),
            (Cells{"13", "S.idx", hash_of("S.idx"), "Канал №...: номер входа",
                   "Знаковое целое число", "0, 1 .. 7", "нет ограничений", "нет атрибутов"}));
  EXPECT_EQ(row("dP"), (Cells{"16", "dP", hash_of("dP"), "Положение десятичной точки",
                              items({"0", "0.0", "0.00", "0.000"}), "0, 1 .. 7", "нет ограничений",
                              "обычн. атрибуты"}));
  // Limits of the hidden tree, with one decimal place given by the source.
  EXPECT_EQ(row("in.L"),
            (Cells{"17", "in.L", hash_of("in.L"), "Вход №...: нижняя граница диапазона",
                   "Знаковое число с односторонней десятичной точкой", "0, 1 .. 7",
                   "от -999.9 до 9999", "обычн. атрибуты"}));
  EXPECT_EQ(row("rG.ti"),
            (Cells{"30", "rG.ti", hash_of("rG.ti"), "Постоянная интегрирования, мин:с",
                   "Составной тип данных с информацией о времени", "0, 1 .. 3", "от 00:00 до 99:59",
                   "обычн. атрибуты"}));
  EXPECT_EQ(row("bU.L")[5], "0, 1");
  // Hidden items of a list are still items of the reference list.
  EXPECT_EQ(row("Ch.At")[4], items({"Пользовательский", "Заводской"}));
  // "A.i.j": the first argument of every function in one row (indexes 0..7 with the step
  // doubled, the end first + last - 1), the index 1 in a row of its own.
  EXPECT_EQ(row("A.i.j"), (Cells{"59", "A.i.j", hash_of("A.i.j"), "Первый аргумент (номер входа)",
                                 "Знаковое целое число", "0, 2 .. 6", "от 0 до 8",
                                 "дерево атр-ов обрезано (кратность индекcов 2)"}));
  EXPECT_EQ(row("A.i.j", 1)[5], "нет индекса");
  EXPECT_EQ(row("lg.ty")[5], "0, 2 .. 6");
  EXPECT_EQ(row("nPC")[5], "0, 5 .. 10");
  EXPECT_EQ(row("nPC")[3], "Программа №...: количество шагов");
  EXPECT_EQ(row("PCP.i")[5], "0, 1 .. 14");
  EXPECT_EQ(row("F.dAt")[4], "Строковый тип");
  EXPECT_EQ(row("cL.1"), (Cells{"78", "cL.1", hash_of("cL.1"), "Вход №...: коэффициент наклона",
                                "32-разрядное вещественное число", "0, 1 .. 7", "от 0.5 до 2",
                                "обычн. атрибуты"}));
}

// The fixed table follows with every command's own hash; "r-S" is not "r.St".
TEST_F(ParameterList, OperationalTableNamesEachCommandsHash) {
  const std::string fragment = operational_fragment();
  // The hashes of the protocol's worked values; "r-S" hashes as "r-s" (letters are
  // upper-cased before hashing), never as "r.St".
  const std::vector<std::pair<std::string, std::string>> commands = {
      {"rEAd", "8784"},  {"r.Out", "9946"}, {"r.SiG", "79F4"},
      {"rd.rg", "8F43"}, {"r.St", "2810"},  {"r.PrG", "734C"},
      {"r.StP", "BAAB"}, {"Set.P", "33EC"}, {"r-S", hash_of("r-s")}};
  ASSERT_NE(commands.back().second, "2810");
  std::size_t at = 0;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    SCOPED_TRACE(commands[i].first);
    const std::string row_start = "<tr>\n\t<td>" + std::to_string(i + 1) + "\t</td>\n\t<td>" +
                                  commands[i].first + "\t</td>\n\t<td>";
    at = fragment.find(row_start, at);
    ASSERT_NE(at, std::string::npos);
    at += row_start.size();
    EXPECT_EQ(fragment.substr(at, 4), commands[i].second);
  }
  EXPECT_EQ(fragment.find("@hash("), std::string::npos);
  EXPECT_EQ(fragment.find("\t<td>2810\t</td>\n\t<td>Пуск/останов"), std::string::npos);
  EXPECT_NE(fragment.find("Режим ПРОГРАММИРОВАНИЕ"), std::string::npos);
}

TEST_F(ParameterList, FileIsWindows1251AndNeverHalfWritten) {
  load_from(kEdgeParameters, kEdgeTree);
  const std::filesystem::path target = home.root() / "parlist.html";
  std::string error;
  ASSERT_TRUE(write_parameter_list(*load.main_tree, target, &error)) << error;
  const std::string bytes = read_file(target);
  // "№" is 0xB9 and "Список" D1 EF E8 F1 EE EA in the code page.
  EXPECT_NE(bytes.find("\xD1\xEF\xE8\xF1\xEE\xEA"), std::string::npos);
  EXPECT_NE(bytes.find("<td><strong><b>\xB9</b></strong></td>"), std::string::npos);
  EXPECT_EQ(platform::from_cp1251(bytes),
            parameter_list_page(collect_parameter_list(*load.main_tree)));

  // A save that fails before the rename leaves the old page as it was.
  platform::set_atomic_write_fault([](const std::filesystem::path&) { return false; });
  EXPECT_FALSE(write_parameter_list(*load.main_tree, target, &error));
  platform::set_atomic_write_fault({});
  EXPECT_EQ(read_file(target), bytes);
  for (const auto& entry : std::filesystem::directory_iterator(home.root())) {
    EXPECT_FALSE(platform::istarts_with(entry.path().filename().string(), ".parlist.html"))
        << entry.path();
  }
  // A folder that cannot hold the file (a plain file stands in its way).
  std::ofstream(home.root() / "plain") << "x";
  error.clear();
  EXPECT_FALSE(
      write_parameter_list(*load.main_tree, home.root() / "plain" / "parlist.html", &error));
  EXPECT_FALSE(error.empty());
}

// The document's command: the page goes into the program directory and to the viewer; a page
// that could not be written is said so and never handed to the viewer.
struct ExportCommand : ::testing::Test {
  test::TestHome home;
  test::RecordingPrompter prompter;
  test::RecordingNotificationSink sink;
  platform::MemorySettingsStore store, registration;
  ProgramSettings settings{store};
  CKBA604App app{prompter};
  std::shared_ptr<test::FakeLinkDevice> device = test::FakeLinkDevice::create(app);
  std::vector<std::filesystem::path> viewed;
  std::unique_ptr<CKBA604Doc> doc;

  void make_document(bool with_description) {
    if (with_description) {
      auto files = test::build_description(kEdgeParameters, {kEdgeTree, "", ""});
      files.write_to(home.root() / "desc");
      settings.set_data_directory((home.root() / "desc").string() + "/");
    } else {
      settings.set_data_directory((home.root() / "nothing").string() + "/");
    }
    app.options.clear();
    DocumentServices services{app,  settings,          registration,
                              sink, "/usr/bin/kba604", home.data_dir() / "TALV" / "KBA604"};
    doc = std::make_unique<CKBA604Doc>(services, device, nullptr);
    doc->construct();
    doc->set_file_viewer([this](const std::filesystem::path& file, std::string*) {
      viewed.push_back(file);
      return true;
    });
    prompter.clear();
  }
  void TearDown() override {
    doc.reset();
    device->shutdown();
  }
};

TEST_F(ExportCommand, WritesIntoTheProgramDirectoryAndOpensThePage) {
  make_document(true);
  ASSERT_NE(doc->main_tree(), nullptr);
  EXPECT_TRUE(doc->OnCommand(command::kExportParameterList));
  const std::filesystem::path page = home.data_dir() / "TALV" / "KBA604" / "parlist.html";
  ASSERT_EQ(viewed, std::vector<std::filesystem::path>{page});
  EXPECT_NE(read_file(page).find("</html>\n"), std::string::npos);
  EXPECT_EQ(prompter.count(), 0u);

  // The page cannot replace what stands there: a message, the old page is not opened again.
  std::filesystem::remove(page);
  std::filesystem::create_directories(page / "inside");
  EXPECT_TRUE(doc->OnCommand(command::kExportParameterList));
  EXPECT_EQ(viewed.size(), 1u);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Error);
  EXPECT_TRUE(platform::istarts_with(
      prompter.records()[0].text,
      "Не удалось записать список параметров в файл \"" + page.string() + "\": "));
}

TEST_F(ExportCommand, WithoutATreeNothingIsWritten) {
  make_document(false);
  ASSERT_EQ(doc->main_tree(), nullptr);
  EXPECT_TRUE(doc->OnCommand(command::kExportParameterList));
  EXPECT_TRUE(viewed.empty());
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, "Дерево не определено");
  EXPECT_EQ(prompter.records()[0].caption, "Операция невозможна");
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Error);
  EXPECT_FALSE(std::filesystem::exists(home.data_dir() / "TALV" / "KBA604" / "parlist.html"));
}

}  // namespace
}  // namespace kba604
