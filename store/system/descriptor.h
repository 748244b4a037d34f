// The one owning file-descriptor type of the store: whatever it holds is
// closed exactly once, when it goes out of scope or is reset; a folder's
// entries are read through it too, and whole writes are made through it.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace corvane {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Descriptor() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when the close reported a failed write (an
  // interrupted close has closed all the same).
  bool reset() {
    if (fd_ < 0) return true;
    int result = ::close(std::exchange(fd_, -1));
    return result == 0 || errno == EINTR;
  }
  // Gives up ownership, to what closes it from now on.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A folder's entries, read through the descriptor it takes over: closed
// with it exactly once, as a Descriptor is.
class DirectoryStream {
 public:
  // Not open() when the descriptor is not a readable folder; the
  // descriptor is closed all the same.
  explicit DirectoryStream(Descriptor folder)
      : dir_(folder.valid() ? ::fdopendir(folder.get()) : nullptr) {
    if (dir_) folder.release();
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  ~DirectoryStream() {
    if (dir_) ::closedir(dir_);
  }

  bool open() const { return dir_ != nullptr; }
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

// Writes all of `bytes` to `fd`, going on after a short write or an
// interruption; false, with errno set, when a write fails.
inline bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Flushes `fd` to the disk; false, with errno set, when that fails.
inline bool syncDescriptor(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace corvane
