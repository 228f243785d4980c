// One request for one parameter made directly, outside the operation engine: the regulation
// and single-parameter dialogs exchange their parameters this way, on a task thread of their
// own, serialised with every other request by the link lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/device_io.h"
#include "model/parameter.h"

namespace kba604 {

class DirectExchange {
 public:
  virtual ~DirectExchange() = default;
  // Reads (request_bit 1) or writes (0) the parameter; trace, when given, receives the lines of
  // the frame bytes. The request layer's result (kRequest…) with its text in the note.
  virtual int transact(std::vector<std::string>* trace, Parameter& parameter, int request_bit,
                       bool value_as_position) = 0;
  // A parameter of the table has changed (an exchange, or a value set before a write): the
  // views redraw its rows. Called after the value lock is released.
  virtual void changed(const Parameter& /*parameter*/) {}
};

// Where a link exchange announces changed parameters: the device's notification sink.
using ParameterChanged = std::function<void(const Parameter&)>;

// The program's link as a direct exchange. It shares the link's ownership, so that a task
// thread left running after its dialog has gone still has a link to finish its request on.
class LinkExchange final : public DirectExchange {
 public:
  explicit LinkExchange(std::shared_ptr<DeviceIO> link, ParameterChanged changed = {})
      : link_(std::move(link)), changed_(std::move(changed)) {}
  int transact(std::vector<std::string>* trace, Parameter& parameter, int request_bit,
               bool value_as_position) override {
    return link_->transact_parameter(trace, &parameter, request_bit, value_as_position);
  }
  void changed(const Parameter& parameter) override {
    if (changed_) changed_(parameter);
  }

 private:
  std::shared_ptr<DeviceIO> link_;
  ParameterChanged changed_;
};

}  // namespace kba604
