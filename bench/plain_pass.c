/* Plain passes over a directory: reads its entries and nothing else, once or
 * as many times as asked (plain_pass DIRECTORY [PASSES] [statx]). The
 * yardstick for searches in large directories, and, passed many times over
 * a small one, for the library's conversions. With "statx", each entry's
 * birth time is also looked up in every pass, one after the other: the
 * least that proving an entry's rank in its basis costs, where the listing
 * does not carry the birth times. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

int main(int argc, char** argv) {
  DIR* directory = opendir(argc > 1 ? argv[1] : ".");
  if (directory == NULL) return 1;
  const long passes = argc > 2 ? strtol(argv[2], NULL, 10) : 1;
  const int birthTimes = argc > 3 && strcmp(argv[3], "statx") == 0;
  unsigned long entries = 0;
  unsigned long born = 0;
  for (long pass = 0; pass < passes; ++pass) {
    rewinddir(directory);
    const struct dirent* entry;
    while ((entry = readdir(directory)) != NULL) {
      ++entries;
      struct statx attributes;
      if (birthTimes &&
          statx(dirfd(directory), entry->d_name, AT_SYMLINK_NOFOLLOW, STATX_BTIME, &attributes) == 0)
        born += attributes.stx_btime.tv_nsec & 1;
    }
  }
  closedir(directory);
  return entries == 0 || born > entries;
}
