#include "store/vdir/temporary_file.h"

#include <gtest/gtest.h>

#include <chrono>

#include "store/clock.h"
#include "store/vdir/item_folder_test.h"

namespace corvane::test {
namespace {

using TemporaryFileTest = ItemFolderTest;

TEST_F(TemporaryFileTest, NamesAreHiddenAndKnownAgain) {
  const std::string name = temporaryName("item.ics");
  EXPECT_TRUE(name.starts_with(".item.ics.corvane-")) << name;
  EXPECT_FALSE(name.ends_with(".ics")) << name;
  EXPECT_TRUE(isTemporaryName(name)) << name;
  EXPECT_NE(temporaryName("item.ics"), name);
  // Within a file name's limit, however long the item's is.
  EXPECT_LE(temporaryName(std::string(251, 'x') + ".ics").size(), 255u);
}

TEST_F(TemporaryFileTest, RemovedUnlessKept) {
  std::string kept;
  {
    Result<TemporaryFile> dropped = createTemporary(dir(), "item.ics");
    ASSERT_TRUE(dropped.ok()) << dropped.reason();
    Result<TemporaryFile> keeper = createTemporary(dir(), "item.ics");
    ASSERT_TRUE(keeper.ok()) << keeper.reason();
    kept = keeper.value().name();
    EXPECT_EQ(entries(folder_).size(), 3u);
    keeper.value().keep();
  }
  EXPECT_EQ(entries(folder_), (std::vector<std::string>{kept, "item.ics"}));
}

TEST_F(TemporaryFileTest, RemovesOnlyItsOwnTemporariesOnceADayOld) {
  const std::vector<std::string> others = {
      ".item.ics.corvane-0123456789ABCDEF.tmp",  // not its own digits
      ".item.ics.corvane-0123.tmp", ".item.ics.rewrite-12.tmp", "item.ics",
      "x.corvane-0123456789abcdef.tmp"};
  const std::string own = ".item.ics.corvane-0123456789abcdef.tmp";
  for (const auto& name : others) write(folder_ / name, "x");
  write(folder_ / own, "x");
  // The files were just written, by the system's clock.
  const Instant now = systemClock()();
  removeStaleTemporaries(dir(), now);
  EXPECT_TRUE(fs::exists(folder_ / own)) << "a writer may still be at work";
  removeStaleTemporaries(dir(), now + std::chrono::hours(25));
  EXPECT_FALSE(fs::exists(folder_ / own));
  for (const auto& name : others)
    EXPECT_TRUE(fs::exists(folder_ / name)) << name;
}

}  // namespace
}  // namespace corvane::test
