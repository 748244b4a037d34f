#include "store/file_replace.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>

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
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms(0755));
    fs::remove_all(folder_);
  }
  FileStamp stamp() { return readStampedFile(item_).value().stamp; }

  fs::path folder_;
  fs::path item_;
};

TEST_F(FileReplaceTest, ReadsAllBytesWithTheirStamp) {
  std::string bytes = kNew + std::string("\0\xff\r\n", 4);
  write(item_, bytes);
  Result<StampedContents> read = readStampedFile(item_);
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
  for (const char* name :
       {"pipe.ics", "folder.ics", "null.ics", "missing.ics"}) {
    Result<StampedContents> refused = readStampedFile(folder_ / name);
    ASSERT_FALSE(refused.ok()) << name;
    EXPECT_EQ(refused.reason().find_first_of("0123456789"), std::string::npos);
  }
}

TEST_F(FileReplaceTest, ReplacesContentsKeepingNameAndPermissions) {
  for (unsigned mode : {0640u, 0600u, 0444u, 0664u}) {
    fs::remove(item_);
    write(item_, kOld);
    fs::permissions(item_, fs::perms(mode));
    if (geteuid() == 0) {
      ASSERT_EQ(chown(item_.c_str(), 65534, 65534), 0);
    }
    std::uint64_t oldInode = stamp().inode;
    Outcome replaced = replaceFile(item_, kNew, stamp());
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
  fs::path longName = folder_ / (std::string(250, 'x') + ".ics");
  write(longName, kOld);
  EXPECT_TRUE(
      replaceFile(longName, kNew, readStampedFile(longName).value().stamp)
          .ok());
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
  };
  for (const auto& c : cases) {
    write(item_, kOld);
    FileStamp read = stamp();
    Outcome replaced = replaceFile(item_, kNew, read, [&](ReplaceStep step) {
      if (step == c.when) c.otherProgram();
    });
    ASSERT_FALSE(replaced.ok()) << c.name;
    EXPECT_NE(replaced.reason().find("another program"), std::string::npos);
    EXPECT_NE(contentsOf(item_), kNew) << c.name;
    for (const std::string& name : entries(folder_))
      EXPECT_EQ(name, "item.ics") << c.name;
  }
  write(item_, kOld);
  FileStamp read = stamp();
  write(item_, "theirs");
  EXPECT_FALSE(replaceFile(item_, kNew, read).ok());
  EXPECT_FALSE(removeFile(item_, read).ok());
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
  EXPECT_EQ(readStampedFile(link).value().bytes, kOld);
  // Even with their own stamps, they are left as they are.
  for (const fs::path& path : {link, directory}) {
    EXPECT_FALSE(replaceFile(path, kNew, entryStamp(path)).ok()) << path;
    EXPECT_FALSE(removeFile(path, entryStamp(path)).ok()) << path;
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
    FileStamp read = stamp();
    int status = inChild([&] {
      replaceFile(item_, kNew, read, [&](ReplaceStep step) {
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
  EXPECT_TRUE(replaceFile(item_, "final", stamp()).ok());
  EXPECT_EQ(contentsOf(item_), "final");
}

TEST_F(FileReplaceTest, FailedWriteRemovesTheTemporary) {
  FileStamp read = stamp();
  int status = inChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    // The last write falls short of the limit: a writer that stopped at a
    // short write would leave a truncated item.
    struct rlimit limit = {1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return kChildSkipped;
    Outcome replaced = replaceFile(item_, kNew.substr(0, 1500), read);
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
  FileStamp read = stamp();
  fs::permissions(folder_, fs::perms(0555));
  int status = inChild([&] {
    if (!dropPrivileges() || access(item_.c_str(), R_OK) != 0)
      return kChildSkipped;
    Outcome replaced = replaceFile(item_, kNew, read);
    Outcome removed = removeFile(item_, read);
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
  ASSERT_TRUE(removeFile(item_, stamp()).ok());
  EXPECT_TRUE(entries(folder_).empty());
  Outcome again = removeFile(item_, FileStamp{});
  ASSERT_FALSE(again.ok());
  EXPECT_NE(again.reason().find("removed by another program"),
            std::string::npos);
}

}  // namespace
}  // namespace corvane
