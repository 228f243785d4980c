// Running the wizard's exchanges off the UI thread: a queue of jobs done one at a time, in order,
// by one thread, and a prompter that asks its questions on the UI thread for that thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/prompter.h"

namespace kba604::calibration {

class TaskQueue {
 public:
  TaskQueue();
  // Lets the jobs already posted run to their end (each holds what it uses), waiting up to
  // join_ms for them; after that the thread finishes them on its own.
  ~TaskQueue();
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  static constexpr int kJoinMs = 5000;

  void post(std::function<void()> job);
  // Whether no job is waiting or running.
  bool idle() const;
  // Waits up to timeout_ms of real time until idle; true when idle.
  bool wait_idle(int timeout_ms) const;

 private:
  struct Shared {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    bool running = false;
    bool closing = false;
  };
  static void serve(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

// A prompter for a worker thread: each question is posted to the thread that owns the real
// prompter (the UI thread) and the worker waits for the answer. Once abandoned (the dialog has
// gone), waiting and later questions get their safe answer at once, and a question not yet shown
// is never shown.
class RelayPrompter final : public Prompter {
 public:
  using Post = std::function<void(std::function<void()>)>;
  // target must outlive every posted question; post runs a function on target's thread.
  RelayPrompter(Prompter& target, Post post);
  ~RelayPrompter() override;

  PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer safe_answer) override;
  void abandon();

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable answered;
    bool abandoned = false;
  };
  Prompter& target_;
  Post post_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace kba604::calibration
