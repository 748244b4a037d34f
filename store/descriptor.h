// The one owning file-descriptor type of the store: whatever it holds is
// closed exactly once, when it goes out of scope or is reset.
#pragma once

#include <unistd.h>

#include <cerrno>
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

 private:
  int fd_;
};

}  // namespace corvane
