/* The least work any reader of a vdir must do: find every ".ics" file under
 * the given folders (a store root, an account or a list) and read each one
 * once, on one thread, into one reused buffer; a file given by name is read
 * as it is. Prints the number of files and bytes so that the work cannot be
 * skipped.
 *
 *   read_floor DIR|FILE...
 */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char *buffer;
static size_t capacity = 1 << 16;
static unsigned long long files, bytes;

static int endsWithIcs(const char *name) {
  size_t length = strlen(name);
  return length > 4 && strcmp(name + length - 4, ".ics") == 0;
}

static void readFile(int dirFd, const char *name) {
  int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  for (;;) {
    ssize_t got = read(fd, buffer, capacity);
    if (got <= 0) break;
    bytes += (unsigned long long)got;
  }
  close(fd);
  ++files;
}

/* Walks at most `depth` levels of folders below `path`. */
static void walk(int parentFd, const char *path, int depth) {
  int fd = openat(parentFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR *dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  struct dirent *entry;
  while ((entry = readdir(dir)) != NULL) {
    if (entry->d_name[0] == '.') continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat info;
      if (fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(info.st_mode)   ? DT_DIR
             : S_ISREG(info.st_mode) ? DT_REG
                                     : 0;
    }
    if (type == DT_DIR && depth > 0)
      walk(fd, entry->d_name, depth - 1);
    else if (type == DT_REG && endsWithIcs(entry->d_name))
      readFile(fd, entry->d_name);
  }
  closedir(dir);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s DIR|FILE...\n", argv[0]);
    return 2;
  }
  buffer = malloc(capacity);
  if (!buffer) return 1;
  for (int i = 1; i < argc; ++i) {
    struct stat info;
    if (stat(argv[i], &info) == 0 && S_ISREG(info.st_mode))
      readFile(AT_FDCWD, argv[i]);
    else
      walk(AT_FDCWD, argv[i], 2);
  }
  printf("%llu files, %llu bytes\n", files, bytes);
  free(buffer);
  return 0;
}
