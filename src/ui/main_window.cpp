#include "ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QWindowStateChangeEvent>

#include "app/commands.h"
#include "app/mode_switches.h"
#include "description/elements.h"
#include "files/kba604_doc.h"
#include "model/texts.h"
#include "operations/device_operations.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "ui/parameter_delegate.h"
#include "ui/qt_services.h"
#include "ui/translation.h"
#include "ui/tree_icons.h"

namespace kba604 {
namespace {

std::string str(const QString& s) {
  return s.toStdString();
}

constexpr const char* kF1Hint = QT_TRANSLATE_NOOP(
    "kba604::MainWindow", "Для вывода комментария по параметру выделите его и нажмите F1");
constexpr const char* kBuildingTree = QT_TRANSLATE_NOOP("kba604::MainWindow", "Создание дерева...");
constexpr const char* kDocumentFilter =
    QT_TRANSLATE_NOOP("kba604::MainWindow", "Файлы конфигураций (*.604)");

// The column shares of the client width, in tenths.
constexpr double kColumnShares[ParameterTreeModel::kColumnCount] = {3, 1, 1.5, 1.1, 0.9, 2.5};

// The commands whose feature comes with a later part of the program: present, disabled until a
// handler is set.
struct PlannedCommand {
  int command;
  const char* text;
};

// The indicators of the status bar and the modes they show.
struct Indicator {
  int command;
  const char* text;
};
constexpr Indicator kIndicators[] = {
    {command::kShowIndexes, "ShowIndex"},
    {command::kAutoRead, "AutoRead"},
    {command::kImmediateWrite, "Instant"},
    {command::kHideMinimised, "HideMinimize"},
};

}  // namespace

MainWindow::MainWindow(Services services, StatusOperationView& view, QtNotificationSink& sink,
                       QWidget* parent)
    : QMainWindow(parent),
      s_(std::move(services)),
      view_(view),
      sink_(sink),
      edit_end_(s_.app.prompter(), s_.app.modes, &s_.doc.device()) {
  setObjectName(QStringLiteral("kba604"));
  setWindowIcon(tree_icons::for_number(1));
  setAcceptDrops(true);
  pool_.setMaxThreadCount(1);

  edit_end_.set_network_elements(s_.program_settings, s_.doc.network_branch());

  model_ = new ParameterTreeModel(this);
  ParameterTreeModel::Sources sources;
  if (s_.program_settings != nullptr) sources.computer_elements.push_back(s_.program_settings);
  sources.computer_elements.push_back(&s_.doc.service());
  sources.show_indexes = [this] { return s_.app.modes.show_indexes.load(); };
  sources.edit = [this](Parameter& p, int column, const QString& text, bool operational) {
    return edit_cell(p, column, text, operational);
  };
  sources.polling_switched = [this](Parameter& p, bool on) {
    if (on) {
      p.ArmTimer(s_.app.clock().now_ms());
    } else {
      p.DisarmTimer();
    }
  };
  model_->set_sources(std::move(sources));

  tree_ = new QTreeView(this);
  tree_->setObjectName(QStringLiteral("parameterTree"));
  tree_->setModel(model_);
  tree_->setUniformRowHeights(true);
  tree_->setAlternatingRowColors(false);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::SelectedClicked | QAbstractItemView::AnyKeyPressed);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->header()->setStretchLastSection(false);
  tree_->header()->setSectionResizeMode(QHeaderView::Interactive);
  delegate_ = new ParameterDelegate(
      *model_,
      [this] {
        return std::pair<int, int>{s_.app.modes.access_level.load(),
                                   s_.app.modes.modification.load()};
      },
      this);
  tree_->setItemDelegate(delegate_);
  tree_->viewport()->installEventFilter(this);
  setCentralWidget(tree_);

  connect(tree_, &QWidget::customContextMenuRequested, this, &MainWindow::show_context_menu);
  connect(tree_->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { auto_read_visible(); });
  connect(tree_, &QTreeView::expanded, this, [this] { auto_read_visible(); });

  build_menus();
  build_status_bar();
  build_tray();

  connect(&view_, &StatusOperationView::opened, this, &MainWindow::operation_opened);
  connect(&view_, &StatusOperationView::progress, this, &MainWindow::operation_progress);
  connect(&view_, &StatusOperationView::closed, this, &MainWindow::operation_closed);
  // Views are redrawn at most ten times a second however often the worker asks: a read of the
  // whole tree asks after every branch, and each redraw walks every row.
  views_timer_.setSingleShot(true);
  views_timer_.setInterval(100);
  connect(&views_timer_, &QTimer::timeout, this, [this] {
    model_->refresh_all();
    update_title();
    refresh_commands();
  });
  connect(&sink_, &QtNotificationSink::changed, this, [this] {
    if (!views_timer_.isActive()) views_timer_.start();
  });
  connect(&sink_, &QtNotificationSink::polled, this,
          [this](quint32 key) { model_->refresh_key(key); });
  // One parameter changed by an exchange: only its rows are repainted. A position from before a
  // reload of the description may name another parameter now, which costs a repaint only.
  connect(&sink_, &QtNotificationSink::parameter_changed_at, this, [this](quint64 index) {
    ParameterTable& table = s_.doc.table();
    if (index < table.size()) model_->refresh_parameter(&table[static_cast<std::size_t>(index)]);
  });

