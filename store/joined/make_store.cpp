#include "store/joined/make_store.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "store/akonadi/akonadi_identifiers.h"
#include "store/akonadi/akonadi_module.h"
#include "store/eds/eds_identifiers.h"
#include "store/eds/eds_module.h"
#include "store/joined/joined_store.h"
#include "store/joined/module_loader.h"
#include "store/vdir/make_vdir_store.h"

namespace corvane {
namespace {

// A desktop's store: its module, its entry point, its identifiers, and
// whether it may be there at all (null: ask its module).
struct DesktopStore {
  const char* moduleFile;
  const char* entry;
  JoinedStore::Route route;
  bool (*mayBeThere)();
};

// Akonadi writes its configuration folder when it first starts: where
// that is missing it has never run for this user, and its module (and Qt
// with it) is not worth loading to find that out.
bool akonadiHasRun() {
  std::filesystem::path config;
  if (const char* home = std::getenv("XDG_CONFIG_HOME"); home && home[0] == '/')
    config = home;
  else if (const char* user = std::getenv("HOME"); user && user[0] == '/')
    config = std::filesystem::path(user) / ".config";
  else
    return true;
  std::error_code error;
  return std::filesystem::is_directory(config / "akonadi", error);
}

}  // namespace

std::unique_ptr<ReminderStore> makeStore(Clock clock) {
  std::unique_ptr<ReminderStore> store = makeVdirStore(clock);
  if (!hasSessionBus()) return store;
  const DesktopStore desktops[] = {
      {"corvane-eds.so",
       kEdsModuleEntry,
       {isEdsListIdentifier, isEdsReminderIdentifier},
       nullptr},
      {"corvane-akonadi.so",
       kAkonadiModuleEntry,
       {isAkonadiListIdentifier, isAkonadiReminderIdentifier},
       akonadiHasRun},
  };
  // Each joins the stores before it, so that lists come in this order;
  // each is opened only when a call first needs it.
  for (const auto& desktop : desktops) {
    if (desktop.mayBeThere && !desktop.mayBeThere()) continue;
    auto module = storeModuleFile(desktop.moduleFile);
    if (!module) continue;
    store = std::make_unique<JoinedStore>(
        std::move(store),
        [module = *module, entry = desktop.entry, clock] {
          return openStoreModule(module, entry, clock);
        },
        desktop.route);
  }
  return store;
}

}  // namespace corvane
