#include "calibration/calibration_tasks.h"

#include <chrono>
#include <string>
#include <utility>

namespace kba604::calibration {

TaskQueue::TaskQueue() : shared_(std::make_shared<Shared>()) {
  thread_ = std::thread(&TaskQueue::serve, shared_);
}

TaskQueue::~TaskQueue() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->closing = true;
  }
  shared_->changed.notify_all();
  if (wait_idle(kJoinMs)) {
    thread_.join();
  } else {
    thread_.detach();  // the jobs and the queue are held by the thread itself
  }
}

void TaskQueue::serve(std::shared_ptr<Shared> shared) {
  std::unique_lock lock(shared->mutex);
  for (;;) {
    shared->changed.wait(lock, [&] { return !shared->jobs.empty() || shared->closing; });
    if (shared->jobs.empty()) return;
    std::function<void()> job = std::move(shared->jobs.front());
    shared->jobs.pop_front();
    shared->running = true;
    lock.unlock();
    job();
    job = nullptr;  // what the job holds goes before the queue says it is idle
    lock.lock();
    shared->running = false;
    shared->changed.notify_all();
  }
}

void TaskQueue::post(std::function<void()> job) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->jobs.push_back(std::move(job));
  }
  shared_->changed.notify_all();
}

bool TaskQueue::idle() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->jobs.empty() && !shared_->running;
}

bool TaskQueue::wait_idle(int timeout_ms) const {
  std::unique_lock lock(shared_->mutex);
  auto is_idle = [&] { return shared_->jobs.empty() && !shared_->running; };
  if (timeout_ms < 0) {
    shared_->changed.wait(lock, is_idle);
    return true;
  }
  return shared_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_idle);
}

RelayPrompter::RelayPrompter(Prompter& target, Post post)
    : target_(target), post_(std::move(post)) {}

RelayPrompter::~RelayPrompter() {
  abandon();
}

void RelayPrompter::abandon() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->abandoned = true;
  }
  shared_->answered.notify_all();
}

PromptAnswer RelayPrompter::ask(std::string_view text, std::string_view caption, PromptIcon icon,
                                PromptButtons buttons, PromptAnswer safe_answer) {
  struct Question {
    bool done = false;
    PromptAnswer answer;
  };
  auto question = std::make_shared<Question>();
  question->answer = safe_answer;
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->abandoned) return safe_answer;
  }
  std::shared_ptr<Shared> shared = shared_;
  Prompter* target = &target_;
  post_([shared, question, target, text = std::string(text), caption = std::string(caption), icon,
         buttons, safe_answer] {
    {
      std::lock_guard lock(shared->mutex);
      if (shared->abandoned) return;
    }
    PromptAnswer answer = target->ask(text, caption, icon, buttons, safe_answer);
    {
      std::lock_guard lock(shared->mutex);
      question->answer = answer;
      question->done = true;
    }
    shared->answered.notify_all();
  });
  std::unique_lock lock(shared_->mutex);
  shared_->answered.wait(lock, [&] { return question->done || shared_->abandoned; });
  return question->done ? question->answer : safe_answer;
}

}  // namespace kba604::calibration