  // The bar layout as the person left it (the profile's section "kba604").
  if (std::optional<std::string> state = s_.profile.value("kba604/BarState")) {
    restoreState(QByteArray::fromBase64(QByteArray::fromStdString(*state)));
  }

  refresh_timer_.setInterval(1000);
  connect(&refresh_timer_, &QTimer::timeout, this, &MainWindow::one_second);
  refresh_timer_.start();

  rebuild_tree();
  update_title();
  refresh_commands();
}

MainWindow::~MainWindow() {
  // Whatever the window started off the UI thread ends before the document it uses goes.
  s_.doc.device().stop_event().set();
  pool_.waitForDone(platform::Thread::kDefaultJoinMs);
}

// ---- commands ----------------------------------------------------------------------------------

QAction* MainWindow::add_command(QMenu* menu, int id, const QString& text,
                                 const QKeySequence& shortcut, bool routed) {
  auto* action = new QAction(text, this);
  action->setData(id);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  if (menu != nullptr) {
    menu->addAction(action);
  } else {
    addAction(action);
  }
  connect(action, &QAction::triggered, this, [this, id] { run_command(id); });
  commands_[id] = CommandInfo{action, routed, {}, {}};
  return action;
}

QAction* MainWindow::command_action(int id) const {
  auto it = commands_.find(id);
  return it != commands_.end() ? it->second.action : nullptr;
}

void MainWindow::set_command_handler(int id, std::function<void()> handler) {
  auto it = commands_.find(id);
  if (it == commands_.end()) return;
  it->second.handler = std::move(handler);
  refresh_commands();
}

void MainWindow::set_command_enabler(int id, std::function<bool()> enabled) {
  auto it = commands_.find(id);
  if (it == commands_.end()) return;
  it->second.enabler = std::move(enabled);
  refresh_commands();
}

