#include "store/vdir/vdir_layout.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "tests/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class VdirLayoutTest : public testing::Test {
 protected:
  void write(const fs::path& path, const std::string& bytes) {
    test::writeFile(path, bytes);
  }

  test::TempFolder temp_;
  const fs::path dir_ = temp_.path();
};

TEST_F(VdirLayoutTest, OpenItemAcceptsThreePlainNames) {
  const fs::path root = dir_ / "root";
  struct Case {
    std::string identifier;
    std::string listIdentifier;
    std::string file;
  } cases[] = {
      {"a/l/f", "a/l", "f.ics"},
      {"work/tasks/4c1b@laptop", "work/tasks", "4c1b@laptop.ics"},
      {"a b/l\\x/f..g", "a b/l\\x", "f..g.ics"},
      {"a/l/f.ics", "a/l", "f.ics.ics"},
      {"\xC3\xA4/l/f", "\xC3\xA4/l", "f.ics"},
  };
  for (const auto& c : cases) {
    fs::create_directories(root / c.listIdentifier);
    std::ofstream(root / c.listIdentifier / "marker") << c.identifier;
    auto opened = openItem(root, c.identifier);
    ASSERT_TRUE(opened) << c.identifier << ": " << opened.reason();
    EXPECT_EQ(opened.value().listIdentifier, c.listIdentifier) << c.identifier;
    EXPECT_EQ(opened.value().fileName, c.file) << c.identifier;
    // The folder opened is the list's own.
    std::string marker(200, '\0');
    int fd = ::openat(opened.value().list.get(), "marker", O_RDONLY);
    ASSERT_GE(fd, 0) << c.identifier;
    marker.resize(
        static_cast<size_t>(::read(fd, marker.data(), marker.size())));
    ::close(fd);
    EXPECT_EQ(marker, c.identifier);
  }
}

TEST_F(VdirLayoutTest, OpenItemRejectsEverythingElse) {
  const fs::path root = dir_ / "root";
  for (const char* folder : {"a/l", "a/.l", ".a/l", "a/l/f"})
    fs::create_directories(root / folder);
  const std::string rejected[] = {
      "",
      "a",
      "a/l",
      "a/l/f/g",
      "a/l/",
      "/a/l/f",
      "/l/f",
      "a//f",
      "a/l//f",
      "//",
      "../l/f",
      "a/../f",
      "a/l/..",
      "./l/f",
      "a/./f",
      "a/l/.",
      ".a/l/f",
      "a/.l/f",
      "a/l/.f",
      "a/l/.ics",
      std::string("a/l/f\0x", 7),
      std::string("a\0/l/f", 6),
      std::string("a/l\0/f", 6),
      std::string(100'000, 'x'),
      "a/l/" + std::string(100'000, 'f'),
      std::string(100'000, '/'),
  };
  for (const auto& identifier : rejected)
    EXPECT_FALSE(openItem(root, identifier))
        << identifier.substr(0, 40) << " (" << identifier.size() << " bytes)";
}

TEST(ItemIdentifierTest, DropsExtension) {
  EXPECT_EQ(itemIdentifier("a/l", "f.ics"), "a/l/f");
  EXPECT_EQ(itemIdentifier("a/l", "x.y.ics"), "a/l/x.y");
  EXPECT_EQ(itemIdentifier("a/l", "bad\xFF.ics"), "a/l/bad\xEF\xBF\xBD");
}

TEST_F(VdirLayoutTest, ReadMetadata) {
  struct Case {
    std::string bytes;
    std::optional<std::string> value;
  } cases[] = {
      {"Work", "Work"},
      {"Work\n", "Work"},
      {"Work\r\n", "Work"},
      {"  Work  \t\n\n", "Work"},
      {"Two words\n", "Two words"},
      {"First\nSecond\n", "First"},
      {"None", std::nullopt},
      {"None\n", std::nullopt},
      {" None \n", std::nullopt},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"   \n", std::nullopt},
      {"\nSecond\n", "Second"},
      {"#FF8000FF", "#FF8000FF"},
      {"bad \xFF", "bad \xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    write(dir_ / "displayname", c.bytes);
    EXPECT_EQ(readMetadata(dir_ / "displayname"), c.value) << c.bytes;
  }
  EXPECT_EQ(readMetadata(dir_ / "missing"), std::nullopt);
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(readMetadata(dir_ / "folder"), std::nullopt);
}

TEST_F(VdirLayoutTest, EntriesInByteOrderSkippingHiddenAndLinks) {
  for (const char* name : {"b", "B", "a", "\xC3\xA4", "Z", "a0", ".hidden"})
    fs::create_directory(dir_ / name);
  for (const char* name : {"file", ".swp"}) write(dir_ / name, "x");
  fs::create_directory_symlink(dir_ / "a", dir_ / "linkdir");
  fs::create_symlink(dir_ / "file", dir_ / "linkfile");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");

  EXPECT_EQ(entriesOf(dir_, EntryType::kDirectory).value(),
            (std::vector<std::string>{"B", "Z", "a", "a0", "b", "\xC3\xA4"}));
  EXPECT_EQ(entriesOf(dir_, EntryType::kRegularFile).value(),
            (std::vector<std::string>{"file"}));
  // No such folder: nothing of the user's, not a failure.
  EXPECT_TRUE(
      entriesOf(dir_ / "missing", EntryType::kDirectory).value().empty());
  EXPECT_TRUE(
      entriesOf(dir_ / "file", EntryType::kRegularFile).value().empty());
}

TEST_F(VdirLayoutTest, ItemFilesAreIcsFilesOnly) {
  for (const char* name :
       {"b.ics", "a.ics", "A.ics", "x.ics.tmp123", ".ics", ".hidden.ics", "ics",
        "notes.txt", "displayname", "color", "c.ics~", "d.ICS", "e.ics.ics"})
    write(dir_ / name, "x");
  fs::create_directory(dir_ / "folder.ics");
  fs::create_symlink(dir_ / "a.ics", dir_ / "link.ics");
  EXPECT_EQ(itemFilesOf(dir_).value(),
            (std::vector<std::string>{"A.ics", "a.ics", "b.ics", "e.ics.ics"}));
}

class DefaultRootTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_DATA_HOME", "HOME"})
      if (const char* value = std::getenv(name)) saved_[name] = value;
  }
  void TearDown() override {
    for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
      if (saved_.count(name))
        ::setenv(name, saved_[name].c_str(), 1);
      else
        ::unsetenv(name);
    }
  }
  std::map<std::string, std::string> saved_;
};

