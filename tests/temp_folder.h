// A folder of a test's own, removed with everything in it at the end, and
// the file helpers the tests share.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace corvane::test {

// Made under TMPDIR (else /tmp), mode 0755 so that an unprivileged user
// can reach what is put in it.
class TempFolder {
 public:
  TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/corvane-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "no temporary folder: " << std::strerror(errno);
      return;
    }
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
  }
  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Writes `bytes` to `path`, replacing what was there and making its missing
// folders.
inline void writeFile(const std::filesystem::path& path,
                      std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  EXPECT_TRUE(file.good()) << path;
}

// The bytes of `path`; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace corvane::test
