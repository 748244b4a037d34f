// Akonadi's to-do items, read and changed through its jobs on the Qt
// thread. An item's text is its raw payload, the calendar object KDE's
// apps keep; its state is its revision, which the server raises with
// every change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/akonadi/akonadi_calls.h"
#include "store/result.h"

namespace corvane {

struct AkonadiItem {
  std::int64_t id = 0;
  std::int64_t collection = 0;
  int revision = 0;
  std::string gid;       // the UID it was stored under, when known
  std::string remoteId;  // the resource's name for it, a UID for iCal files
  std::string text;      // empty when fetched without payload
};

// The to-do items of the collection, with (`payload`) or without their
// text; the job's failure when the collection could not be read.
Result<std::vector<AkonadiItem>> fetchItems(const AkonadiCalls& calls,
                                            std::int64_t collection,
                                            bool payload);

// The to-do item with that id, with its text: absent when the server has
// no such to-do. The server's refusal is kNotFound only where it also
// knows no such item without its text (a resource that cannot hand over
// the text of an item that is there is kUnavailable).
Result<std::optional<AkonadiItem>> fetchItem(const AkonadiCalls& calls,
                                             std::int64_t id);

// Stores `text` over the item, only if it still has the revision read;
// kChanged when not. Returns the item as stored.
Result<AkonadiItem> modifyItem(const AkonadiCalls& calls,
                               const AkonadiItem& read, std::string_view text);

// Adds a to-do item holding `text`, stored under `gid`, to the collection.
Result<AkonadiItem> createItem(const AkonadiCalls& calls,
                               std::int64_t collection, const std::string& gid,
                               std::string_view text);

// Removes the item.
Outcome deleteItem(const AkonadiCalls& calls, std::int64_t id);

}  // namespace corvane
