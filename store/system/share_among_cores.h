// One loop spread over the machine's cores, for work whose parts are
// independent (reading item files, making records).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace corvane {

// Hands out the indexes 0 .. count-1, each once, to the threads that call
// it; false when none is left.
class NextIndex {
 public:
  explicit NextIndex(std::size_t count) : count_(count) {}
  bool take(std::size_t& index) {
    index = next_.fetch_add(1, std::memory_order_relaxed);
    return index < count_;
  }
  // Hands out nothing more, to any thread: the work as a whole has failed.
  void stop() { next_.store(count_, std::memory_order_relaxed); }

 private:
  const std::size_t count_;
  std::atomic<std::size_t> next_{0};
};

// Calls `work` once on each of up to eight threads, this one among them,
// and no more threads than one per `leastPerThread` indexes; each call
// takes indexes from the one NextIndex until none is left, so a thread
// that is slowed down takes fewer. A thread that cannot be started is no
// failure: the others, this one always among them, take its share.
// Returns once every call has returned. `work` must not throw.
void shareAmongCores(std::size_t count, std::size_t leastPerThread,
                     const std::function<void(NextIndex&)>& work);

}  // namespace corvane
