#include "store/eds/eds_session.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <tuple>

#include "store/eds/eds_identifiers.h"
#include "store/eds/eds_list.h"

namespace corvane {

std::unique_ptr<EdsSession> EdsSession::connect() {
  ErrorSlot error;
  GObjectPtr<ESourceRegistry> registry(
      e_source_registry_new_sync(nullptr, error.out()));
  if (!registry) return nullptr;
  // A bus without EDS still gives a registry, one that knows no source at
  // all; EDS itself always has its built-in ones.
  GObjectList sources(e_source_registry_list_sources(registry.get(), nullptr));
  if (!sources) return nullptr;
  return std::unique_ptr<EdsSession>(new EdsSession(std::move(registry)));
}

std::vector<ReminderList> EdsSession::taskLists() {
  std::vector<ReminderList> lists;
  GObjectList sources(e_source_registry_list_enabled(
      registry_.get(), E_SOURCE_EXTENSION_TASK_LIST));
  openAll(sources.get());
  for (GList* item = sources.get(); item; item = item->next) {
    auto* source = static_cast<ESource*>(item->data);
    auto client = clientOf(source);
    bool writable = client && !e_client_is_readonly(E_CLIENT(client.value()));
    lists.push_back(describeTaskList(registry_.get(), source, writable));
  }
  std::ranges::sort(lists, {}, [](const ReminderList& list) {
    return std::tie(list.account.title, list.title, list.identifier);
  });
  return lists;
}

std::optional<ReminderList> EdsSession::taskList(const std::string& sourceUid) {
  GObjectPtr<ESource> source = taskListSource(sourceUid);
  if (!source) return std::nullopt;
  auto client = clientOf(source.get());
  bool writable = client && !e_client_is_readonly(E_CLIENT(client.value()));
  return describeTaskList(registry_.get(), source.get(), writable);
}

Result<ECalClient*> EdsSession::client(const std::string& sourceUid) {
  GObjectPtr<ESource> source = taskListSource(sourceUid);
  if (!source) return Failure{"The list is not in EDS."};
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
  ErrorSlot error;
  // No limit on the wait: with a limit, every connect waits all of it.
  EClient* client =
      e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_TASKS,
                                static_cast<guint32>(-1), nullptr, error.out());
  if (client)
    opened.client.reset(E_CAL_CLIENT(client));
  else
    opened.failure = error.message();
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
  if (!found->second.client) return Failure{found->second.failure};
  return found->second.client.get();
}

const std::string& EdsSession::zoneText(ECalClient* client,
                                        const std::string& tzid) {
  auto [text, isNew] = zones_.try_emplace({client, tzid});
  if (isNew) {
    ErrorSlot error;
    ICalTimezone* zone = nullptr;  // the client's own
    if (e_cal_client_get_timezone_sync(client, tzid.c_str(), &zone, nullptr,
                                       error.out()) &&
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
