/* Fills a directory on an NTFS volume mounted with ntfs-3g as Windows would
 * have: N files "long shared prefix NNNNNN.txt" in creation order, each with
 * a DOS name, LONGSH~1.TXT to LONGSH~4.TXT for the first four and a
 * checksum-like LOxxxx~1.TXT for the rest. For the ntfs-3g case of bench/run.
 *   fill_ntfs DIRECTORY N */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/xattr.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const long entries = atol(argv[2]);
  for (long index = 0; index < entries; ++index) {
    char path[4096];
    char dosName[16];
    snprintf(path, sizeof path, "%s/long shared prefix %06ld.txt", argv[1], index);
    if (index < 4)
      snprintf(dosName, sizeof dosName, "LONGSH~%ld.TXT", index + 1);
    else
      snprintf(dosName, sizeof dosName, "LO%04lX~1.TXT", (unsigned long)index & 0xFFFF);
    const int file = open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (file < 0 || close(file) != 0 || setxattr(path, "system.ntfs_dos_name", dosName, strlen(dosName), 0) != 0) {
      perror(path);
      return 1;
    }
  }
  return 0;
}
