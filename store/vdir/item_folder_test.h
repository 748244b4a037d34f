// A temporary list folder holding one item, and the file helpers, for the
// tests of the vdir's file reader and writers.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "store/system/descriptor.h"
#include "store/vdir/item_reader.h"
#include "tests/temp_folder.h"

namespace corvane::test {

namespace fs = std::filesystem;

inline constexpr int kChildSkipped = 77;
inline const std::string kOld = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:old\r\n";
inline const std::string kNew(100'000, 'n');

inline std::string contentsOf(const fs::path& path) { return readFile(path); }

inline void write(const fs::path& path, const std::string& bytes) {
  writeFile(path, bytes);
}

inline std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a child process and returns its exit status; the child
// leaves by _exit, never through the test framework.
inline int inChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Leaves the root's powers behind, so that permission bits apply.
inline bool dropPrivileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
         setresuid(65534, 65534, 65534) == 0;
}

class ItemFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    item_ = folder_ / "item.ics";
    write(item_, kOld);
    dir_ = Descriptor(open(folder_.c_str(), O_RDONLY | O_DIRECTORY));
  }
  // A test may have closed the folder; it must open again to be removed.
  void TearDown() override { fs::permissions(folder_, fs::perms(0755)); }
  // The item as read now.
  StampedContents current(const std::string& name = "item.ics") {
    return readStampedFile(dir(), name).value();
  }
  int dir() const { return dir_.get(); }

  TempFolder temp_;
  const fs::path folder_ = temp_.path();
  fs::path item_;
  Descriptor dir_;
};

}  // namespace corvane::test
