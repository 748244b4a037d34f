#include "store/eds/eds_session.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <tuple>

#include "store/eds/eds_calls.h"
#include "store/eds/eds_identifiers.h"
#include "store/eds/eds_list.h"

namespace corvane {
namespace {

constexpr const char* kRegistryName = "org.gnome.evolution.dataserver.Sources5";

// One call to the bus daemon itself, bounded; null when it did not answer.
GVariant* askBus(GDBusConnection* bus, const char* method,
                 GVariant* arguments) {
  return g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
      "org.freedesktop.DBus", method, arguments, nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<int>(kBusWait.count()),
      nullptr, nullptr);
}

// Whether EDS's registry is on the bus now; absent when the bus does not
// answer (which makes it no bus). A registry the bus could start is not
// there: corvane uses EDS only where the session already runs it.
std::optional<bool> edsOnBus(GDBusConnection* bus) {
  GVariant* owned =
      askBus(bus, "NameHasOwner", g_variant_new("(s)", kRegistryName));
  if (!owned) return std::nullopt;
  gboolean has = FALSE;
  g_variant_get(owned, "(b)", &has);
  g_variant_unref(owned);
  return has;
}

// What `open` returns (a new GObject reference, or null with `error`
// set), opened on a thread of its own and waited for at most kBusWait.
// GLib's bus connection heeds a GCancellable but was once seen missing a
// cancel on a silent bus; EDS's registry does not heed one at all, and
// waits without end on a registry that is stopped. What does not answer in
// time is left to its thread, which the end of the run ends.
template <class T>
Result<GObjectPtr<T>> openOnOwnThread(T* (*open)(GCancellable*, GError**)) {
  struct Opening {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    T* object = nullptr;
    std::optional<Failure> failure;
  };
  auto opening = std::make_shared<Opening>();
  GObjectPtr<GCancellable> cancellable(g_cancellable_new());
  try {
    std::thread([opening, open, cancel = g_object_ref(cancellable.get())] {
      ErrorSlot error;
      T* object = open(static_cast<GCancellable*>(cancel), error.out());
      g_object_unref(cancel);
      std::lock_guard lock(opening->mutex);
      opening->object = object;
      if (!object) opening->failure = failureOf(error.get(), false);
      opening->done = true;
      opening->finished.notify_one();
    }).detach();
  } catch (const std::system_error&) {
    return Failure{"No thread could be started to reach EDS.",
                   FailureKind::kExhausted};
  }
  std::unique_lock lock(opening->mutex);
  if (!opening->finished.wait_for(lock, kBusWait,
                                  [&] { return opening->done; })) {
    g_cancellable_cancel(cancellable.get());
    noteEdsStoppedAnswering();
    return unansweredFailure(false);
  }
  if (opening->failure) return *opening->failure;
  return GObjectPtr<T>(opening->object);
}

GDBusConnection* sessionBus(GCancellable* cancellable, GError** error) {
  return g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, error);
}

}  // namespace

std::unique_ptr<EdsSession> EdsSession::connect() {
  auto bus = openOnOwnThread(sessionBus);
  if (!bus) return nullptr;
  auto there = edsOnBus(bus.value().get());
  if (!there || !*there) return nullptr;
  auto registry = openOnOwnThread(e_source_registry_new_sync);
  if (!registry)
    return std::unique_ptr<EdsSession>(new EdsSession(registry.failure()));
  // A bus without EDS still gives a registry, one that knows no source at
  // all; EDS itself always has its built-in ones.
  GObjectList sources(
      e_source_registry_list_sources(registry.value().get(), nullptr));
  if (!sources) return nullptr;
  return std::unique_ptr<EdsSession>(
      new EdsSession(std::move(registry.value())));
}

Result<std::vector<ReminderList>> EdsSession::taskLists() {
  if (unavailable_) return *unavailable_;
  std::vector<ReminderList> lists;
  GObjectList sources(e_source_registry_list_enabled(
      registry_.get(), E_SOURCE_EXTENSION_TASK_LIST));
  openAll(sources.get());
  for (GList* item = sources.get(); item; item = item->next) {
    auto list = describe(static_cast<ESource*>(item->data));
    if (!list) return list.failure();
    lists.push_back(std::move(list.value()));
  }
  std::ranges::sort(lists, {}, [](const ReminderList& list) {
    return std::tie(list.account.title, list.title, list.identifier);
  });
  return lists;
}

