// The main window driven as a person drives it, on the offscreen platform, against the virtual
// instrument on a pseudo-terminal: reading the instrument into the tree, editing cells through
// the real editors, the problem rows, the enabling of commands, the files and the start-up
// placement. Boxes are answered through the recording prompter.
// The virtual instrument first: its headers use "slots" as a name, which Qt's headers make a
// keyword.
#include "support/virtual_instrument.h"
// clang-format off
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QtTest/QtTest>
#include <filesystem>
#include <memory>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "platform/ini_settings_store.h"
#include "platform/settings_store.h"
#include "runner/document_handler.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "support/window_rig.h"
#include "ui/main_window.h"
#include "ui/export_dialogs.h"
#include "ui/parameter_delegate.h"
#include "ui/protocol_wiring.h"
#include "ui/qt_services.h"
#include "ui/tree_icons.h"
#include "ui/window_program.h"
// clang-format on

using namespace kba604;

namespace {

constexpr int kLimitMs = 120'000;

// The program as the start-up builds it, with the window over its document. Without a port
// (switches and no port number) it never touches the instrument.
struct WindowRig : test::ProgramParts {
  // own_home: as ProgramParts has it.
  // instrument: further options of the virtual instrument.
  explicit WindowRig(const std::vector<std::string>& params = {}, bool with_instrument = true,
                     bool own_home = true, std::vector<std::string> instrument = {})
      : ProgramParts(own_home) {
    if (with_instrument) {
      instrument.insert(instrument.begin(), {"--baud", "115200"});
      sim = std::make_unique<test::VirtualInstrument>(instrument);
      store.set_value("Ports/COM9", sim->path());
      store.set_uint32("port_number", 9);
      store.set_uint32("baud_rate", 115200);
      store.set_uint32("RS485type", 1);
    }
    parse_switches(params);
    handler = make_document_handler();
    start = handler->construct(context);
    if (start != DocumentStart::Ready) return;
    app.modes.rs485_type.store(initial_rs485_type(app.options, settings));
    apply_window_modes(app.options, settings, app.modes);
    auto* h = static_cast<ConfiguratorDocument*>(handler.get());
    MainWindow::Services s{app,  *handler->document(), settings, *profile, h->program_settings(),
                           {},   app.options.quiet()};
    window = std::make_unique<MainWindow>(std::move(s), view, sink);
    window->resize(1200, 800);
  }
  ~WindowRig() {
    window.reset();
    if (handler) handler->shutdown();
  }
  CKBA604Doc& doc() { return *handler->document(); }
  ParameterTreeModel& model() { return window->model(); }
  QModelIndex row_of(const char* name, int index = -1) {
    for (Parameter& p : doc().table()) {
      if (p.short_name == name && (index < 0 || p.linear_index == index)) {
        return model().index_of(&p);
      }
    }
    return {};
  }
  Parameter* param(const char* name, int index = -1) { return model().parameter(row_of(name, index)); }

  std::unique_ptr<test::VirtualInstrument> sim;
  std::unique_ptr<DocumentHandler> handler;
  DocumentStart start = DocumentStart::Refused;
  std::unique_ptr<MainWindow> window;
};

// Starts an edit of a cell with the real editor and types into it; the editor is returned
// still open.
QWidget* begin_edit(QTreeView& tree, const QModelIndex& index) {
  tree.setCurrentIndex(index);
  tree.scrollTo(index);
  tree.edit(index);
  QCoreApplication::processEvents();
  return tree.indexWidget(index) ? tree.indexWidget(index) : QApplication::focusWidget();
}

QString commit_typed(QTreeView& tree, const QModelIndex& index, const QString& typed) {
  auto* edit = qobject_cast<QLineEdit*>(begin_edit(tree, index));
  if (edit == nullptr) return QStringLiteral("<no editor>");
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, typed);
  const QString shown = edit->text();
  QTest::keyClick(edit, Qt::Key_Return);
  QCoreApplication::processEvents();
  return shown;
}

QString cell(const QModelIndex& row, int column) {
  return row.siblingAtColumn(column).data().toString();
}

QColor colour(const QModelIndex& row) {
  return row.data(Qt::ForegroundRole).value<QBrush>().color();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void readAllFillsTheRowsWithValuesAndColours();
  void editsFollowTheRulesOfTheEditsEnd();
  void problemRowsAreFoundAndTheLastOneSaysSo();
  void withoutAPortTheInstrumentCommandsAreGrey();
  void placementFromTheSwitchesFreezesTheGeometryUntilTheCommandEnds();
  void filesOpenFromTheMenuByDropAndFromTheRecentList();
  void unsavedChangesAreAskedAboutExceptInQuietMode();
  void treeLayoutAndWidths();
  void protocolExportOpensItsDialogOverTheDocument();
  void rowsComingIntoViewAreReadByThemselves();
  void closingTheWindowStopsARunningRead();
  void modesShowTheirChecksIndicatorsAndEffects();
  void contextMenusFollowThePointAndAccessMaskRules();
  void helpAboutAndTheSelectionAcrossARebuild();
};

