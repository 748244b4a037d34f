// "list" as a caller sees it, on stores laid out the way todoman and
// vdirsyncer leave them, with the clutter that real folders collect.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

const RunOptions kUnprivileged{RunAs::kUnprivileged};

// Members of a list record are found by key, not by position.
nlohmann::json unordered(const Json& value) {
  return nlohmann::json::parse(value.dump());
}

nlohmann::json listRecord(const std::string& identifier,
                          const std::string& title, int type, bool modifiable,
                          const std::string& sourceTitle, int sourceType,
                          const std::string& color) {
  return {{"calendarIdentifier", identifier},
          {"title", title},
          {"type", type},
          {"allowsContentModifications", modifiable},
          {"source", {{"title", sourceTitle}, {"sourceType", sourceType}}},
          {"color", color}};
}

// The lists of a successful "list" run, or an empty array after a failure.
nlohmann::json listedBy(const RunResult& run) {
  Json envelope = envelopeOf(run);
  if (!envelope.is_object()) return nlohmann::json::array();
  EXPECT_EQ(envelope["success"], true) << run.out;
  EXPECT_FALSE(envelope.contains("error")) << run.out;
  EXPECT_TRUE(envelope["data"].is_array()) << run.out;
  return unordered(envelope["data"]);
}

size_t itemFilesIn(const fs::path& dir) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".ics") ++count;
  return count;
}

// Two accounts made the way vdirsyncer and todoman make them, a third with
// a kind corvane does not know, and clutter at every depth.
void makeRealisticStore(const TempStore& store) {
  store.writeFile("Personal/errands/displayname", "Errands\n");
  store.writeFile("Personal/errands/color", "#ff8000\n");
  store.writeFile("alpha/kind", "caldav\n");
  store.writeFile("alpha/displayname", "Work Server\n");
  store.writeFile("alpha/inbox/displayname", "Inbox");
  store.writeFile("alpha/inbox/color", "#FF8000FF");
  store.todomanNew("Errands", {"--due", "2026-12-09 18:00", "--priority",
                               "high", "Buy milk"});
  store.todomanNew("Errands", {"Post the letter"});
  store.todomanNew("Inbox", {"--due", "2026-12-10", "Call the office"});
  ASSERT_EQ(itemFilesIn(store.root() / "Personal/errands"), 2u);
  ASSERT_EQ(itemFilesIn(store.root() / "alpha/inbox"), 1u);

  // A second list with the title of the first: todoman could no longer
  // tell them apart, corvane must show both.
  store.writeFile("Personal/groceries/displayname", "Inbox\n");
  store.writeFile("Personal/groceries/color", "garbage\n");
  store.writeFile("alpha/readonly/displayname", "Shared with me\n");
  store.writeFile("alpha/readonly/color", "None");
  store.writeFile("alpha/locked/displayname", "Hidden\n");
  store.writeFile("alpha/locked/color", "#112233\n");
  store.writeFile("alpha/locked/secret.ics", "BEGIN:VCALENDAR\n");
  store.writeFile("mars/kind", "martian\n");
  store.writeFile("mars/displayname", "None\n");
  store.makeDir("mars/base");
  store.makeDir("mars/Zed");

  // Clutter: none of it is a list.
  store.writeFile("README", "my reminders\n");
  store.writeFile("displayname", "Root\n");
  store.writeFile("stray.ics", "BEGIN:VCALENDAR\n");
  store.writeFile(".hidden/list/displayname", "Hidden list\n");
  store.writeFile(".hidden/list/x.ics", "BEGIN:VCALENDAR\n");
  store.writeFile("alpha/notes.txt", "account notes\n");
  store.writeFile("alpha/stray.ics", "BEGIN:VCALENDAR\n");
  store.writeFile("alpha/.git/HEAD", "ref: refs/heads/main\n");
  store.writeFile("Personal/.trash/displayname", "Trash\n");
  store.writeFile("alpha/inbox/.#swap.ics", "");
  store.writeFile("alpha/inbox/notes.txt", "list notes\n");
  store.writeFile("alpha/inbox/x.ics.tmp-1a2b", "");
  store.writeFile("alpha/inbox/sub/deeper/displayname", "Too deep\n");

  store.giveToUnprivileged(store.root());
  store.setMode("alpha/readonly", 0555);
  store.setMode("alpha/locked", 0000);
}

