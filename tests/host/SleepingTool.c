/* A stand-in for the tool that never answers: it writes its process id into
   the file its argument names, then sleeps far longer than any test waits. */
#include <stdio.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char **argv) {
  FILE *file = argc > 1 ? fopen(argv[1], "w") : NULL;
  if (file == NULL) return 1;
#ifdef _WIN32
  fprintf(file, "%lu", (unsigned long)GetCurrentProcessId());
  fclose(file);
  Sleep(600000);
#else
  fprintf(file, "%ld", (long)getpid());
  fclose(file);
  sleep(600);
#endif
  return 0;
}
