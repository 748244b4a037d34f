// Where corvane looks for the store: the data home of the XDG base
// directory rules, and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/cli_test_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

struct LocationCase {
  const char* name;
  // The value of XDG_DATA_HOME; absent: not set. "<relative>" stands for
  // the data home written without its leading "/".
  std::optional<std::string> dataHome;
  const char* expectedList;
};

TEST(StoreLocation, DataHomeWhenAbsoluteElseHome) {
  const LocationCase cases[] = {
      {"absolute data home", "<absolute>", "from-data/list"},
      {"no data home", std::nullopt, "from-home/list"},
      {"empty data home", "", "from-home/list"},
      // corvane runs from "/", so a relative path would reach the data home.
      {"relative data home", "<relative>", "from-home/list"},
  };
  for (const auto& c : cases) {
    TempStore store;
    store.makeDir("from-data/list");
    fs::create_directories(store.base() /
                           "home/.local/share/corvane/from-home/list");
    Environment env = store.environment();
    if (!c.dataHome)
      env.erase("XDG_DATA_HOME");
    else if (*c.dataHome == "<absolute>")
      env["XDG_DATA_HOME"] = store.dataHome().string();
    else if (*c.dataHome == "<relative>")
      env["XDG_DATA_HOME"] = store.dataHome().string().substr(1);
    else
      env["XDG_DATA_HOME"] = *c.dataHome;

    Json envelope = envelopeOf(runCorvane({"list"}, env));
    ASSERT_TRUE(envelope.is_object()) << c.name;
    ASSERT_EQ(envelope["data"].size(), 1u) << c.name << "\n" << envelope.dump();
    EXPECT_EQ(envelope["data"][0]["calendarIdentifier"], c.expectedList)
        << c.name;
  }
}

TEST(StoreLocation, RequestAccessMakesTheRootUnderHome) {
  TempStore store;
  Environment env = store.environment();
  env.erase("XDG_DATA_HOME");
  envelopeOf(runCorvane({"request_access"}, env));
  // The XDG rules let a program make its missing data home, 0700.
  for (const char* folder :
       {".local", ".local/share", ".local/share/corvane"}) {
    fs::path made = store.base() / "home" / folder;
    EXPECT_TRUE(fs::is_directory(made)) << folder;
    EXPECT_EQ(fs::status(made).permissions(), fs::perms(0700)) << folder;
  }
  EXPECT_FALSE(fs::exists(store.root()));
  // Never the home itself.
  env["HOME"] = (store.base() / "no-home").string();
  EXPECT_EQ(envelopeOf(runCorvane({"request_access"}, env))["success"], false);
  EXPECT_FALSE(fs::exists(store.base() / "no-home"));
}

}  // namespace
}  // namespace corvane::e2e
