#include "store/vdir/file_replace.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "store/clock.h"
#include "store/vdir/descriptor.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr int kChildSkipped = 77;
const std::string kOld = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:old\r\n";
const std::string kNew(100'000, 'n');

std::string contentsOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a child process and returns its exit status; the child
// leaves by _exit, never through the test framework.
int inChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Leaves the root's powers behind, so that permission bits apply.
bool dropPrivileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
         setresuid(65534, 65534, 65534) == 0;
}

class FileReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "replace-XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::permissions(folder_, fs::perms(0755));
    item_ = folder_ / "item.ics";
    write(item_, kOld);
    dir_ = Descriptor(open(folder_.c_str(), O_RDONLY | O_DIRECTORY));
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms(0755));
    fs::remove_all(folder_);
  }
  // The item as read now.
  StampedContents current(const std::string& name = "item.ics") {
    return readStampedFile(dir(), name).value();
  }
  int dir() const { return dir_.get(); }

  fs::path folder_;
  fs::path item_;
  Descriptor dir_;
};

TEST_F(FileReplaceTest, ReadsAllBytesWithTheirStamp) {
  std::string bytes = kNew + std::string("\0\xff\r\n", 4);
  write(item_, bytes);
  Result<StampedContents> read = readStampedFile(dir(), "item.ics");
  ASSERT_TRUE(read.ok()) << read.reason();
  EXPECT_EQ(read.value().bytes, bytes);
  struct stat status {};
  ASSERT_EQ(stat(item_.c_str(), &status), 0);
  EXPECT_EQ(read.value().stamp.inode, status.st_ino);
  EXPECT_EQ(read.value().stamp.size, static_cast<std::int64_t>(bytes.size()));

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
    EXPECT_EQ(refused.reason().find_first_of("0123456789"), std::string::npos);
  }
}