void MainWindow::build_menus() {
  QMenu* file = menuBar()->addMenu(tr("&Файл"));
  add_command(file, command::kFileNew, tr("&Новый"), QKeySequence::New, false);
  add_command(file, command::kFileOpen, tr("&Открыть..."), QKeySequence::Open, false);
  add_command(file, command::kFileSave, tr("&Сохранить"), QKeySequence::Save, false);
  add_command(file, command::kFileSaveAs, tr("Сохранить &как..."), QKeySequence::SaveAs, false);
  file->addSeparator();
  add_command(file, command::kExportParameterList, tr("Экспорт списка параметров в HTML"), {},
              false);
  add_command(file, 288, tr("Экспорт протокола измерений..."), {}, false);
  file->addSeparator();
  recent_menu_ = file->addMenu(tr("Последние файлы"));
  rebuild_recent_menu();
  file->addSeparator();
  add_command(file, command::kAppExit, tr("В&ыход"), QKeySequence::Quit, false);

  // The second top-level menu: the modes, greyed as a whole without a port.
  modes_menu_ = menuBar()->addMenu(tr("&Режимы программы"));
  for (int id : {command::kShowIndexes, command::kAutoRead, command::kImmediateWrite,
                 command::kNoAttributes}) {
    static const std::map<int, const char*> texts = {
        {command::kShowIndexes, QT_TR_NOOP("Показывать линейные индексы")},
        {command::kAutoRead, QT_TR_NOOP("Режим автоматического считывания")},
        {command::kImmediateWrite, QT_TR_NOOP("Режим немедленной записи")},
        {command::kNoAttributes, QT_TR_NOOP("Не передавать атрибуты параметров")}};
    add_command(modes_menu_, id, tr(texts.at(id)))->setCheckable(true);
  }
  add_command(modes_menu_, command::kHideMinimised, tr("Скрывать свернутое окно"), {}, false)
      ->setCheckable(true);
  QMenu* converter = modes_menu_->addMenu(tr("Преобразователь"));
  add_command(converter, command::kConverterSemiAuto, tr("Полуавтоматический (KP-5)"))
      ->setCheckable(true);
  add_command(converter, command::kConverterAuto, tr("Автоматический"))->setCheckable(true);
  modes_menu_->addSeparator();
  add_command(modes_menu_, command::kProgramNetSettings, tr("Сетевые параметры программы"), {},
              false);

  QMenu* device = menuBar()->addMenu(tr("&Прибор"));
  add_command(device, command::kCheckConnection, tr("Проверка связи"), QKeySequence(Qt::Key_F5));
  device->addSeparator();
  add_command(device, command::kReadAll, tr("Считать все параметры"),
              QKeySequence(Qt::ALT | Qt::Key_R));
  add_command(device, command::kWriteAll, tr("Записать все параметры"),
              QKeySequence(Qt::ALT | Qt::Key_W));
  add_command(device, command::kWriteChanged, tr("Записать только измененные параметры"),
              QKeySequence(Qt::ALT | Qt::Key_C));
  add_command(device, command::kWriteErroneous, tr("Записать только параметры с ошибками"), {},
              false);
  add_command(device, command::kCompare, tr("Сравнить с реальными значениями"),
              QKeySequence(Qt::ALT | Qt::Key_S));
  device->addSeparator();
  add_command(device, command::kBranchRead, tr("Считать все параметры выделенной ветви"));
  add_command(device, command::kBranchWrite, tr("Записать все параметры выделенной ветви"));
  add_command(device, command::kBranchWriteChanged, tr("Записать только измененные параметры ветви"));
  add_command(device, command::kBranchCompare, tr("Сравнить параметры ветви с параметрами в приборе"));
  device->addSeparator();
  add_command(device, command::kWriteFactory, tr("Записать заводские параметры в прибор"), {},
              false);
  add_command(device, 141, tr("Опрос отдельного параметра..."), {}, false);
  add_command(device, 32885, tr("Запуск / Остановка регулирования..."), {}, false);
  add_command(device, command::kCalibrate, tr("Юстировка входов..."), {}, false);
  device->addSeparator();
  add_command(device, 266, tr("Послать команду APLY"), {}, false);
  add_command(device, command::kSendPrtl, tr("Послать команду PRTL"), {}, false);
  add_command(device, 32890, tr("Сохранить образ EEPROM..."), {}, false);
  add_command(device, 32893, tr("Загрузить образ EEPROM..."), {}, false);

  QMenu* tree = menuBar()->addMenu(tr("&Дерево"));
  add_command(tree, command::kPreviousProblem, tr("К предыдущему проблемному параметру дерева"),
              QKeySequence(Qt::ALT | Qt::Key_Up), false);
  add_command(tree, command::kNextProblem, tr("К следующему проблемному параметру дерева"),
              QKeySequence(Qt::ALT | Qt::Key_Down), false);
  add_command(tree, command::kFind, tr("Найти параметр..."), QKeySequence::Find, false);
  tree->addSeparator();
  add_command(tree, command::kParameterHelp, tr("Комментарий к параметру"),
              QKeySequence(Qt::Key_F1), false);
  commands_[command::kParameterHelp].action->setShortcutContext(Qt::WindowShortcut);

  QMenu* help = menuBar()->addMenu(tr("&Справка"));
  add_command(help, command::kHelp, tr("Справка"), {}, false);
  add_command(help, command::kWebSite, tr("Сайт производителя"), {}, false);
  help->addSeparator();
  add_command(help, command::kAppAbout, tr("О программе..."), {}, false);
  // The commands of a parameter row's context menu.
  add_command(nullptr, command::kReadParameter, tr("Прочитать параметр"), {}, false);
  add_command(nullptr, command::kWriteParameter, tr("Записать параметр"), {}, false);
  add_command(nullptr, command::kCompareParameter, tr("Сравнить параметр"), {}, false);

  for (QMenu* menu : {file, modes_menu_, device, tree, help}) {
    connect(menu, &QMenu::aboutToShow, this, &MainWindow::refresh_commands);
  }

  QToolBar* bar = addToolBar(tr("Стандартная"));
  bar->setObjectName(QStringLiteral("standardBar"));
  const std::pair<int, QStyle::StandardPixmap> buttons[] = {
      {command::kFileOpen, QStyle::SP_DialogOpenButton},
      {command::kFileSave, QStyle::SP_DialogSaveButton},
      {command::kReadAll, QStyle::SP_ArrowDown},
      {command::kWriteAll, QStyle::SP_ArrowUp},
      {command::kWriteChanged, QStyle::SP_DialogApplyButton},
      {command::kCompare, QStyle::SP_FileDialogContentsView},
      {command::kCheckConnection, QStyle::SP_DriveNetIcon},
  };
  for (const auto& [id, icon] : buttons) {
    QAction* a = commands_[id].action;
    a->setIcon(style()->standardIcon(icon));
    bar->addAction(a);
  }
}

void MainWindow::build_status_bar() {
  hint_ = new QLabel(tr(kF1Hint), this);
  hint_->setObjectName(QStringLiteral("hint"));
  statusBar()->addWidget(hint_, 1);
  progress_text_ = new QLabel(this);
  progress_text_->setObjectName(QStringLiteral("progressText"));
  progress_ = new QProgressBar(this);
  progress_->setMaximumWidth(200);
  stop_ = new QToolButton(this);
  stop_->setText(translate_message(kStopCaption));
  connect(stop_, &QToolButton::clicked, this, [this] { view_.stop_pressed(); });
  statusBar()->addPermanentWidget(progress_text_);
  statusBar()->addPermanentWidget(progress_);
  statusBar()->addPermanentWidget(stop_);
  progress_text_->hide();
  progress_->hide();
  stop_->hide();
  for (const Indicator& i : kIndicators) {
    auto* label = new QLabel(QString::fromLatin1(i.text), this);
    label->setObjectName(QString::fromLatin1(i.text));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    statusBar()->addPermanentWidget(label);
    indicators_[i.command] = label;
  }
}