Result<std::optional<ReminderList>> EdsSession::taskList(
    const std::string& sourceUid) {
  if (unavailable_) return *unavailable_;
  GObjectPtr<ESource> source = taskListSource(sourceUid);
  if (!source) return std::optional<ReminderList>();
  auto list = describe(source.get());
  if (!list) return list.failure();
  return std::optional<ReminderList>(std::move(list.value()));
}

Result<ReminderList> EdsSession::describe(ESource* source) {
  auto client = clientOf(source);
  if (!client && client.kind() == FailureKind::kUnavailable)
    return client.failure();
  // A list EDS cannot open for us (one that asks for a password, say) is
  // there but cannot be changed, as is one whose client is read-only.
  bool writable = client && !e_client_is_readonly(E_CLIENT(client.value()));
  return describeTaskList(registry_.get(), source, writable);
}

Result<ECalClient*> EdsSession::client(const std::string& sourceUid) {
  if (unavailable_) return *unavailable_;
  GObjectPtr<ESource> source = taskListSource(sourceUid);
  if (!source)
    return Failure{"The list is not in EDS.", FailureKind::kNotFound};
  return clientOf(source.get());
}

GObjectPtr<ESource> EdsSession::taskListSource(const std::string& sourceUid) {
  GObjectPtr<ESource> source(
      e_source_registry_ref_source(registry_.get(), sourceUid.c_str()));
  if (!source ||
      !e_source_has_extension(source.get(), E_SOURCE_EXTENSION_TASK_LIST) ||
      !e_source_registry_check_enabled(registry_.get(), source.get()))
    return nullptr;
  return source;
}

EdsSession::Opened EdsSession::open(ESource* source) {
  Opened opened;
  Deadline deadline(kCallWait);
  if (!deadline.get()) {
    opened.failure = unansweredFailure(false);
    return opened;
  }
  ErrorSlot error;
  // No wait for the backend to be online: with one, every connect waits
  // all of it; the deadline bounds the call itself.
  EClient* client = e_cal_client_connect_sync(
      source, E_CAL_CLIENT_SOURCE_TYPE_TASKS, static_cast<guint32>(-1),
      deadline.get(), error.out());
  if (client)
    opened.client.reset(E_CAL_CLIENT(client));
  else
    opened.failure = failureOf(error.get(), false);
  return opened;
}

void EdsSession::openAll(GList* sources) {
  // Opening a list is mostly waiting for EDS, so the lists not opened yet
  // are opened at once, each on a thread of its own.
  std::vector<std::pair<std::string, ESource*>> unopened;
  for (GList* item = sources; item; item = item->next) {
    auto* source = static_cast<ESource*>(item->data);
    std::string uid = takeText(e_source_dup_uid(source));
    if (!clients_.contains(uid)) unopened.emplace_back(std::move(uid), source);
  }
  if (unopened.size() < 2) return;
  std::vector<Opened> opened(unopened.size());
  std::vector<std::thread> threads;
  threads.reserve(unopened.size());
  try {
    for (std::size_t i = 0; i < unopened.size(); ++i)
      threads.emplace_back([&, i] { opened[i] = open(unopened[i].second); });
  } catch (const std::system_error&) {
    // Fewer threads than lists: the others are opened one by one later.
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t i = 0; i < threads.size(); ++i)
    clients_.emplace(unopened[i].first, std::move(opened[i]));
}

Result<ECalClient*> EdsSession::clientOf(ESource* source) {
  std::string uid = takeText(e_source_dup_uid(source));
  auto found = clients_.find(uid);
  if (found == clients_.end())
    found = clients_.emplace(std::move(uid), open(source)).first;
  if (!found->second.client) return *found->second.failure;
  return found->second.client.get();
}

const std::string& EdsSession::zoneText(ECalClient* client,
                                        const std::string& tzid) {
  auto [text, isNew] = zones_.try_emplace({client, tzid});
  if (isNew) {
    Deadline deadline(kCallWait);
    ErrorSlot error;
    ICalTimezone* zone = nullptr;  // the client's own
    if (deadline.get() &&
        e_cal_client_get_timezone_sync(client, tzid.c_str(), &zone,
                                       deadline.get(), error.out()) &&
        zone) {
      GObjectPtr<ICalComponent> component(i_cal_timezone_get_component(zone));
      if (component)
        text->second =
            takeText(i_cal_component_as_ical_string(component.get()));
    }
  }
  return text->second;
}

}  // namespace corvane
