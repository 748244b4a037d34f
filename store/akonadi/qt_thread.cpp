#include "store/akonadi/qt_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QtGlobal>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace corvane {
namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

void dropQtMessages() { qInstallMessageHandler(dropMessage); }

struct QtThread::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  QCoreApplication* application = nullptr;  // while its loop may run
  bool started = false, ended = false;
};

std::unique_ptr<QtThread> QtThread::start(std::chrono::milliseconds wait) {
  dropQtMessages();
  auto shared = std::make_shared<Shared>();
  std::thread thread;
  try {
    thread = std::thread([shared] {
      static int argc = 1;
      static char name[] = "corvane";
      static char* argv[] = {name, nullptr};
      {
        // Qt takes the locale from the environment for the whole process;
        // corvane's own text is made in the C locale it started in.
        const std::string locale = std::setlocale(LC_ALL, nullptr);
        QCoreApplication application(argc, argv);
        std::setlocale(LC_ALL, locale.c_str());
        // A finished job releases its hold on the loop; the last one would
        // end it. Only the owner of this thread ends it.
        QCoreApplication::setQuitLockEnabled(false);
        {
          std::lock_guard lock(shared->mutex);
          shared->application = &application;
          shared->started = true;
        }
        shared->changed.notify_all();
        application.exec();
        std::lock_guard lock(shared->mutex);
        shared->application = nullptr;
      }
      std::lock_guard lock(shared->mutex);
      shared->ended = true;
      shared->changed.notify_all();
    });
  } catch (const std::system_error&) {
    return nullptr;
  }
  std::unique_lock lock(shared->mutex);
  if (!shared->changed.wait_for(lock, wait, [&] { return shared->started; })) {
    thread.detach();
    return nullptr;
  }
  lock.unlock();
  return std::unique_ptr<QtThread>(new QtThread(shared, std::move(thread)));
}

QtThread::~QtThread() { stop(kStopWait); }

void QtThread::stop(std::chrono::milliseconds wait) {
  if (!thread_.joinable()) return;
  std::unique_lock lock(shared_->mutex);
  if (shared_->application)
    QMetaObject::invokeMethod(shared_->application, &QCoreApplication::quit,
                              Qt::QueuedConnection);
  bool ended =
      shared_->changed.wait_for(lock, wait, [&] { return shared_->ended; });
  lock.unlock();
  if (ended) {
    thread_.join();
    return;
  }
  // A library call that waits on a silent service holds the thread, and
  // Qt's exit handlers would wait for it in turn: the run has answered by
  // now (the store goes last), so its process ends here, at once.
  std::fflush(nullptr);
  std::_Exit(0);
}

bool QtThread::post(std::function<void()> task) {
  std::lock_guard lock(shared_->mutex);
  if (!shared_->application) return false;
  return QMetaObject::invokeMethod(shared_->application, std::move(task),
                                   Qt::QueuedConnection);
}

}  // namespace corvane
