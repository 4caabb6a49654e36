/* The floor for one run: only what the result protocol needs for a path of
 * valid 8.3 names. It finds its own directory, checks that the path exists,
 * writes the answer to the work file, closes it and gives it the final name
 * without replacing one. No wildcards, no aliases, no error reports. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  char directory[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", directory, sizeof directory - 1);
  if (length <= 0) return 1;
  directory[length] = '\0';
  *strrchr(directory, '/') = '\0';

  char work[PATH_MAX + 16];
  char final[PATH_MAX + 16];
  snprintf(work, sizeof work, "%s/VEK.TX", directory);
  snprintf(final, sizeof final, "%s/VEK.TXT", directory);

  const char* path = argc > 1 ? argv[1] : "";
  struct stat status;
  const char* answer = stat(path, &status) == 0 ? path : "bAd";

  const int fd = open(work, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || write(fd, answer, strlen(answer)) < 0 || close(fd) != 0) return 1;
  return renameat2(AT_FDCWD, work, AT_FDCWD, final, RENAME_NOREPLACE) == 0 ? 0 : 1;
}
