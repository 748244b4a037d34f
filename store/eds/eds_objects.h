// A reminder's calendar objects as EDS keeps them, turned into the
// iCalendar text that the shared readers and edits work on, and an edited
// text turned back into the object EDS is given.
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "store/eds/eds_session.h"
#include "store/eds/glib_ptr.h"
#include "store/result.h"

namespace corvane {

// Every object of one UID in a list: the series and its overridden
// occurrences, each as the text EDS gives it, the series first.
struct EdsSeries {
  std::string uid;
  std::vector<std::string> components;
  std::set<std::string> tzids;  // the time zones they name

  // Whether both hold the same objects, byte for byte, in any order.
  bool sameObjectsAs(const EdsSeries& other) const;
};

// Every series in the list, in byte order of their UIDs. Both reads are
// bounded and fail with a kind, as every call in store/eds/eds_calls.h.
Result<std::vector<EdsSeries>> readAllSeries(ECalClient* client);

// The series with that UID; absent when the list holds no object with it.
Result<std::optional<EdsSeries>> readSeries(ECalClient* client,
                                            const std::string& uid);

// One calendar object holding the series' components and the VTIMEZONEs
// that the list's client knows for the zones they name, as the readers
// and edits of a vdir item's text take it.
std::string calendarTextOf(const EdsSeries& series, EdsSession& session,
                           ECalClient* client);

// The reminder's own VTODO in `calendarText`, chosen by the rule every
// reader uses (store/ical/reminder_todo.h), as a component of its own.
Result<GObjectPtr<ICalComponent>> reminderComponentOf(
    std::string_view calendarText);

}  // namespace corvane
