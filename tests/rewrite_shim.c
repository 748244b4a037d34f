/* Loaded with LD_PRELOAD into corvane by the tests of changes that race
 * another program: when corvane first creates a file (its first step of
 * writing, after it has read what it changes), the file REWRITE_SHIM_FROM
 * is renamed over REWRITE_SHIM_TO, as another program saving its own
 * version would do. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static void rewriteOnce(int flags) {
  static int done;
  if (done || !(flags & O_CREAT)) return;
  done = 1;
  const char* from = getenv("REWRITE_SHIM_FROM");
  const char* to = getenv("REWRITE_SHIM_TO");
  if (from && to) rename(from, to);
}

#define FORWARD(name, ...)              \
  static int (*real)(__VA_ARGS__, ...); \
  if (!real) real = (int (*)(__VA_ARGS__, ...))dlsym(RTLD_NEXT, name)

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (mode_t)va_arg(args, int);
  va_end(args);
  rewriteOnce(flags);
  FORWARD("open", const char*, int);
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (mode_t)va_arg(args, int);
  va_end(args);
  rewriteOnce(flags);
  FORWARD("open64", const char*, int);
  return real(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (mode_t)va_arg(args, int);
  va_end(args);
  rewriteOnce(flags);
  FORWARD("openat", int, const char*, int);
  return real(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (mode_t)va_arg(args, int);
  va_end(args);
  rewriteOnce(flags);
  FORWARD("openat64", int, const char*, int);
  return real(dir, path, flags, mode);
}
