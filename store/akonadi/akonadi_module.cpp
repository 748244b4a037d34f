// The module's entry point (store/akonadi/akonadi_module.h).
#include "store/akonadi/akonadi_module.h"

#include <Akonadi/ServerManager>
#include <type_traits>

#include "store/akonadi/akonadi_backend.h"
#include "store/akonadi/akonadi_presence.h"
#include "store/akonadi/qt_thread.h"

extern "C" [[gnu::visibility("default")]] corvane::ReminderStore*
corvane_akonadi_open_v1(const corvane::Clock& clock) noexcept {
  static_assert(std::is_same_v<decltype(&corvane_akonadi_open_v1),
                               corvane::StoreModuleEntry>);
  using Akonadi::ServerManager;
  try {
    corvane::dropQtMessages();
    // Asked of the bus daemon before Qt is started at all: a bus without
    // Akonadi costs no Qt thread, and no call ever reaches its names.
    const auto presence = corvane::akonadiPresence(
        ServerManager::serviceName(ServerManager::Control).toStdString(),
        ServerManager::serviceName(ServerManager::Server).toStdString());
    if (presence == corvane::AkonadiPresence::kAbsent) return nullptr;
    auto thread = corvane::QtThread::start(corvane::kAkonadiBusWait);
    if (!thread) return nullptr;
    std::optional<corvane::Failure> unavailable;
    if (presence == corvane::AkonadiPresence::kStarting)
      unavailable = corvane::Failure{"Akonadi's server is not running.",
                                     corvane::FailureKind::kUnavailable};
    return corvane::makeAkonadiStore(
               std::make_unique<corvane::AkonadiCalls>(std::move(thread),
                                                       std::move(unavailable)),
               clock)
        .release();
  } catch (...) {
    return nullptr;  // out of memory: the program goes on without Akonadi
  }
}
