// How workers tell the views that something changed. A worker calls these from its own thread;
// a front end hands them over to its UI thread (the Qt front end posts them to the event
// loop), the headless runner mostly ignores them, tests record them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kba604 {

class NotificationSink {
 public:
  virtual ~NotificationSink() = default;

  // A polled operational parameter has a fresh value. key: the parameter key (linear index in
  // the upper half, 0xFFFF when not indexed; name hash in the lower half); value: its value
  // text. Called synchronously from the scanner: a measurement record is written from here.
  virtual void value_polled(std::uint32_t key, std::string_view value) = 0;
  // Values, notes or display modes changed: every parameter view must be redrawn.
  virtual void views_changed() = 0;
  // A command (its menu command number) has finished; the automation of the command line
  // waits for this.
  virtual void command_finished(int command) = 0;
  // An exchange changed one parameter of the table (its value, note, outcome or attributes):
  // the views redraw the rows of that parameter only. table_index: the parameter's position
  // in the device's parameter table. Called from the worker or a scanner right after the
  // change; an implementation must not block (a front end queues it to its UI thread and
  // reads the parameter there under the table's value lock). A reload of the description is
  // followed by views_changed, after which earlier positions mean nothing.
  virtual void parameter_changed(std::size_t /*table_index*/) {}
};

// Drops every notification; for the headless runner and for code that needs a sink but has no
// views.
class NullNotificationSink final : public NotificationSink {
 public:
  void value_polled(std::uint32_t, std::string_view) override {}
  void views_changed() override {}
  void command_finished(int) override {}
};

}  // namespace kba604