void MainWindow::build_tray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable() &&
      QGuiApplication::platformName() != QLatin1String("offscreen")) {
    return;
  }
  tray_ = new QSystemTrayIcon(tree_icons::for_number(1), this);
  tray_->setToolTip(QStringLiteral("KBA604"));
  auto* menu = new QMenu(this);
  menu->addAction(tr("Проверка связи (vEr, dEv)"), this,
                  [this] { run_command(command::kCheckConnection); });
  menu->addAction(tr("Показать окно"), this, [this] {
    showNormal();
    activateWindow();
    tray_->hide();
  });
  menu->addSeparator();
  menu->addAction(tr("Выход"), this, [this] { close(); });
  tray_->setContextMenu(menu);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick || r == QSystemTrayIcon::Trigger) {
      showNormal();
      activateWindow();
      tray_->hide();
    }
  });
}

void MainWindow::refresh_commands() {
  CommandContext context;
  context.no_port = s_.app.options.no_port();
  context.access_level = s_.app.modes.access_level.load();
  context.modification = s_.app.modes.modification.load();
  const QModelIndex current = tree_->currentIndex();
  ObjectWithParameters* element = selected_element();
  if (selected_parameter() != nullptr) {
    context.selected = SelectedKind::Parameter;
  } else if (auto* branch = dynamic_cast<DescBranch*>(element)) {
    context.selected = SelectedKind::Branch;
    context.selected_name = branch->effective_name();
  } else if (auto* e = dynamic_cast<Elements::InvisibleElement*>(element)) {
    context.selected = SelectedKind::OtherElement;
    context.selected_name = e->effective_name();
  }
  (void)current;
  // An operation's window left open after its end still holds the instrument commands back.
  const bool busy = s_.doc.device().busy() || tasks_running_ > 0 || view_.is_open();
  // A selected element whose name holds "Точка" is never written from the menu.
  auto* named = dynamic_cast<Elements::InvisibleElement*>(element);
  const bool point = named != nullptr && named->effective_name().find("Точка") != std::string::npos;

  ModeSwitches checks(s_.app.modes, s_.settings, s_.app.prompter(), sink_);
  for (auto& [id, info] : commands_) {
    bool enabled = command_enabled(id, context);
    switch (id) {
      case command::kFileNew:
      case command::kFileOpen:
      case command::kFileSave:
      case command::kFileSaveAs:
        enabled = !busy;
        break;
      case command::kReadAll:
      case command::kWriteAll:
      case command::kWriteChanged:
      case command::kCompare:
      case command::kWriteErroneous:
      case command::kCheckConnection:
        enabled = enabled && !busy;
        break;
      case command::kBranchRead:
      case command::kBranchWrite:
      case command::kBranchWriteChanged:
      case command::kBranchCompare:
        enabled = enabled && !busy && !context.no_port && element != nullptr;
        if (id == command::kBranchWrite || id == command::kBranchWriteChanged) {
          enabled = enabled && !point;
        }
        break;
      case command::kShowIndexes:
      case command::kImmediateWrite:
      case command::kNoAttributes:
      case command::kAutoRead:
      case command::kConverterSemiAuto:
      case command::kConverterAuto:
      case command::kHideMinimised:
        info.action->setChecked(checks.checked(id));
        break;
      case command::kPreviousProblem:
      case command::kNextProblem:
      case command::kFind:
      case command::kParameterHelp:
      case command::kHelp:
      case command::kAppAbout:
      case command::kAppExit:
        break;
      case command::kReadParameter:
      case command::kWriteParameter:
      case command::kCompareParameter:
        enabled = enabled && !busy && !context.no_port;
        break;
      default:
        // A command of a later feature: enabled once it has its handler.
        if (!info.routed_by_document) enabled = enabled && static_cast<bool>(info.handler);
        break;
    }
    if (id == command::kWriteErroneous || id == command::kWriteFactory ||
        id == command::kSendPrtl) {
      enabled = enabled && static_cast<bool>(info.handler);
    }
    if (enabled && info.enabler) enabled = info.enabler();
    info.action->setEnabled(enabled);
  }
  modes_menu_->setEnabled(!s_.app.options.no_port());
  for (const auto& [id, label] : indicators_) label->setVisible(checks.checked(id));
}

