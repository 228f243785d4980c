#include "ui/link_indicator.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>

namespace kba604 {
namespace {

QString value_of(const Elements::InvisibleElement& settings, const char* name) {
  return QString::fromStdString(settings.GetValueByName(name));
}

QPixmap dot(const QColor& colour) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(colour.darker(140));
  painter.setBrush(colour);
  painter.drawEllipse(1, 1, 10, 10);
  return pixmap;
}

}  // namespace

LinkIndicator::LinkIndicator(DeviceIO* link, bool no_port, QWidget* parent)
    : QWidget(parent), link_(link), no_port_(no_port) {
  setObjectName(QStringLiteral("linkIndicator"));
  dot_ = new QLabel(this);
  text_ = new QLabel(this);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 0, 2, 0);
  layout->setSpacing(4);
  layout->addWidget(dot_);
  layout->addWidget(text_);
  timer_.setInterval(250);
  connect(&timer_, &QTimer::timeout, this, &LinkIndicator::refresh);
  timer_.start();
  refresh();
}

QString LinkIndicator::settings_text(const Elements::InvisibleElement& settings) {
  const QString parity = value_of(settings, "PrtY");
  const QString letter = parity == QStringLiteral("Четность")      ? QStringLiteral("E")
                         : parity == QStringLiteral("Нечетность")  ? QStringLiteral("O")
                         : parity == QStringLiteral("Отсутствует") ? QStringLiteral("N")
                                                                   : QStringLiteral("?");
  return tr("%1: %2, %3%4%5, адрес %6")
      .arg(value_of(settings, "Port"), value_of(settings, "bPS"), value_of(settings, "LEn"), letter,
           value_of(settings, "Sbit"), value_of(settings, "Addr"));
}

void LinkIndicator::refresh() {
  QString tip;
  if (link_ == nullptr || no_port_) {
    state_ = DeviceIO::LinkState::Unknown;
    colour_ = QColor(160, 160, 160);
    text_->setText(tr("Без порта"));
    tip = tr("Программа работает без последовательного порта");
  } else {
    state_ = link_->link_state();
    text_->setText(settings_text(link_->program_settings()));
    if (link_->sio().lost()) {
      // The adapter went away: the port watch opens the port again once its device is back.
      colour_ = QColor(220, 0, 0);
      text_->setText(text_->text() + tr(" - порт пропал"));
      dot_->setPixmap(dot(colour_));
      setToolTip(
          tr("Порт пропал (устройство отключено); программа откроет его снова, когда "
             "устройство вернется"));
      return;
    }
    switch (state_) {
      case DeviceIO::LinkState::Answers:
        colour_ = QColor(0, 170, 0);
        tip = tr("Прибор отвечает");
        break;
      case DeviceIO::LinkState::Silent:
        colour_ = QColor(220, 0, 0);
        tip = tr("Прибор не отвечает");
        break;
      case DeviceIO::LinkState::PortClosed:
        colour_ = QColor(220, 0, 0);
        tip = tr("Порт не открылся");
        break;
      case DeviceIO::LinkState::Unknown:
        colour_ = QColor(160, 160, 160);
        tip = tr("Обмена с прибором при этих настройках еще не было");
        break;
    }
  }
  dot_->setPixmap(dot(colour_));
  setToolTip(tip);
}

}  // namespace kba604
