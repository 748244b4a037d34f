#include "store/system/share_among_cores.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace corvane {

void shareAmongCores(std::size_t count, std::size_t leastPerThread,
                     const std::function<void(NextIndex&)>& work) {
  NextIndex next(count);
  std::size_t threads =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
  threads = std::clamp<std::size_t>(
      count / std::max<std::size_t>(1, leastPerThread), 1, threads);
  std::vector<std::thread> helpers;
  try {
    // Reserved first: growing the vector later could throw past a running
    // thread.
    helpers.reserve(threads - 1);
    for (std::size_t i = 1; i < threads; ++i)
      helpers.emplace_back([&] { work(next); });
  } catch (const std::exception&) {
    // No thread (or no memory for one) to be had: fewer share the work.
  }
  work(next);
  for (auto& helper : helpers) helper.join();
}

}  // namespace corvane