void MainWindow::run_command(int id) {
  auto it = commands_.find(id);
  if (it == commands_.end()) return;
  if (it->second.handler) {
    it->second.handler();
    refresh_commands();
    return;
  }
  switch (id) {
    case command::kFileNew:
      new_document();
      break;
    case command::kFileOpen: {
      if (!settle_unsaved_changes()) break;
      const QString path =
          QFileDialog::getOpenFileName(this, tr("Открыть"), {}, tr(kDocumentFilter));
      if (!path.isEmpty()) open_document(path);
      break;
    }
    case command::kFileSave:
      save_document();
      break;
    case command::kFileSaveAs: {
      const QString path =
          QFileDialog::getSaveFileName(this, tr("Сохранить как"), {}, tr(kDocumentFilter));
      if (!path.isEmpty()) save_document_as(path.endsWith(".604") ? path : path + ".604");
      break;
    }
    case command::kAppExit:
      close();
      break;
    case command::kAppAbout:
      show_about();
      break;
    case command::kHelp:
      open_help();
      break;
    case command::kWebSite:
      QDesktopServices::openUrl(QUrl(QStringLiteral("https://www.talv.ru/")));
      break;
    case command::kPreviousProblem:
      go_to_problem(false);
      break;
    case command::kNextProblem:
      go_to_problem(true);
      break;
    case command::kFind: {
      bool ok = false;
      const QString text = QInputDialog::getText(this, tr("Найти параметр"),
                                                 tr("Имя или название параметра:"),
                                                 QLineEdit::Normal, {}, &ok);
      if (ok && !text.isEmpty() && !find_parameter(text)) {
        s_.app.prompter().show(str(tr("Параметр \"%1\" не найден.").arg(text)),
                               kMessageCaption, PromptIcon::Information);
      }
      break;
    }
    case command::kParameterHelp:
      show_parameter_help();
      break;
    case command::kHideMinimised: {
      ModeSwitches modes(s_.app.modes, s_.settings, s_.app.prompter(), sink_);
      modes.run(id);
      break;
    }
    case command::kCheckConnection:
      // The check waits on the line: it runs off the UI thread and shows its answer itself.
      run_task([this] { s_.doc.OnCommand(command::kCheckConnection); }, {});
      break;
    case command::kReadParameter:
    case command::kWriteParameter:
    case command::kCompareParameter: {
      const int routed = id == command::kReadParameter    ? command::kBranchRead
                         : id == command::kWriteParameter ? command::kBranchWrite
                                                          : command::kBranchCompare;
      document_command(routed);
      break;
    }
    default:
      document_command(id);
      break;
  }
  refresh_commands();
}

void MainWindow::document_command(int id) {
  selection_changed();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (id == command::kReadAll) read_running_ = true;
  s_.doc.OnCommand(id);
  if (!s_.doc.operation_started()) read_running_ = false;
  QApplication::restoreOverrideCursor();
  if (id == command::kShowIndexes) model_->refresh_all();
}

// ---- the tree ----------------------------------------------------------------------------------

void MainWindow::rebuild_tree() {
  const QString path = tree_->currentIndex().data(ParameterTreeModel::kPathRole).toString();
  statusBar()->showMessage(tr(kBuildingTree));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  s_.doc.set_selection(nullptr, nullptr);
  model_->set_tooltips(Tooltips::load(s_.doc.tooltip_file()));
  model_->rebuild(&s_.doc);
  // The roots and the instrument's first level open.
  for (int r = 0; r < model_->rowCount(); ++r) {
    const QModelIndex root = model_->index(r, 0);
    tree_->expand(root);
    for (int c = 0; c < model_->rowCount(root); ++c) tree_->expand(model_->index(c, 0, root));
  }
  QModelIndex again = model_->find_path(path);
  if (!again.isValid()) again = model_->index(0, 0);
  tree_->setCurrentIndex(again);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &MainWindow::selection_changed, Qt::UniqueConnection);
  QApplication::restoreOverrideCursor();
  statusBar()->clearMessage();
  selection_changed();
  update_column_widths();
}

Parameter* MainWindow::selected_parameter() const {
  const QModelIndex i = tree_->currentIndex();
  if (model_->operational(i)) return nullptr;
  return model_->parameter(i);
}

ObjectWithParameters* MainWindow::selected_element() const {
  QModelIndex i = tree_->currentIndex();
  if (model_->parameter(i) != nullptr) i = i.parent();
  return model_->element(i);
}

void MainWindow::selection_changed() {
  Parameter* p = selected_parameter();
  ObjectWithParameters* branch = selected_element();
  s_.doc.set_selection(branch, p);
  if (p != nullptr) {
    const QString help = model_->tooltip(*p);
    hint_->setText(help.isEmpty() ? utf8_text(p->shown_title()) : help.section('\n', 0, 0));
  } else {
    hint_->setText(tr(kF1Hint));
  }
  refresh_commands();
}

bool MainWindow::go_to_problem(bool forward) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Display order over the whole tree, branches included whether open or not.
  std::vector<QModelIndex> order;
  std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
    for (int r = 0; r < model_->rowCount(parent); ++r) {
      const QModelIndex i = model_->index(r, 0, parent);
      order.push_back(i);
      walk(i);
    }
  };
  walk({});
  const QModelIndex current = tree_->currentIndex().siblingAtColumn(0);
  int at = -1;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (order[k] == current) at = static_cast<int>(k);
  }
  const int n = static_cast<int>(order.size());
  QModelIndex found;
  for (int k = forward ? at + 1 : (at < 0 ? n - 1 : at - 1); k >= 0 && k < n;
       k += forward ? 1 : -1) {
    if (model_->data(order[static_cast<std::size_t>(k)], ParameterTreeModel::kProblemRole)
            .toInt() == 1) {
      found = order[static_cast<std::size_t>(k)];
      break;
    }
  }
  QApplication::restoreOverrideCursor();
  if (!found.isValid()) {
    s_.app.prompter().show(kNoMoreProblemsText, kMessageCaption, PromptIcon::Information);
    return false;
  }
  for (QModelIndex p = found.parent(); p.isValid(); p = p.parent()) tree_->expand(p);
  tree_->setCurrentIndex(found);
  tree_->scrollTo(found);
  return true;
}

