#include "link/port_watch.h"

namespace kba604 {

PortWatch::PortWatch(Sio& sio, platform::Clock& clock, Sio::LossListener listener)
    : sio_(sio),
      clock_(clock),
      listener_(std::move(listener)),
      stop_(std::make_shared<platform::Event>(platform::Event::Reset::Manual, false)),
      lost_(std::make_shared<platform::Event>(platform::Event::Reset::Auto, false)) {
  sio_.set_loss_listener([this](bool lost, const std::string& text) {
    if (lost) lost_->set();
    if (listener_) listener_(lost, text);
  });
  // A port lost before the watch began is looked after too.
  if (sio_.lost()) lost_->set();
  thread_.start([this] { run(); });
}

PortWatch::~PortWatch() {
  sio_.set_loss_listener({});
  stop_->set();
  // The watch waits on nothing but its events and the link lock, which no exchange holds for
  // long: it ends within one look.
  thread_.join(-1);
}

void PortWatch::run() {
  for (;;) {
    if (platform::wait_any({stop_.get(), lost_.get()}, -1, clock_) != 1) return;
    // Lost: look once a second until the port is open again (a request may have reopened it
    // meanwhile) or it was closed on purpose.
    while (sio_.lost()) {
      if (sio_.reopen_if_back()) break;
      if (stop_->wait(kLookEveryMs, clock_)) return;
    }
  }
}

}  // namespace kba604
