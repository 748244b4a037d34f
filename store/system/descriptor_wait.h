// Waiting for a descriptor to come free. A full descriptor table (this
// process's limit, or the system's) is passing: other threads, or other
// programs, close theirs. A call that failed for want of one is tried
// again after short pauses, for a bounded time in all.
#pragma once

#include <chrono>

namespace corvane {

class DescriptorWait {
 public:
  // Whether `error` (an errno) says that no descriptor was to be had.
  static bool isExhaustion(int error);

  // Pauses before the next try and returns true, or returns false at once
  // when this wait has lasted its bound already.
  bool pause();

 private:
  std::chrono::microseconds next_{200};
  std::chrono::microseconds waited_{0};
};

}  // namespace corvane
