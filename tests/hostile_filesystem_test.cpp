// The file system refusing corvane's changes: a read-only list, a full disk
// (a real one where a small tmpfs can be mounted, and always one faked by
// making every write fail), and corvane killed in the middle of writing.
// Each refusal must come back as an envelope with the reason, and no item
// file may ever be left half written.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kNoSpace = "There is no space left on the device.";
const std::string kReadOnly = "The list is read-only; nothing was written.";

// A tmpfs mounted over a folder for one test, unmounted at the end.
class SmallTmpfs {
 public:
  SmallTmpfs(const fs::path& at, const std::string& options) : at_(at) {
    fs::create_directories(at);
    if (::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0)
      mounted_ = true;
    else
      reason_ = std::strerror(errno);
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  bool remountReadOnly() {
    return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                   nullptr) == 0;
  }

 private:
  fs::path at_;
  bool mounted_ = false;
  std::string reason_;
};

// Writes into `folder` until the file system is full.
void fill(const fs::path& folder) {
  std::string block(4096, 'f');
  for (int n = 0;; ++n) {
    std::ofstream filler(folder / ("filler" + std::to_string(n)),
                         std::ios::binary);
    for (int i = 0; i < 64 && filler; ++i) filler.write(block.data(), 4096);
    filler.flush();
    if (!filler) break;
  }
  // What the last small writes leave free goes as well.
  for (int n = 0; n < 64; ++n) {
    std::ofstream tail(folder / ("tail" + std::to_string(n)), std::ios::binary);
    tail << 'x';
    tail.flush();
    if (!tail) break;
  }
}

// Run as the unprivileged user: the list folder belongs to root, so it may
// only be read; one item is the user's own, the other root's.
TEST(HostileFilesystem, ReadOnlyListRefusesChangesWithTheReason) {
  TempStore store;
  store.writeFile("acct/list/mine.ics", todoText("mine", "Mine"));
  store.writeFile("acct/list/roots.ics", todoText("roots", "Root's"));
  store.giveToUnprivileged(store.root() / "acct/list/mine.ics");
  const RunOptions unprivileged{RunAs::kUnprivileged};
  auto run = [&](const std::vector<std::string>& args) {
    return envelopeOf(runCorvane(args, store.environment(), unprivileged));
  };
  const std::string before = treeSnapshot(store.base());
  EXPECT_EQ(run({"list"})["data"][0]["allowsContentModifications"], false);
  if (dropsPrivileges()) {
    EXPECT_EQ(run({"toggle", "acct/list/mine", "true"})["error"],
              "Error updating reminder: " + kReadOnly);
    EXPECT_EQ(run({"delete", "acct/list/mine"})["error"],
              "Error deleting reminder: " + kReadOnly);
  }
  // The folder's refusal comes first: it is what stops every change.
  EXPECT_EQ(run({"toggle", "acct/list/roots", "true"})["error"],
            "Error updating reminder: " + kReadOnly);
  Json deleted = run({"delete", "acct/list/roots"});
  EXPECT_EQ(deleted["success"], false);
  EXPECT_EQ(
      deleted["error"].get<std::string>().rfind("Error deleting reminder: ", 0),
      0u);
  EXPECT_EQ(run({"get", "acct/list/mine"})["data"]["isCompleted"], false);
  EXPECT_EQ(treeSnapshot(store.base()), before);
}

TEST(HostileFilesystem, ReadOnlyMountRefusesChangesWithTheReason) {
  TempStore store;
  SmallTmpfs tmpfs(store.dataHome(), "size=1m");
  if (!tmpfs.mounted()) GTEST_SKIP() << "no tmpfs here: " << tmpfs.reason();
  const std::string text = todoText("ro", "On a read-only mount");
  store.writeFile("acct/list/item.ics", text);
  ASSERT_TRUE(tmpfs.remountReadOnly());
  auto run = [&](const std::vector<std::string>& args) {
    return envelopeOf(runCorvane(args, store.environment()));
  };
  EXPECT_EQ(run({"list"})["data"][0]["allowsContentModifications"], false);
  EXPECT_EQ(run({"toggle", "acct/list/item", "true"})["error"],
            "Error updating reminder: " + kReadOnly);
  EXPECT_EQ(run({"delete", "acct/list/item"})["error"],
            "Error deleting reminder: " + kReadOnly);
  EXPECT_EQ(readBytes(store.root() / "acct/list/item.ics"), text);
}

