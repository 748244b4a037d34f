// Identifiers that try to leave the store or to name more than one item.
// corvane must treat each as naming nothing, leave every file where it is,
// and let "delete" of a real reminder remove exactly that one file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

// Every regular file below `top` with its bytes, and every folder.
std::map<std::string, std::string> contentsBelow(const fs::path& top) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    std::string name = fs::relative(entry.path(), top).string();
    if (entry.is_symlink())
      contents[name] = "link to " + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file())
      contents[name] = readBytes(entry.path()).value_or("<unreadable>");
    else
      contents[name] = "<folder>";
  }
  return contents;
}

// A store with reminders in it and, around it, valid reminders that lie
// outside it where a path built carelessly from an identifier would land.
class HostileIdentifiers : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.writeFile("acct/list/item.ics", todoText("item", "Inside"));
    store_.writeFile("acct/list/other.ics", todoText("other", "Other"));
    store_.writeFile("acct/list/new\nline.ics", todoText("nl", "Newline"));
    // A folder named like an item, and a reminder whose UID is the name
    // of folders of the store.
    store_.writeFile("acct/list/sub.ics/inner.ics", todoText("x", "Deeper"));
    store_.writeFile("acct/list/dir-uid.ics", todoText("list", "UID list"));
    // Outside: beside the root, above it, and in the root at the wrong
    // depth.
    writeOutside(store_.dataHome() / "outside/victim.ics");
    writeOutside(store_.base() / "victim.ics");
    writeOutside(store_.base() / "acct/list/victim.ics");
    store_.writeFile("victim.ics", todoText("v", "Wrong depth"));
    store_.writeFile("acct/victim.ics", todoText("v", "Wrong depth"));
  }

  void writeOutside(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << todoText("victim", "Outside");
  }

  // Each command that takes an identifier, with `id`; every one must fail.
  void expectNamesNothing(const std::string& id) {
    const std::string shown = id.substr(0, 60);
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"get", id},
                                               {"toggle", id, "true"},
                                               {"toggle", id, "false"},
                                               {"delete", id}}) {
      Json envelope = envelopeOf(runCorvane(args, store_.environment()));
      ASSERT_TRUE(envelope.is_object()) << args[0] << " " << shown;
      EXPECT_EQ(envelope["success"], false) << args[0] << " " << shown;
      EXPECT_EQ(envelope["error"], "Reminder not found")
          << args[0] << " " << shown;
    }
    Json listed =
        envelopeOf(runCorvane({"reminders", id}, store_.environment()));
    ASSERT_TRUE(listed.is_object()) << shown;
    EXPECT_EQ(listed["success"], false) << shown;
    const std::string error = listed["error"];
    EXPECT_EQ(error.substr(0, 24), "List not found with ID: ") << shown;
    // The identifier comes back as it was typed, repaired only where it
    // was not UTF-8.
    if (error.find("\xEF\xBF\xBD") == std::string::npos) {
      EXPECT_EQ(error, "List not found with ID: " + id) << shown;
    }
    Json special =
        envelopeOf(runCorvane({"special_reminders", id}, store_.environment()));
    EXPECT_EQ(special["success"], false) << shown;
  }

  TempStore store_;
};

