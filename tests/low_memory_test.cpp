// Memory running out in the middle of a run, at allocations spread over
// all that the run makes, C++'s and those of the C libraries (libical, the
// C library) alike: each run still answers with exactly one envelope, the
// command's own failure (or its usual answer where the failure was
// absorbed), nothing on standard error, and never crashes or aborts.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/calendar_text.h"
#include "tests/cli_test_support.h"

namespace corvane::e2e {
namespace {

Json failure(const std::string& message) {
  return {{"success", false}, {"error", message}};
}

TEST(LowMemory, FailingAllocationsGiveTheCommandsOwnFailure) {
  TempStore store;
  const std::string item = todoText("r", "Due", {"DUE:20200101T100000Z"});
  const std::filesystem::path count = store.base() / "allocations";
  struct Case {
    std::vector<std::string> args;
    Json failure;
  } cases[] = {
      {{"special_reminders", "today"}, failure("Unable to fetch reminders")},
      {{"toggle", "a/l/r", "true"},
       failure("Error updating reminder: Cannot allocate memory")},
      {{"delete", "a/l/r"},
       failure("Error deleting reminder: Cannot allocate memory")},
      {{"list"}, failure("Cannot allocate memory")},
      {{"request_access"}, Json{{"success", false}}},
  };
  for (const auto& c : cases) {
    Environment environment = store.environment();
    environment["LD_PRELOAD"] = CORVANE_ALLOCATION_SHIM;
    environment["ALLOCATION_SHIM_COUNT_TO"] = count.string();
    store.writeFile("a/l/r.ics", item);
    const Json answer = envelopeOf(runCorvane(c.args, environment));
    long allocations = 0;
    std::ifstream(count) >> allocations;
    ASSERT_GT(allocations, 10) << c.args[0];
    environment.erase("ALLOCATION_SHIM_COUNT_TO");
    // About a hundred runs per command: every allocation is a run of its
    // own.
    const long step = allocations / 100 + 1;
    int failed = 0, runs = 0;
    for (long n = 1; n <= allocations; n += step, ++runs) {
      store.writeFile("a/l/r.ics", item);
      environment["ALLOCATION_SHIM_FAILS"] = std::to_string(n);
      const Json envelope = envelopeOf(runCorvane(c.args, environment));
      if (envelope != answer) {
        EXPECT_EQ(envelope, c.failure) << c.args[0] << " allocation " << n;
        ++failed;
      }
    }
    // Most allocations are on the road to the answer.
    EXPECT_GT(failed, runs / 2) << c.args[0];
  }
}

}  // namespace
}  // namespace corvane::e2e