TEST_F(DefaultRootTest, XdgDataHomeWhenAbsolute) {
  ::setenv("HOME", "/home/pat", 1);
  ::setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(defaultStoreRoot(), fs::path("/srv/data/corvane"));
  EXPECT_EQ(defaultStoreLocation().madeBelow, fs::path("/srv/data"));
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  EXPECT_EQ(defaultStoreRoot(), fs::path("/home/pat/.local/share/corvane"));
  ::setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(defaultStoreRoot(), fs::path("/home/pat/.local/share/corvane"));
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(defaultStoreRoot(), fs::path("/home/pat/.local/share/corvane"));
  EXPECT_EQ(defaultStoreLocation().madeBelow, fs::path("/home/pat"));
  // A relative HOME would make the store relative to wherever corvane runs.
  ::setenv("HOME", "relative/home", 1);
  EXPECT_EQ(defaultStoreRoot().string().front(), '/');
  EXPECT_EQ(defaultStoreRoot().string().find("relative"), std::string::npos);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// A linked account or list folder would take the item's path out of the
// store: get, toggle and delete must find nothing through it.
TEST_F(VdirLayoutTest, OpenItemRefusesLinkedAndOddFolders) {
  namespace fs = std::filesystem;
  const fs::path root = dir_ / "root";
  const fs::path outside = dir_ / "outside";
  fs::create_directories(root / "acct/list");
  fs::create_directories(outside / "list");
  fs::create_directory_symlink(outside, root / "linkacct");
  fs::create_directory_symlink(outside / "list", root / "acct/linked");
  fs::create_directory_symlink("list", root / "acct/alias");
  std::ofstream(root / "fileacct") << "x";
  std::ofstream(root / "acct/filelist") << "x";
  for (const std::string id :
       {"linkacct/list/item", "acct/linked/item", "acct/alias/item",
        "fileacct/list/item", "acct/filelist/item", "acct/missing/item",
        "missing/list/item"})
    EXPECT_FALSE(openItem(root, id)) << id;
  // A real list opens, whether or not the item is there; the root itself
  // may be a link the user made.
  fs::create_directory_symlink(root, dir_ / "rootlink");
  for (const fs::path& top : {root, dir_ / "rootlink"})
    EXPECT_TRUE(openItem(top, "acct/list/item")) << top;
}

}  // namespace
}  // namespace corvane
