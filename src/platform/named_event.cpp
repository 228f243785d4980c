#include "platform/named_event.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace kba604::platform {

// Shared with the bridge thread, which may outlive the NamedEvent when it is detached.
struct NamedEvent::State {
  sem_t* sem = SEM_FAILED;
  std::atomic<bool> stopping{false};
  ~State() {
    if (sem != SEM_FAILED) sem_close(sem);
  }
};

std::string NamedEvent::semaphore_name(std::string_view name) {
  std::string lowered = fold_case(name);
  for (char& c : lowered) {
    if (c == '/') c = '_';
  }
  return "/" + lowered;
}

NamedEvent::NamedEvent(std::string_view name) : sem_name_(semaphore_name(name)) {
  auto state = std::make_shared<State>();
  state->sem = sem_open(sem_name_.c_str(), O_CREAT | O_EXCL, 0600, 0);
  if (state->sem != SEM_FAILED) {
    created_ = true;
  } else if (errno == EEXIST) {
    state->sem = sem_open(sem_name_.c_str(), 0);
  }
  if (state->sem == SEM_FAILED) {
    error_ = "не удалось открыть событие " + sem_name_ + ": " + std::strerror(errno);
    return;
  }
  // Posts from before our start do not ask us to exit.
  while (sem_trywait(state->sem) == 0) {
  }
  state_ = state;
  bridge_.start([state, signalled = signalled_] {
    for (;;) {
      if (sem_wait(state->sem) == 0) break;
      if (errno != EINTR) return;
    }
    if (!state->stopping.load()) signalled->set();
  });
}

NamedEvent::~NamedEvent() {
  if (!state_) return;
  if (bridge_.running()) {
    // Wake the bridge with a post of our own; it sees that we are stopping.
    state_->stopping.store(true);
    sem_post(state_->sem);
  }
  bridge_.join(Thread::kDefaultJoinMs);
  if (created_) sem_unlink(sem_name_.c_str());
}

bool NamedEvent::signal(std::string_view name, std::string* error) {
  const std::string sem_name = semaphore_name(name);
  sem_t* sem = sem_open(sem_name.c_str(), 0);
  if (sem == SEM_FAILED) {
    if (error != nullptr) {
      *error = errno == ENOENT
                   ? "ни одна программа не ждет события " + sem_name
                   : "не удалось открыть событие " + sem_name + ": " + std::strerror(errno);
    }
    return false;
  }
  const bool ok = sem_post(sem) == 0;
  if (!ok && error != nullptr)
    *error = "не удалось подать событие " + sem_name + ": " + std::strerror(errno);
  sem_close(sem);
  return ok;
}

}  // namespace kba604::platform
