#include "store/akonadi/akonadi_presence.h"

#include <gio/gio.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace corvane {
namespace {

// The session bus, connected on a thread of its own and waited for at most
// kAkonadiBusWait: a bus that accepts the connection and never answers
// holds the connecting thread, which is left to the end of the run.
GDBusConnection* connectBounded() {
  struct Connecting {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    GDBusConnection* bus = nullptr;
  };
  auto connecting = std::make_shared<Connecting>();
  try {
    std::thread([connecting] {
      GDBusConnection* bus =
          g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
      std::lock_guard lock(connecting->mutex);
      connecting->bus = bus;
      connecting->done = true;
      connecting->finished.notify_one();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  std::unique_lock lock(connecting->mutex);
  if (!connecting->finished.wait_for(lock, kAkonadiBusWait,
                                     [&] { return connecting->done; }))
    return nullptr;
  GDBusConnection* bus = connecting->bus;
  connecting->bus = nullptr;
  return bus;
}

// NameHasOwner, never starting the name's service; absent when the bus
// did not answer in time.
std::optional<bool> hasOwner(GDBusConnection* bus, const std::string& name) {
  GVariant* owned = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
      "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
      G_DBUS_CALL_FLAGS_NO_AUTO_START,
      static_cast<int>(kAkonadiBusWait.count()), nullptr, nullptr);
  if (!owned) return std::nullopt;
  gboolean has = FALSE;
  g_variant_get(owned, "(b)", &has);
  g_variant_unref(owned);
  return has != FALSE;
}

}  // namespace

AkonadiPresence akonadiPresence(const std::string& controlName,
                                const std::string& serverName) {
  GDBusConnection* bus = connectBounded();
  if (!bus) return AkonadiPresence::kAbsent;
  auto control = hasOwner(bus, controlName);
  std::optional<bool> server;
  if (control && *control) server = hasOwner(bus, serverName);
  g_object_unref(bus);
  if (!control || !*control) return AkonadiPresence::kAbsent;
  return server && *server ? AkonadiPresence::kRunning
                           : AkonadiPresence::kStarting;
}

}  // namespace corvane
