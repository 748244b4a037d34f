#include "tests/hostile_support.h"

#include <fcntl.h>
#include <libical/ical.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

bool startsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

}  // namespace

void writeDueTodos(TempStore& store, const std::vector<DueTodo>& todos) {
  for (const DueTodo& todo : todos)
    store.writeFile(todo.path,
                    todoText(todo.uid, todo.summary, {"DUE:" + todo.due}));
}

BackgroundRun::BackgroundRun(const std::vector<std::string>& args,
                             const Environment& environment,
                             const fs::path& outputFile)
    : output_(outputFile) {
  std::vector<std::string> argv = {CORVANE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (const auto& [name, value] : environment)
    env.push_back(name + "=" + value);
  std::vector<char*> argPointers = pointersTo(argv);
  std::vector<char*> envPointers = pointersTo(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, CORVANE_BINARY, &actions, nullptr, argPointers.data(),
                  envPointers.data()) == 0)
    pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

BackgroundRun::~BackgroundRun() {
  if (pid_ > 0) {
    kill();
    wait();
  }
}

BackgroundRun::BackgroundRun(BackgroundRun&& other) noexcept
    : pid_(other.pid_), output_(std::move(other.output_)) {
  other.pid_ = -1;
}

void BackgroundRun::kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

namespace {

// What a finished child's wait status and output file say.
RunResult finishedRun(int status, const std::filesystem::path& output) {
  RunResult result;
  if (WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exitStatus = -WTERMSIG(status);
  result.out = readBytes(output).value_or("");
  return result;
}

}  // namespace

RunResult BackgroundRun::wait() {
  RunResult result;
  if (pid_ <= 0) {
    result.err = "corvane could not be started";
    return result;
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return finishedRun(status, output_);
}

RunResult BackgroundRun::waitAtMost(std::chrono::milliseconds limit,
                                    bool* inTime) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  *inTime = true;
  while (pid_ > 0) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return finishedRun(status, output_);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      *inTime = false;
      kill();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return wait();
}

std::optional<std::string> readBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool isWholeTodo(const std::string& text, std::string* uid, bool* completed) {
  if (!startsWith(text, "BEGIN:VCALENDAR\r\n")) return false;
  const std::string tail = "END:VCALENDAR\r\n";
  if (text.size() < tail.size() ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  icalcomponent* calendar = icalparser_parse_string(text.c_str());
  if (!calendar) return false;
  bool whole = icalcomponent_isa(calendar) == ICAL_VCALENDAR_COMPONENT &&
               icalcomponent_count_errors(calendar) == 0;
  icalcomponent* todo =
      icalcomponent_get_first_component(calendar, ICAL_VTODO_COMPONENT);
  whole = whole && todo != nullptr;
  if (whole && uid) {
    const char* value = icalcomponent_get_uid(todo);
    *uid = value ? value : "";
  }
  if (whole && completed)
    *completed = icalcomponent_get_status(todo) == ICAL_STATUS_COMPLETED;
  icalcomponent_free(calendar);
  return whole;
}

std::string withoutCompletionLines(const std::string& text) {
  std::istringstream lines(text);
  std::string line, kept;
  while (std::getline(lines, line)) {
    bool rewritten = false;
    for (const char* name : {"STATUS", "COMPLETED", "PERCENT-COMPLETE",
                             "LAST-MODIFIED", "DTSTAMP"}) {
      std::string head = name;
      if (startsWith(line, head + ":") || startsWith(line, head + ";"))
        rewritten = true;
    }
    if (!rewritten) kept += line + "\n";
  }
  return kept;
}

std::vector<fs::path> itemFilesBelow(const fs::path& top) {
  std::vector<fs::path> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(
           top, fs::directory_options::skip_permission_denied, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    if (it->is_regular_file(error) && it->path().extension() == ".ics")
      files.push_back(it->path());
  }
  return files;
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvane::e2e
