#include "store/akonadi/akonadi_identifiers.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

// Each identifier reads back as the ids it was made from; any other way of
// writing ids names nothing, so one thing has one identifier.
TEST(AkonadiIdentifierTest, OneFormPerThing) {
  EXPECT_EQ(akonadiReminderIdentifier({7, 9223372036854775807}),
            "akonadi:7/9223372036854775807");
  auto name = itemNameOf("akonadi:7/9223372036854775807");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->collection, 7);
  EXPECT_EQ(name->item, 9223372036854775807);
  EXPECT_EQ(collectionOf(akonadiListIdentifier(12)), 12);
  EXPECT_FALSE(isAkonadiListIdentifier("akonadi:7/9"));
  EXPECT_FALSE(isAkonadiReminderIdentifier("akonadi:7"));
  for (const char* identifier :
       {"akonadi:", "akonadi:/", "akonadi:7/", "akonadi:/9", "akonadi:07/9",
        "akonadi:7/09", "akonadi:0/9", "akonadi:+7/9", "akonadi:-7/9",
        "akonadi:7/9/1", "akonadi:7 /9", "akonadi:7/9223372036854775808",
        "Akonadi:7/9", "eds:7/9", "akonadi:x/9"})
    EXPECT_FALSE(itemNameOf(identifier)) << identifier;
  for (const char* identifier : {"akonadi:", "akonadi:07", "akonadi:0",
                                 "akonadi:7/", "akonadi:1e3", "akonadi:-1"})
    EXPECT_FALSE(collectionOf(identifier)) << identifier;
}

}  // namespace
}  // namespace corvane
