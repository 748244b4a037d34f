#include "store/akonadi/akonadi_calls.h"

#include <Akonadi/Job>
#include <Akonadi/Session>
#include <QCoreApplication>

#include "store/items/conflict_failure.h"
#include "store/utf8.h"

namespace corvane {

AkonadiCalls::AkonadiCalls(std::unique_ptr<QtThread> thread,
                           std::optional<Failure> unavailable)
    : thread_(std::move(thread)), unavailable_(std::move(unavailable)) {
  // The session is the application's child: it goes with it, on its thread.
  thread_->post([session = session_] {
    *session = new Akonadi::Session("corvane", QCoreApplication::instance());
  });
}

AkonadiCalls::~AkonadiCalls() {
  // After a call went unanswered the thread is likely held by it: a short
  // look is enough.
  thread_->stop(stoppedAnswering_.load() ? std::chrono::milliseconds(100)
                                         : QtThread::kStopWait);
}

bool AkonadiCalls::post(std::function<void(Akonadi::Session*)> task) const {
  // Tasks run in the order posted, so the session is made before any.
  return thread_->post(
      [session = session_, task = std::move(task)] { task(*session); });
}

Failure AkonadiCalls::unanswered(bool change) {
  return Failure{change ? "Akonadi did not answer in time; the change may "
                          "still be made."
                        : "Akonadi did not answer in time.",
                 FailureKind::kUnavailable};
}

Failure jobFailure(const KJob& job) {
  const std::string text = repairUtf8(job.errorString().toStdString());
  // The server's words for a store of an item whose revision is not the
  // one sent.
  if (job.errorString().contains(QLatin1String("[LLCONFLICT]")))
    return conflictFailure(Meanwhile::kChanged);
  return Failure{text.empty() ? "Akonadi gave no reason." : text,
                 FailureKind::kUnavailable};
}

bool refusedByServer(const KJob& job) {
  return job.error() != KJob::NoError &&
         job.error() != Akonadi::Job::ConnectionFailed &&
         job.error() != Akonadi::Job::ProtocolVersionMismatch &&
         job.error() != KJob::KilledJobError;
}

}  // namespace corvane
