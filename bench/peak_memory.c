/* Runs a command and prints the peak resident memory of it, in KiB. Linux
 * counts the memory a process had before exec in its peak, so the command
 * is started from this small program rather than from the benchmark's
 * Python, whose own size would show in every figure.
 *
 *   peak_memory COMMAND [ARG...]
 */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) return 1;
  printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
