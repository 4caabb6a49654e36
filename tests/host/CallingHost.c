/* A host written in C, as a host application would be: converts each line of
   LIST through the host library and writes the answers, one a line.
     getvek_calling_host TOOL LIST */
#include <stdio.h>
#include <string.h>

#include "getvek_call.h"

int main(int argc, char **argv) {
  char path[2048];
  char answer[1000];
  FILE *list = argc == 3 ? fopen(argv[2], "r") : NULL;
  if (list == NULL) return 2;
  while (fgets(path, sizeof path, list) != NULL) {
    path[strcspn(path, "\r\n")] = '\0';
    getvek_call(argv[1], path, answer, sizeof answer, 60000);
    printf("%s\n", answer);
  }
  fclose(list);
  return 0;
}
