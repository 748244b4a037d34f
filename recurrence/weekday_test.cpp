#include "recurrence/weekday.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(WeekdayTest, NamesTheStoreNumbers) {
  const struct {
    int weekday;
    const char* name;
  } cases[] = {
      {1, "Sunday"},       {2, "Monday"},      {3, "Tuesday"},
      {4, "Wednesday"},    {5, "Thursday"},    {6, "Friday"},
      {7, "Saturday"},     {0, "Unknown Day"}, {8, "Unknown Day"},
      {-1, "Unknown Day"}, {9, "Unknown Day"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(weekdayName(c.weekday), c.name) << c.weekday;
}

TEST(WeekdayTest, OrderHoldsTheSevenNamesSundayFirst) {
  WeekdayOrder order = makeWeekdayOrder();
  ASSERT_EQ(order.size(), 7u);
  for (int weekday = 1; weekday <= 7; ++weekday) {
    auto found = order.find(weekdayName(weekday));
    ASSERT_NE(found, order.end()) << weekday;
    EXPECT_EQ(found->second, weekday - 1) << weekday;
  }
  EXPECT_EQ(order.count(kUnknownWeekdayName), 0u);
}

}  // namespace
}  // namespace corvane
