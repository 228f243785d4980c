#include "ui/progress_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include "ui/qt_services.h"
#include "ui/translation.h"

namespace kba604 {
namespace {

// The error count's ground: light red once there are errors, the window's own otherwise.
void show_errors(QLabel& label, int errors) {
  label.setText(QString::number(errors));
  if (errors > 0) {
    const LogColour c = log_colour::kErrorBackground;
    label.setStyleSheet(QStringLiteral("QLabel { background-color: rgb(%1, %2, %3); }")
                            .arg(c.red)
                            .arg(c.green)
                            .arg(c.blue));
  } else {
    label.setStyleSheet({});
  }
}

}  // namespace

// ---- the window ---------------------------------------------------------------------------------

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("progressWindow"));
  setWindowTitle(translate_message(kOperationWindowTitle));
  setWindowFlags(
      (windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) &
      ~Qt::WindowContextHelpButtonHint);

  log_ = new QPlainTextEdit(this);
  log_->setObjectName(QStringLiteral("log"));
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_->setUndoRedoEnabled(false);

  elapsed_ = new QLabel(this);
  elapsed_->setObjectName(QStringLiteral("elapsed"));
  processed_ = new QLabel(this);
  processed_->setObjectName(QStringLiteral("processed"));
  errors_ = new QLabel(this);
  errors_->setObjectName(QStringLiteral("errors"));
  errors_->setMinimumWidth(40);
  errors_->setAlignment(Qt::AlignCenter);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(false);
  auto_close_ = new QCheckBox(translate_message(kAutoCloseText), this);
  auto_close_->setObjectName(QStringLiteral("autoClose"));
  button_ = new QPushButton(translate_message(kStopCaption), this);
  button_->setObjectName(QStringLiteral("button"));
  button_->setDefault(true);

  auto* counters = new QGridLayout;
  counters->addWidget(new QLabel(translate_message(kElapsedLabel), this), 0, 0);
  counters->addWidget(elapsed_, 0, 1);
  counters->addWidget(new QLabel(translate_message(kProcessedLabel), this), 0, 2);
  counters->addWidget(processed_, 0, 3);
  counters->addWidget(new QLabel(translate_message(kErrorsLabel), this), 0, 4);
  counters->addWidget(errors_, 0, 5);
  counters->setColumnStretch(6, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(auto_close_);
  bottom->addStretch(1);
  bottom->addWidget(button_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(log_, 1);
  layout->addLayout(counters);
  layout->addWidget(progress_);
  layout->addLayout(bottom);
  resize(560, 420);

  connect(button_, &QPushButton::clicked, this, &ProgressWindow::button_pressed);
  connect(auto_close_, &QCheckBox::toggled, this, [this](bool ticked) {
    if (!setting_box_) emit auto_close_toggled(ticked);
  });
  begin(translate_message(kOperationWindowTitle), 0);
}

void ProgressWindow::begin(const QString& title, int total) {
  setWindowTitle(title);
  log_->clear();
  set_range(total);
  set_counters(0, total, 0);
  set_button(OperationButton::Stop);
  set_auto_close(true);
  set_elapsed(0);
}

void ProgressWindow::set_range(int total) {
  progress_->setRange(0, std::max(total, 0));
  progress_->setValue(0);
}

void ProgressWindow::set_counters(int done, int total, int errors) {
  if (progress_->maximum() != std::max(total, 0)) progress_->setRange(0, std::max(total, 0));
  progress_->setValue(std::clamp(done, 0, std::max(total, 0)));
  processed_->setText(tr("%1 из %2").arg(done).arg(total));
  show_errors(*errors_, errors);
}

void ProgressWindow::append(const std::vector<ProgressLogLine>& lines) {
  if (lines.empty()) return;
  QScrollBar* bar = log_->verticalScrollBar();
  const bool at_end = bar->value() == bar->maximum();
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  for (const ProgressLogLine& line : lines) {
    QTextCharFormat format;
    format.setForeground(QColor(line.colour.red, line.colour.green, line.colour.blue));
    format.setFontWeight(line.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(line.italic);
    // A new document has one empty block already: the first line goes into it.
    if (!log_->document()->isEmpty()) cursor.insertBlock();
    cursor.insertText(QString::fromStdString(line.text), format);
  }
  cursor.endEditBlock();
  // The log follows the operation unless the person scrolled back to read.
  if (at_end) bar->setValue(bar->maximum());
}

void ProgressWindow::set_button(OperationButton button) {
  button_state_ = button;
  button_->setText(
      translate_message(button == OperationButton::Stop ? kStopCaption : kCloseCaption));
}

void ProgressWindow::set_auto_close(bool ticked) {
  setting_box_ = true;
  auto_close_->setChecked(ticked);
  setting_box_ = false;
}

void ProgressWindow::set_elapsed(std::int64_t ms) {
  elapsed_->setText(elapsed_text(ms));
}

QString ProgressWindow::elapsed_text(std::int64_t ms) {
  const std::int64_t s = std::max<std::int64_t>(ms, 0) / 1000;
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600, 2, 10, QLatin1Char('0'))
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  // Only the engine closes the window; the frame's close button means the one button.
  if (event->spontaneous()) {
    event->ignore();
    emit button_pressed();
    return;
  }
  QDialog::closeEvent(event);
}

void ProgressWindow::reject() {
  emit button_pressed();
}

// ---- the engine's view --------------------------------------------------------------------------

ProgressOperationView::ProgressOperationView(platform::Clock& clock, StatusOperationView* status)
    : clock_(clock), status_(status) {
  ticker_.setInterval(500);
  connect(&ticker_, &QTimer::timeout, this, &ProgressOperationView::tick);
}

ProgressOperationView::~ProgressOperationView() = default;

void ProgressOperationView::set_parent_window(QWidget* parent) {
  parent_ = parent;
  if (window_ == nullptr) {
    window_ = new ProgressWindow(parent);
    connect(window_.data(), &ProgressWindow::button_pressed, this, &ProgressOperationView::pressed);
    connect(window_.data(), &ProgressWindow::auto_close_toggled, this,
            &ProgressOperationView::toggled);
    // Tasks waiting for a window that goes with the main window are dropped: what they would
    // report on goes too.
    connect(window_.data(), &QObject::destroyed, this, [this] {
      after_close_.clear();
      ticker_.stop();
    });
  }
  if (open_.load()) schedule();
}

void ProgressOperationView::schedule() {
  if (flush_posted_.exchange(true)) return;
  QMetaObject::invokeMethod(this, &ProgressOperationView::flush, Qt::QueuedConnection);
}

void ProgressOperationView::open(int operation_code, int total, OperationControl* control) {
  {
    std::lock_guard lock(mutex_);
    state_ = State{};
    state_.begin = true;
    state_.title = translate_message(operation_title(operation_code));
    state_.total = total;
    state_.control = control;
    state_.start_ms = clock_.now_ms();
  }
  auto_close_.store(true);
  open_.store(true);
  if (status_ != nullptr) status_->open(operation_code, total, control);
  if (echo_ != nullptr) echo_->open(operation_code, total, nullptr);
  schedule();
}

void ProgressOperationView::set_range(int total) {
  {
    std::lock_guard lock(mutex_);
    state_.total = total;
    state_.done = 0;
    state_.range_changed = true;
    state_.counters_changed = true;
  }
  if (status_ != nullptr) status_->set_range(total);
  if (echo_ != nullptr) echo_->set_range(total);
  schedule();
}

void ProgressOperationView::set_counters(int done, int total, int errors) {
  {
    std::lock_guard lock(mutex_);
    state_.done = done;
    state_.total = total;
    state_.errors = errors;
    state_.counters_changed = true;
  }
  if (status_ != nullptr) status_->set_counters(done, total, errors);
  if (echo_ != nullptr) echo_->set_counters(done, total, errors);
  schedule();
}

void ProgressOperationView::add_log_line(std::string_view text, LogColour colour, bool bold,
                                         bool italic) {
  {
    std::lock_guard lock(mutex_);
    state_.lines.push_back({std::string(text), colour, bold, italic});
  }
  if (echo_ != nullptr) echo_->add_log_line(text, colour, bold, italic);
  schedule();
}

void ProgressOperationView::set_button(OperationButton button) {
  {
    std::lock_guard lock(mutex_);
    state_.button = button;
    state_.button_changed = true;
  }
  schedule();
}

void ProgressOperationView::set_auto_close(bool ticked) {
  auto_close_.store(ticked);
  {
    std::lock_guard lock(mutex_);
    state_.box_changed = true;
  }
  schedule();
}

void ProgressOperationView::close() {
  {
    std::lock_guard lock(mutex_);
    state_.closing = true;
    state_.control = nullptr;
  }
  open_.store(false);
  if (status_ != nullptr) status_->close();
  if (echo_ != nullptr) echo_->close();
  schedule();
}

void ProgressOperationView::after_close(std::function<void()> task) {
  if (open_.load() || shown()) {
    after_close_.push_back(std::move(task));
    return;
  }
  task();
}

bool ProgressOperationView::shown() const {
  return window_ != nullptr && window_->isVisible();
}

void ProgressOperationView::flush() {
  flush_posted_.store(false);
  State taken;
  {
    std::lock_guard lock(mutex_);
    taken.begin = state_.begin;
    taken.closing = state_.closing;
    taken.title = state_.title;
    taken.total = state_.total;
    taken.done = state_.done;
    taken.errors = state_.errors;
    taken.range_changed = state_.range_changed;
    taken.counters_changed = state_.counters_changed;
    taken.lines.swap(state_.lines);
    taken.button = state_.button;
    taken.button_changed = state_.button_changed;
    taken.box_changed = state_.box_changed;
    taken.start_ms = state_.start_ms;
    state_.begin = state_.closing = state_.range_changed = state_.counters_changed = false;
    state_.button_changed = state_.box_changed = false;
  }
  ProgressWindow* w = window_.data();
  if (w == nullptr) {
    if (taken.closing && !open_.load()) {
      std::vector<std::function<void()>> tasks;
      tasks.swap(after_close_);
      for (auto& t : tasks) t();
    }
    return;
  }
  if (taken.begin) {
    w->begin(taken.title, taken.total);
    shown_start_ms_ = taken.start_ms;
    elapsed_frozen_ = false;
    if (open_.load()) {
      const bool quiet = quiet_.load();
      const bool parent_shown = parent_ != nullptr && parent_->isVisible();
      if (!quiet || parent_shown) {
        w->setWindowModality(quiet ? Qt::NonModal : Qt::WindowModal);
        w->show();
        w->raise();
      }
      ticker_.start();
    }
  }
  if (taken.range_changed) w->set_range(taken.total);
  w->append(taken.lines);
  if (taken.counters_changed || taken.begin) w->set_counters(taken.done, taken.total, taken.errors);
  if (taken.box_changed) w->set_auto_close(auto_close_.load());
  if (taken.button_changed) {
    w->set_button(taken.button);
    // The duration is that of the operation: it stops once the button says "Закрыть".
    if (taken.button == OperationButton::Close && !elapsed_frozen_) {
      tick();
      elapsed_frozen_ = true;
    } else if (taken.button == OperationButton::Stop) {
      elapsed_frozen_ = false;
    }
  }
  if (taken.closing && !open_.load()) {
    ticker_.stop();
    w->hide();
    std::vector<std::function<void()>> tasks;
    tasks.swap(after_close_);
    for (auto& t : tasks) t();
  }
}

void ProgressOperationView::tick() {
  ProgressWindow* w = window_.data();
  if (w == nullptr || elapsed_frozen_) return;
  w->set_elapsed(clock_.now_ms() - shown_start_ms_);
}

void ProgressOperationView::pressed() {
  // What is still on its way is shown first: the button acts on the window as it is.
  flush();
  OperationControl* control;
  {
    std::lock_guard lock(mutex_);
    control = state_.control;
  }
  if (control != nullptr) {
    control->button_pressed();
  } else if (window_ != nullptr && !open_.load()) {
    // A window left open after its operation (nobody to tell any more) just goes.
    window_->hide();
  }
  flush();
}

void ProgressOperationView::toggled(bool ticked) {
  auto_close_.store(ticked);
  OperationControl* control;
  {
    std::lock_guard lock(mutex_);
    control = state_.control;
  }
  if (control != nullptr) control->auto_close_toggled(ticked);
  flush();
}

}  // namespace kba604
