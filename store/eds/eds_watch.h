// A watch on one series of a list: EDS's own notices of the changes
// committed to its objects, in the order EDS committed them. EDS has no
// conditional write, so a change made by another program between
// corvane's last read and its write can land first and be written over;
// the notices tell afterwards whether one did, and what it was.
#pragma once

#include <libecal/libecal.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/eds/eds_objects.h"
#include "store/eds/glib_ptr.h"
#include "store/result.h"

namespace corvane {

class EdsWatch {
 public:
  // A watch of the objects of `uid`, running once this returns: every
  // change EDS commits to them from then on is noticed. Waits at most
  // kCallWait for EDS to start it.
  static Result<std::unique_ptr<EdsWatch>> open(ECalClient* client,
                                                const std::string& uid);
  ~EdsWatch();
  EdsWatch(const EdsWatch&) = delete;
  EdsWatch& operator=(const EdsWatch&) = delete;

  // The object another program committed just before corvane's own write
  // of `written` (an object's text as corvane gave it), or none when
  // corvane's write came first, of the changes heard since the last write
  // this found. Waits at most kCallWait for EDS's notice
  // of corvane's write (it comes about a third of a second after the
  // write); absent when it did not come, and nothing can then be told.
  std::optional<std::optional<std::string>> changedBefore(
      const std::string& written);
  // The same for corvane's removal of the series.
  std::optional<std::optional<std::string>> changedBeforeRemoval();

  // Whether `object` is `written` as EDS holds it (EDS stamps each
  // commit's LAST-MODIFIED itself).
  static bool sameWrite(const std::string& object, const std::string& written);

 private:
  // One object's commit that EDS told of: the object it left, or its
  // removal.
  struct Notice {
    bool removal = false;
    std::string object;
  };

  EdsWatch(GMainContext* context, GObjectPtr<ECalClientView> view);
  // Runs the client's main context until `isOurs` holds for a notice, or
  // kCallWait has passed; the notice's place, if it came.
  template <class Predicate>
  std::optional<std::size_t> waitFor(Predicate isOurs);
  // The object of the notice before `ours`, when it is one heard since the
  // last write found; from now on only notices after `ours` are heard.
  std::optional<std::string> before(std::size_t ours);

  static void onChanged(ECalClientView*, const GSList* objects, gpointer self);
  static void onRemoved(ECalClientView*, const GSList* ids, gpointer self);
  static void onComplete(ECalClientView*, const GError*, gpointer self);

  GMainContext* context_;
  GObjectPtr<ECalClientView> view_;
  bool complete_ = false;
  std::size_t heard_ = 0;
  std::vector<Notice> notices_;
};

// The series' object written as `component` when the series is still as
// `read`, read again just before (kChanged otherwise). When another
// program's change is found to have landed between that read and the
// write, its version is put back over corvane's and the change is
// refused as changed by another program.
Outcome modifyIfStillAsRead(ECalClient* client, const EdsSeries& read,
                            ICalComponent* component);

// The series removed when it is still as `read`; another program's change
// that landed just before the removal is made again and the removal
// refused.
Outcome removeIfStillAsRead(ECalClient* client, const EdsSeries& read);

}  // namespace corvane
