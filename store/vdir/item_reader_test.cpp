#include "store/vdir/item_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "store/vdir/item_folder_test.h"

namespace corvane::test {
namespace {

using ItemReaderTest = ItemFolderTest;

TEST_F(ItemReaderTest, ReadsAllBytesWithTheirStamp) {
  std::string bytes = kNew + std::string("\0\xff\r\n", 4);
  write(item_, bytes);
  Result<StampedContents> read = readStampedFile(dir(), "item.ics");
  ASSERT_TRUE(read.ok()) << read.reason();
  EXPECT_EQ(read.value().bytes, bytes);
  struct stat status {};
  ASSERT_EQ(stat(item_.c_str(), &status), 0);
  EXPECT_EQ(read.value().stamp, stampOf(status));
  EXPECT_EQ(read.value().stamp.size, static_cast<std::int64_t>(bytes.size()));
}

// Files that are not items: each is refused as no item at all (so a fetch
// leaves it out and a change does not find it), with words and no number.
TEST_F(ItemReaderTest, RefusesWhatIsNoItem) {
  ASSERT_EQ(mkfifo((folder_ / "pipe.ics").c_str(), 0644), 0);
  fs::create_directory(folder_ / "folder.ics");
  // A link to a device must not be read as if it were an item.
  fs::create_symlink("/dev/null", folder_ / "null.ics");
  // Larger than any calendar object (sparse: it costs no disk).
  write(folder_ / "huge.ics", "");
  fs::resize_file(folder_ / "huge.ics", (std::uintmax_t{256} << 20) + 1);
  for (const char* name :
       {"pipe.ics", "folder.ics", "null.ics", "missing.ics", "huge.ics"}) {
    Result<StampedContents> refused = readStampedFile(dir(), name);
    ASSERT_FALSE(refused.ok()) << name;
    EXPECT_EQ(refused.kind(), FailureKind::kNotFound) << name;
    EXPECT_EQ(refused.reason().find_first_of("0123456789"), std::string::npos)
        << name;
  }
}

}  // namespace
}  // namespace corvane::test
