// Every call corvane makes to EDS over the session bus, bounded in time and
// answering with a failure of the right kind. EDS failing, or not
// answering in time, is kUnavailable; once one call has gone unanswered,
// every later call of the run fails at once the same way, so that a run
// waits for a silent EDS at most once.
#pragma once

#include <gio/gio.h>
#include <libecal/libecal.h>

#include <chrono>
#include <string>

#include "store/eds/eds_objects.h"
#include "store/result.h"

namespace corvane {

// The bus daemon and EDS's source registry answer in well under half a
// second even when the bus has to start EDS (about 0.5 s measured, cold,
// on a busy 2-core machine): 2 s is four times that, and keeps a run with
// a silent bus within 5 s in all.
inline constexpr std::chrono::milliseconds kBusWait{2000};
// A client call is EDS's work on a list: opening one costs up to 0.25 s
// cold, reading 1,000 tasks 0.05 s. 4 s is far past both, and one such
// wait plus the bus's still ends a run within about 5 s.
inline constexpr std::chrono::milliseconds kCallWait{4000};

// A GCancellable that cancels itself once `wait` has passed, so that the
// synchronous call given it returns by then. Client calls and the bus
// connection honour it; the source registry does not (it is opened on a
// thread of its own instead: EdsSession::connect).
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds wait);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  // Null when no watcher could be started: the call then fails at once.
  GCancellable* get() const { return cancellable_; }

 private:
  struct Watch;
  GCancellable* cancellable_ = nullptr;
  Watch* watch_ = nullptr;
};

// Whether a call of this run already went unanswered; the failure to give
// every later call.
bool edsStoppedAnswering();
void noteEdsStoppedAnswering();
Failure unansweredFailure(bool change);

// The failure of a call that set `error`: EDS's own kinds (not found,
// read-only, permission, out of date, already there) as such, anything
// else, a time-out included, kUnavailable. For a change (`change`) whose
// answer did not come in time, the reason says it may still be made.
Failure failureOf(const GError* error, bool change);

// The series with that UID, failing kNotFound when the list holds no
// object with it. A UID that holds U+FFFD may be one printed with its bad
// bytes repaired: then it names the one series whose UID reads so once
// repaired (its own UID included), and none when two do.
Result<EdsSeries> readSeriesPrintedAs(ECalClient* client,
                                      const std::string& printedUid);

// Adds the object; kExists when the list holds one of its UID already.
Outcome createObject(ECalClient* client, ICalComponent* component);
// Writes the object over the one of its UID (and RECURRENCE-ID).
Outcome modifyObject(ECalClient* client, ICalComponent* component);
// Removes every object of the UID.
Outcome removeObjects(ECalClient* client, const std::string& uid);

// Whether the series is still `read` byte for byte, read again now;
// kChanged when it changed or is gone. EDS keeps no revision of an object
// and has no conditional write: a change made between this read and the
// write is found afterwards by a watch (store/eds/eds_watch.h).
Outcome stillAsRead(ECalClient* client, const EdsSeries& read);

}  // namespace corvane
