#include "store/vdir/file_replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>

#include "store/vdir/item_folder_test.h"

namespace corvane::test {
namespace {

using FileReplaceTest = ItemFolderTest;

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
      // Content alike, but made private: putting the old mode back would
      // undo the other program's change.
      {"made private after the last check",
       [&] { fs::permissions(item_, fs::perms(0600)); }, ReplaceStep::kChecked},
  };
  for (const auto& c : cases) {
    write(item_, kOld);
    fs::permissions(item_, fs::perms(0644));
    StampedContents read = current();
    Outcome replaced =
        replaceFile(dir(), "item.ics", read, kNew, [&](ReplaceStep step) {
          if (step == c.when) c.otherProgram();
        });
    ASSERT_FALSE(replaced.ok()) << c.name;
    EXPECT_EQ(replaced.kind(), FailureKind::kChanged) << c.name;
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
  return FileStamp{status.st_dev,      status.st_ino,      status.st_size,
                   ns(status.st_mtim), ns(status.st_ctim), status.st_mode,
                   status.st_uid,      status.st_gid};
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

// Sets or clears the append-only flag of the open folder `fd`: it then takes
// new files, but refuses every rename and removal (only root may set it).
bool setAppendOnly(int fd, bool on) {
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
  return ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

// A folder that may not be changed, or would refuse a change's last step:
// every change is refused before anything is written, so nothing is left
// behind that corvane could not take away again.
TEST_F(FileReplaceTest, ReadOnlyFolderRefusesEveryChangeAndLeavesNothing) {
  const struct {
    const char* name;
    std::function<bool()> protect;  // false: cannot be set up here
    std::function<void()> release;
    bool dropRoot;
  } cases[] = {
      {"no write permission",
       [&] {
         fs::permissions(folder_, fs::perms(0555));
         return true;
       },
       [&] { fs::permissions(folder_, fs::perms(0755)); }, true},
      {"append-only", [&] { return setAppendOnly(dir(), true); },
       [&] { setAppendOnly(dir(), false); }, false},
  };
  for (const auto& c : cases) {
    write(item_, kOld);
    StampedContents read = current();
    if (!c.protect()) {
      std::cout << "[ skipped  ] " << c.name << ": cannot be set up here\n";
      continue;
    }
    int status = inChild([&] {
      if (c.dropRoot && (!dropPrivileges() || access(item_.c_str(), R_OK) != 0))
        return kChildSkipped;
      Outcome replaced = replaceFile(dir(), "item.ics", read, kNew);
      Outcome removed = removeFile(dir(), "item.ics", read);
      Result<FileStamp> created =
          createNewFile(dir(), "new.ics", kNew, "item.ics");
      if (replaced.ok() || removed.ok() || created.ok()) return 1;
      for (const Failure& failure :
           {replaced.failure(), removed.failure(), created.failure()}) {
        if (failure.kind != FailureKind::kReadOnly ||
            failure.reason != "The list folder is read-only.")
          return 2;
      }
      return 0;
    });
    c.release();
    if (status == kChildSkipped) {
      std::cout << "[ skipped  ] " << c.name << ": cannot drop privileges\n";
      continue;
    }
    EXPECT_EQ(status, 0) << c.name;
    EXPECT_EQ(contentsOf(item_), kOld) << c.name;
    EXPECT_EQ(entries(folder_), std::vector<std::string>{"item.ics"}) << c.name;
  }
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

// What a file corvane writes keeps of the item: a replaced item its own
// owner, mode, ACL and other attributes, and a file made beside an item
// (a completed occurrence beside its series) the item's.
TEST_F(FileReplaceTest, WrittenFilesAreLikeTheItem) {
  const std::string acl = aclGivingWriteTo(65534);
  fs::permissions(item_, fs::perms(0640));
  if (setxattr(item_.c_str(), "user.origin", "todoman", 7, 0) != 0 ||
      setxattr(item_.c_str(), "system.posix_acl_access", acl.data(), acl.size(),
               0) != 0)
    GTEST_SKIP() << "no extended attributes here: " << strerror(errno);
  // Another user's item, where this process may give files away.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(item_.c_str(), 65534, 65534), 0);
  }
  struct stat item {};
  ASSERT_EQ(stat(item_.c_str(), &item), 0);
  const struct {
    const char* name;
    std::function<Outcome()> write;
    fs::path written;
  } cases[] = {
      {"replaced",
       [&] { return replaceFile(dir(), "item.ics", current(), kNew); }, item_},
      {"created beside it",
       [&]() -> Outcome {
         Result<FileStamp> made =
             createNewFile(dir(), "new.ics", kNew, "item.ics");
         if (!made) return made.failure();
         return done();
       },
       folder_ / "new.ics"},
  };
  for (const auto& c : cases) {
    Outcome written = c.write();
    ASSERT_TRUE(written.ok()) << c.name << ": " << written.reason();
    EXPECT_EQ(contentsOf(c.written), kNew) << c.name;
    EXPECT_EQ(attribute(c.written, "user.origin"), "todoman") << c.name;
    EXPECT_EQ(attribute(c.written, "system.posix_acl_access"), acl) << c.name;
    struct stat after {};
    ASSERT_EQ(stat(c.written.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, item.st_mode) << c.name;
    EXPECT_EQ(after.st_uid, item.st_uid) << c.name;
    EXPECT_EQ(after.st_gid, item.st_gid) << c.name;
  }
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

TEST_F(FileReplaceTest, CreatesNewFilesOnlyWhereTheNameIsFree) {
  Result<FileStamp> made = createNewFile(dir(), "new.ics", kNew, "item.ics");
  ASSERT_TRUE(made.ok()) << made.reason();
  EXPECT_EQ(contentsOf(folder_ / "new.ics"), kNew);
  Result<FileStamp> again = createNewFile(dir(), "item.ics", kNew, "new.ics");
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.kind(), FailureKind::kExists);
  EXPECT_EQ(contentsOf(item_), kOld);
  EXPECT_EQ(entries(folder_),
            (std::vector<std::string>{"item.ics", "new.ics"}));
  // Taken away again by what made it.
  EXPECT_TRUE(
      removeFile(dir(), "new.ics", StampedContents{kNew, made.value()}).ok());
  EXPECT_EQ(entries(folder_), std::vector<std::string>{"item.ics"});
}

}  // namespace
}  // namespace corvane::test
