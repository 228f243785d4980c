#include "ui/qt_services.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "ui/translation.h"

namespace kba604 {

namespace {

// The captions the core gives its boxes, for the catalogue (the box translates whatever
// caption it gets, see translate_message).
[[maybe_unused]] constexpr const char* kCommonCaptions[] = {
    QT_TRANSLATE_NOOP("Messages", "Предупреждение"),
    QT_TRANSLATE_NOOP("Messages", "Сообщение"),
    QT_TRANSLATE_NOOP("Messages", "Ошибка"),
    QT_TRANSLATE_NOOP("Messages", "Результат сравнения"),
};

QMessageBox::Icon box_icon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::Information:
      return QMessageBox::Information;
    case PromptIcon::Warning:
      return QMessageBox::Warning;
    case PromptIcon::Error:
      return QMessageBox::Critical;
    case PromptIcon::Question:
      return QMessageBox::Question;
    case PromptIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons box_buttons(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::Ok:
      return QMessageBox::Ok;
    case PromptButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case PromptButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

PromptAnswer answer_of(int button) {
  switch (button) {
    case QMessageBox::Yes:
      return PromptAnswer::Yes;
    case QMessageBox::No:
      return PromptAnswer::No;
    case QMessageBox::Cancel:
      return PromptAnswer::Cancel;
    default:
      return PromptAnswer::Ok;
  }
}

}  // namespace

PromptAnswer QtPrompter::ask(std::string_view text, std::string_view caption, PromptIcon icon,
                             PromptButtons buttons, PromptAnswer safe_answer) {
  QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (quiet_.load() || app == nullptr) {
    return stderr_.ask(text, caption, icon, buttons, safe_answer);
  }
  // Shown in the window's language; what goes to stderr above stays as the core wrote it.
  const QString t = translate_message(text);
  // The framework's boxes carry the program's name when the caller gives no caption.
  const QString c = caption.empty() ? QStringLiteral("KBA604") : translate_message(caption);
  if (QThread::currentThread() != app->thread()) {
    if (buttons != PromptButtons::Ok) return stderr_.ask(text, caption, icon, buttons, safe_answer);
    const QMessageBox::Icon i = box_icon(icon);
    QPointer<QWidget> parent = parent_;
    QMetaObject::invokeMethod(
        app,
        [t, c, i, parent] {
          auto* box = new QMessageBox(i, c, t, QMessageBox::Ok, parent.data());
          box->setAttribute(Qt::WA_DeleteOnClose);
          box->show();
        },
        Qt::QueuedConnection);
    return PromptAnswer::Ok;
  }
  QMessageBox box(box_icon(icon), c, t, box_buttons(buttons), parent_.data());
  return answer_of(box.exec());
}

StatusOperationView::StatusOperationView(QObject* parent) : QObject(parent) {}

void StatusOperationView::open(int operation_code, int total, OperationControl* control) {
  {
    std::lock_guard lock(mutex_);
    control_ = control;
  }
  open_.store(true);
  done_.store(0);
  total_.store(total);
  errors_.store(0);
  const std::string_view title = operation_title(operation_code);
  emit opened(translate_message(title), total);
}

void StatusOperationView::set_range(int total) {
  total_.store(total);
  done_.store(0);
  emit progress(0, total, errors_.load());
}

void StatusOperationView::set_counters(int done, int total, int errors) {
  done_.store(done);
  total_.store(total);
  errors_.store(errors);
  emit progress(done, total, errors);
}

void StatusOperationView::add_log_line(std::string_view text, LogColour colour, bool, bool) {
  emit log_line(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                QColor(colour.red, colour.green, colour.blue));
}

void StatusOperationView::set_button(OperationButton) {}

void StatusOperationView::close() {
  {
    std::lock_guard lock(mutex_);
    control_ = nullptr;
  }
  if (open_.exchange(false)) emit closed();
}

void StatusOperationView::stop_pressed() {
  OperationControl* control;
  {
    std::lock_guard lock(mutex_);
    control = control_;
  }
  if (control != nullptr) control->button_pressed();
}

void QtNotificationSink::value_polled(std::uint32_t key, std::string_view) {
  emit polled(key);
}

void QtNotificationSink::views_changed() {
  emit changed();
}

void QtNotificationSink::command_finished(int command) {
  emit finished(command);
}

void QtNotificationSink::parameter_changed(std::size_t table_index) {
  emit parameter_changed_at(static_cast<quint64>(table_index));
}

bool run_events_until(const std::function<bool()>& done, int timeout_ms) {
  if (done()) return true;
  QElapsedTimer elapsed;
  elapsed.start();
  QEventLoop loop;
  QTimer check;
  // Often enough that a test or a benchmark waiting here loses no measurable time.
  check.setInterval(5);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || elapsed.elapsed() >= timeout_ms) loop.quit();
  });
  check.start();
  loop.exec();
  return done();
}

}  // namespace kba604
