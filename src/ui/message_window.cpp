#include "ui/message_window.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "app/command_line.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "ui/main_window.h"
#include "ui/translation.h"

namespace kba604 {

namespace {

bool on_ui_thread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

MessageWindow::MessageWindow(bool hidden_start, QObject* parent)
    : QObject(parent), hidden_start_(hidden_start) {}

MessageWindow::~MessageWindow() {
  delete window_.data();
}

void MessageWindow::ensure() {
  if (window_ != nullptr) return;
  auto* w = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  w->setObjectName(QStringLiteral("messageWindow"));
  w->setAttribute(Qt::WA_ShowWithoutActivating);
  auto* layout = new QVBoxLayout(w);
  label_ = new QLabel(w);
  label_->setAlignment(Qt::AlignCenter);
  label_->setMinimumWidth(320);
  bar_ = new QProgressBar(w);
  bar_->setRange(0, 100);
  bar_->hide();
  layout->addWidget(label_);
  layout->addWidget(bar_);
  window_ = w;
}

void MessageWindow::show_text(std::string_view text) {
  // The core's texts ("Загрузка файлов дерева...") in the window's language.
  const QString line = translate_message(text);
  if (on_ui_thread()) {
    show_on_ui_thread(line);
  } else {
    QMetaObject::invokeMethod(
        this, [this, line] { show_on_ui_thread(line); }, Qt::QueuedConnection);
  }
}

void MessageWindow::show_on_ui_thread(const QString& text) {
  if (hidden_start_) return;
  ensure();
  label_->setText(text);
  bar_->hide();
  emit text_shown(text);
  window_->adjustSize();
  if (!window_->isVisible()) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      window_->move(area.center() - window_->rect().center());
    }
    window_->show();
  }
  window_->raise();
  // The work announced runs on this thread next: paint the line before it starts.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MessageWindow::show_percent(int percent) {
  if (on_ui_thread()) {
    percent_on_ui_thread(percent);
  } else {
    QMetaObject::invokeMethod(
        this, [this, percent] { percent_on_ui_thread(percent); }, Qt::QueuedConnection);
  }
}

void MessageWindow::percent_on_ui_thread(int percent) {
  if (hidden_start_ || window_ == nullptr || !window_->isVisible()) return;
  emit percent_shown(percent);
  if (percent >= 100) {
    close();
    return;
  }
  bar_->setValue(std::max(percent, 0));
  if (!bar_->isVisible()) {
    bar_->show();
    window_->adjustSize();
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MessageWindow::close() {
  if (window_ != nullptr) window_->hide();
}

bool MessageWindow::visible() const {
  return window_ != nullptr && window_->isVisible();
}

QString MessageWindow::text() const {
  return label_ != nullptr ? label_->text() : QString();
}

int MessageWindow::percent() const {
  return bar_ != nullptr && bar_->isVisible() ? bar_->value() : -1;
}

bool starts_hidden(const std::vector<std::string>& params) {
  StartOptions options;
  CmyCommandLineInfo info(options);
  info.parse(params);
  return window_placement(options).kind == WindowPlacement::Kind::Hidden;
}

void show_file_work(MessageWindow& message, MainWindow& window, CKBA604Doc& doc) {
  doc.set_file_progress([&message](int percent, bool storing) {
    if (storing && !message.visible()) {
      message.show_text(QObject::tr("Сохранение файла...").toStdString());
    }
    message.show_percent(percent);
  });
  QObject::connect(&window.model(), &QAbstractItemModel::modelReset, &message, [&message, &window] {
    if (window.model().total_rows() > 0) message.close();
  });
  message.close();
}

}  // namespace kba604
