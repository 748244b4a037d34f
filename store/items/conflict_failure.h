// A change refused because another program changed or removed the item
// after corvane read it: one wording in every store, whichever step found
// it.
#pragma once

#include <string>
#include <string_view>

#include "store/result.h"

namespace corvane {

enum class Meanwhile { kChanged, kRemoved };

// "The reminder was changed (or removed) by another program after corvane
// read it", then "; " and `consequence` where there is one.
inline Failure conflictFailure(
    Meanwhile what, std::string_view consequence = "nothing was written.") {
  std::string reason = std::string("The reminder was ") +
                       (what == Meanwhile::kChanged ? "changed" : "removed") +
                       " by another program after corvane read it";
  if (consequence.empty())
    reason += '.';
  else
    reason.append("; ").append(consequence);
  return Failure{std::move(reason), FailureKind::kChanged};
}

}  // namespace corvane
