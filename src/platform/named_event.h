// The external exit event named with the switch "exitevent": a POSIX named semaphore
// "/<name>" (lower-cased; a further "/" in the name becomes "_"), created when missing. A
// supervising program signals it by posting the semaphore, for example with
// `kba604 --signal-exitevent NAME`.
//
// A semaphore has no descriptor, so a bridge thread waits on it and sets a manual-reset Event,
// which the exit watcher can wait on together with its other events. A post left over from an
// earlier run is drained when the event is opened. The semaphore is unlinked at the end only
// when this process created it.
#pragma once

#include <semaphore.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/event.h"
#include "platform/thread.h"

namespace kba604::platform {

class NamedEvent {
 public:
  // Opens or creates the event; ok() tells whether that worked, error() why not.
  explicit NamedEvent(std::string_view name);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool ok() const { return state_ != nullptr; }
  const std::string& error() const { return error_; }
  // The semaphore name, "/<name>".
  const std::string& semaphore_name() const { return sem_name_; }
  bool created() const { return created_; }

  // Manual-reset: set once the semaphore was posted, and it stays set.
  Event& event() { return *signalled_; }
  const std::shared_ptr<Event>& event_ptr() const { return signalled_; }

  // The semaphore name for an event name.
  static std::string semaphore_name(std::string_view name);

  // Posts the named event of another process. False (with the reason in *error) when no such
  // event exists or it could not be posted; a missing event is not created.
  static bool signal(std::string_view name, std::string* error = nullptr);

 private:
  struct State;
  std::string sem_name_;
  std::string error_;
  bool created_ = false;
  std::shared_ptr<Event> signalled_ = std::make_shared<Event>(Event::Reset::Manual);
  std::shared_ptr<State> state_;
  Thread bridge_;
};

}  // namespace kba604::platform