bool MainWindow::find_parameter(const QString& text) {
  const std::string needle = platform::fold_case(str(text));
  std::vector<QModelIndex> order;
  std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
    for (int r = 0; r < model_->rowCount(parent); ++r) {
      const QModelIndex i = model_->index(r, 0, parent);
      order.push_back(i);
      walk(i);
    }
  };
  walk({});
  const QModelIndex current = tree_->currentIndex().siblingAtColumn(0);
  std::size_t start = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (order[k] == current) start = k + 1;
  }
  for (std::size_t step = 0; step < order.size(); ++step) {
    const QModelIndex i = order[(start + step) % order.size()];
    const Parameter* p = model_->parameter(i);
    if (p == nullptr) continue;
    if (platform::fold_case(p->short_name).find(needle) == std::string::npos &&
        platform::fold_case(p->shown_title()).find(needle) == std::string::npos) {
      continue;
    }
    for (QModelIndex up = i.parent(); up.isValid(); up = up.parent()) tree_->expand(up);
    tree_->setCurrentIndex(i);
    tree_->scrollTo(i);
    return true;
  }
  return false;
}

bool MainWindow::edit_cell(Parameter& parameter, int column, const QString& text,
                           bool operational) {
  std::string old_text;
  if (operational && column == EditEnd::kName) {
    old_text = std::to_string(parameter.polling_period());
  } else {
    const ParameterRow row = parameter.locked_row(s_.app.modes.show_indexes.load());
    old_text = column == EditEnd::kName      ? row.name
               : column == EditEnd::kValue   ? row.value
               : column == EditEnd::kAttribute ? row.attribute
                                               : row.owner;
  }
  const EditEnd::Outcome outcome =
      edit_end_.end_edit(parameter, column, str(text), old_text, operational);
  if (!outcome.taken()) return false;
  s_.doc.set_modified(true);
  if (outcome.port_settings_changed && s_.reopen_port) s_.reopen_port();
  if (outcome.write_now) {
    auto result = std::make_shared<int>(0);
    Parameter* p = &parameter;
    run_task([this, p, result] { *result = edit_end_.write_now(*p); },
             [this, p, result] {
               model_->refresh_parameter(p);
               if (*result != 0 || !p->note.empty()) edit_end_.report_write_failure(*p);
             });
  }
  update_title();
  return true;
}

void MainWindow::show_context_menu(const QPoint& point) {
  const QModelIndex index = tree_->indexAt(point);
  if (!index.isValid()) return;
  tree_->setCurrentIndex(index);
  QMenu menu(this);
  if (Parameter* p = model_->parameter(index)) {
    if (model_->operational(index)) return;
    refresh_commands();
    menu.addAction(commands_[command::kReadParameter].action);
    // Only a parameter the access mask lets through is written from here.
    if (p->writable()) menu.addAction(commands_[command::kWriteParameter].action);
    menu.addAction(commands_[command::kCompareParameter].action);
  } else if (auto* e = dynamic_cast<Elements::InvisibleElement*>(model_->element(index))) {
    if (e == s_.doc.operational_tree()) return;
    const bool point = e->effective_name().find("Точка") != std::string::npos;
    const bool no_port = s_.app.options.no_port();
    auto add = [&](int id, const char* text) {
      QAction* a = menu.addAction(tr(text), this, [this, id] { run_command(id); });
      a->setEnabled(!no_port && !s_.doc.device().busy());
    };
    add(command::kBranchRead, QT_TR_NOOP("Прочитать все параметры выделенной ветви"));
    if (!point) {
      add(command::kBranchWrite, QT_TR_NOOP("Записать все параметры выделенной ветви"));
      add(command::kBranchWriteChanged,
          QT_TR_NOOP("Записать только измененные параметры выделенной ветви"));
    }
    add(command::kBranchCompare,
        QT_TR_NOOP("Сравнить значения с реальными в пределах выделеной ветви"));
  } else {
    return;
  }
  menu.exec(tree_->viewport()->mapToGlobal(point));
}

void MainWindow::show_parameter_help() {
  Parameter* p = model_->parameter(tree_->currentIndex());
  if (p == nullptr) {
    hint_->setText(tr(kF1Hint));
    return;
  }
  QString help = model_->tooltip(*p);
  if (help.isEmpty()) help = tr("Комментарий к параметру отсутствует.");
  s_.app.prompter().show(str(help), p->shown_title(), PromptIcon::Information);
}

void MainWindow::open_help() {
  // The user's part of the README, installed beside the description files.
  const std::filesystem::path readme = platform::default_data_directory() / "README.md";
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(readme.string())));
}

void MainWindow::show_about() {
  const QString text = tr("Конфигуратор прибора KBA604\nВерсия %1\n%2")
                           .arg(QStringLiteral(KBA604_VERSION), QStringLiteral(KBA604_COPYRIGHT));
  s_.app.prompter().show(str(text), str(tr("О программе KBA604")), PromptIcon::Information);
}

void MainWindow::update_column_widths() {
  const int client = std::max(0, tree_->viewport()->width() - 15);
  for (int c = 0; c < ParameterTreeModel::kColumnCount; ++c) {
    tree_->setColumnWidth(c, static_cast<int>(client * kColumnShares[c] / 10.0));
  }
}

