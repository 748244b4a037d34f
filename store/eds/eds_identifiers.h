// The identifiers of EDS's lists and reminders. They can never be a vdir
// store's: behind the prefix "eds:" a list identifier has one part (the
// source UID) and a reminder identifier two, where a vdir list's has two
// parts and a vdir reminder's three.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr std::string_view kEdsPrefix = "eds:";

// Where a reminder lives in EDS: the task list's source and the UID of its
// calendar objects.
struct EdsObjectName {
  std::string sourceUid;
  std::string uid;
};

// "eds:<source-uid>".
std::string edsListIdentifier(std::string_view sourceUid);

// "eds:<source-uid>/<uid>", with "%" and "/" in the UID written "%25" and
// "%2F", so that any UID (slashes are found in the wild) round-trips.
std::string edsReminderIdentifier(const EdsObjectName& name);

// Whether the identifier has the form of an EDS list's or reminder's, and
// so belongs to the EDS store and to no other.
bool isEdsListIdentifier(std::string_view identifier);
bool isEdsReminderIdentifier(std::string_view identifier);

// The source UID of a list identifier; absent for any other form.
std::optional<std::string> sourceUidOf(std::string_view listIdentifier);

// The names in a reminder identifier; absent for any other form, including
// one that escapes anything but "%" and "/" or writes them otherwise than
// edsReminderIdentifier does, so that one reminder has one identifier.
std::optional<EdsObjectName> objectNameOf(std::string_view reminderIdentifier);

}  // namespace corvane
