#include "store/vdir/item_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "store/vdir/item_folder_test.h"

namespace corvane::test {
namespace {

// An item whose components nest `depth` deep (the calendar counted), with
// `begin` and `end` as the lines that open and close each alarm.
std::string nested(int depth, const std::string& begin = "BEGIN:VALARM\r\n",
                   const std::string& end = "END:VALARM\r\n") {
  std::string text = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:deep\r\n";
  for (int i = 2; i < depth; ++i) text += begin;
  for (int i = 2; i < depth; ++i) text += end;
  return text + "END:VTODO\r\nEND:VCALENDAR\r\n";
}

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
  // As deep as calendar programs could ever want, twice; and many more
  // components than that, each closed before the next.
  for (const std::string& deep :
       {nested(64), nested(64) + nested(64),
        nested(80, "BEGIN:VALARM\r\nEND:VALARM\r\n", "")}) {
    write(item_, deep);
    EXPECT_TRUE(readStampedFile(dir(), "item.ics").ok());
  }
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
  // Nested deeper than any parser that recurses should be asked to go,
  // however the lines are written.
  write(folder_ / "deep.ics", nested(65));
  write(folder_ / "deep-lf.ics", nested(65, "BEGIN:VALARM\n", "END:VALARM\n"));
  std::string carriageReturns = nested(65);
  std::erase(carriageReturns, '\n');
  write(folder_ / "deep-cr.ics", carriageReturns);
  write(folder_ / "deep-folded.ics",
        nested(65, "BEG\r\n IN\r\n\t:VALARM\r\n", "END:VALARM\r\n"));
  write(folder_ / "deep-lower.ics",
        nested(65, "begin;x=1:valarm\r\n", "end:valarm\r\n"));
  write(folder_ / "deep-unclosed.ics", nested(65, "BEGIN:X\r\n", ""));
  for (const char* name :
       {"pipe.ics", "folder.ics", "null.ics", "missing.ics", "huge.ics",
        "deep.ics", "deep-lf.ics", "deep-cr.ics", "deep-folded.ics",
        "deep-lower.ics", "deep-unclosed.ics"}) {
    Result<StampedContents> refused = readStampedFile(dir(), name);
    ASSERT_FALSE(refused.ok()) << name;
    EXPECT_EQ(refused.kind(), FailureKind::kNotFound) << name;
    EXPECT_EQ(refused.reason().find_first_of("0123456789"), std::string::npos)
        << name;
  }
}

}  // namespace
}  // namespace corvane::test