TEST(ListCatalogue, ShowsEveryListOfARealStoreInByteOrder) {
  TempStore store;
  ASSERT_NO_FATAL_FAILURE(makeRealisticStore(store));
  const std::string before = treeSnapshot(store.base());

  RunResult run = runCorvane({"list"}, store.environment(), kUnprivileged);
  const nlohmann::json expected = {
      listRecord("Personal/errands", "Errands", 0, true, "Personal", 0,
                 "#FF8000"),
      listRecord("Personal/groceries", "Inbox", 0, true, "Personal", 0,
                 "inherit"),
      listRecord("alpha/inbox", "Inbox", 1, true, "Work Server", 2, "#FF8000"),
      // Nothing inside can be read: the folder's own name, no colour.
      listRecord("alpha/locked", "locked", 1, false, "Work Server", 2,
                 "inherit"),
      listRecord("alpha/readonly", "Shared with me", 1, false, "Work Server", 2,
                 "inherit"),
      listRecord("mars/Zed", "Zed", 0, true, "mars", 0, "inherit"),
      listRecord("mars/base", "base", 0, true, "mars", 0, "inherit"),
  };
  const nlohmann::json lists = listedBy(run);
  ASSERT_EQ(lists.size(), expected.size()) << run.out;
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(lists[i], expected[i]) << "list " << i;

  // Listing is reading: nothing is made, touched or removed.
  EXPECT_EQ(treeSnapshot(store.base()), before);
  // And the order is the store's, not chance's.
  EXPECT_EQ(runCorvane({"list"}, store.environment(), kUnprivileged).out,
            run.out);
}

TEST(ListCatalogue, RawTextOfOneList) {
  TempStore store;
  store.writeFile("acct/work/displayname", "Work/Home\n");
  store.writeFile("acct/work/color", "#336699\n");
  RunResult run = runCorvane({"list"}, store.environment());
  const nlohmann::json lists = listedBy(run);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0], listRecord("acct/work", "Work/Home", 0, true, "acct", 0,
                                 "#336699"));
  EXPECT_NE(run.out.find("\"acct\\/work\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"Work\\/Home\""), std::string::npos) << run.out;
  EXPECT_NE(
      run.out.find("\n      \"source\" : {\n        \"title\" : \"acct\",\n"
                   "        \"sourceType\" : 0\n      },\n"),
      std::string::npos)
      << run.out;
}

struct KindCase {
  const char* account;
  const char* kindFile;  // null: no file
  int sourceType;
  int listType;
};

TEST(ListCatalogue, AccountKindGivesSourceTypeAndListType) {
  const KindCase cases[] = {
      {"k0", nullptr, 0, 0},         {"k1", "local\n", 0, 0},
      {"k2", "caldav\n", 2, 1},      {"k3", "exchange", 1, 2},
      {"k4", "subscribed\n", 4, 3},  {"k5", "birthdays\n", 5, 4},
      {"k6", "  caldav \t\n", 2, 1}, {"k7", "martian\n", 0, 0},
      {"k8", "None", 0, 0},          {"k9", "", 0, 0},
  };
  TempStore store;
  for (const auto& c : cases) {
    store.makeDir(fs::path(c.account) / "list");
    if (c.kindFile) store.writeFile(fs::path(c.account) / "kind", c.kindFile);
  }
  const nlohmann::json lists =
      listedBy(runCorvane({"list"}, store.environment()));
  ASSERT_EQ(lists.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(lists[i],
              listRecord(std::string(c.account) + "/list", "list", c.listType,
                         true, c.account, c.sourceType, "inherit"))
        << c.account << " kind " << (c.kindFile ? c.kindFile : "(none)");
  }
}

TEST(ListCatalogue, EveryListOfAnAccountSharesItsSource) {
  TempStore store;
  store.writeFile("server/kind", "exchange\n");
  store.writeFile("server/displayname", "Office\nsecond line\n");
  store.makeDir("server/a");
  store.makeDir("server/b");
  const nlohmann::json lists =
      listedBy(runCorvane({"list"}, store.environment()));
  ASSERT_EQ(lists.size(), 2u);
  for (const auto& list : lists) {
    EXPECT_EQ(list["source"],
              nlohmann::json({{"title", "Office"}, {"sourceType", 1}}));
    EXPECT_EQ(list["type"], 2);
  }
}

struct ColorCase {
  const char* file;  // null: no file
  const char* text;
};

