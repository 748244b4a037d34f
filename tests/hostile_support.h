// What the hostile-input and concurrency tests share beyond
// cli_test_support: item texts (tests/calendar_text.h), runs of corvane
// that go on in the background (to be killed, or to run many at once), and
// checks that a file is a whole calendar object.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/calendar_text.h"
#include "tests/cli_test_support.h"

namespace corvane::e2e {

// An item file holding one VTODO with a due date: where it goes below the
// store's root, its UID and SUMMARY, and the value of its DUE.
struct DueTodo {
  std::string path;
  std::string uid;
  std::string summary;
  std::string due;
};
void writeDueTodos(TempStore& store, const std::vector<DueTodo>& todos);

// A corvane run started in the background, its standard output going to a
// file.
class BackgroundRun {
 public:
  BackgroundRun(const std::vector<std::string>& args,
                const Environment& environment,
                const std::filesystem::path& outputFile);
  ~BackgroundRun();
  BackgroundRun(BackgroundRun&& other) noexcept;
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;

  bool started() const { return pid_ > 0; }
  void kill();  // SIGKILL, at once
  // Waits for the end; standard error is never captured (it is the null
  // device), so `err` is empty unless the run could not start.
  RunResult wait();
  // As wait(), but kills the run once `limit` has passed; `inTime` tells
  // whether it ended by itself.
  RunResult waitAtMost(std::chrono::milliseconds limit, bool* inTime);

 private:
  pid_t pid_ = -1;
  std::filesystem::path output_;
};

// The file's bytes; absent when it cannot be read.
std::optional<std::string> readBytes(const std::filesystem::path& file);

// Whether `text` is a calendar object that libical reads as a whole: it
// begins with BEGIN:VCALENDAR, ends with END:VCALENDAR and a line break,
// parses without error properties, and holds a VTODO; `uid` receives the
// VTODO's UID and `completed` its STATUS:COMPLETED state.
bool isWholeTodo(const std::string& text, std::string* uid = nullptr,
                 bool* completed = nullptr);

// The text with the lines that a change of completion rewrites taken out,
// so that an old and a new version of one item compare equal.
std::string withoutCompletionLines(const std::string& text);

// Every regular file below `top` whose name ends in ".ics".
std::vector<std::filesystem::path> itemFilesBelow(
    const std::filesystem::path& top);

// The names in a folder, hidden ones included, sorted.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace corvane::e2e
