// What completing or reopening a reminder writes, decided once for every
// store whose items are iCalendar text: the plain edit of its item, or, for
// one occurrence of a repeating series, a completed copy of that occurrence
// added beside the series and the series moved on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/instant.h"
#include "store/result.h"

namespace corvane {

struct CompletionPlan {
  // The reminder's item as it is to be written over the one read.
  std::string item;
  // The completed occurrence, written first as an item of its own.
  struct Occurrence {
    // Its UID, and the name of its item: made from the series' UID and the
    // occurrence's date, so that a run stopped between the two writes is
    // finished by the next one instead of completing the occurrence twice.
    // Plain enough to name a file.
    std::string name;
    std::string text;
  };
  std::optional<Occurrence> occurrence;
};

// The plan for setting the completion of the reminder in `calendarText` to
// `completed`, stamped `now`. Fails, so that nothing is written, when the
// text's structure is unclear or an edit would not read back as intended.
Result<CompletionPlan> planCompletion(std::string_view calendarText,
                                      bool completed, Instant now);

// Whether `found`, an item already under the occurrence's name, is the
// completed copy that `occurrence` describes (an earlier run's): the same
// UID, completed, with the same start and due.
bool isPlannedOccurrence(std::string_view found,
                         const CompletionPlan::Occurrence& occurrence);

}  // namespace corvane
