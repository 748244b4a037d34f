#include "store/eds/eds_identifiers.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

// A UID and the identifier it is printed as; each identifier reads back as
// its UID and nothing else does.
TEST(EdsIdentifierTest, EveryUidRoundTrips) {
  struct Case {
    std::string uid, identifier;
  } cases[] = {
      {"plain", "eds:list/plain"},     {"a/b", "eds:list/a%2Fb"},
      {"/", "eds:list/%2F"},           {"100%", "eds:list/100%25"},
      {"%2F", "eds:list/%252F"},       {"a%/b", "eds:list/a%25%2Fb"},
      {"bad\xFF", "eds:list/bad\xFF"}, {"caf\xC3\xA9", "eds:list/caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(edsReminderIdentifier({"list", c.uid}), c.identifier) << c.uid;
    auto name = objectNameOf(c.identifier);
    ASSERT_TRUE(name) << c.identifier;
    EXPECT_EQ(name->sourceUid, "list") << c.identifier;
    EXPECT_EQ(name->uid, c.uid) << c.identifier;
    EXPECT_TRUE(isEdsReminderIdentifier(c.identifier)) << c.identifier;
    EXPECT_FALSE(isEdsListIdentifier(c.identifier)) << c.identifier;
  }
}

// Only the one form of each identifier is read: other escapes, escapes in
// lower case and identifiers of the wrong shape are no reminder's.
TEST(EdsIdentifierTest, OtherFormsAreNoReminders) {
  for (const char* identifier :
       {"eds:list/a%2fb", "eds:list/%41", "eds:list/a%", "eds:list/a%2",
        "eds:list/", "eds:/uid", "eds:list", "eds:list/a/b", "list/uid",
        "EDS:list/uid", "eds:list//uid"})
    EXPECT_FALSE(objectNameOf(identifier)) << identifier;
  EXPECT_EQ(edsListIdentifier("list"), "eds:list");
  EXPECT_EQ(sourceUidOf("eds:list"), "list");
  for (const char* identifier : {"eds:", "eds:a/b", "a/b", "eds:/"})
    EXPECT_FALSE(sourceUidOf(identifier)) << identifier;
}

}  // namespace
}  // namespace corvane
