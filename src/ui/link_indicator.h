// The connection indicator of the status bar: a coloured dot and the program's port with its
// line settings ("COM3: 19200, 8N1, адрес 16"). Green while the instrument answers, red when
// the last request got nothing usable back, the port would not open or its device went away
// (" - порт пропал" until it is open again), grey before the first
// request at the current settings and in a program without a port. It follows the link's own
// record of the last request, looked at a few times a second, so it costs the exchanges
// nothing.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "link/device_io.h"

namespace kba604 {

class LinkIndicator final : public QWidget {
  Q_OBJECT

 public:
  // link: none in a program without a link. no_port: the program opens no port at all.
  LinkIndicator(DeviceIO* link, bool no_port, QWidget* parent = nullptr);

  // Looks at the link now (the timer does it by itself).
  void refresh();
  DeviceIO::LinkState state() const { return state_; }
  QString text() const { return text_->text(); }
  // The dot's colour.
  QColor colour() const { return colour_; }

  // The line settings as shown: port, speed, data bits, parity letter, stop bits, address.
  static QString settings_text(const Elements::InvisibleElement& settings);

 private:
  DeviceIO* link_;
  bool no_port_;
  QLabel* dot_;
  QLabel* text_;
  QTimer timer_;
  DeviceIO::LinkState state_ = DeviceIO::LinkState::Unknown;
  QColor colour_;
};

}  // namespace kba604
