#include "ui/polling_binding.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <deque>

#include "files/kba604_doc.h"
#include "measurement/recording.h"
#include "runner/document_handler.h"
#include "ui/main_window.h"
#include "ui/trend_view.h"

namespace kba604 {

namespace {

// The polls shown before the trend view is first opened are kept for it, up to this many.
constexpr std::size_t kKeptForTrend = 20000;

QMenu* tree_menu(MainWindow& window) {
  for (QAction* a : window.menuBar()->actions()) {
    if (a->menu() != nullptr && a->text() == QObject::tr("&Дерево")) return a->menu();
  }
  return nullptr;
}

}  // namespace

// Polls kept for a trend view that is not open yet (UI thread only).
struct TrendBacklog {
  std::deque<PollSnapshot> polls;
};

PollingBinding::PollingBinding(MainWindow& window, CKBA604Doc& doc, Scanner* scanner,
                               Recording& recording, Prompter& prompter)
    : QObject(&window),
      window_(window),
      doc_(doc),
      scanner_(scanner),
      recording_(recording),
      prompter_(prompter),
      backlog_(std::make_unique<TrendBacklog>()) {
  ParameterTreeModel::Sources& sources = window.model().sources();
  sources.polling_switched = [this](Parameter& p, bool on) {
    if (scanner_ == nullptr) return;
    if (!on) {
      scanner_->disarm(p);
      return;
    }
    // The scanner started with the tree; one that could not start says so again here.
    if (!scanner_->running() && scanner_->StartScanners(doc_.operational_tree(), &prompter_) != 0) {
      return;
    }
    scanner_->arm(p);
  };
  sources.protocol_file = &recording.file_parameter();
  sources.recording_on = [this] { return recording_.recording(); };
  sources.recording_switched = [this](bool on) { recording_.set_recording(on); };
  sources.protocol_file_edit = [this](const QString& text) {
    return recording_.set_file_name(text.toStdString(), &prompter_);
  };
  window.edit_rules().set_scanner(scanner);
  window.edit_rules().set_polling_guard(scanner);
  recording.set_views_changed([this] { window_.model().refresh_all(); });
  if (scanner_ != nullptr) scanner_->set_sink(this);

  connect(&window.model(), &QAbstractItemModel::modelReset, this, &PollingBinding::tree_rebuilt);
  second_.setInterval(1000);
  connect(&second_, &QTimer::timeout, this, [this] { tick(); });
  second_.start();

  if (QMenu* menu = tree_menu(window)) {
    trend_menu_ = menu;
    menu->addSeparator();
    QAction* action = menu->addAction(tr(kTrendCommandText));
    connect(action, &QAction::triggered, this, [this] {
      TrendView& view = trend_view();
      view.show();
      view.raise();
      view.activateWindow();
    });
  }
  // The tree shows the protocol-file row from now on; building it starts the scanner.
  window.rebuild_tree();
}

PollingBinding::~PollingBinding() {
  // The window's parts are gone already (this is one of its children); only the scanner and
  // the recording, which outlive it, are told. Once set_sink returns, no poll is being handed
  // over, and a poll already posted to this object is dropped with it.
  if (scanner_ != nullptr) scanner_->set_sink(nullptr);
  recording_.set_views_changed({});
}

void PollingBinding::tree_rebuilt() {
  if (scanner_ == nullptr || window_.model().total_rows() == 0) return;
  if (DescBranch* operational = doc_.operational_tree()) {
    scanner_->StartScanners(operational, &prompter_);
  }
}

void PollingBinding::polled(PollSnapshot snapshot) {
  // Records are written here, on the one scanner thread, in the order of the polls and each
  // before its parameter is polled again (the snapshot's ticket travels with it).
  recording_.record(snapshot);
  QMetaObject::invokeMethod(
      this, [this, s = std::move(snapshot)] { show_poll(s); }, Qt::QueuedConnection);
}

void PollingBinding::show_poll(const PollSnapshot& snapshot) {
  ++shown_;
  window_.model().refresh_parameter(snapshot.parameter);
  if (trend_ != nullptr) {
    trend_->add_snapshot(snapshot);
  } else {
    PollSnapshot kept = snapshot;
    kept.ticket.reset();
    backlog_->polls.push_back(std::move(kept));
    if (backlog_->polls.size() > kKeptForTrend) backlog_->polls.pop_front();
  }
  emit poll_shown(snapshot);
}

bool PollingBinding::tick() {
  return recording_.daily_tick();
}

TrendView& PollingBinding::trend_view() {
  if (trend_ == nullptr) {
    trend_ = new TrendView(&window_);
    trend_->setWindowFlag(Qt::Window);
    trend_->setWindowTitle(tr("График опрашиваемых параметров"));
    trend_->resize(900, 500);
    for (const PollSnapshot& s : backlog_->polls) trend_->add_snapshot(s);
    backlog_->polls.clear();
    emit trend_view_made(trend_);
  }
  return *trend_;
}

PollingBinding* bind_polling(MainWindow& window, ConfiguratorDocument& document,
                             Prompter& prompter) {
  if (document.document() == nullptr || document.recording() == nullptr) return nullptr;
  return new PollingBinding(window, *document.document(), document.scanner(), *document.recording(),
                            prompter);
}

}  // namespace kba604