TEST(HostileFilesystem, FullTmpfsRefusesToggleButAllowsDelete) {
  TempStore store;
  SmallTmpfs tmpfs(store.dataHome(), "size=256k");
  if (!tmpfs.mounted()) GTEST_SKIP() << "no tmpfs here: " << tmpfs.reason();
  const std::string text = todoText("full", "On a full disk");
  store.writeFile("acct/list/item.ics", text);
  store.writeFile("acct/list/other.ics", todoText("other", "Other"));
  fill(store.dataHome());
  const fs::path list = store.root() / "acct/list";
  const auto names = namesIn(list);

  Json toggled = envelopeOf(
      runCorvane({"toggle", "acct/list/item", "true"}, store.environment()));
  EXPECT_EQ(toggled["error"], "Error updating reminder: " + kNoSpace);
  EXPECT_EQ(readBytes(list / "item.ics"), text);
  EXPECT_EQ(namesIn(list), names) << "no temporary file may be left";
  // Reading needs no space.
  EXPECT_EQ(envelopeOf(runCorvane({"get", "acct/list/item"},
                                  store.environment()))["data"]["title"],
            "On a full disk");
  // Deleting frees space rather than needing it.
  EXPECT_EQ(envelopeOf(runCorvane({"delete", "acct/list/other"},
                                  store.environment()))["success"],
            true);
  EXPECT_FALSE(fs::exists(list / "other.ics"));
}

TEST(HostileFilesystem, FailingWritesRefuseToggleAndKeepTheFile) {
  TempStore store;
  const std::string text = todoText("shim", "Writes fail", {"PRIORITY:1"});
  store.writeFile("acct/list/item.ics", text);
  const fs::path list = store.root() / "acct/list";
  const auto names = namesIn(list);
  Environment environment = store.environment();
  environment["LD_PRELOAD"] = CORVANE_ENOSPC_SHIM;
  // A sanitizer build's runtime wants to be loaded first; the shim only
  // replaces write calls, so the order does not matter here.
  environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
  for (const std::string state : {"true", "false"}) {
    Json toggled = envelopeOf(
        runCorvane({"toggle", "acct/list/item", state}, environment));
    EXPECT_EQ(toggled["error"], "Error updating reminder: " + kNoSpace)
        << state;
    EXPECT_EQ(readBytes(list / "item.ics"), text) << state;
    EXPECT_EQ(namesIn(list), names) << state;
  }
  // Every other command answers as usual through the same shim.
  EXPECT_EQ(envelopeOf(runCorvane({"get", "acct/list/item"},
                                  environment))["data"]["priority"],
            1);
}

