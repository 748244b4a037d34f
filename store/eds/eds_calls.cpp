#include "store/eds/eds_calls.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "store/items/conflict_failure.h"
#include "store/utf8.h"

namespace corvane {
namespace {

std::atomic<bool> stoppedAnswering{false};

bool isTimeOut(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
         g_error_matches(error, E_CLIENT_ERROR, E_CLIENT_ERROR_CANCELLED) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY);
}

std::string messageOf(const GError* error) {
  return error && error->message ? repairUtf8(error->message)
                                 : "EDS gave no reason.";
}

// The failure of a change call that set `error`, noting a silent EDS.
Outcome failedChange(const ErrorSlot& error) {
  return failureOf(error.get(), true);
}

}  // namespace

struct Deadline::Watch {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread thread;
};

Deadline::Deadline(std::chrono::milliseconds wait) {
  if (edsStoppedAnswering()) return;
  try {
    watch_ = new Watch;
    cancellable_ = g_cancellable_new();
    watch_->thread = std::thread([watch = watch_, wait,
                                  cancellable = cancellable_] {
      std::unique_lock lock(watch->mutex);
      if (!watch->finished.wait_for(lock, wait, [&] { return watch->done; }))
        g_cancellable_cancel(cancellable);
    });
  } catch (const std::exception&) {
    // No watcher (no memory or thread to be had): the call is not made.
    if (cancellable_) g_object_unref(cancellable_);
    cancellable_ = nullptr;
    delete watch_;
    watch_ = nullptr;
  }
}

Deadline::~Deadline() {
  if (!watch_) return;
  {
    std::lock_guard lock(watch_->mutex);
    watch_->done = true;
  }
  watch_->finished.notify_one();
  watch_->thread.join();
  if (g_cancellable_is_cancelled(cancellable_)) noteEdsStoppedAnswering();
  g_object_unref(cancellable_);
  delete watch_;
}

bool edsStoppedAnswering() { return stoppedAnswering.load(); }
void noteEdsStoppedAnswering() { stoppedAnswering.store(true); }

Failure unansweredFailure(bool change) {
  return Failure{change ? "EDS did not answer in time; the change may still "
                          "be made."
                        : "EDS did not answer in time.",
                 FailureKind::kUnavailable};
}

Failure failureOf(const GError* error, bool change) {
  if (!error || isTimeOut(error) || edsStoppedAnswering())
    return unansweredFailure(change);
  const std::string message = messageOf(error);
  if (g_error_matches(error, E_CAL_CLIENT_ERROR,
                      E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND))
    return Failure{message, FailureKind::kNotFound};
  if (g_error_matches(error, E_CAL_CLIENT_ERROR,
                      E_CAL_CLIENT_ERROR_OBJECT_ID_ALREADY_EXISTS))
    return Failure{message, FailureKind::kExists};
  // A list that takes no changes (a webcal one) answers "Not supported".
  if (g_error_matches(error, E_CLIENT_ERROR, E_CLIENT_ERROR_NOT_SUPPORTED))
    return Failure{message, FailureKind::kReadOnly};
  if (g_error_matches(error, E_CLIENT_ERROR,
                      E_CLIENT_ERROR_PERMISSION_DENIED) ||
      g_error_matches(error, E_CLIENT_ERROR,
                      E_CLIENT_ERROR_AUTHENTICATION_REQUIRED) ||
      g_error_matches(error, E_CLIENT_ERROR,
                      E_CLIENT_ERROR_AUTHENTICATION_FAILED))
    return Failure{message, FailureKind::kDenied};
  if (g_error_matches(error, E_CLIENT_ERROR, E_CLIENT_ERROR_OUT_OF_SYNC))
    return Failure{message, FailureKind::kChanged};
  return Failure{message, FailureKind::kUnavailable};
}

Result<EdsSeries> readSeriesPrintedAs(ECalClient* client,
                                      const std::string& printedUid) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  if (printedUid.find(kReplacement) == std::string::npos) {
    auto found = readSeries(client, printedUid);
    if (!found) return found.failure();
    if (!found.value())
      return Failure{"The reminder is not in EDS.", FailureKind::kNotFound};
    return std::move(*found.value());
  }
  // Perhaps printed with bad bytes repaired: the one UID that prints so.
  auto all = readAllSeries(client);
  if (!all) return all.failure();
  EdsSeries* match = nullptr;
  for (auto& series : all.value()) {
    if (repairUtf8(series.uid) != printedUid) continue;
    if (match)
      return Failure{"Two reminders of the list print as this one.",
                     FailureKind::kNotFound};
    match = &series;
  }
  if (!match)
    return Failure{"The reminder is not in EDS.", FailureKind::kNotFound};
  return std::move(*match);
}

Outcome createObject(ECalClient* client, ICalComponent* component) {
  Deadline deadline(kCallWait);
  if (!deadline.get()) return unansweredFailure(false);
  ErrorSlot error;
  if (!e_cal_client_create_object_sync(client, component,
                                       E_CAL_OPERATION_FLAG_NONE, nullptr,
                                       deadline.get(), error.out()))
    return failedChange(error);
  return done();
}

Outcome modifyObject(ECalClient* client, ICalComponent* component) {
  Deadline deadline(kCallWait);
  if (!deadline.get()) return unansweredFailure(false);
  ErrorSlot error;
  if (!e_cal_client_modify_object_sync(client, component, E_CAL_OBJ_MOD_THIS,
                                       E_CAL_OPERATION_FLAG_NONE,
                                       deadline.get(), error.out()))
    return failedChange(error);
  return done();
}

Outcome removeObjects(ECalClient* client, const std::string& uid) {
  Deadline deadline(kCallWait);
  if (!deadline.get()) return unansweredFailure(false);
  ErrorSlot error;
  if (!e_cal_client_remove_object_sync(
          client, uid.c_str(), nullptr, E_CAL_OBJ_MOD_ALL,
          E_CAL_OPERATION_FLAG_NONE, deadline.get(), error.out()))
    return failedChange(error);
  return done();
}

Outcome stillAsRead(ECalClient* client, const EdsSeries& read) {
  auto current = readSeries(client, read.uid);
  if (!current) return current.failure();
  if (!current.value()) return conflictFailure(Meanwhile::kRemoved);
  if (!current.value()->sameObjectsAs(read))
    return conflictFailure(Meanwhile::kChanged);
  return done();
}

}  // namespace corvane
