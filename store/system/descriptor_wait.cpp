#include "store/system/descriptor_wait.h"

#include <cerrno>
#include <thread>

namespace corvane {
namespace {

// Long enough for a run that shares a small limit among its threads to get
// its turn again and again; short enough that a limit nothing ever frees
// ends the command within seconds.
constexpr std::chrono::microseconds kBound = std::chrono::seconds(5);
constexpr std::chrono::microseconds kLongestPause =
    std::chrono::milliseconds(20);

}  // namespace

bool DescriptorWait::isExhaustion(int error) {
  return error == EMFILE || error == ENFILE;
}

bool DescriptorWait::pause() {
  if (waited_ >= kBound) return false;
  std::this_thread::sleep_for(next_);
  waited_ += next_;
  next_ = std::min(next_ * 2, kLongestPause);
  return true;
}

}  // namespace corvane