// Under a file-size limit the new file cannot be written: the system says
// so (it does not kill corvane), and the temporary file goes again.
TEST(HostileFilesystem, FileSizeLimitRefusesToggleAndKeepsTheFile) {
  TempStore store;
  const std::string text =
      todoText("big", "Too big", {"DESCRIPTION:" + std::string(20'000, 'd')});
  store.writeFile("acct/list/item.ics", text);
  const fs::path list = store.root() / "acct/list";
  const auto names = namesIn(list);
  RunResult run = runProgram(
      "/bin/sh",
      {"sh", "-c", "ulimit -f 8 && exec \"$0\" toggle acct/list/item true",
       CORVANE_BINARY},
      store.environment());
  EXPECT_EQ(envelopeOf(run)["error"],
            "Error updating reminder: The file would be larger than this "
            "system allows.");
  EXPECT_EQ(readBytes(list / "item.ics"), text);
  EXPECT_EQ(namesIn(list), names);
}

// Fewer descriptors than the threads of a query would hold at once: the
// query waits for them and answers in full, however few are left.
TEST(HostileFilesystem, FewDescriptorsSlowAQueryButKeepItsAnswer) {
  TempStore store;
  std::vector<DueTodo> todos;
  for (int i = 0; i < 300; ++i)
    todos.push_back({"acct/list" + std::to_string(i % 3) + "/t" +
                         std::to_string(i) + ".ics",
                     "u" + std::to_string(i), "Task", "20260105T090000Z"});
  writeDueTodos(store, todos);
  for (const char* limit : {"8", "6"}) {
    RunResult run =
        runProgram("/bin/sh",
                   {"sh", "-c",
                    std::string("ulimit -n ") + limit +
                        " && exec \"$0\" special_reminders scheduled",
                    CORVANE_BINARY},
                   store.environment());
    Json answer = envelopeOf(run);
    ASSERT_TRUE(answer.is_object()) << limit << ": " << run.out;
    EXPECT_EQ(answer["success"], true) << limit;
    EXPECT_EQ(answer["data"].size(), todos.size()) << limit;
  }
}

// Killed at random moments while it toggles, corvane leaves the item
// wholly as it was or wholly changed, never a mixture or a stump.
TEST(HostileFilesystem, KilledWhileWritingLeavesOldOrNew) {
  TempStore store;
  const std::string original =
      todoText("killed", "Killed mid-write",
               {"DUE;TZID=Europe/Berlin:20260105T090000", "CATEGORIES:a,b",
                "DESCRIPTION:" + std::string(200'000, 'd'), "X-KEEP:me"});
  store.writeFile("acct/list/item.ics", original);
  const fs::path file = store.root() / "acct/list/item.ics";
  const std::string kept = withoutCompletionLines(original);
  // Kills land anywhere in a run: before it reads, while it writes the
  // temporary file, around the rename, after it answered.
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(envelopeOf(runCorvane({"toggle", "acct/list/item", "false"},
                                  store.environment()))["success"],
            true);
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - started)
                  .count() +
              1000;
  std::mt19937 random(8);
  int rounds = 0, finished = 0, killed = 0;
  std::string previous = readBytes(file).value();
  for (; rounds < 150; ++rounds) {
    BackgroundRun toggle(
        {"toggle", "acct/list/item", rounds % 2 ? "false" : "true"},
        store.environment(), store.base() / "out");
    ASSERT_TRUE(toggle.started());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % span));
    toggle.kill();
    RunResult result = toggle.wait();
    if (result.exitStatus == 0)
      ++finished;
    else
      ++killed;
    std::string now = readBytes(file).value_or("<missing>");
    bool completed = false;
    ASSERT_TRUE(isWholeTodo(now, nullptr, &completed))
        << "round " << rounds << ": " << now.substr(0, 200);
    ASSERT_EQ(withoutCompletionLines(now), kept) << "round " << rounds;
    if (now != previous) {
      // A new version is the one asked for.
      EXPECT_EQ(completed, rounds % 2 == 0) << "round " << rounds;
    }
    previous = now;
  }
  // What a crash leaves behind is hidden and no item.
  for (const auto& name : namesIn(file.parent_path()))
    EXPECT_TRUE(name == "item.ics" || name[0] == '.') << name;
  Json listed =
      envelopeOf(runCorvane({"reminders", "acct/list"}, store.environment()));
  EXPECT_EQ(listed["data"].size(), 1u);
  std::cout << "[ hostile  ] " << rounds
            << " toggles killed at random: " << killed << " killed, "
            << finished << " finished, "
            << namesIn(file.parent_path()).size() - 1
            << " hidden temporaries left\n";
}

}  // namespace
// A file its owner made read-only in a list the user may change: the file
// is kept as it is, though replacing it through the folder would work.
TEST(HostileFilesystem, ReadOnlyFileRefusesChangesWithTheReason) {
  if (!dropsPrivileges()) GTEST_SKIP() << "needs to run as root";
  TempStore store;
  store.writeFile("acct/list/kept.ics", todoText("kept", "Kept"));
  store.giveToUnprivileged(store.root() / "acct/list");
  store.giveToUnprivileged(store.root() / "acct/list/kept.ics");
  store.setMode(store.root() / "acct/list/kept.ics", 0444);
  const RunOptions unprivileged{RunAs::kUnprivileged};
  auto run = [&](const std::vector<std::string>& args) {
    return envelopeOf(runCorvane(args, store.environment(), unprivileged));
  };
  const std::string before = treeSnapshot(store.base());
  const std::string readOnlyFile = "The reminder's file is read-only.";
  EXPECT_EQ(run({"toggle", "acct/list/kept", "true"})["error"],
            "Error updating reminder: " + readOnlyFile);
  EXPECT_EQ(run({"delete", "acct/list/kept"})["error"],
            "Error deleting reminder: " + readOnlyFile);
  EXPECT_EQ(treeSnapshot(store.base()), before);
}

}  // namespace corvane::e2e
