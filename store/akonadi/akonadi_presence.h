// Whether Akonadi is running on the session bus, asked of the bus daemon
// alone and bounded in time. The bus starts Akonadi (and the database
// server it may start) on the first call to any of its names, so nothing
// may call one before this has said that its control name is owned.
#pragma once

#include <chrono>
#include <string>

namespace corvane {

// The bus daemon answers in well under a tenth of a second; 2 s keeps a
// run with a silent bus within 5 s in all, as for EDS.
inline constexpr std::chrono::milliseconds kAkonadiBusWait{2000};

enum class AkonadiPresence {
  kAbsent,    // no bus that answers in time, or no Akonadi on it
  kStarting,  // its control process runs but its server's name is not owned
  kRunning,   // both names are owned
};

// `controlName` and `serverName` are Akonadi's bus names for this session
// (an AKONADI_INSTANCE has names of its own).
AkonadiPresence akonadiPresence(const std::string& controlName,
                                const std::string& serverName);

}  // namespace corvane