void MainWindow::update_title() {
  setWindowTitle(utf8_text(s_.doc.title()) + (s_.doc.modified() ? "*" : "") + " - KBA604");
  model_->set_title(s_.doc.title());
}

// ---- the operation in the status bar ------------------------------------------------------------

void MainWindow::operation_opened(const QString& title, int total) {
  progress_text_->setText(title);
  progress_->setRange(0, std::max(total, 1));
  progress_->setValue(0);
  progress_text_->show();
  progress_->show();
  stop_->show();
  refresh_commands();
}

void MainWindow::operation_progress(int done, int total, int errors) {
  progress_->setRange(0, std::max(total, 1));
  progress_->setValue(std::min(done, std::max(total, 1)));
  progress_text_->setText(tr("%1 %2 из %3, %4 %5")
                              .arg(translate_message(kProcessedLabel))
                              .arg(done)
                              .arg(total)
                              .arg(translate_message(kErrorsLabel))
                              .arg(errors));
}

void MainWindow::operation_closed() {
  progress_->hide();
  stop_->hide();
  read_running_ = false;
  model_->refresh_all();
  refresh_commands();
}

bool MainWindow::operation_running() const {
  return view_.is_open() || s_.doc.device().busy();
}

bool MainWindow::wait_idle(int timeout_ms) {
  const bool idle = run_events_until(
      [this] { return !s_.doc.device().busy() && tasks_running_ == 0 && !view_.is_open(); },
      timeout_ms);
  if (idle) QCoreApplication::processEvents();
  return idle;
}

void MainWindow::run_task(std::function<void()> work, std::function<void()> done) {
  ++tasks_running_;
  refresh_commands();
  QPointer<MainWindow> self(this);
  pool_.start([self, work = std::move(work), done = std::move(done)] {
    work();
    // Back on the UI thread; a window that has gone meanwhile has nothing to update.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, done] {
          if (self == nullptr) return;
          --self->tasks_running_;
          if (done) done();
          self->refresh_commands();
        },
        Qt::QueuedConnection);
  });
}

// ---- automatic reading and the one-second timer -----------------------------------------------

void MainWindow::one_second() {
  refresh_commands();
  if (!read_running_) auto_read_visible();
}

void MainWindow::auto_read_visible() {
  if (!s_.app.modes.auto_read.load() || s_.app.options.no_port() || s_.doc.device().busy() ||
      tasks_running_ > 0 || !isVisible()) {
    return;
  }
  std::vector<Parameter*> wanted;
  QModelIndex i = tree_->indexAt(QPoint(0, 0));
  const int bottom = tree_->viewport()->height();
  while (i.isValid() && tree_->visualRect(i).top() < bottom) {
    Parameter* p = model_->parameter(i);
    const bool unread = p != nullptr && [p] {
      ValueReadLock lock(*p);
      return p->value == kNoData && p->note.empty();
    }();
    if (unread && !model_->operational(i) && !model_->protocol_file_row(i) &&
        auto_read_pending_.insert(p).second) {
      wanted.push_back(p);
    }
    i = tree_->indexBelow(i);
  }
  if (wanted.empty()) return;
  DeviceOperations* device = &s_.doc.device();
  const ProgramModes* modes = &s_.app.modes;
  run_task(
      [device, modes, wanted] {
        for (Parameter* p : wanted) {
          // Five time-outs in a row switch the mode off; the rest then waits for the person.
          if (!modes->auto_read.load() || device->stop_requested()) break;
          device->ReadParameter(*p, false);
        }
      },
      [this, wanted] {
        for (Parameter* p : wanted) {
          auto_read_pending_.erase(p);
          model_->refresh_parameter(p);
        }
      });
}

// ---- files ------------------------------------------------------------------------------------

bool MainWindow::settle_unsaved_changes() {
  if (!s_.doc.modified() || quiet()) return true;
  const PromptAnswer answer =
      s_.app.prompter().ask(str(tr(kUnsavedText).arg(utf8_text(s_.doc.title()))), "KBA604",
                            PromptIcon::Warning, PromptButtons::YesNoCancel, PromptAnswer::Cancel);
  if (answer == PromptAnswer::Cancel) return false;
  if (answer == PromptAnswer::Yes) return save_document();
  return true;
}

bool MainWindow::new_document() {
  if (!settle_unsaved_changes()) return false;
  const bool made = s_.doc.OnNewDocument();
  model_->refresh_all();
  update_title();
  return made;
}

bool MainWindow::open_document(const QString& given) {
  const QString path = QFileInfo(given).absoluteFilePath();
  // The file that is open already asks its own question (and loses the changes on Yes).
  const bool same = !s_.doc.path().empty() &&
                    QFileInfo(utf8_text(s_.doc.path())).canonicalFilePath() ==
                        QFileInfo(path).canonicalFilePath() &&
                    QFileInfo::exists(path);
  if (!same && !settle_unsaved_changes()) return false;
  return load_document(path, [this, &path] { return s_.doc.OpenDocumentFile(str(path)); });
}

bool MainWindow::replace_document(const QString& given) {
  const QString path = QFileInfo(given).absoluteFilePath();
  return load_document(path, [this, &path] { return s_.doc.OnOpenDocument(str(path)); });
}