TEST(ListCatalogue, ColorFileGivesUpperCaseHexOrInherit) {
  const ColorCase cases[] = {
      {"#FF8000FF", "#FF8000"},
      {"#ff8000\n", "#FF8000"},
      {"#0a0B0c", "#0A0B0C"},
      {"  #336699 \t\n", "#336699"},
      {"#FFFFFF", "#FFFFFF"},
      {"#000000\n", "#000000"},
      {"#80808000", "#808080"},
      {"#ff8000\nsecond", "#FF8000"},
      {"#12345678\r\n", "#123456"},
      {"\n\n#ff8000\n", "#FF8000"},
      {"garbage", "inherit"},
      {"None", "inherit"},
      {"None\n", "inherit"},
      {"", "inherit"},
      {"\n", "inherit"},
      {"#FFF", "inherit"},
      {"#GG0000", "inherit"},
      {"#FF8000F", "inherit"},
      {"#FF8000FF00", "inherit"},
      {"FF8000", "inherit"},
      {"#ff8000 extra", "inherit"},
      {"rgb(255,128,0)", "#FF8000"},
      {nullptr, "inherit"},
  };
  TempStore store;
  auto nameOf = [](size_t i) {
    return std::string("c") + static_cast<char>('a' + i / 10) +
           static_cast<char>('0' + i % 10);
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    store.makeDir("colors/" + nameOf(i));
    if (cases[i].file)
      store.writeFile("colors/" + nameOf(i) + "/color", cases[i].file);
  }
  const nlohmann::json lists =
      listedBy(runCorvane({"list"}, store.environment()));
  ASSERT_EQ(lists.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(lists[i]["calendarIdentifier"], "colors/" + nameOf(i));
    EXPECT_EQ(lists[i]["color"], cases[i].text)
        << "color file " << (cases[i].file ? cases[i].file : "(none)");
  }
}

struct TitleCase {
  std::string directory;
  const char* file;  // null: no file
  std::string title;
};

TEST(ListCatalogue, DisplaynameFileGivesTheTitle) {
  const TitleCase cases[] = {
      {"d00", "Inbox\n", "Inbox"},
      {"d01", "  Spaced Title \t\n", "Spaced Title"},
      {"d02", "First\nSecond\n", "First"},
      {"d03", "", "d03"},
      {"d04", "None", "d04"},
      {"d05", "None\n", "d05"},
      {"d06", "\r\n \t\nLater line \nLast\n", "Later line"},
      {"d07", "Einkäufe\n", "Einkäufe"},
      {"d08", "Tab\tinside", "Tab\tinside"},
      {"d09", "Windows\r\n", "Windows"},
      {"d10", "Quote \" and \\ back", "Quote \" and \\ back"},
      {"d11", "bad \xff byte\n", "bad \xEF\xBF\xBD byte"},
      {"d12", nullptr, "d12"},
      {"e-café", nullptr, "e-café"},
      {"z\xfe", nullptr, "z\xEF\xBF\xBD"},
  };
  TempStore store;
  for (const auto& c : cases) {
    store.makeDir("names/" + c.directory);
    if (c.file)
      store.writeFile("names/" + c.directory + "/displayname", c.file);
  }
  const nlohmann::json lists =
      listedBy(runCorvane({"list"}, store.environment()));
  ASSERT_EQ(lists.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(lists[i]["title"], cases[i].title) << cases[i].directory;
    EXPECT_EQ(lists[i]["source"]["title"], "names") << cases[i].directory;
  }
  EXPECT_EQ(lists[13]["calendarIdentifier"], "names/e-café");
  EXPECT_EQ(lists[14]["calendarIdentifier"], "names/z\xEF\xBF\xBD");
}

struct EmptyCase {
  const char* name;
  void (*setup)(const TempStore&);
};

TEST(ListCatalogue, StoreWithoutListsGivesAnEmptyArray) {
  const EmptyCase cases[] = {
      {"missing root", [](const TempStore&) {}},
      {"empty root", [](const TempStore& store) { store.makeDir("."); }},
      {"accounts without lists",
       [](const TempStore& store) {
         store.writeFile("acct/kind", "caldav\n");
         store.writeFile("acct/item.ics", "BEGIN:VCALENDAR\n");
         store.makeDir("other");
       }},
      {"only hidden folders and files",
       [](const TempStore& store) {
         store.makeDir(".cache/list");
         store.makeDir("acct/.list");
         store.writeFile("file", "");
       }},
      {"root that is a file",
       [](const TempStore& store) {
         fs::remove(store.root());
         std::ofstream(store.root()) << "x\n";
       }},
      {"root that cannot be read",
       [](const TempStore& store) {
         store.makeDir("acct/list");
         store.giveToUnprivileged(store.root());
         store.setMode(".", 0300);
       }},
  };
  for (const auto& c : cases) {
    TempStore store;
    c.setup(store);
    const std::string before = treeSnapshot(store.base());
    RunResult run = runCorvane({"list"}, store.environment(), kUnprivileged);
    Json envelope = envelopeOf(run);
    ASSERT_TRUE(envelope.is_object()) << c.name;
    EXPECT_EQ(envelope["success"], true) << c.name;
    EXPECT_EQ(envelope["data"], Json::array()) << c.name;
    EXPECT_EQ(envelope.size(), 2u) << c.name;
    EXPECT_EQ(treeSnapshot(store.base()), before) << c.name;
  }
}

}  // namespace
}  // namespace corvane::e2e
