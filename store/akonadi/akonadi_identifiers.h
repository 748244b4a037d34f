// The identifiers of Akonadi's lists and reminders: "akonadi:<collection>"
// and "akonadi:<collection>/<item>", each id in decimal as Akonadi numbers
// it. They can never be another store's: no other store's identifier
// begins with "akonadi:".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr std::string_view kAkonadiPrefix = "akonadi:";

// Where a reminder lives in Akonadi.
struct AkonadiItemName {
  std::int64_t collection = 0;
  std::int64_t item = 0;
};

std::string akonadiListIdentifier(std::int64_t collection);
std::string akonadiReminderIdentifier(const AkonadiItemName& name);

// Whether the identifier has the form of an Akonadi list's or reminder's,
// and so belongs to the Akonadi store and to no other.
bool isAkonadiListIdentifier(std::string_view identifier);
bool isAkonadiReminderIdentifier(std::string_view identifier);

// The ids an identifier names; absent for any other form, including ids
// written otherwise than above (a sign, a leading zero, a number past
// Akonadi's), so that one thing has one identifier.
std::optional<std::int64_t> collectionOf(std::string_view listIdentifier);
std::optional<AkonadiItemName> itemNameOf(std::string_view reminderIdentifier);

}  // namespace corvane
