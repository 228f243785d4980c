// What the operation engine needs from the rest of the program besides the link: the polling
// guard that the scanners implement, and what the main window does when an operation ends.
#pragma once

#include <string_view>

#include "app/translatable.h"

namespace kba604 {

// Refuses what cannot be done while operational parameters are polled: a new or another
// configuration, a change of the program's own port settings.
inline constexpr std::string_view kPollingRunsText = KBA604_TR_NOOP(
    "Messages",
    "Нельзя выполнить эту операцию, так как включен опрос оперативных параметров.\nВыключите "
    "опрос всех оперативных параметров, затем повторите попытку.");

// Whether background polling runs. The scanners implement it; initialisation refuses to start
// while any operational parameter is polled.
class PollingGuard {
 public:
  virtual ~PollingGuard() = default;
  // True when any parameter of the operational branch or of its sub-branches is polled.
  virtual bool AnyPollingOn() const = 0;
};

// The main window's part in an operation. The worker calls these from its own thread; a front
// end hands them over to its UI thread. Every call has a default that does nothing, so a
// listener implements only what it shows.
class OperationListener {
 public:
  virtual ~OperationListener() = default;

  // The worker has handled an operation event (the operation code of the window it ran
  // under); the views show the new values and notes.
  virtual void operation_finished(int /*operation_code*/) {}
  // An exchange reached the instrument: the connection indicator shows that the link works.
  virtual void link_works() {}
  // Values changed outside an operation (an image loaded into the configuration).
  virtual void refresh_views() {}
  // The main window's one-second refresh timer stops while the EEPROM image operations run
  // and starts again (period 1000 ms) afterwards.
  virtual void set_refresh_timer(bool /*running*/) {}

  // Command-line automation, called only while the program runs with the command-line
  // switches it was started with. After a read with the "read" switch: save the document to
  // the command-line file; the worker waits until this returns.
  virtual void save_after_read() {}
  // The command posted at start has finished (AutomationDoneEvent).
  virtual void automation_done() {}
};

}  // namespace kba604
