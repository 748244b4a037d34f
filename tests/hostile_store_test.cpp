// Stores that are not laid out as corvane would lay them out: symbolic
// links out of the store and in loops, files and folders corvane may not
// read, a root that is a file, and a list that disappears while a query
// reads it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

std::set<std::string> idsOf(const Json& records) {
  std::set<std::string> ids;
  for (const auto& record : records) ids.insert(record["id"]);
  return ids;
}

std::set<std::string> listIdsOf(const Json& lists) {
  std::set<std::string> ids;
  for (const auto& list : lists) ids.insert(list["calendarIdentifier"]);
  return ids;
}

const RunOptions kUnprivileged{RunAs::kUnprivileged};

class HostileStore : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.writeFile("acct/list/item.ics", todoText("item", "Inside"));
    outside_ = store_.base() / "outside";
    fs::create_directories(outside_ / "list");
    std::ofstream(outside_ / "victim.ics", std::ios::binary)
        << todoText("victim", "Outside", {"DUE:20260101T000000Z"});
    std::ofstream(outside_ / "list/victim.ics", std::ios::binary)
        << todoText("victim", "Outside", {"DUE:20260101T000000Z"});
  }

  Json run(const std::vector<std::string>& args,
           const RunOptions& options = {}) {
    return envelopeOf(runCorvane(args, store_.environment(), options));
  }

  // Neither the query nor any command on `id` may reach the target.
  void expectUnreachable(const std::string& listId, const std::string& id) {
    SCOPED_TRACE(id);
    const std::string before = treeSnapshot(store_.base());
    EXPECT_EQ(listIdsOf(run({"list"})["data"]).count(listId), 0u);
    EXPECT_EQ(run({"reminders", listId})["error"],
              "List not found with ID: " + listId);
    Json scheduled = run({"special_reminders", "scheduled"});
    EXPECT_EQ(scheduled["success"], true);
    EXPECT_EQ(scheduled["data"].size(), 0u) << "only the victims are due";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"get", id}, {"toggle", id, "true"}, {"delete", id}})
      EXPECT_EQ(run(args)["error"], "Reminder not found") << args[0];
    EXPECT_EQ(treeSnapshot(store_.base()), before);
  }

  TempStore store_;
  fs::path outside_;
};

TEST_F(HostileStore, ListThatLinksOutsideIsNoList) {
  fs::create_directory_symlink(outside_, store_.root() / "acct/linked");
  expectUnreachable("acct/linked", "acct/linked/victim");
}

TEST_F(HostileStore, AccountThatLinksOutsideHasNoLists) {
  fs::create_directory_symlink(outside_, store_.root() / "linkacct");
  expectUnreachable("linkacct/list", "linkacct/list/victim");
}

TEST_F(HostileStore, ItemThatLinksOutsideIsNoItem) {
  fs::create_symlink(outside_ / "victim.ics",
                     store_.root() / "acct/list/evil.ics");
  fs::create_symlink("../../../outside/victim.ics",
                     store_.root() / "acct/list/relative.ics");
  EXPECT_EQ(idsOf(run({"reminders", "acct/list"})["data"]),
            std::set<std::string>{"acct/list/item"});
  expectUnreachable("acct/nolist", "acct/list/evil");
  expectUnreachable("acct/nolist", "acct/list/relative");
  EXPECT_TRUE(fs::is_symlink(store_.root() / "acct/list/evil.ics"));
}

TEST_F(HostileStore, LinkLoopsAreIgnored) {
  fs::create_symlink("loop.ics", store_.root() / "acct/list/loop.ics");
  fs::create_directory_symlink("looplist", store_.root() / "acct/looplist");
  fs::create_directory_symlink("loopacct", store_.root() / "loopacct");
  // A second name for a list of the store is no list either.
  fs::create_directory_symlink("list", store_.root() / "acct/alias");
  EXPECT_EQ(listIdsOf(run({"list"})["data"]),
            std::set<std::string>{"acct/list"});
  EXPECT_EQ(idsOf(run({"reminders", "acct/list"})["data"]),
            std::set<std::string>{"acct/list/item"});
  EXPECT_EQ(run({"special_reminders", "today"})["success"], true);
  for (const std::string id : {"acct/list/loop", "acct/looplist/item",
                               "loopacct/list/item", "acct/alias/item"}) {
    EXPECT_EQ(run({"get", id})["error"], "Reminder not found") << id;
    EXPECT_EQ(run({"delete", id})["error"], "Reminder not found") << id;
  }
  EXPECT_TRUE(fs::is_symlink(store_.root() / "acct/list/loop.ics"));
}

