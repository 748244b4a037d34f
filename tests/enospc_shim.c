/* Loaded with LD_PRELOAD into corvane by the full-disk tests: every write
 * to a file (anything but standard output and standard error) fails as it
 * would on a full disk, so that the envelope still gets out. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

ssize_t write(int fd, const void* buffer, size_t count) {
  static ssize_t (*real)(int, const void*, size_t);
  if (fd > STDERR_FILENO) {
    errno = ENOSPC;
    return -1;
  }
  if (!real)
    real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  return real(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  (void)buffer;
  (void)count;
  (void)offset;
  (void)fd;
  errno = ENOSPC;
  return -1;
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  static ssize_t (*real)(int, const struct iovec*, int);
  if (fd > STDERR_FILENO) {
    errno = ENOSPC;
    return -1;
  }
  if (!real)
    real =
        (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
  return real(fd, parts, count);
}
