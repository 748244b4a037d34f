#include "tests/cli_test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/json_writer.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

// Only async-signal-safe calls from here on: the test binary may have
// threads of its own.
[[noreturn]] void startChild(const char* program, char** argv, char** envp,
                             int outFd, int errFd, const RunOptions& options,
                             bool drop) {
  int input = ::open("/dev/null", O_RDONLY);
  if (input < 0 || ::dup2(input, STDIN_FILENO) < 0 ||
      ::dup2(outFd, STDOUT_FILENO) < 0 || ::dup2(errFd, STDERR_FILENO) < 0)
    ::_exit(126);
  ::umask(options.umask);
  if (drop &&
      (::setgroups(0, nullptr) != 0 ||
       ::setresgid(kUnprivilegedGid, kUnprivilegedGid, kUnprivilegedGid) != 0 ||
       ::setresuid(kUnprivilegedUid, kUnprivilegedUid, kUnprivilegedUid) != 0))
    ::_exit(126);
  // A working directory the child may enter, whoever it runs as.
  if (::chdir("/") != 0) ::_exit(126);
  ::execve(program, argv, envp);
  ::_exit(127);
}

void drain(int outFd, int errFd, RunResult& result) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      }
    }
  }
}

std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(std::string(path ? path : "") +
                         ":/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    fs::path candidate = fs::path(dir) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Opens every folder below `path` to its owner so that a test that is not
// root can still remove what it made unreadable.
void openUp(const fs::path& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
  ::chmod(path.c_str(), 0700);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(path, error))
    openUp(entry.path());
}

void snapshotInto(const fs::path& path, const fs::path& top, std::string& out) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    out += path.string() + " unreadable\n";
    return;
  }
  char line[256];
  std::snprintf(
      line, sizeof line, " mode=%o uid=%u gid=%u size=%lld mtime=%lld.%09ld",
      static_cast<unsigned>(info.st_mode), static_cast<unsigned>(info.st_uid),
      static_cast<unsigned>(info.st_gid), static_cast<long long>(info.st_size),
      static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec);
  out += fs::relative(path, top).string() + line + "\n";
  if (S_ISREG(info.st_mode)) {
    std::ifstream file(path, std::ios::binary);
    out += std::string(std::istreambuf_iterator<char>(file), {}) + "\n";
  } else if (S_ISDIR(info.st_mode)) {
    std::vector<fs::path> children;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path, error))
      children.push_back(entry.path());
    std::sort(children.begin(), children.end());
    for (const auto& child : children) snapshotInto(child, top, out);
  }
}

}  // namespace

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

bool dropsPrivileges() { return ::geteuid() == 0; }

RunResult runProgram(const std::string& program,
                     const std::vector<std::string>& argv,
                     const Environment& environment,
                     const RunOptions& options) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env;
  for (const auto& [name, value] : environment)
    env.push_back(name + "=" + value);
  std::vector<char*> argPointers = pointersTo(args);
  std::vector<char*> envPointers = pointersTo(env);
  const bool drop = options.runAs == RunAs::kUnprivileged && dropsPrivileges();

  RunResult result;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return result;
  }
  pid_t child = ::fork();
  if (child == 0)
    startChild(program.c_str(), argPointers.data(), envPointers.data(),
               outPipe[1], errPipe[1], options, drop);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (child > 0) drain(outPipe[0], errPipe[0], result);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  if (child < 0) return result;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exitStatus = -WTERMSIG(status);
  return result;
}