TEST_F(HostileStore, UnreadableFilesAndFoldersAreLeftOut) {
  store_.writeFile("acct/list/secret.ics", todoText("s", "Secret"), 0600);
  store_.writeFile("acct/locked/hidden.ics", todoText("h", "Hidden"));
  store_.setMode("acct/locked", 0311);  // searchable, not readable
  store_.writeFile("closed/list/gone.ics", todoText("g", "Gone"));
  store_.setMode("closed", 0);
  const std::string before = treeSnapshot(store_.base());

  EXPECT_EQ(idsOf(run({"reminders", "acct/list"}, kUnprivileged)["data"]),
            std::set<std::string>{"acct/list/item"});
  // Found but unreadable: get finds no reminder; a change says why.
  EXPECT_EQ(run({"get", "acct/list/secret"}, kUnprivileged)["error"],
            "Reminder not found");
  EXPECT_EQ(run({"toggle", "acct/list/secret", "true"}, kUnprivileged)["error"],
            "Error updating reminder: Permission was denied.");
  EXPECT_EQ(run({"delete", "acct/list/secret"}, kUnprivileged)["error"],
            "Error deleting reminder: Permission was denied.");

  // A list that cannot be read is a failed fetch, not an empty list.
  EXPECT_EQ(run({"reminders", "acct/locked"}, kUnprivileged)["error"],
            "Unable to fetch reminders");
  // The unreadable account's lists are not seen at all.
  EXPECT_EQ(listIdsOf(run({"list"}, kUnprivileged)["data"]),
            (std::set<std::string>{"acct/list", "acct/locked"}));
  // The smart lists gather what can be read.
  Json scheduled = run({"special_reminders", "scheduled"}, kUnprivileged);
  EXPECT_EQ(scheduled["success"], true);
  EXPECT_EQ(treeSnapshot(store_.base()), before);
}

TEST(HostileRoot, RootThatIsAFile) {
  TempStore store;
  const fs::path root = store.root();
  std::ofstream(root, std::ios::binary) << todoText("r", "I am the root");
  const std::string before = treeSnapshot(store.base());
  auto run = [&](const std::vector<std::string>& args) {
    return envelopeOf(runCorvane(args, store.environment()));
  };
  EXPECT_EQ(run({"check_permission_status"})["data"]["status"], "denied");
  EXPECT_EQ(run({"request_access"}), Json({{"success", false}}));
  EXPECT_EQ(run({"list"})["data"], Json::array());
  EXPECT_EQ(run({"reminders", "a/b"})["error"], "List not found with ID: a/b");
  for (const std::string list : {"today", "scheduled"}) {
    Json special = run({"special_reminders", list});
    EXPECT_EQ(special["success"], false) << list;
    EXPECT_EQ(special["error"], "Unable to fetch reminders") << list;
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"get", "a/b/c"}, {"toggle", "a/b/c", "true"}, {"delete", "a/b/c"}})
    EXPECT_EQ(run(args)["error"], "Reminder not found") << args[0];
  EXPECT_EQ(treeSnapshot(store.base()), before);
}

// The list folder goes away at a random moment of a running query; every
// run still prints one envelope, and what it shows came from that list.
TEST(HostileRoot, ListRemovedWhileAQueryRuns) {
  TempStore store;
  std::mt19937 random(20240305);
  int rounds = 0, successes = 0, failures = 0;
  for (; rounds < 12; ++rounds) {
    for (int i = 0; i < 400; ++i)
      store.writeFile(
          "acct/list/r" + std::to_string(i) + ".ics",
          todoText("r" + std::to_string(i), "Item " + std::to_string(i),
                   {"DUE:20260101T000000Z"}));
    std::vector<BackgroundRun> runs;
    runs.emplace_back(std::vector<std::string>{"reminders", "acct/list"},
                      store.environment(), store.base() / "out-a");
    runs.emplace_back(
        std::vector<std::string>{"special_reminders", "scheduled"},
        store.environment(), store.base() / "out-b");
    runs.emplace_back(std::vector<std::string>{"list"}, store.environment(),
                      store.base() / "out-c");
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    fs::remove_all(store.root() / "acct/list");
    for (auto& background : runs) {
      Json envelope = envelopeOf(background.wait());
      ASSERT_TRUE(envelope.is_object()) << "round " << rounds;
      if (envelope["success"] == false) {
        ++failures;
        continue;
      }
      ++successes;
      for (const auto& record : envelope["data"]) {
        if (!record.contains("id")) continue;  // a list record
        std::string id = record["id"];
        std::string number = id.substr(std::string("acct/list/r").size());
        EXPECT_EQ(record["title"], "Item " + number) << id;
      }
    }
  }
  std::cout << "[ hostile  ] list removed during " << rounds
            << " query rounds: " << successes << " answers, " << failures
            << " failures, all single envelopes\n";
}

}  // namespace
}  // namespace corvane::e2e
