/* Plain passes over a directory: reads its entries and nothing else, once or
 * as many times as asked (plain_pass DIRECTORY [PASSES]). The yardstick for
 * searches in large directories. */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  DIR* directory = opendir(argc > 1 ? argv[1] : ".");
  if (directory == NULL) return 1;
  const long passes = argc > 2 ? strtol(argv[2], NULL, 10) : 1;
  unsigned long entries = 0;
  for (long pass = 0; pass < passes; ++pass) {
    rewinddir(directory);
    while (readdir(directory) != NULL) ++entries;
  }
  closedir(directory);
  return entries == 0;
}