RunResult runCorvane(const std::vector<std::string>& args,
                     const Environment& environment,
                     const RunOptions& options) {
  std::vector<std::string> argv = {CORVANE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(CORVANE_BINARY, argv, environment, options);
}

TempStore::TempStore() {
  if (base_.empty()) return;
  for (const char* dir : {"data", "home", "config/todoman", "cache"})
    fs::create_directories(base_ / dir);
}

// What a test closed must open again for the folder to be removed.
TempStore::~TempStore() {
  if (!base_.empty()) openUp(base_);
}

Environment TempStore::environment() const {
  return {{"XDG_DATA_HOME", dataHome().string()},
          {"HOME", (base_ / "home").string()},
          {"TZ", "UTC"},
          {"LC_ALL", "C"},
          {"PATH", "/usr/local/bin:/usr/bin:/bin"}};
}

void TempStore::makeDir(const fs::path& path) const {
  std::error_code error;
  fs::create_directories(root() / path, error);
  ASSERT_FALSE(error) << path << ": " << error.message();
}

void TempStore::writeFile(const fs::path& path, const std::string& content,
                          mode_t mode) const {
  fs::path full = root() / path;
  makeDir(full.parent_path().lexically_relative(root()));
  {
    std::ofstream file(full, std::ios::binary | std::ios::trunc);
    file << content;
    ASSERT_TRUE(file.good()) << full;
  }
  setMode(path, mode);
}

void TempStore::setMode(const fs::path& path, mode_t mode) const {
  ASSERT_EQ(::chmod((root() / path).c_str(), mode), 0)
      << path << ": " << std::strerror(errno);
}

void TempStore::giveToUnprivileged(const fs::path& path) const {
  if (!dropsPrivileges()) return;
  ASSERT_EQ(::lchown(path.c_str(), kUnprivilegedUid, kUnprivilegedGid), 0)
      << path << ": " << std::strerror(errno);
  struct stat info;
  if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    for (const auto& entry : fs::directory_iterator(path))
      giveToUnprivileged(entry.path());
}

void TempStore::todomanNew(const std::string& list,
                           const std::vector<std::string>& args) const {
  std::string todoman = findProgram("todoman");
  ASSERT_FALSE(todoman.empty())
      << "todoman is needed to make a real store (scripts/install-deps --test)";
  {
    std::ofstream config(base_ / "config/todoman/config.py");
    config << "path = \"" << root().string() << "/*/*\"\n"
           << "date_format = \"%Y-%m-%d\"\n"
           << "time_format = \"%H:%M\"\n"
           << "default_list = \"" << list << "\"\n";
  }
  std::vector<std::string> argv = {todoman, "new", "-l", list};
  argv.insert(argv.end(), args.begin(), args.end());
  Environment environment = {{"HOME", (base_ / "home").string()},
                             {"XDG_CONFIG_HOME", (base_ / "config").string()},
                             {"XDG_CACHE_HOME", (base_ / "cache").string()},
                             {"TZ", "UTC"},
                             {"LC_ALL", "C.UTF-8"},
                             {"PYTHONDONTWRITEBYTECODE", "1"},
                             {"PATH", "/usr/local/bin:/usr/bin:/bin"}};
  RunResult run = runProgram(todoman, argv, environment);
  ASSERT_EQ(run.exitStatus, 0) << "todoman failed: " << run.out << run.err;
}

std::string treeSnapshot(const fs::path& top) {
  std::string out;
  snapshotInto(top, top, out);
  return out;
}

Json envelopeOf(const RunResult& run) {
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "") << "standard error must stay empty";
  const std::string& out = run.out;
  if (out.size() < 3 || out.front() != '{' ||
      out.substr(out.size() - 2) != "}\n") {
    ADD_FAILURE() << "not one object and one line feed:\n" << out;
    return nullptr;
  }
  Json envelope;
  try {
    envelope = Json::parse(out);
  } catch (const Json::exception& error) {
    ADD_FAILURE() << "not JSON (" << error.what() << "):\n" << out;
    return nullptr;
  }
  if (!envelope.contains("success") || !envelope["success"].is_boolean()) {
    ADD_FAILURE() << "no boolean \"success\":\n" << out;
    return nullptr;
  }
  for (const auto& [key, value] : envelope.items()) {
    EXPECT_TRUE(key == "success" || key == "data" || key == "error")
        << "unexpected key " << key;
    if (key == "error") {
      EXPECT_TRUE(value.is_string()) << out;
    }
  }
  EXPECT_FALSE(envelope.contains("data") && envelope.contains("error")) << out;
  // Parsed and written again by corvane's own writer, the text must come
  // out as it went in: the pretty form, in one piece.
  EXPECT_EQ(out, writePrettyJson(envelope).value_or("") + "\n")
      << "not in the pretty form";
  return envelope;
}

Json dataOf(const RunResult& run, const std::string& what) {
  Json envelope = envelopeOf(run);
  if (!envelope.is_object()) return Json::array();
  EXPECT_EQ(envelope.value("success", false), true) << what << "\n" << run.out;
  if (!envelope.contains("data")) {
    ADD_FAILURE() << what << ": no data\n" << run.out;
    return Json::array();
  }
  return envelope["data"];
}

std::string errorOf(const RunResult& run) {
  Json envelope = envelopeOf(run);
  if (!envelope.is_object()) return "(no envelope)";
  EXPECT_EQ(envelope.value("success", true), false) << run.out;
  EXPECT_FALSE(envelope.contains("data")) << run.out;
  return envelope.value("error", "(no error)");
}

}  // namespace corvane::e2e
