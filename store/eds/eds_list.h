// A task list of EDS as the store describes a list: its source's display
// name, its parent source as the account, kinds by the backend that keeps
// it, and its colour.
#pragma once

#include <libedataserver/libedataserver.h>

#include <string>
#include <utility>

#include "store/reminder_list.h"

namespace corvane {

// The list kept by `source`, a task-list source of `registry`. The
// account is the parent source: the Online Accounts account of a synced
// list, "On This Computer" for a local one.
ReminderList describeTaskList(ESourceRegistry* registry, ESource* source,
                              bool writable);

// The kinds of a list kept by the named backend: local lists, CalDAV-like
// ones (Google's included), Exchange-like ones, and subscribed webcal
// lists; any other backend counts as local.
std::pair<AccountKind, ListKind> kindsOfBackend(const std::string& backend);

}  // namespace corvane