bool MainWindow::load_document(const QString& path, const std::function<bool()>& open) {
  if (s_.doc.device().busy()) return false;
  statusBar()->showMessage(tr("Загрузка файла..."));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The description is loaded again with the file: no row may point into the old trees.
  model_->clear();
  s_.doc.set_selection(nullptr, nullptr);
  const bool opened = open();
  QApplication::restoreOverrideCursor();
  edit_end_.set_network_elements(s_.program_settings, s_.doc.network_branch());
  rebuild_tree();
  update_title();
  statusBar()->clearMessage();
  if (opened) add_recent_file(path);
  return opened;
}

bool MainWindow::save_document() {
  if (s_.doc.path().empty()) {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Сохранить как"), {}, tr(kDocumentFilter));
    if (path.isEmpty()) return false;
    return save_document_as(path.endsWith(".604") ? path : path + ".604");
  }
  return save_document_as(utf8_text(s_.doc.path()));
}

bool MainWindow::save_document_as(const QString& given) {
  const QString path = QFileInfo(given).absoluteFilePath();
  statusBar()->showMessage(tr("Сохранение файла..."));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool saved = s_.doc.OnSaveDocument(str(path));
  QApplication::restoreOverrideCursor();
  statusBar()->clearMessage();
  if (saved) add_recent_file(path);
  update_title();
  return saved;
}

QStringList MainWindow::recent_files() const {
  QStringList files;
  for (int i = 1; i <= kRecentFiles; ++i) {
    const std::string key = std::string(kProfileRecentSection) + "/File" + std::to_string(i);
    if (std::optional<std::string> v = s_.profile.value(key); v && !v->empty())
      files << utf8_text(*v);
  }
  return files;
}

void MainWindow::add_recent_file(const QString& path) {
  QStringList files = recent_files();
  files.removeAll(path);
  files.prepend(path);
  while (files.size() > kRecentFiles) files.removeLast();
  for (int i = 1; i <= kRecentFiles; ++i) {
    const std::string key = std::string(kProfileRecentSection) + "/File" + std::to_string(i);
    if (i <= files.size()) {
      s_.profile.set_value(key, str(files[i - 1]));
    } else {
      s_.profile.remove(key);
    }
  }
  rebuild_recent_menu();
}

void MainWindow::rebuild_recent_menu() {
  recent_menu_->clear();
  const QStringList files = recent_files();
  int n = 0;
  for (const QString& f : files) {
    ++n;
    recent_menu_->addAction(QStringLiteral("&%1 %2").arg(n).arg(f), this,
                            [this, f] { open_document(f); });
  }
  recent_menu_->setEnabled(!files.isEmpty());
}

// ---- start-up placement, tray, closing ---------------------------------------------------------

void MainWindow::place(const WindowPlacement& placement) {
  switch (placement.kind) {
    case WindowPlacement::Kind::Maximised:
      showMaximized();
      break;
    case WindowPlacement::Kind::Hidden:
      setGeometry(placement.x, placement.y, 0, 0);
      if (tray_ != nullptr) tray_->show();
      break;
    case WindowPlacement::Kind::Fixed: {
      const QRect rect(placement.x, placement.y, placement.w, placement.h);
      frozen_ = rect;
      setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowCloseButtonHint) &
                     ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
      setFixedSize(rect.size());
      move(rect.topLeft());
      show();
      break;
    }
  }
}

void MainWindow::release_geometry() {
  if (!frozen_) return;
  frozen_.reset();
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const bool shown = isVisible();
  setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  if (shown) show();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (frozen_ && pos() != frozen_->topLeft()) {
    const QPoint back = frozen_->topLeft();
    QTimer::singleShot(0, this, [this, back] {
      if (frozen_) move(back);
    });
  }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  update_column_widths();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The columns keep their shares of the tree's own width.
  if (watched == tree_->viewport() && event->type() == QEvent::Resize) update_column_widths();
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  if (frozen_ && (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
    QTimer::singleShot(0, this, [this] {
      if (frozen_) setWindowState(Qt::WindowNoState);
    });
    return;
  }
  if ((windowState() & Qt::WindowMinimized) && s_.app.modes.hide_minimised.load()) {
    QTimer::singleShot(0, this, &MainWindow::hide_to_tray);
  }
}

void MainWindow::hide_to_tray() {
  hide();
  if (tray_ != nullptr) tray_->show();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.front().toLocalFile();
  // Opened after the drop has ended, so that the source is not left waiting on a question.
  QTimer::singleShot(0, this, [this, path] { open_document(path); });
}

void MainWindow::close_now() {
  force_close_ = true;
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!force_close_ && !settle_unsaved_changes()) {
    event->ignore();
    return;
  }
  closing_ = true;
  refresh_timer_.stop();
  s_.profile.set_value("kba604/BarState", saveState().toBase64().toStdString());
  // A running operation or exchange is stopped first; the worker ends it within its limits.
  s_.doc.device().stop_event().set();
  pool_.waitForDone(platform::Thread::kDefaultJoinMs);
  if (tray_ != nullptr) tray_->hide();
  event->accept();
  emit closed();
}

}  // namespace kba604
