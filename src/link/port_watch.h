// PortWatch: brings a lost port back. When the device of a port open for good goes away (a USB
// adapter unplugged), the watch looks once a second, on the clock, whether the device node of
// the port's name ([Ports] mapping) exists again and opens the port for good as soon as it does,
// without waiting for the next request. Requests made meanwhile fail at once as lost ports; once
// the port is open again, polling and requests go on by themselves.
//
//   PortWatch watch(io.sio(), clock, [](bool lost, const std::string& text) {...});
//
// The listener hears every loss and every reopening (whoever made it: the watch or a request),
// from the thread that saw it, under the link lock: it must not wait (a front end queues it).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/sio.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

class PortWatch {
 public:
  static constexpr int kLookEveryMs = 1000;

  // sio and clock must outlive the watch. Takes over the port's loss listener.
  PortWatch(Sio& sio, platform::Clock& clock, Sio::LossListener listener = {});
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

 private:
  void run();

  Sio& sio_;
  platform::Clock& clock_;
  Sio::LossListener listener_;
  std::shared_ptr<platform::Event> stop_;
  std::shared_ptr<platform::Event> lost_;
  platform::Thread thread_;
};

}  // namespace kba604