void MainWindowTest::treeLayoutAndWidths() {
  WindowRig rig({"/silent"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  ParameterTreeModel& m = rig.model();
  QCOMPARE(m.columnCount(), 6);
  QCOMPARE(m.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Описание"));
  QCOMPARE(m.headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(),
           QString("Ошибки обмена и несоответствия"));
  QCOMPARE(m.rowCount(), 2);
  QCOMPARE(cell(m.index(0, 0), 0),
           QString("Конфигурация KBA604 (") + QString::fromStdString(rig.doc().title()) + ")");
  QCOMPARE(cell(m.index(1, 0), 0), QString("Параметры компьютера"));
  // Under the root: the instrument's tree, then the polled branch with its header row.
  const QModelIndex root = m.index(0, 0);
  QVERIFY(m.rowCount(root) >= 2);
  const QModelIndex polled = m.index(m.rowCount(root) - 1, 0, root);
  QCOMPARE(cell(polled, 0), QString("Опрос оперативных параметров"));
  const QModelIndex header = m.index(0, 0, polled);
  QCOMPARE(cell(header, 0), QString("     Имя параметра"));
  QCOMPARE(cell(header, 1), QString("Период, мс"));
  QCOMPARE(cell(header, 5), QString("Ошибки ввода-вывода"));
  const QModelIndex first = m.index(1, 0, polled);
  QVERIFY(m.flags(first) & Qt::ItemIsUserCheckable);
  QCOMPARE(first.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
  QCOMPARE(cell(first, 1), QString("1000"));
  QVERIFY(m.setData(first, Qt::Checked, Qt::CheckStateRole));
  QVERIFY(m.parameter(first)->timer_armed());
  m.setData(first, Qt::Unchecked, Qt::CheckStateRole);
  // A one-parameter branch shows its parameter under the branch's name.
  const QModelIndex channels = rig.row_of("n.Ch");
  QCOMPARE(cell(channels, 0), QString("Количество измерительных каналов"));
  // Every image number of the shipped description has an image of its own.
  std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
    for (int r = 0; r < m.rowCount(parent); ++r) {
      const QModelIndex i = m.index(r, 0, parent);
      const int image = i.data(ParameterTreeModel::kImageRole).toInt();
      if (image >= 0) QVERIFY2(tree_icons::has_number(image), qPrintable(cell(i, 0)));
      walk(i);
    }
  };
  walk({});
  // Column shares: the description column takes 3 tenths, the value 1.5.
  rig.window->show();
  QCoreApplication::processEvents();
  QTreeView& tree = rig.window->tree();
  const double client = tree.viewport()->width() - 15;
  QVERIFY(std::abs(tree.columnWidth(0) - client * 0.3) <= 1);
  QVERIFY(std::abs(tree.columnWidth(2) - client * 0.15) <= 1);
  // The title follows the document's.
  QVERIFY(rig.window->windowTitle().startsWith(QString::fromStdString(rig.doc().title())));
}

void MainWindowTest::readAllFillsTheRowsWithValuesAndColours() {
  WindowRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.window->show();
  const QModelIndex device = rig.row_of("dev");
  QVERIFY(device.isValid());
  rig.app.modes.auto_read.store(false);
  rig.window->command_action(command::kReadAll)->trigger();
  QVERIFY(rig.window->wait_idle(kLimitMs));
  QCOMPARE(cell(device, 2).toLower(), QString("kba604"));
  QCOMPARE(colour(device), QColor(0, 0, 0));
  const QModelIndex type = rig.row_of("in-t", 0);
  QVERIFY(!cell(type, 2).isEmpty());
  QVERIFY(cell(type, 2) != QString("Нет данных"));
  // A value changed in the program shows green; compared with the instrument, blue.
  const QModelIndex objects = rig.row_of("n.Obj");
  const QString other = cell(objects, 2) == "1" ? "2" : "1";
  QVERIFY(rig.window->model().setData(objects.siblingAtColumn(2), other, Qt::EditRole));
  QCOMPARE(colour(objects), QColor(0, 187, 0));
  rig.window->command_action(command::kCompare)->trigger();
  QVERIFY(rig.window->wait_idle(kLimitMs));
  QCOMPARE(colour(objects), QColor(64, 64, 255));
  QVERIFY(!cell(objects, 5).isEmpty());

  // scripts/screenshot asks for the picture of the README: the window after the read.
  if (const QByteArray path = qgetenv("KBA604_SCREENSHOT"); !path.isEmpty()) {
    rig.window->resize(1280, 720);
    QTreeView& tree = rig.window->tree();
    tree.collapseAll();
    tree.expand(rig.model().index(0, 0));
    for (QModelIndex p = rig.row_of("in.L", 0).parent(); p.isValid(); p = p.parent()) tree.expand(p);
    tree.expand(rig.model().index(1, 0));
    tree.setCurrentIndex(rig.row_of("in-t", 0));
    QCoreApplication::processEvents();
    QVERIFY(rig.window->grab().save(QString::fromLocal8Bit(path)));
  }
}

void MainWindowTest::editsFollowTheRulesOfTheEditsEnd() {
  WindowRig rig({"/silent"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.window->show();
  QTreeView& tree = rig.window->tree();
  const QModelIndex low = rig.row_of("in.L", 0);
  QVERIFY(low.isValid());
  for (QModelIndex p = low.parent(); p.isValid(); p = p.parent()) tree.expand(p);
  commit_typed(tree, low.siblingAtColumn(2), "12,5");
  QCOMPARE(cell(low, 2), QString("12.5"));
  QCOMPARE(colour(low), QColor(0, 187, 0));

  const QModelIndex delay = rig.row_of("i.d.PU");
  for (QModelIndex p = delay.parent(); p.isValid(); p = p.parent()) tree.expand(p);
  commit_typed(tree, delay.siblingAtColumn(2), "90");
  QCOMPARE(cell(delay, 2), QString("01:30"));

  // A letter in a "dec_dot" cell is not inserted.
  const QModelIndex channels = rig.row_of("n.Ch");
  QCOMPARE(commit_typed(tree, channels.siblingAtColumn(2), "2x"), QString("2"));
  QCOMPARE(cell(channels, 2), QString("2"));

  const QModelIndex resets = rig.row_of("res");
  for (QModelIndex p = resets.parent(); p.isValid(); p = p.parent()) tree.expand(p);
  const QString before = cell(resets, 2);
  rig.prompter.clear();
  commit_typed(tree, resets.siblingAtColumn(2), "1");
  QCOMPARE(cell(resets, 2), before);
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QCOMPARE(QString::fromStdString(rig.prompter.records()[0].text),
           QString::fromStdString(std::string(kOnlyZeroText)));
  commit_typed(tree, resets.siblingAtColumn(2), "0");
  QCOMPARE(cell(resets, 2), QString("0"));

  // An item list is chosen from its items, without those its marks hide.
  const QModelIndex type = rig.row_of("in-t", 0);
  auto* combo = qobject_cast<QComboBox*>(begin_edit(tree, type.siblingAtColumn(2)));
  QVERIFY(combo != nullptr);
  QVERIFY(combo->findText("ТХА(K)") >= 0);
  QCOMPARE(combo->findText("Резерв"), -1);
  combo->setCurrentIndex(combo->findText("ТХК(L)"));
  QTest::keyClick(combo, Qt::Key_Return);
  QCoreApplication::processEvents();
  QCOMPARE(cell(type, 2), QString("ТХК(L)"));

  // The edit box widens with its text by the text's width plus 5 pixels, never beyond the
  // tree's client width.
  auto* wide = qobject_cast<QLineEdit*>(begin_edit(tree, channels.siblingAtColumn(2)));
  QVERIFY(wide != nullptr);
  const int narrow = wide->width();
  QTest::keyClicks(wide, QString(40, '1'));
  QVERIFY(wide->width() > narrow);
  QCOMPARE(wide->width(), wide->fontMetrics().horizontalAdvance(wide->text()) + 5);
  QTest::keyClicks(wide, QString(400, '1'));
  QCOMPARE(wide->width(), tree.viewport()->width());
  QTest::keyClick(wide, Qt::Key_Escape);
  QCoreApplication::processEvents();

  // Escape leaves the value as it was.
  auto* edit = qobject_cast<QLineEdit*>(begin_edit(tree, channels.siblingAtColumn(2)));
  QVERIFY(edit != nullptr);
  QTest::keyClicks(edit, "5");
  QTest::keyClick(edit, Qt::Key_Escape);
  QCoreApplication::processEvents();
  QCOMPARE(cell(channels, 2), QString("2"));

  // The character filters by format.
  QVERIFY(!format_accepts_character("DEC_dot", U'a'));
  QVERIFY(format_accepts_character("DEC_dot", U'-'));
  QVERIFY(format_accepts_character("STORED_DOT", U'.'));
  QVERIFY(!format_accepts_character("float", U'e'));
  QVERIFY(format_accepts_character("CLK_frm", U':'));
  QVERIFY(!format_accepts_character("CLK_frm", U'.'));
  QVERIFY(format_accepts_character("name", U'Ж'));
  QVERIFY(format_accepts_character("ASCI", U'/'));
  QVERIFY(!format_accepts_character("string", U'*'));
  QVERIFY(!format_accepts_character("name", U'€'));
  QVERIFY(format_accepts_character("Выкл:Вкл", U'*'));
}

void MainWindowTest::problemRowsAreFoundAndTheLastOneSaysSo() {
  WindowRig rig({"/silent"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  Parameter* a = rig.param("n.Ch");
  Parameter* b = rig.param("in.L", 2);
  a->note = "Таймаут при передаче данных (нет связи)";
  b->note = std::string(kDifferencePrefix) + " 1.0";
  QVERIFY(b->has_difference_note());
  rig.model().refresh_all();
  QTreeView& tree = rig.window->tree();
  tree.setCurrentIndex(rig.model().index(0, 0));
  QVERIFY(rig.window->go_to_problem(true));
  QCOMPARE(rig.model().parameter(tree.currentIndex()), a);
  QVERIFY(rig.window->go_to_problem(true));
  QCOMPARE(rig.model().parameter(tree.currentIndex()), b);
  QVERIFY(tree.isExpanded(tree.currentIndex().parent()));
  rig.prompter.clear();
  QVERIFY(!rig.window->go_to_problem(true));
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QCOMPARE(QString::fromStdString(rig.prompter.records()[0].text),
           QString("Больше нет параметров с ошибками!"));
  QCOMPARE(QString::fromStdString(rig.prompter.records()[0].caption), QString("Сообщение"));
  QCOMPARE(rig.model().parameter(tree.currentIndex()), b);
  QVERIFY(rig.window->go_to_problem(false));
  QCOMPARE(rig.model().parameter(tree.currentIndex()), a);
  // Alt+Down is the keyboard's way.
  QCOMPARE(rig.window->command_action(command::kNextProblem)->shortcut(),
           QKeySequence(Qt::ALT | Qt::Key_Down));
  // Ctrl+F finds by short name or title.
  tree.setCurrentIndex(rig.model().index(0, 0));
  QVERIFY(rig.window->find_parameter("in.h"));
  QCOMPARE(QString::fromStdString(rig.model().parameter(tree.currentIndex())->short_name),
           QString("in.H"));
  QVERIFY(rig.window->find_parameter("перезапусков"));
  QCOMPARE(QString::fromStdString(rig.model().parameter(tree.currentIndex())->short_name),
           QString("res"));
  QVERIFY(!rig.window->find_parameter("нет такого"));
}

void MainWindowTest::withoutAPortTheInstrumentCommandsAreGrey() {
  WindowRig rig({"/silent"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.window->refresh_commands();
  for (int id : {command::kReadAll, command::kWriteAll, command::kCheckConnection,
                 command::kWriteChanged, command::kCompare, command::kAutoRead,
                 command::kImmediateWrite, command::kNoAttributes}) {
    QVERIFY2(!rig.window->command_action(id)->isEnabled(), qPrintable(QString::number(id)));
  }
  // The whole first row of the enabling table, whatever handlers the later features give them.
  int present = 0;
  for (int id : {134, 138, 139, 140,   147, 256, 257, 268,   271, 282,
                 284, 294, 299, 32885, 263, 266, 141, 32800, 281, 285}) {
    QAction* action = rig.window->command_action(id);
    if (action == nullptr) continue;
    ++present;
    rig.window->set_command_handler(id, [] {});
    rig.window->refresh_commands();
    QVERIFY2(!action->isEnabled(), qPrintable(QString::number(id)));
  }
  QVERIFY(present >= 14);
  QVERIFY(rig.window->command_action(command::kFileSave)->isEnabled());
  QVERIFY(!rig.app.modes.auto_read.load());
  // The second top-level menu is greyed as a whole.
  const QList<QAction*> menus = rig.window->menuBar()->actions();
  QCOMPARE(menus[1]->text(), QString("&Режимы программы"));
  QVERIFY(!menus[1]->menu()->isEnabled());
  // A command of a later feature is disabled until it has its handler.
  QAction* calibrate = rig.window->command_action(command::kCalibrate);
  QVERIFY(!calibrate->isEnabled());
  QVERIFY(!rig.window->command_action(command::kExportParameterList)->isEnabled());
  int runs = 0;
  rig.window->set_command_handler(command::kExportParameterList, [&runs] { ++runs; });
  QVERIFY(rig.window->command_action(command::kExportParameterList)->isEnabled());
  rig.window->command_action(command::kExportParameterList)->trigger();
  QCOMPARE(runs, 1);
}

void MainWindowTest::protocolExportOpensItsDialogOverTheDocument() {
  WindowRig rig({"/silent"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  QAction* action = rig.window->command_action(kExportProtocolCommand);
  QVERIFY(!action->isEnabled());
  wire_protocol_commands(*rig.window, rig.doc(), rig.prompter);
  QVERIFY(action->isEnabled());
  QString seen;
  QTimer::singleShot(0, [&seen] {
    auto* dialog = qobject_cast<CExportOperDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    seen = dialog->windowTitle();
    dialog->reject();
  });
  action->trigger();
  QCOMPARE(seen, QString::fromUtf8(kExportDialogCaption.data(),
                                   static_cast<int>(kExportDialogCaption.size())));
}

void MainWindowTest::placementFromTheSwitchesFreezesTheGeometryUntilTheCommandEnds() {
  WindowRig rig({"/x:10/y:20/w:800/h:600"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  MainWindow& w = *rig.window;
  w.place(window_placement(rig.app.options));
  QCoreApplication::processEvents();
  QVERIFY(w.geometry_frozen());
  QCOMPARE(w.size(), QSize(800, 600));
  QCOMPARE(w.minimumSize(), QSize(800, 600));
  QCOMPARE(w.maximumSize(), QSize(800, 600));
  w.resize(1000, 700);
  QCOMPARE(w.size(), QSize(800, 600));
  w.setWindowState(Qt::WindowMaximized);
  QTRY_COMPARE(w.windowState() & Qt::WindowMaximized, Qt::WindowNoState);
  w.release_geometry();
  QVERIFY(!w.geometry_frozen());
  w.resize(1000, 700);
  QCOMPARE(w.size(), QSize(1000, 700));

  // A size without a position: maximised, and not frozen.
  WindowRig sized({"/w:800/h:600"}, false);
  sized.window->place(window_placement(sized.app.options));
  QTRY_VERIFY(sized.window->isMaximized());
  QVERIFY(!sized.window->geometry_frozen());

  WindowRig hidden({"/w:0/h:0"}, false);
  hidden.window->place(window_placement(hidden.app.options));
  QVERIFY(!hidden.window->isVisible());
  QVERIFY(hidden.window->tray() != nullptr);
  QVERIFY(hidden.window->tray()->isVisible());
}

void MainWindowTest::filesOpenFromTheMenuByDropAndFromTheRecentList() {
  test::TestHome home;
  QString saved;
  {
    WindowRig rig({"/silent"}, false, false);
    QCOMPARE(rig.start, DocumentStart::Ready);
    rig.param("n.Ch")->value = "3";
    saved = QString::fromStdString((home.root() / "first.604").string());
    QVERIFY(rig.window->save_document_as(saved));
    QCOMPARE(rig.window->recent_files(), QStringList{saved});
    rig.param("n.Ch")->value = "5";
    const QString other = QString::fromStdString((home.root() / "second.604").string());
    QVERIFY(rig.window->save_document_as(other));
    QCOMPARE(rig.window->recent_files(), (QStringList{other, saved}));

    // A file dropped on the window opens, and the tree shows its values.
    rig.window->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(saved)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window: the application delivers a drop only inside a real drag.
    static_cast<QObject*>(rig.window.get())->event(&drop);
    QTRY_COMPARE(QString::fromStdString(rig.doc().path()), saved);
    QCOMPARE(cell(rig.row_of("n.Ch"), 2), QString("3"));

    // The file that is open already asks before its changes go; No keeps them.
    rig.param("n.Ch")->value = "4";
    rig.prompter.clear();
    rig.prompter.answer_next(PromptAnswer::No);
    QVERIFY(!rig.window->open_document(saved));
    QCOMPARE(QString::fromStdString(rig.prompter.records().at(0).caption), QString("Внимание!"));
    QCOMPARE(rig.param("n.Ch")->value, std::string("4"));

    // The recent list in the profile, as the framework keeps it.
    auto profile = open_window_profile();
    QCOMPARE(QString::fromStdString(profile->value("Recent File List/File1").value_or("")),
             saved);
  }
  // And it survives a restart.
  WindowRig again({"/silent"}, false, false);
  QVERIFY(again.window->recent_files().contains(saved));
}

void MainWindowTest::unsavedChangesAreAskedAboutExceptInQuietMode() {
  WindowRig rig({}, true);
  QCOMPARE(rig.start, DocumentStart::Ready);
  QVERIFY(!rig.window->geometry_frozen());
  rig.window->tree().setCurrentIndex(rig.row_of("n.Ch").siblingAtColumn(2));
  QVERIFY(rig.model().setData(rig.row_of("n.Ch").siblingAtColumn(2), "4", Qt::EditRole));
  QVERIFY(rig.doc().modified());
  rig.prompter.clear();
  rig.prompter.answer_next(PromptAnswer::Cancel);
  QVERIFY(!rig.window->new_document());
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QVERIFY(QString::fromStdString(rig.prompter.records()[0].text).startsWith("Сохранить изменения"));
  QCOMPARE(rig.param("n.Ch")->value, std::string("4"));
  rig.prompter.answer_next(PromptAnswer::No);
  QVERIFY(rig.window->new_document());
  QCOMPARE(rig.param("n.Ch")->value, std::string("Нет данных"));
  // Closing and opening another file ask as well; Cancel keeps the window and the changes.
  QVERIFY(rig.model().setData(rig.row_of("n.Ch").siblingAtColumn(2), "5", Qt::EditRole));
  rig.window->show();
  rig.prompter.clear();
  rig.prompter.answer_next(PromptAnswer::Cancel);
  QVERIFY(!rig.window->close());
  QVERIFY(rig.window->isVisible());
  rig.prompter.answer_next(PromptAnswer::Cancel);
  QVERIFY(!rig.window->open_document(QStringLiteral("/nonexistent/other.604")));
  QCOMPARE(rig.prompter.count(), std::size_t(2));
  QCOMPARE(rig.param("n.Ch")->value, std::string("5"));

  WindowRig quiet({"/silent"}, false);
  QVERIFY(quiet.model().setData(quiet.row_of("n.Ch").siblingAtColumn(2), "4", Qt::EditRole));
  quiet.prompter.clear();
  QVERIFY(quiet.window->new_document());
  QCOMPARE(quiet.prompter.count(), std::size_t(0));
}

// The automatic-read mode: instrument rows that come into view with "Нет данных" and no note
// are read off the UI thread; rows out of view and polled rows are not, nor anything while the
// mode is off.
void MainWindowTest::rowsComingIntoViewAreReadByThemselves() {
  WindowRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  QVERIFY(rig.app.modes.auto_read.load());
  const int channels_held =
      rig.sim->with([](sim::Instrument& i) { return int((*i.value("n.Ch"))[0]); });
  rig.window->show();
  QTreeView& tree = rig.window->tree();
  tree.collapseAll();
  QVERIFY(rig.window->wait_idle(kLimitMs));
  const QModelIndex channels = rig.row_of("n.Ch");
  const QModelIndex low = rig.row_of("in.L", 2);
  QCOMPARE(cell(channels, 2), QString("Нет данных"));

  // Opening the branches down to the row brings it into view, and it is read.
  tree.expand(rig.model().index(0, 0));
  for (QModelIndex p = channels.parent(); p.isValid(); p = p.parent()) tree.expand(p);
  QTRY_COMPARE_WITH_TIMEOUT(cell(channels, 2), QString::number(channels_held), kLimitMs);
  QVERIFY(cell(channels, 5).isEmpty());
  QVERIFY(rig.window->wait_idle(kLimitMs));
  QCOMPARE(cell(low, 2), QString("Нет данных"));

  // Polled rows are the scanner's, never read by the mode.
  const QModelIndex root = rig.model().index(0, 0);
  const QModelIndex polled = rig.model().index(rig.model().rowCount(root) - 1, 0, root);
  tree.expand(polled);
  QVERIFY(rig.window->wait_idle(kLimitMs));
  QCOMPARE(cell(rig.model().index(1, 0, polled), 2), QString("Нет данных"));

  // Switched off, a row that comes into view stays as it was; switched on, it is read.
  tree.collapseAll();
  rig.app.modes.auto_read.store(false);
  for (QModelIndex p = low.parent(); p.isValid(); p = p.parent()) tree.expand(p);
  tree.scrollTo(low);
  QVERIFY(rig.window->wait_idle(kLimitMs));
  QCOMPARE(cell(low, 2), QString("Нет данных"));
  rig.app.modes.auto_read.store(true);
  tree.collapse(low.parent());
  tree.expand(low.parent());
  tree.scrollTo(low);
  QTRY_VERIFY_WITH_TIMEOUT(cell(low, 2) != QString("Нет данных"), kLimitMs);
  QVERIFY(cell(low, 5).isEmpty());
}

// Closing the window while a read of all parameters runs stops the read first: the worker is
// idle soon after, long before the read would have ended, and the rest stays unread.
void MainWindowTest::closingTheWindowStopsARunningRead() {
  // At the instrument's own pace a whole read takes about half a minute.
  WindowRig rig({}, true, true, {"--time-scale", "1"});
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.app.modes.auto_read.store(false);
  rig.window->show();
  DeviceOperations& device = rig.doc().device();
  rig.window->command_action(command::kReadAll)->trigger();
  QTRY_VERIFY_WITH_TIMEOUT(device.busy(), kLimitMs);
  QTRY_VERIFY_WITH_TIMEOUT(cell(rig.row_of("dev"), 2) != QString("Нет данных"), kLimitMs);
  rig.window->close_now();
  QVERIFY(!rig.window->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(!device.busy(), 10'000);
  // The instrument's rows in display order (the polled branch, the last under the root, aside).
  ParameterTreeModel& m = rig.model();
  std::vector<Parameter*> rows;
  std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
    for (int r = 0; r < m.rowCount(parent); ++r) {
      const QModelIndex i = m.index(r, 0, parent);
      if (Parameter* p = m.parameter(i)) rows.push_back(p);
      walk(i);
    }
  };
  const QModelIndex root = m.index(0, 0);
  for (int r = 0; r + 1 < m.rowCount(root); ++r) walk(m.index(r, 0, root));
  QVERIFY(rows.size() > 100);
  const auto unread = std::count_if(rows.begin(), rows.end(), [](Parameter* p) {
    return p->value == "Нет данных" && p->note.empty();
  });
  QVERIFY2(unread > std::ptrdiff_t(rows.size() / 2),
           qPrintable(QString("%1 of %2 unread").arg(unread).arg(rows.size())));
  QCOMPARE(QString::fromStdString(rows.back()->value), QString("Нет данных"));
}

// The menu "Режимы программы" in the window: each mode's check mark and status-bar indicator,
// and what the mode does to the window: linear indexes in the name column, the explanation of
// immediate writing only when it goes on, the minimised window hidden in the tray with "hidemin"
// written at each switch.
void MainWindowTest::modesShowTheirChecksIndicatorsAndEffects() {
  WindowRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.window->show();
  QVERIFY(rig.window->wait_idle(kLimitMs));
  auto indicator = [&](const char* name) {
    QLabel* label = rig.window->findChild<QLabel*>(QString::fromLatin1(name));
    return label != nullptr && !label->isHidden();
  };
  auto toggle = [&](int id) {
    rig.window->command_action(id)->trigger();
    rig.window->refresh_commands();
    return rig.window->command_action(id)->isChecked();
  };
  QVERIFY(rig.window->menuBar()->actions()[1]->menu()->isEnabled());

  const QModelIndex low = rig.row_of("in.L", 2);
  QCOMPARE(cell(low, 1), QString("in.L"));
  QVERIFY(!indicator("ShowIndex"));
  QVERIFY(toggle(command::kShowIndexes));
  QVERIFY(indicator("ShowIndex"));
  QCOMPARE(cell(low, 1), QString("in.L:2"));
  QVERIFY(!toggle(command::kShowIndexes));
  QCOMPARE(cell(low, 1), QString("in.L"));
  QVERIFY(!indicator("ShowIndex"));

  // Automatic reading starts on without switches.
  QVERIFY(indicator("AutoRead"));
  QVERIFY(!toggle(command::kAutoRead));
  QVERIFY(!rig.app.modes.auto_read.load());
  QVERIFY(!indicator("AutoRead"));

  rig.prompter.clear();
  QVERIFY(toggle(command::kImmediateWrite));
  QVERIFY(indicator("Instant"));
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QVERIFY(QString::fromStdString(rig.prompter.records()[0].text)
              .startsWith("В режиме 'Моментальная запись'"));
  QVERIFY(!toggle(command::kImmediateWrite));
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QVERIFY(!indicator("Instant"));
  QVERIFY(rig.window->wait_idle(kLimitMs));

  QVERIFY(!indicator("HideMinimize"));
  QVERIFY(toggle(command::kHideMinimised));
  QVERIFY(indicator("HideMinimize"));
  QCOMPARE(rig.store.value("hidemin").value_or(""), std::string("1"));
  rig.window->showMinimized();
  QTRY_VERIFY(!rig.window->isVisible());
  QVERIFY(rig.window->tray() != nullptr && rig.window->tray()->isVisible());
  rig.window->showNormal();
  QVERIFY(!toggle(command::kHideMinimised));
  QCOMPARE(rig.store.value("hidemin").value_or(""), std::string("0"));
  // The tray's menu has the connection check, the way back to the window and the way out.
  QStringList entries;
  for (QAction* a : rig.window->tray()->contextMenu()->actions()) entries << a->text();
  QVERIFY2(entries.contains("Проверка связи (vEr, dEv)"), qPrintable(entries.join('|')));
  QVERIFY(entries.contains("Выход"));
}

// The context menus: an element row offers the four branch commands, without the two writes on
// an element named "Точка …" (whose writes the main menu greys too); a parameter row offers read,
// write and compare, without the write when its access mask does not let it through; the polled
// branch has none.
void MainWindowTest::contextMenusFollowThePointAndAccessMaskRules() {
  WindowRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.app.modes.auto_read.store(false);
  rig.window->show();
  QTreeView& tree = rig.window->tree();
  ParameterTreeModel& m = rig.model();
  // The entries of the menu a right click on the row opens; empty when none opens.
  auto menu_of = [&](const QModelIndex& index) {
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) tree.expand(p);
    tree.scrollTo(index);
    QCoreApplication::processEvents();
    auto seen = std::make_shared<QStringList>();
    QTimer::singleShot(0, [seen] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* a : menu->actions()) {
          if (!a->isSeparator()) *seen << a->text();
        }
        menu->close();
      }
    });
    emit tree.customContextMenuRequested(tree.visualRect(index).center());
    QCoreApplication::processEvents();
    return *seen;
  };
  // Finds the row of the element whose name begins so.
  std::function<QModelIndex(const QModelIndex&, const QString&)> element_row =
      [&](const QModelIndex& parent, const QString& name) -> QModelIndex {
    for (int r = 0; r < m.rowCount(parent); ++r) {
      const QModelIndex i = m.index(r, 0, parent);
      if (m.parameter(i) == nullptr && cell(i, 0).startsWith(name)) return i;
      if (QModelIndex found = element_row(i, name); found.isValid()) return found;
    }
    return {};
  };

  const QStringList branch = {"Прочитать все параметры выделенной ветви",
                              "Записать все параметры выделенной ветви",
                              "Записать только измененные параметры выделенной ветви",
                              "Сравнить значения с реальными в пределах выделеной ветви"};
  const QModelIndex inputs = rig.row_of("in.L", 2).parent();
  QCOMPARE(menu_of(inputs), branch);
  const QModelIndex point = element_row(m.index(0, 0), "Точка 1");
  QVERIFY(point.isValid());
  QCOMPARE(menu_of(point), (QStringList{branch[0], branch[3]}));
  // Selected, the same element greys the main menu's two branch writes, and only those.
  tree.setCurrentIndex(point);
  rig.window->refresh_commands();
  QVERIFY(!rig.window->command_action(command::kBranchWrite)->isEnabled());
  QVERIFY(!rig.window->command_action(command::kBranchWriteChanged)->isEnabled());
  QVERIFY(rig.window->command_action(command::kBranchRead)->isEnabled());
  tree.setCurrentIndex(inputs);
  rig.window->refresh_commands();
  QVERIFY(rig.window->command_action(command::kBranchWrite)->isEnabled());

  const QModelIndex channels = rig.row_of("n.Ch");
  const QStringList parameter = {"Прочитать параметр", "Записать параметр", "Сравнить параметр"};
  QCOMPARE(menu_of(channels), parameter);
  Parameter* p = m.parameter(channels);
  const auto mask = p->access_mask;
  p->access_mask = 1;
  QCOMPARE(menu_of(channels), (QStringList{parameter[0], parameter[2]}));
  p->access_mask = 2;
  QCOMPARE(menu_of(channels), (QStringList{parameter[0], parameter[2]}));
  p->access_mask = mask;

  const QModelIndex root = m.index(0, 0);
  const QModelIndex polled = m.index(m.rowCount(root) - 1, 0, root);
  QVERIFY(menu_of(polled).isEmpty());
  QVERIFY(menu_of(m.index(1, 0, polled)).isEmpty());
}

// Help on a parameter: its tooltip holds its help text and its range; F1 shows the help in a box
// under the parameter's title; the about box names the product, its version and copyright. The
// selection survives a rebuild of the tree.
void MainWindowTest::helpAboutAndTheSelectionAcrossARebuild() {
  WindowRig rig({"/silent"}, false);
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.window->show();
  QTreeView& tree = rig.window->tree();
  const QModelIndex channels = rig.row_of("n.Ch");
  const QString tip = channels.siblingAtColumn(2).data(Qt::ToolTipRole).toString();
  QVERIFY2(tip.contains("Прибор меняет количество каналов по одному"), qPrintable(tip));
  QVERIFY2(tip.contains("от 1 до 8"), qPrintable(tip));

  tree.setCurrentIndex(channels);
  rig.prompter.clear();
  rig.window->command_action(command::kParameterHelp)->trigger();
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QCOMPARE(QString::fromStdString(rig.prompter.records()[0].caption),
           QString("Количество измерительных каналов"));
  QVERIFY(QString::fromStdString(rig.prompter.records()[0].text).contains("по одному"));
  QCOMPARE(rig.window->command_action(command::kParameterHelp)->shortcut(),
           QKeySequence(Qt::Key_F1));

  // The status bar's hint names the selected parameter's help; elsewhere it says how to get it.
  QLabel* hint = rig.window->findChild<QLabel*>("hint");
  QVERIFY(hint != nullptr);
  QVERIFY2(hint->text().startsWith("Прибор меняет количество каналов"), qPrintable(hint->text()));
  tree.setCurrentIndex(rig.model().index(0, 0));
  QCOMPARE(hint->text(), QString("Для вывода комментария по параметру выделите его и нажмите F1"));

  // The toolbar holds the commands used most, the menu's own actions.
  QToolBar* bar = rig.window->findChild<QToolBar*>("standardBar");
  QVERIFY(bar != nullptr);
  for (int id : {command::kFileOpen, command::kFileSave, command::kReadAll, command::kWriteAll,
                 command::kWriteChanged, command::kCompare, command::kCheckConnection}) {
    QVERIFY2(bar->actions().contains(rig.window->command_action(id)),
             qPrintable(QString::number(id)));
  }
  QCOMPARE(rig.window->command_action(command::kReadAll)->shortcut(),
           QKeySequence(Qt::ALT | Qt::Key_R));

  rig.prompter.clear();
  rig.window->command_action(command::kAppAbout)->trigger();
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  const QString about = QString::fromStdString(rig.prompter.records()[0].text);
  QVERIFY2(about.contains("KBA604") && about.contains(QRegularExpression("Версия \\d")),
           qPrintable(about));

  // The selection is found again by its path after the tree is built anew.
  const QModelIndex low = rig.row_of("in.L", 2);
  for (QModelIndex p = low.parent(); p.isValid(); p = p.parent()) tree.expand(p);
  tree.setCurrentIndex(low);
  Parameter* selected = rig.model().parameter(low);
  // While the rows are made anew the status bar says so, under the wait cursor.
  QString said;
  bool waiting = false;
  const auto seen = connect(&rig.model(), &QAbstractItemModel::modelReset, [&] {
    said = rig.window->statusBar()->currentMessage();
    waiting = QApplication::overrideCursor() != nullptr &&
              QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  });
  rig.window->rebuild_tree();
  disconnect(seen);
  QCOMPARE(said, QString("Создание дерева..."));
  QVERIFY(waiting);
  QVERIFY(rig.window->statusBar()->currentMessage().isEmpty());
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QCOMPARE(rig.model().parameter(tree.currentIndex()), selected);
  QVERIFY(tree.currentIndex().isValid());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_guitest.moc"
