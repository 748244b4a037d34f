#include "store/eds/eds_objects.h"

#include <algorithm>
#include <map>

#include "store/eds/eds_calls.h"
#include "store/ical/nesting.h"
#include "store/ical/reminder_todo.h"

namespace corvane {
namespace {

bool isOverride(ICalComponent* component) {
  return GObjectPtr<ICalProperty>(i_cal_component_get_first_property(
             component, I_CAL_RECURRENCEID_PROPERTY)) != nullptr;
}

void addTzid(ICalParameter* parameter, gpointer tzids) {
  if (const char* tzid = i_cal_parameter_get_tzid(parameter))
    static_cast<std::set<std::string>*>(tzids)->insert(tzid);
}

// Adds one component to the series of its UID; components without a UID
// belong to no reminder.
void addComponent(std::map<std::string, EdsSeries>& series,
                  ICalComponent* component) {
  const char* uid = i_cal_component_get_uid(component);
  if (!uid || i_cal_component_isa(component) != I_CAL_VTODO_COMPONENT) return;
  EdsSeries& entry = series[uid];
  entry.uid = uid;
  std::string text = takeText(i_cal_component_as_ical_string(component));
  // The series first, so that it is the reminder the readers choose.
  if (isOverride(component))
    entry.components.push_back(std::move(text));
  else
    entry.components.insert(entry.components.begin(), std::move(text));
  i_cal_component_foreach_tzid(component, addTzid, &entry.tzids);
}

}  // namespace

bool EdsSeries::sameObjectsAs(const EdsSeries& other) const {
  auto mine = components, theirs = other.components;
  std::ranges::sort(mine);
  std::ranges::sort(theirs);
  return uid == other.uid && mine == theirs;
}

Result<std::vector<EdsSeries>> readAllSeries(ECalClient* client) {
  Deadline deadline(kCallWait);
  if (!deadline.get()) return unansweredFailure(false);
  GSList* read = nullptr;
  ErrorSlot error;
  if (!e_cal_client_get_object_list_sync(client, "#t", &read, deadline.get(),
                                         error.out()))
    return failureOf(error.get(), false);
  GObjectSList components(read);
  std::map<std::string, EdsSeries> byUid;
  for (GSList* item = components.get(); item; item = item->next)
    addComponent(byUid, static_cast<ICalComponent*>(item->data));
  std::vector<EdsSeries> series;
  series.reserve(byUid.size());
  for (auto& [uid, entry] : byUid) series.push_back(std::move(entry));
  return series;
}

Result<std::optional<EdsSeries>> readSeries(ECalClient* client,
                                            const std::string& uid) {
  Deadline deadline(kCallWait);
  if (!deadline.get()) return unansweredFailure(false);
  GSList* read = nullptr;
  ErrorSlot error;
  if (!e_cal_client_get_objects_for_uid_sync(client, uid.c_str(), &read,
                                             deadline.get(), error.out())) {
    Failure failure = failureOf(error.get(), false);
    if (failure.kind == FailureKind::kNotFound)
      return std::optional<EdsSeries>();
    return failure;
  }
  GObjectSList components(read);
  std::map<std::string, EdsSeries> byUid;
  for (GSList* item = components.get(); item; item = item->next)
    addComponent(byUid, e_cal_component_get_icalcomponent(
                            static_cast<ECalComponent*>(item->data)));
  auto found = byUid.find(uid);
  if (found == byUid.end()) return std::optional<EdsSeries>();
  return std::optional<EdsSeries>(std::move(found->second));
}

std::string calendarTextOf(const EdsSeries& series, EdsSession& session,
                           ECalClient* client) {
  std::string text =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//corvane//EDS//EN\r\n";
  for (const auto& tzid : series.tzids) text += session.zoneText(client, tzid);
  for (const auto& component : series.components) text += component;
  text += "END:VCALENDAR\r\n";
  return text;
}

Result<GObjectPtr<ICalComponent>> reminderComponentOf(
    std::string_view calendarText) {
  if (nestsTooDeep(calendarText))
    return Failure{"The changed reminder could not be read back."};
  GObjectPtr<ICalComponent> calendar(
      i_cal_component_new_from_string(std::string(calendarText).c_str()));
  if (!calendar) return Failure{"The changed reminder could not be read back."};
  std::vector<GObjectPtr<ICalComponent>> todos;
  if (i_cal_component_isa(calendar.get()) == I_CAL_VTODO_COMPONENT) {
    todos.push_back(std::move(calendar));
  } else {
    for (ICalComponent* todo = i_cal_component_get_first_component(
             calendar.get(), I_CAL_VTODO_COMPONENT);
         todo; todo = i_cal_component_get_next_component(calendar.get(),
                                                         I_CAL_VTODO_COMPONENT))
      todos.emplace_back(todo);
  }
  auto found = mainTodo(
      todos, [](const auto&) { return true; },
      [](const auto& todo) { return isOverride(todo.get()); });
  if (found == todos.end())
    return Failure{"The changed reminder could not be read back."};
  return GObjectPtr<ICalComponent>(i_cal_component_clone(found->get()));
}

}  // namespace corvane
