// Every call corvane makes to Akonadi, run on the Qt thread and waited on
// with a deadline. Akonadi failing, or not answering in time, is
// kUnavailable; once one call has gone unanswered, every later call of the
// run fails at once the same way, so that a run waits for a silent Akonadi
// at most once.
#pragma once

#include <KJob>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "store/akonadi/qt_thread.h"
#include "store/result.h"

namespace Akonadi {
class Session;
}

namespace corvane {

// A call is Akonadi's work on a collection: reading 1,000 to-dos costs a
// small part of a second. 4 s is far past that, and one such wait plus the
// bus's still ends a run within about 6 s.
inline constexpr std::chrono::milliseconds kAkonadiCallWait{4000};

class AkonadiCalls {
 public:
  // Calls run on `thread`; `unavailable` makes every call fail at once (a
  // server that is not up).
  AkonadiCalls(std::unique_ptr<QtThread> thread,
               std::optional<Failure> unavailable);
  // Ends the Qt thread, and the session on it.
  ~AkonadiCalls();

  // Hands `start` to the Qt thread, which calls it with the session for
  // this run's jobs and a callback to answer with, once, there or later
  // (from a job's result). Waits for that answer at most kAkonadiCallWait.
  // For a change (`change`) whose answer did not come in time, the
  // failure says it may still be made.
  template <class T>
  using Answer = std::function<void(Result<T>)>;
  template <class T>
  Result<T> call(std::function<void(Akonadi::Session*, Answer<T>)> start,
                 bool change) const;

 private:
  static Failure unanswered(bool change);
  // Runs `task` on the Qt thread with the session; false when it could not.
  bool post(std::function<void(Akonadi::Session*)> task) const;

  std::unique_ptr<QtThread> thread_;
  std::optional<Failure> unavailable_;
  // Made and used on the Qt thread only; shared with its tasks, which may
  // outlive this object when the thread is left to the end of the run.
  std::shared_ptr<Akonadi::Session*> session_ =
      std::make_shared<Akonadi::Session*>(nullptr);
  mutable std::atomic<bool> stoppedAnswering_{false};
};

// The failure of a finished job: the connection lost, or any refusal of
// the server's, is kUnavailable unless the caller knows better; a change
// refused for the item's revision is kChanged.
Failure jobFailure(const KJob& job);
// Whether the job failed on the server's answer, rather than for want of
// a connection to it.
bool refusedByServer(const KJob& job);

template <class T>
Result<T> AkonadiCalls::call(
    std::function<void(Akonadi::Session*, Answer<T>)> start,
    bool change) const {
  if (unavailable_) return *unavailable_;
  if (stoppedAnswering_.load()) return unanswered(change);
  struct Waiting {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Result<T>> answer;
  };
  auto waiting = std::make_shared<Waiting>();
  Answer<T> answer = [waiting](Result<T> result) {
    std::lock_guard lock(waiting->mutex);
    if (!waiting->answer) waiting->answer.emplace(std::move(result));
    waiting->answered.notify_one();
  };
  if (!post([start = std::move(start), answer](Akonadi::Session* session) {
        start(session, answer);
      }))
    return unanswered(change);
  std::unique_lock lock(waiting->mutex);
  if (!waiting->answered.wait_for(lock, kAkonadiCallWait, [&] {
        return waiting->answer.has_value();
      })) {
    stoppedAnswering_.store(true);
    return unanswered(change);
  }
  return std::move(*waiting->answer);
}

}  // namespace corvane
