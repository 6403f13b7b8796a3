// kestrella-bench-run RESULT PROGRAM [ARGS...]: runs PROGRAM with posix_spawn,
// waits with wait4 and writes "exit-code maxrss-KiB user-s system-s" to RESULT.
//
// Why a runner of its own: posix_spawn execs from the caller's memory, and
// the kernel hands the caller's peak resident size on to the child's
// ru_maxrss. Spawned from the benchmark (several MiB), a small program such
// as cp would show the benchmark's peak instead of its own. This runner is
// linked statically and uses no C++ library, so what it hands on stays
// under a MiB.

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    dprintf(2, "usage: kestrella-bench-run RESULT PROGRAM [ARGS...]\n");
    return 127;
  }
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ);
  if (rc != 0) {
    dprintf(2, "kestrella-bench-run: cannot start %s: %s\n", argv[2], strerror(rc));
    return 127;
  }
  int status = 0;
  struct rusage ru;
  memset(&ru, 0, sizeof ru);
  while (wait4(pid, &status, 0, &ru) < 0) {
    if (errno != EINTR) return 127;
  }
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 127;
  dprintf(fd, "%d %ld %ld.%06ld %ld.%06ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          ru.ru_maxrss, static_cast<long>(ru.ru_utime.tv_sec), static_cast<long>(ru.ru_utime.tv_usec),
          static_cast<long>(ru.ru_stime.tv_sec), static_cast<long>(ru.ru_stime.tv_usec));
  return close(fd) == 0 ? 0 : 127;
}
