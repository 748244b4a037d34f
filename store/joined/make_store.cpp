#include "store/joined/make_store.h"

#include "store/eds/eds_identifiers.h"
#include "store/eds/eds_loader.h"
#include "store/joined/joined_store.h"
#include "store/vdir/make_vdir_store.h"

namespace corvane {

std::unique_ptr<ReminderStore> makeStore(Clock clock) {
  auto vdir = makeVdirStore(clock);
  auto module = edsModuleFile();
  if (!module) return vdir;
  return std::make_unique<JoinedStore>(
      std::move(vdir),
      [module = *module, clock] { return openEdsStore(module, clock); },
      JoinedStore::Route{isEdsListIdentifier, isEdsReminderIdentifier});
}

}  // namespace corvane