TEST_F(FileReplaceTest, ReplacesContentsKeepingNameAndPermissions) {
  for (unsigned mode : {0640u, 0600u, 0464u, 0664u}) {
    fs::remove(item_);
    write(item_, kOld);
    fs::permissions(item_, fs::perms(mode));
    if (geteuid() == 0) {
      ASSERT_EQ(chown(item_.c_str(), 65534, 65534), 0);
    }
    std::uint64_t oldInode = current().stamp.inode;
    Outcome replaced = replaceFile(dir(), "item.ics", current(), kNew);
    ASSERT_TRUE(replaced.ok()) << replaced.reason();
    struct stat status {};
    ASSERT_EQ(stat(item_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
    EXPECT_NE(status.st_ino, oldInode) << "written in place, not renamed";
    if (geteuid() == 0) {
      EXPECT_EQ(status.st_uid, 65534u);
    }
    EXPECT_EQ(contentsOf(item_), kNew);
    EXPECT_EQ(entries(folder_), std::vector<std::string>{"item.ics"});
  }
  std::string longName = std::string(250, 'x') + ".ics";
  write(folder_ / longName, kOld);
  EXPECT_TRUE(replaceFile(dir(), longName, current(longName), kNew).ok());
}

TEST_F(FileReplaceTest, RefusesAFileChangedSinceItWasRead) {
  const struct {
    const char* name;
    std::function<void()> otherProgram;
    ReplaceStep when;
  } cases[] = {
      {"rewritten in place", [&] { write(item_, "theirs"); },
       ReplaceStep::kTemporaryCreated},
      {"rewritten during the write", [&] { write(item_, "theirs"); },
       ReplaceStep::kSynced},
      {"replaced by rename",
       [&] {
         write(folder_ / "x", "theirs");
         fs::rename(folder_ / "x", item_);
       },
       ReplaceStep::kWritten},
      {"removed", [&] { fs::remove(item_); }, ReplaceStep::kHalfWritten},
      // After corvane's last look, in the instant before its commit: the
      // commit itself must notice.
      {"replaced by rename after the last check",
       [&] {
         write(folder_ / "x", "theirs");
         fs::rename(folder_ / "x", item_);
       },
       ReplaceStep::kChecked},
      {"rewritten in place after the last check",
       [&] {
         std::fstream inPlace(item_,
                              std::ios::in | std::ios::out | std::ios::binary);
         inPlace << "THEIRS";
       },
       ReplaceStep::kChecked},
  };
  for (const auto& c : cases) {
    write(item_, kOld);
    StampedContents read = current();
    Outcome replaced =
        replaceFile(dir(), "item.ics", read, kNew, [&](ReplaceStep step) {
          if (step == c.when) c.otherProgram();
        });
    ASSERT_FALSE(replaced.ok()) << c.name;
    EXPECT_NE(replaced.reason().find("another program"), std::string::npos);
    EXPECT_NE(contentsOf(item_), kNew) << c.name;
    for (const std::string& name : entries(folder_))
      EXPECT_EQ(name, "item.ics") << c.name;
  }
  write(item_, kOld);
  StampedContents read = current();
  write(item_, "theirs");
  EXPECT_FALSE(replaceFile(dir(), "item.ics", read, kNew).ok());
  EXPECT_FALSE(removeFile(dir(), "item.ics", read).ok());
  EXPECT_EQ(contentsOf(item_), "theirs");
}

// The stamp of the entry itself, as a caller that does not follow links
// would take it.
FileStamp entryStamp(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  auto ns = [](const timespec& t) {
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
  };
  return FileStamp{status.st_dev, status.st_ino, status.st_size,
                   ns(status.st_mtim), ns(status.st_ctim)};
}

TEST_F(FileReplaceTest, RefusesSymbolicLinksAndOtherKinds) {
  fs::path link = folder_ / "link.ics";
  fs::create_symlink(item_, link);
  fs::path directory = folder_ / "folder.ics";
  fs::create_directory(directory);
  EXPECT_FALSE(readStampedFile(dir(), "link.ics").ok());
  // Even with their own stamps, they are left as they are.
  for (const fs::path& path : {link, directory}) {
    StampedContents read{kOld, entryStamp(path)};
    std::string name = path.filename();
    EXPECT_FALSE(replaceFile(dir(), name, read, kNew).ok()) << path;
    EXPECT_FALSE(removeFile(dir(), name, read).ok()) << path;
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_directory(directory));
  EXPECT_EQ(contentsOf(item_), kOld);
  EXPECT_EQ(entries(folder_),
            (std::vector<std::string>{"folder.ics", "item.ics", "link.ics"}));
}

TEST_F(FileReplaceTest, CrashAtAnyStepLeavesOldOrNewAndOnlyHiddenTemporaries) {
  const ReplaceStep steps[] = {
      ReplaceStep::kTemporaryCreated, ReplaceStep::kHalfWritten,
      ReplaceStep::kWritten,          ReplaceStep::kSynced,
      ReplaceStep::kChecked,          ReplaceStep::kRenamed,
  };
  for (ReplaceStep crashAt : steps) {
    write(item_, kOld);
    StampedContents read = current();
    int status = inChild([&] {
      (void)replaceFile(dir(), "item.ics", read, kNew, [&](ReplaceStep step) {
        if (step == crashAt) _exit(0);
      });
      return 1;
    });
    int step = static_cast<int>(crashAt);
    ASSERT_EQ(status, 0) << step;
    EXPECT_EQ(contentsOf(item_), crashAt == ReplaceStep::kRenamed ? kNew : kOld)
        << step;
    for (const std::string& name : entries(folder_)) {
      if (name == "item.ics") continue;
      EXPECT_TRUE(name.starts_with(".") && !name.ends_with(".ics")) << name;
    }
  }
  // Leftovers of crashed writers do not stand in the way of the next one.
  EXPECT_TRUE(replaceFile(dir(), "item.ics", current(), "final").ok());
  EXPECT_EQ(contentsOf(item_), "final");
}

TEST_F(FileReplaceTest, FailedWriteRemovesTheTemporary) {
  StampedContents read = current();
  int status = inChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    // The last write falls short of the limit: a writer that stopped at a
    // short write would leave a truncated item.
    struct rlimit limit = {1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return kChildSkipped;
    Outcome replaced =
        replaceFile(dir(), "item.ics", read, kNew.substr(0, 1500));
    return replaced.ok() ? 1
           : replaced.reason().find_first_of("0123456789") != std::string::npos
               ? 2
               : 0;
  });
  if (status == kChildSkipped) GTEST_SKIP() << "cannot limit file sizes";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(contentsOf(item_), kOld);
  EXPECT_EQ(entries(folder_), std::vector<std::string>{"item.ics"});
}

TEST_F(FileReplaceTest, ReadOnlyFolderRefusesBothChanges) {
  StampedContents read = current();
  fs::permissions(folder_, fs::perms(0555));
  int status = inChild([&] {
    if (!dropPrivileges() || access(item_.c_str(), R_OK) != 0)
      return kChildSkipped;
    Outcome replaced = replaceFile(dir(), "item.ics", read, kNew);
    Outcome removed = removeFile(dir(), "item.ics", read);
    if (replaced.ok() || removed.ok()) return 1;
    bool plain = replaced.reason() == "The list folder is read-only." &&
                 removed.reason() == "The list folder is read-only.";
    return plain ? 0 : 2;
  });
  if (status == kChildSkipped) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(contentsOf(item_), kOld);
  EXPECT_EQ(entries(folder_), std::vector<std::string>{"item.ics"});
}

TEST_F(FileReplaceTest, RemovesAnUnchangedFile) {
  StampedContents read = current();
  ASSERT_TRUE(removeFile(dir(), "item.ics", read).ok());
  EXPECT_TRUE(entries(folder_).empty());
  Outcome again = removeFile(dir(), "item.ics", read);
  ASSERT_FALSE(again.ok());
  EXPECT_NE(again.reason().find("removed by another program"),
            std::string::npos);
}

// ACL entries as the kernel stores them in system.posix_acl_access: a
// version, then (tag, permissions, id) for each entry.
std::string aclGivingWriteTo(uint32_t user) {
  std::string acl;
  auto put = [&acl](auto value) {
    acl.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  put(uint32_t{2});
  const struct {
    uint16_t tag, permissions;
    uint32_t id;
  } entries[] = {{0x01, 6, 0xFFFFFFFF},
                 {0x02, 6, user},
                 {0x04, 4, 0xFFFFFFFF},
                 {0x10, 6, 0xFFFFFFFF},
                 {0x20, 4, 0xFFFFFFFF}};
  for (const auto& entry : entries) {
    put(entry.tag);
    put(entry.permissions);
    put(entry.id);
  }
  return acl;
}

std::string attribute(const fs::path& path, const char* name) {
  std::string value(256, '\0');
  ssize_t size = getxattr(path.c_str(), name, value.data(), value.size());
  return size < 0 ? "<none>" : value.substr(0, static_cast<size_t>(size));
}

TEST_F(FileReplaceTest, KeepsExtendedAttributesAndAcls) {
  const std::string acl = aclGivingWriteTo(65534);
  if (setxattr(item_.c_str(), "user.origin", "todoman", 7, 0) != 0 ||
      setxattr(item_.c_str(), "system.posix_acl_access", acl.data(), acl.size(),
               0) != 0)
    GTEST_SKIP() << "no extended attributes here: " << strerror(errno);
  struct stat before {};
  ASSERT_EQ(stat(item_.c_str(), &before), 0);
  Outcome replaced = replaceFile(dir(), "item.ics", current(), kNew);
  ASSERT_TRUE(replaced.ok()) << replaced.reason();
  EXPECT_EQ(contentsOf(item_), kNew);
  EXPECT_EQ(attribute(item_, "user.origin"), "todoman");
  EXPECT_EQ(attribute(item_, "system.posix_acl_access"), acl);
  struct stat after {};
  ASSERT_EQ(stat(item_.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode);
}

// Files whose owner keeps them as they are: no write bit for anyone (which
// root, passing every permission check, must honour too), or a second name
// that a replacement would part from the first.
TEST_F(FileReplaceTest, RefusesFilesThatMustBeKept) {
  fs::permissions(item_, fs::perms(0444));
  StampedContents read = current();
  Outcome replaced = replaceFile(dir(), "item.ics", read, kNew);
  Outcome removed = removeFile(dir(), "item.ics", read);
  EXPECT_EQ(replaced.ok() ? "" : replaced.reason(),
            "The reminder's file is read-only.");
  EXPECT_EQ(removed.ok() ? "" : removed.reason(),
            "The reminder's file is read-only.");
  fs::permissions(item_, fs::perms(0644));
  fs::create_hard_link(item_, folder_ / "second.ics");
  replaced = replaceFile(dir(), "item.ics", current(), kNew);
  ASSERT_FALSE(replaced.ok());
  EXPECT_NE(replaced.reason().find("hard links"), std::string::npos);
  EXPECT_EQ(contentsOf(item_), kOld);
  EXPECT_EQ(entries(folder_),
            (std::vector<std::string>{"item.ics", "second.ics"}));
  // Deleting one name keeps the data under the other.
  EXPECT_TRUE(removeFile(dir(), "item.ics", current()).ok());
  EXPECT_EQ(contentsOf(folder_ / "second.ics"), kOld);
}

TEST_F(FileReplaceTest, RemovesOnlyItsOwnTemporariesOnceADayOld) {
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

TEST_F(FileReplaceTest, CreatesNewFilesOnlyWhereTheNameIsFree) {
  Result<FileStamp> made = createNewFile(dir(), "new.ics", kNew, 0640);
  ASSERT_TRUE(made.ok()) << made.reason();
  EXPECT_EQ(contentsOf(folder_ / "new.ics"), kNew);
  EXPECT_EQ(fs::status(folder_ / "new.ics").permissions(), fs::perms(0640));
  Result<FileStamp> again = createNewFile(dir(), "item.ics", kNew, 0640);
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(contentsOf(item_), kOld);
  EXPECT_EQ(entries(folder_),
            (std::vector<std::string>{"item.ics", "new.ics"}));
  // Taken away again by what made it.
  EXPECT_TRUE(
      removeFile(dir(), "new.ics", StampedContents{kNew, made.value()}).ok());
  EXPECT_EQ(entries(folder_), std::vector<std::string>{"item.ics"});
}

}  // namespace
}  // namespace corvane