TEST_F(HostileIdentifiers, NoIdentifierReachesOutsideTheStore) {
  const std::string absolute = (store_.dataHome() / "outside/victim").string();
  const std::vector<std::string> ids = {
      "..",
      "../..",
      "../../..",
      "../outside/victim",
      "../../victim",
      "../../acct/list/victim",
      "acct/../victim",
      "acct/list/../victim",
      "acct/list/../../victim",
      "acct/list/../../../outside/victim",
      "acct/./list/item",
      "./acct/list/item",
      "acct//list/item",
      "acct/list//item",
      "acct/list/item/",
      "acct/list/item.ics",
      "/acct/list/item",
      absolute,
      "/" + absolute,
      "/etc/passwd",
      "acct/list/sub.ics/inner",
      "acct/list/sub",
      "acct",
      "acct/victim",
      "victim",
      "acct/list/item\n",
      "\nacct/list/item",
      "acct\n/list/item",
      "acct/list\n/item",
      "acct/list/new",
      "acct/list/line",
      "acct/list/" + std::string(100'000, 'a'),
      std::string(100'000, 'a'),
      [] {
        std::string climb;
        while (climb.size() < 100'000) climb += "../";
        return climb + "victim";
      }(),
      "acct/list/" + std::string(251, 'f'),
      "acct/list/" + std::string(252, 'f'),
      "acct/list/\xFF\xFE",
      "acct/list/item\xC0\xAF..\xC0\xAFvictim",
      "",
      " ",
      "*",
      "acct/list/*",
      "acct/*/item",
  };
  const auto before = contentsBelow(store_.base());
  for (const auto& id : ids) {
    SCOPED_TRACE(id.substr(0, 60));
    expectNamesNothing(id);
  }
  EXPECT_EQ(contentsBelow(store_.base()), before);
}

TEST_F(HostileIdentifiers, ReadOnlyCommandsShowNothingFromOutside) {
  // "get" is the one command that would print what a stray path reached.
  for (const std::string id :
       {"../outside/victim", "../../victim", "../../acct/list/victim"}) {
    RunResult run = runCorvane({"get", id}, store_.environment());
    EXPECT_EQ(run.out.find("Outside"), std::string::npos) << id;
  }
  Json scheduled = envelopeOf(
      runCorvane({"special_reminders", "scheduled"}, store_.environment()));
  Json everything =
      envelopeOf(runCorvane({"reminders", "acct/list"}, store_.environment()));
  std::set<std::string> titles;
  for (const auto& record : everything["data"]) titles.insert(record["title"]);
  EXPECT_EQ(titles,
            (std::set<std::string>{"Inside", "Other", "Newline", "UID list"}));
}

TEST_F(HostileIdentifiers, AUidNamesNothingTheFileNameDoes) {
  // The file's UID is "list", a folder of the store: irrelevant to lookup.
  Json got = envelopeOf(
      runCorvane({"get", "acct/list/dir-uid"}, store_.environment()));
  EXPECT_EQ(got["data"]["title"], "UID list");
  for (const std::string id : {"acct/list/list", "acct/list", "list"}) {
    EXPECT_EQ(
        envelopeOf(runCorvane({"get", id}, store_.environment()))["success"],
        false)
        << id;
  }
  // A folder named "sub.ics" is no item, and "delete" leaves it whole.
  const auto before = contentsBelow(store_.base());
  EXPECT_EQ(envelopeOf(runCorvane({"delete", "acct/list/sub"},
                                  store_.environment()))["error"],
            "Reminder not found");
  EXPECT_EQ(contentsBelow(store_.base()), before);
}

TEST_F(HostileIdentifiers, DeleteRemovesExactlyOneFile) {
  for (const std::string id : {"acct/list/item", "acct/list/new\nline"}) {
    auto expected = contentsBelow(store_.base());
    ASSERT_EQ(expected.erase("data/corvane/" + id + ".ics"), 1u) << id;
    Json deleted = envelopeOf(runCorvane({"delete", id}, store_.environment()));
    EXPECT_EQ(deleted["success"], true) << id;
    EXPECT_EQ(contentsBelow(store_.base()), expected) << id;
    // A second delete of the same identifier finds nothing.
    EXPECT_EQ(
        envelopeOf(runCorvane({"delete", id}, store_.environment()))["error"],
        "Reminder not found")
        << id;
    EXPECT_EQ(contentsBelow(store_.base()), expected) << id;
  }
}

// Folder and file names that are not UTF-8 are printed repaired (U+FFFD
// for each bad byte); what is printed selects what it was printed for,
// and two names printed alike select neither.
TEST(NamesNotUtf8, PrintedIdentifiersSelectWhatTheyWerePrintedFor) {
  TempStore store;
  writeDueTodos(
      store,
      {{"acc\xFF/li\xFEst/a.ics", "a", "In a bad folder", "20300101T000000Z"},
       {"ok/list/it\xFFm.ics", "b", "Bad file name", "20300101T000000Z"},
       {"ok/list/tw\xFEin.ics", "c", "Twin one", "20300101T000000Z"},
       {"ok/list/tw\xFDin.ics", "d", "Twin two", "20300101T000000Z"}});
  Json scheduled = envelopeOf(
      runCorvane({"special_reminders", "scheduled"}, store.environment()));
  ASSERT_EQ(scheduled["data"].size(), 4u) << scheduled;
  std::set<std::string> lists;
  for (const auto& record : scheduled["data"]) {
    std::string id = record["id"], title = record["title"];
    std::string list = record["calendar"];
    lists.insert(list);
    Json got = envelopeOf(runCorvane({"get", id}, store.environment()));
    if (title.starts_with("Twin")) {
      // Both print as "ok/list/tw\uFFFDin": corvane cannot tell which.
      EXPECT_EQ(got["success"], false) << id;
      continue;
    }
    EXPECT_EQ(got["data"]["title"], title) << id;
    Json inList =
        envelopeOf(runCorvane({"reminders", list}, store.environment()));
    EXPECT_EQ(inList["success"], true) << list;
    EXPECT_EQ(envelopeOf(runCorvane({"toggle", id, "true"},
                                    store.environment()))["success"],
              true)
        << id;
    EXPECT_EQ(
        envelopeOf(runCorvane({"delete", id}, store.environment()))["success"],
        true)
        << id;
  }
  EXPECT_EQ(lists, (std::set<std::string>{"acc\xEF\xBF\xBD/li\xEF\xBF\xBDst",
                                          "ok/list"}));
  // A list identifier printed by "list" selects its list, and plain UTF-8
  // names are unchanged.
  Json catalogue = envelopeOf(runCorvane({"list"}, store.environment()));
  for (const auto& list : catalogue["data"])
    EXPECT_TRUE(lists.count(list["calendarIdentifier"].get<std::string>()))
        << list;
  EXPECT_FALSE(fs::exists(store.root() / "ok/list/it\xFFm.ics"));
  EXPECT_TRUE(fs::exists(store.root() / "ok/list/tw\xFEin.ics"));
}

}  // namespace
}  // namespace corvane::e2e
