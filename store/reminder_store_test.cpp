#include "store/reminder_store.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(ReminderStoreTest, StatusWords) {
  struct Case {
    int status;
    std::string text;
  } cases[] = {
      {0, "notDetermined"}, {1, "restricted"}, {2, "denied"},
      {3, "authorized"},    {4, "writeOnly"},  {5, "unknown"},
      {-1, "unknown"},      {99, "unknown"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(authorizationStatusText(c.status), c.text) << c.status;
}

}  // namespace
}  // namespace corvane
