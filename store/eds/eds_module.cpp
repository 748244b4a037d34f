// The module's entry point (store/eds/eds_module.h).
#include "store/eds/eds_module.h"

#include <type_traits>

#include "store/eds/eds_store.h"

extern "C" [[gnu::visibility("default")]] corvane::ReminderStore*
corvane_eds_open_v1(const corvane::Clock& clock) noexcept {
  static_assert(std::is_same_v<decltype(&corvane_eds_open_v1),
                               corvane::StoreModuleEntry>);
  try {
    auto session = corvane::EdsSession::connect();
    if (!session) return nullptr;
    return corvane::makeEdsStore(std::move(session), clock).release();
  } catch (...) {
    return nullptr;  // out of memory: the program goes on without EDS
  }
}
