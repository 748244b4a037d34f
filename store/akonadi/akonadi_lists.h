// Akonadi's to-do collections as the store describes lists: every
// collection whose content types include to-dos, titled by its display
// name, in the account of the resource that holds it, with kinds by that
// resource's type and the colour KDE's calendar apps give it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "store/akonadi/akonadi_calls.h"
#include "store/reminder_list.h"

namespace corvane {

// The mime type of a to-do item, and of collections that hold them.
inline constexpr char kTodoMimeType[] =
    "application/x-vnd.akonadi.calendar.todo";

// What the store shows of a collection, read on the Qt thread.
struct AkonadiCollection {
  std::int64_t id = 0;
  std::string title;
  std::string resource;  // the resource's instance identifier
  bool changeable = false;
  std::optional<RgbColor> color;
  // A subscription: the one-file iCal resource's collection names its
  // file by URL, and a URL of the web is a calendar subscribed to.
  bool fromWeb = false;
};

// A resource's instance, as AgentManager names and types it.
struct AkonadiResource {
  std::string name;
  std::string type;  // such as "akonadi_ical_resource"
};

// Every enabled to-do collection.
Result<std::vector<AkonadiCollection>> fetchTodoCollections(
    const AkonadiCalls& calls);

// The name and type of the resource instance; its identifier for both
// when AgentManager does not know it.
Result<AkonadiResource> fetchResource(const AkonadiCalls& calls,
                                      const std::string& identifier);

// The list of `collection`, held by `resource`.
ReminderList describeCollection(const AkonadiCollection& collection,
                                const AkonadiResource& resource);

// The kinds of a list kept by a resource of that type: local files,
// CalDAV-like servers (Google's included), Exchange, and files of the web
// (`fromWeb`) subscribed to; any other type counts as local.
std::pair<AccountKind, ListKind> kindsOfResource(const std::string& type,
                                                 bool fromWeb);

}  // namespace corvane
