/* One plain pass over a directory: reads its entries and nothing else. The
 * yardstick for searches in large directories. */
#include <dirent.h>
#include <stdio.h>

int main(int argc, char** argv) {
  DIR* directory = opendir(argc > 1 ? argv[1] : ".");
  if (directory == NULL) return 1;
  unsigned long entries = 0;
  while (readdir(directory) != NULL) ++entries;
  closedir(directory);
  return entries == 0;
}
