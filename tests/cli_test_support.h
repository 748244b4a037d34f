// What the end-to-end tests share: a throw-away store under a world-searchable
// temporary folder, a way to run the built corvane (or todoman) with exactly
// the environment a test gives, and the checks every envelope must pass.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/temp_folder.h"

namespace corvane::e2e {

using Json = nlohmann::ordered_json;
using Environment = std::map<std::string, std::string>;

// The user that permission tests run corvane as: root, which the machines
// and CI run as, is stopped by no permission bit.
constexpr uid_t kUnprivilegedUid = 65534;
constexpr gid_t kUnprivilegedGid = 65534;

enum class RunAs { kSelf, kUnprivileged };

struct RunOptions {
  RunAs runAs = RunAs::kSelf;
  mode_t umask = 022;
};

struct RunResult {
  int exitStatus = -1;  // the exit code; minus the signal number on a kill
  std::string out;
  std::string err;
};

// Runs `program` with exactly `argv` (argv[0] included) and exactly
// `environment`, standard input from /dev/null, and captures both outputs.
// kUnprivileged drops to kUnprivilegedUid when this process is root and is
// the current user otherwise (who is then unprivileged already).
RunResult runProgram(const std::string& program,
                     const std::vector<std::string>& argv,
                     const Environment& environment,
                     const RunOptions& options = {});

// Runs the built corvane with `args` after the program path.
RunResult runCorvane(const std::vector<std::string>& args,
                     const Environment& environment,
                     const RunOptions& options = {});

// The argv/envp form of `texts`: pointers into them, then a null; valid as
// long as `texts` is unchanged.
std::vector<char*> pointersTo(std::vector<std::string>& texts);

// True when runs as RunAs::kUnprivileged really change user.
bool dropsPrivileges();

// A temporary folder (test::TempFolder)
// holding the data home, whose "corvane" folder is the store root, plus a
// home and todoman's configuration and cache.
class TempStore {
 public:
  TempStore();
  ~TempStore();
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  const std::filesystem::path& base() const { return base_; }
  std::filesystem::path dataHome() const { return base_ / "data"; }
  std::filesystem::path root() const { return dataHome() / "corvane"; }

  // XDG_DATA_HOME, HOME, TZ=UTC, LC_ALL=C and PATH; nothing else.
  Environment environment() const;

  // Makes `path` (relative to the root) and its missing parents, 0755.
  void makeDir(const std::filesystem::path& path) const;
  // Writes `content` to `path` (relative to the root), making its parents.
  void writeFile(const std::filesystem::path& path, const std::string& content,
                 mode_t mode = 0644) const;
  void setMode(const std::filesystem::path& path, mode_t mode) const;

  // Hands `path` (absolute) and everything below it to the unprivileged
  // user, where runs drop privileges; does nothing otherwise.
  void giveToUnprivileged(const std::filesystem::path& path) const;

  // Makes reminders with the real todoman, which names lists by their
  // display names: `todoman new -l <list> <args...>`.
  void todomanNew(const std::string& list,
                  const std::vector<std::string>& args) const;

 private:
  test::TempFolder folder_;
  std::filesystem::path base_ = folder_.path();
};

// Every path below `top` (itself included) with its type, mode, owner, size,
// modification time and, for files, content: two snapshots are equal
// exactly when nothing was made, removed or changed.
std::string treeSnapshot(const std::filesystem::path& top);

// Checks what every run that reaches a command shows: exit status 0,
// nothing on standard error, and on standard output exactly one envelope
// ("success", and only "data" or "error" besides) in the pretty form
// followed by one line feed. Returns the envelope; null after a failure.
Json envelopeOf(const RunResult& run);

// The "data" of a successful envelope; an empty array, after a failure
// naming `what`, when the run failed or answered no data.
Json dataOf(const RunResult& run, const std::string& what);
// The "error" of a failed envelope, checked to carry no data.
std::string errorOf(const RunResult& run);

}  // namespace corvane::e2e
