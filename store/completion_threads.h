// The threads on which a store answers its asynchronous calls: each call's
// work and its completion run on a thread of their own, and the store waits
// for them all before it goes away.
#pragma once

#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "store/reminder_store.h"

namespace corvane {

class CompletionThreads {
 public:
  CompletionThreads() = default;
  CompletionThreads(const CompletionThreads&) = delete;
  CompletionThreads& operator=(const CompletionThreads&) = delete;
  ~CompletionThreads() { joinAll(); }

  void start(std::function<void()> work) {
    std::lock_guard guard(mutex_);
    threads_.emplace_back(std::move(work));
  }

  // A store calls this first in its destructor, while what the threads use
  // still lives.
  void joinAll() {
    std::vector<std::thread> threads;
    {
      std::lock_guard guard(mutex_);
      threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
  }

  // Runs `fetch` on a thread of its own and hands what it found to
  // `completion`; a fetch that could not finish delivers nothing.
  void deliver(std::function<std::optional<std::vector<ReminderPtr>>()> fetch,
               FetchCompletion completion) {
    start([fetch = std::move(fetch), completion = std::move(completion)] {
      std::optional<std::vector<ReminderPtr>> reminders;
      try {
        reminders = fetch();
      } catch (const std::exception&) {
        reminders.reset();
      }
      completion(std::move(reminders));
    });
  }

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

}  // namespace corvane
