// The one thread on which Qt and Akonadi's client library run: it owns the
// QCoreApplication and its event loop, and every Akonadi object lives and
// dies on it. Other threads hand it tasks and wait for their answers, each
// wait bounded.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace corvane {

// From now on, every message of Qt's is dropped: nothing reaches standard
// error. Called before any other call into Qt.
void dropQtMessages();

class QtThread {
 public:
  // How long the end of a run waits for the thread to finish: its loop
  // ends at once unless a library call holds it.
  static constexpr std::chrono::milliseconds kStopWait{1000};

  // Starts the thread and its application; null when that did not happen
  // within `wait`. Qt's messages are dropped from before its first call.
  static std::unique_ptr<QtThread> start(std::chrono::milliseconds wait);
  // stop(kStopWait).
  ~QtThread();
  // Ends the event loop and waits for the thread, at most `wait`. A thread
  // still held by a call into a silent service then ends the process with
  // status 0, its output flushed: the thread is stopped when the store
  // goes, after the run's answer.
  void stop(std::chrono::milliseconds wait);
  QtThread(const QtThread&) = delete;
  QtThread& operator=(const QtThread&) = delete;

  // Runs `task` on the thread, from its event loop; false when it could
  // not be handed over (the loop has ended).
  bool post(std::function<void()> task);

 private:
  struct Shared;
  QtThread(std::shared_ptr<Shared> shared, std::thread thread)
      : shared_(std::move(shared)), thread_(std::move(thread)) {}
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace corvane
