// The command line as a caller sees it: the usage line, the command table's
// argument checks and the envelope that carries their errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace corvane::e2e {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(UsageLine, NamesTheProgramAsInvokedAndExitsWithOne) {
  TempStore store;
  for (const std::string& argv0 :
       {std::string(CORVANE_BINARY), std::string("corvane"),
        std::string("./odd dir/my-corvane"), std::string("")}) {
    RunResult run = runProgram(CORVANE_BINARY, {argv0}, store.environment());
    EXPECT_EQ(run.exitStatus, 1) << argv0;
    EXPECT_EQ(run.out, "Usage: " + argv0 + " <command> [args...]\n") << argv0;
    EXPECT_EQ(run.err, "") << argv0;
  }
  // Asking for the usage line is no reason to touch the store.
  EXPECT_FALSE(std::filesystem::exists(store.root()));
}

// The usage line is plain text, not an envelope, so the path comes out as
// it was invoked, byte for byte, even when it is not UTF-8.
TEST(UsageLine, NamesAPathThatIsNotUtf8ByteForByte) {
  TempStore store;
  const std::string argv0 = "bin/\xff\xfe-corvane";
  RunResult run = runProgram(CORVANE_BINARY, {argv0}, store.environment());
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "Usage: " + argv0 + " <command> [args...]\n");
  EXPECT_EQ(run.err, "");
}

struct CountCase {
  std::vector<std::string> args;
  std::string error;
};

TEST(ArgumentCounts, EachCommandThatDoesNotFitGivesItsMessage) {
  const std::string reminders =
      "List ID is required for 'reminders' command. Usage: reminders "
      "<list_id> [completion_status] [sort_by]";
  const std::string toggle =
      "Reminder ID and completion status are required for 'toggle' command";
  const std::string del = "Reminder ID is required for 'delete' command";
  const std::string get = "Reminder ID is required for 'get' command";
  const std::string special =
      "Special list ID is required. Usage: special_reminders <list_id> "
      "[completion_status] [sort_by]";
  const CountCase cases[] = {
      {{"reminders"}, reminders},
      {{"toggle"}, toggle},
      {{"toggle", "a/b/c"}, toggle},
      {{"toggle", "a/b/c", "true", "extra"}, toggle},
      {{"delete"}, del},
      {{"delete", "a/b/c", "a/b/d"}, del},
      {{"get"}, get},
      {{"get", "a/b/c", "a/b/d"}, get},
      {{"special_reminders"}, special},
  };
  TempStore store;
  store.writeFile("acct/list/item.ics", "not looked at\n");
  const std::string before = treeSnapshot(store.base());
  for (const auto& c : cases) {
    std::string words;
    for (const auto& arg : c.args) words += arg + " ";
    Json envelope = envelopeOf(runCorvane(c.args, store.environment()));
    ASSERT_TRUE(envelope.is_object()) << words;
    EXPECT_EQ(envelope.size(), 2u) << words;
    EXPECT_EQ(envelope["success"], false) << words;
    EXPECT_EQ(envelope["error"], c.error) << words;
  }
  // A refused "delete" or "toggle" must not have reached the item.
  EXPECT_EQ(treeSnapshot(store.base()), before);
}

TEST(ArgumentCounts, ErrorEnvelopeHasTheExactPrettyForm) {
  TempStore store;
  RunResult run = runCorvane({"get"}, store.environment());
  envelopeOf(run);
  EXPECT_EQ(run.out,
            "{\n  \"success\" : false,\n  \"error\" : \"Reminder ID is "
            "required for 'get' command\"\n}\n");
}

TEST(ListCommand, IgnoresFurtherWords) {
  TempStore store;
  store.writeFile("acct/list/displayname", "Errands\n");
  store.writeFile("acct/list/color", "#336699");
  RunResult plain = runCorvane({"list"}, store.environment());
  Json envelope = envelopeOf(plain);
  ASSERT_TRUE(envelope.is_object());
  ASSERT_EQ(envelope["data"].size(), 1u);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list", "extra", "words"},
        std::vector<std::string>{"list", ""},
        std::vector<std::string>{"list", "--help"}}) {
    RunResult extra = runCorvane(args, store.environment());
    envelopeOf(extra);
    EXPECT_EQ(extra.out, plain.out) << args.back();
  }
}

TEST(UnknownCommand, CapitalsAreNotACommandWord) {
  TempStore store;
  RunResult run = runCorvane({"LIST"}, store.environment());
  envelopeOf(run);
  EXPECT_EQ(run.out,
            "{\n  \"success\" : false,\n  \"error\" : \"Unknown command: "
            "LIST\"\n}\n");
}

struct UnknownCase {
  std::string word;
  std::string error;  // as the JSON string holds it
};

TEST(UnknownCommand, ErrorRepeatsTheWord) {
  const UnknownCase cases[] = {
      {"", "Unknown command: "},
      {"Check_Permission_Status", "Unknown command: Check_Permission_Status"},
      {"list ", "Unknown command: list "},
      {" list", "Unknown command:  list"},
      {"request-access", "Unknown command: request-access"},
      {"a/b", "Unknown command: a/b"},
      {"tab\there \"quoted\" back\\slash",
       "Unknown command: tab\there \"quoted\" back\\slash"},
      {"списки", "Unknown command: списки"},
      {"リスト", "Unknown command: リスト"},
      {"x\xffy", "Unknown command: x" + kReplacement + "y"},
      {"\xff\xfe", "Unknown command: " + kReplacement + kReplacement},
  };
  TempStore store;
  for (const auto& c : cases) {
    Json envelope = envelopeOf(runCorvane({c.word}, store.environment()));
    ASSERT_TRUE(envelope.is_object()) << c.word;
    EXPECT_EQ(envelope.size(), 2u) << c.word;
    EXPECT_EQ(envelope["success"], false) << c.word;
    EXPECT_EQ(envelope["error"], c.error) << c.word;
  }
}

TEST(UnknownCommand, IgnoresItsArguments) {
  TempStore store;
  Json envelope =
      envelopeOf(runCorvane({"lists", "get", "toggle"}, store.environment()));
  ASSERT_TRUE(envelope.is_object());
  EXPECT_EQ(envelope["error"], "Unknown command: lists");
}

TEST(UnknownCommand, RawTextEscapesSlashAndKeepsOtherScripts) {
  TempStore store;
  RunResult slash = runCorvane({"a/b"}, store.environment());
  envelopeOf(slash);
  EXPECT_NE(slash.out.find("\"error\" : \"Unknown command: a\\/b\""),
            std::string::npos)
      << slash.out;

  RunResult cyrillic = runCorvane({"списки"}, store.environment());
  envelopeOf(cyrillic);
  EXPECT_NE(cyrillic.out.find("\"Unknown command: списки\""), std::string::npos)
      << cyrillic.out;
  EXPECT_EQ(cyrillic.out.find("\\u"), std::string::npos) << cyrillic.out;

  RunResult invalid = runCorvane({"\xff\xfe"}, store.environment());
  envelopeOf(invalid);
  EXPECT_NE(invalid.out.find("\"Unknown command: " + kReplacement +
                             kReplacement + "\""),
            std::string::npos)
      << invalid.out;
}

}  // namespace
}  // namespace corvane::e2e
