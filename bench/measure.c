/* Tagvert benchmark helper: runs a command and prints its wall time and CPU time (user + system)
 * in seconds and its peak resident memory in KiB, as "WALL CPU RSS_KIB". The command's standard
 * output is discarded. A command that fails fails the helper, unless MEASURE_STATUS is set: then
 * its exit status (128 + n for signal n) is printed as a fourth field.
 * Usage: measure COMMAND [ARGS...] */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Seconds(struct timeval t) {
  return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

int main(int argc, char** argv) {
  struct timespec start, end;
  struct rusage usage;
  int status = 0;
  pid_t child;
  if (argc < 2) {
    fprintf(stderr, "usage: measure COMMAND [ARGS...]\n");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &start);
  child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
    perror("measure");
    return 1;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  if (getenv("MEASURE_STATUS") != NULL) {
    printf("%.4f %.4f %ld %d\n",
           (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9,
           Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss,
           WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "measure: %s failed\n", argv[1]);
    return 1;
  }
  printf("%.4f %.4f %ld\n",
         (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9,
         Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss);
  return 0;
}
