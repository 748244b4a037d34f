#include "store/joined/make_store.h"

#include "store/akonadi/akonadi_identifiers.h"
#include "store/akonadi/akonadi_module.h"
#include "store/eds/eds_identifiers.h"
#include "store/eds/eds_module.h"
#include "store/joined/joined_store.h"
#include "store/joined/module_loader.h"
#include "store/vdir/make_vdir_store.h"

namespace corvane {
namespace {

// A desktop's store: its module, its entry point and its identifiers.
struct DesktopStore {
  const char* moduleFile;
  const char* entry;
  JoinedStore::Route route;
};

}  // namespace

std::unique_ptr<ReminderStore> makeStore(Clock clock) {
  std::unique_ptr<ReminderStore> store = makeVdirStore(clock);
  if (!hasSessionBus()) return store;
  const DesktopStore desktops[] = {
      {"corvane-eds.so",
       kEdsModuleEntry,
       {isEdsListIdentifier, isEdsReminderIdentifier}},
      {"corvane-akonadi.so",
       kAkonadiModuleEntry,
       {isAkonadiListIdentifier, isAkonadiReminderIdentifier}},
  };
  // Each joins the stores before it, so that lists come in this order;
  // each is opened only when a call first needs it.
  for (const auto& desktop : desktops) {
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
