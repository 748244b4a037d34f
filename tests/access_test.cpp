// Access as a caller sees it: the store root's permissions are the grant,
// "check_permission_status" reports them and "request_access" makes a
// missing root. Every run here is as an unprivileged user, since root
// passes every permission check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/cli_test_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

const RunOptions kUnprivileged{RunAs::kUnprivileged};

// Arranges the store for one case; may point the data home elsewhere.
using Setup = std::function<void(TempStore&, Environment&)>;

struct AccessCase {
  const char* name;
  Setup setup;
  const char* status;
};

void writableDataHome(TempStore& store, Environment&) {
  store.giveToUnprivileged(store.dataHome());
}

// The root as a folder of the unprivileged user with the given mode.
Setup rootWithMode(mode_t mode) {
  return [mode](TempStore& store, Environment&) {
    store.makeDir("acct/list");
    store.giveToUnprivileged(store.root());
    store.setMode(".", mode);
  };
}

const AccessCase kCases[] = {
    {"missing under a writable data home", writableDataHome, "notDetermined"},
    // Only the store folder is made below a data home named by
    // XDG_DATA_HOME: a missing data home is not corvane's to make.
    {"missing with a missing data home under a writable folder",
     [](TempStore& store, Environment& env) {
       fs::create_directories(store.base() / "nest");
       store.giveToUnprivileged(store.base() / "nest");
       env["XDG_DATA_HOME"] = (store.base() / "nest/deeper/data").string();
     },
     "restricted"},
    {"missing under a read-only data home",
     [](TempStore& store, Environment&) {
       store.giveToUnprivileged(store.dataHome());
       ::chmod(store.dataHome().c_str(), 0555);
     },
     "restricted"},
    {"missing with missing parents under a read-only folder",
     [](TempStore& store, Environment& env) {
       fs::create_directories(store.base() / "ro");
       ::chmod((store.base() / "ro").c_str(), 0555);
       env["XDG_DATA_HOME"] = (store.base() / "ro/data").string();
     },
     "restricted"},
    {"a link to nothing under a writable data home",
     [](TempStore& store, Environment&) {
       store.giveToUnprivileged(store.dataHome());
       fs::create_directory_symlink(store.base() / "nowhere", store.root());
     },
     "restricted"},
    {"a regular file",
     [](TempStore& store, Environment&) {
       std::ofstream(store.root()) << "not a folder\n";
     },
     "denied"},
    {"a folder without search permission (0600)", rootWithMode(0600), "denied"},
    {"a folder that can only be searched (0100)", rootWithMode(0100), "denied"},
    {"a folder with no permission at all", rootWithMode(0000), "denied"},
    {"a folder of its own (0700)", rootWithMode(0700), "authorized"},
    {"a read-only folder (0500)", rootWithMode(0500), "authorized"},
    {"a folder of another user that all may read",
     [](TempStore& store, Environment&) {
       store.makeDir("acct/list");
       store.setMode(".", 0755);
     },
     "authorized"},
    {"a link to a readable folder",
     [](TempStore& store, Environment&) {
       fs::create_directories(store.base() / "elsewhere/acct");
       store.giveToUnprivileged(store.base() / "elsewhere");
       fs::create_directory_symlink(store.base() / "elsewhere", store.root());
     },
     "authorized"},
    {"a folder that can be searched and written, not read (0300)",
     rootWithMode(0300), "writeOnly"},
};

TEST(CheckPermissionStatus, ReportsTheStateOfTheRoot) {
  for (const auto& c : kCases) {
    TempStore store;
    Environment env = store.environment();
    c.setup(store, env);
    const std::string before = treeSnapshot(store.base());
    RunResult run = runCorvane({"check_permission_status"}, env, kUnprivileged);
    envelopeOf(run);
    EXPECT_EQ(run.out, std::string("{\n  \"success\" : true,\n  \"data\" : "
                                   "{\n    \"status\" : \"") +
                           c.status + "\"\n  }\n}\n")
        << c.name;
    // Looking is not asking: nothing is made, even where it could be.
    EXPECT_EQ(treeSnapshot(store.base()), before) << c.name;
  }
}

TEST(CheckPermissionStatus, IgnoresArguments) {
  TempStore store;
  store.makeDir("acct");
  Json envelope = envelopeOf(runCorvane(
      {"check_permission_status", "now", "please"}, store.environment()));
  ASSERT_TRUE(envelope.is_object());
  EXPECT_EQ(envelope["data"], Json({{"status", "authorized"}}));
}

mode_t modeOf(const fs::path& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return static_cast<mode_t>(-1);
  return info.st_mode;
}

TEST(RequestAccess, MakesAMissingRootPrivateWhateverTheUmask) {
  for (mode_t umask : {mode_t{022}, mode_t{0}, mode_t{077}}) {
    TempStore store;
    store.giveToUnprivileged(store.dataHome());
    RunResult run = runCorvane({"request_access"}, store.environment(),
                               {RunAs::kUnprivileged, umask});
    envelopeOf(run);
    EXPECT_EQ(run.out, "{\n  \"success\" : true\n}\n") << "umask " << umask;
    mode_t mode = modeOf(store.root());
    EXPECT_TRUE(S_ISDIR(mode)) << "umask " << umask;
    EXPECT_EQ(mode & 07777, 0700u) << "umask " << umask;
    struct stat info;
    ASSERT_EQ(::stat(store.root().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, dropsPrivileges() ? kUnprivilegedUid : ::geteuid());

    Json status = envelopeOf(runCorvane({"check_permission_status"},
                                        store.environment(), kUnprivileged));
    ASSERT_TRUE(status.is_object());
    EXPECT_EQ(status["data"]["status"], "authorized") << "umask " << umask;
  }
}

TEST(RequestAccess, MakesNothingAboveTheStoreFolder) {
  TempStore store;
  Environment env = store.environment();
  kCases[1].setup(store, env);
  const std::string before = treeSnapshot(store.base());
  RunResult run = runCorvane({"request_access", "ignored"}, env, kUnprivileged);
  envelopeOf(run);
  EXPECT_EQ(run.out, "{\n  \"success\" : false\n}\n");
  EXPECT_EQ(treeSnapshot(store.base()), before);
}

TEST(RequestAccess, LeavesAnAuthorizedRootAsItIs) {
  TempStore store;
  store.writeFile("acct/list/displayname", "Errands\n");
  store.giveToUnprivileged(store.root());
  store.setMode(".", 0755);
  const std::string before = treeSnapshot(store.base());
  RunResult run =
      runCorvane({"request_access"}, store.environment(), kUnprivileged);
  envelopeOf(run);
  EXPECT_EQ(run.out, "{\n  \"success\" : true\n}\n");
  EXPECT_EQ(treeSnapshot(store.base()), before);
}

TEST(RequestAccess, RefusalIsSuccessFalseAndNothingElse) {
  for (const auto& c : kCases) {
    const std::string status = c.status;
    if (status == "notDetermined" || status == "authorized") continue;
    TempStore store;
    Environment env = store.environment();
    c.setup(store, env);
    const std::string before = treeSnapshot(store.base());
    RunResult run = runCorvane({"request_access"}, env, kUnprivileged);
    envelopeOf(run);
    EXPECT_EQ(run.out, "{\n  \"success\" : false\n}\n") << c.name;
    EXPECT_EQ(treeSnapshot(store.base()), before) << c.name;
  }
}

}  // namespace
}  // namespace corvane::e2e
