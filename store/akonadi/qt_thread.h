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
  // Starts the thread and its application; null when that did not happen
  // within `wait`. Qt's messages are dropped from before its first call.
  static std::unique_ptr<QtThread> start(std::chrono::milliseconds wait);
  // Ends the event loop and waits for the thread, at most `stopWait`; a
  // thread that does not end by then is left to the end of the process.
  ~QtThread();
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
