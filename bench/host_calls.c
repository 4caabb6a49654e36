/* Conversions a second through the host library (host/getvek_call.h), from
 * one program directory, or in the process itself through the library
 * (library/getvek.h) when TOOL is --in-process: each path's answer is taken
 * once, one call after the other, then `calls` conversions are made over
 * the paths in turn by `threads` threads at once. Prints the conversions a
 * second, how many answers differed from the first ones (0 unless the calls
 * mixed answers), and the longest call in milliseconds: turns are not
 * queued, so one call may wait while others take the turn.
 *   host_calls TOOL|--in-process THREADS CALLS PATH... */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "getvek.h"
#include "getvek_call.h"

enum { capacity = 1000, timeoutMs = 60000 };

typedef struct Batch {
  const char *tool; /* NULL: in this process */
  char **paths;
  char (*answers)[capacity];
  int pathCount;
  int calls;
  int threads;
  int differences;
  double longest;
  pthread_mutex_t lock;
} Batch;

typedef struct Worker {
  Batch *batch;
  int first;
} Worker;

static double seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static int convert(const Batch *batch, const char *path, char *answer) {
  if (batch->tool == NULL) return getvek_short_form(path, answer, capacity);
  return getvek_call(batch->tool, path, answer, capacity, timeoutMs);
}

static void *convertShare(void *argument) {
  const Worker *worker = argument;
  Batch *batch = worker->batch;
  char answer[capacity];
  int differences = 0;
  double longest = 0;
  int call;
  for (call = worker->first; call < batch->calls; call += batch->threads) {
    const int path = call % batch->pathCount;
    const double started = seconds();
    double took;
    if (convert(batch, batch->paths[path], answer) != 0 ||
        strcmp(answer, batch->answers[path]) != 0)
      ++differences;
    took = seconds() - started;
    if (took > longest) longest = took;
  }
  pthread_mutex_lock(&batch->lock);
  batch->differences += differences;
  if (longest > batch->longest) batch->longest = longest;
  pthread_mutex_unlock(&batch->lock);
  return NULL;
}

int main(int argc, char **argv) {
  Batch batch;
  pthread_t *threads;
  Worker *workers;
  double started;
  int i;
  if (argc < 5) {
    fprintf(stderr, "usage: host_calls TOOL|--in-process THREADS CALLS PATH...\n");
    return 2;
  }
  batch.tool = strcmp(argv[1], "--in-process") == 0 ? NULL : argv[1];
  batch.threads = atoi(argv[2]);
  batch.calls = atoi(argv[3]);
  batch.paths = argv + 4;
  batch.pathCount = argc - 4;
  batch.differences = 0;
  batch.longest = 0;
  batch.answers = malloc(sizeof *batch.answers * (size_t)batch.pathCount);
  threads = malloc(sizeof *threads * (size_t)batch.threads);
  workers = malloc(sizeof *workers * (size_t)batch.threads);
  if (batch.threads < 1 || batch.answers == NULL || threads == NULL || workers == NULL) return 2;
  pthread_mutex_init(&batch.lock, NULL);
  for (i = 0; i < batch.pathCount; ++i) {
    if (convert(&batch, batch.paths[i], batch.answers[i]) != 0) {
      fprintf(stderr, "%s\n", batch.answers[i]);
      return 1;
    }
  }
  started = seconds();
  for (i = 0; i < batch.threads; ++i) {
    workers[i].batch = &batch;
    workers[i].first = i;
    pthread_create(&threads[i], NULL, convertShare, &workers[i]);
  }
  for (i = 0; i < batch.threads; ++i) pthread_join(threads[i], NULL);
  printf("%.0f %d %.0f\n", batch.calls / (seconds() - started), batch.differences, batch.longest * 1000);
  return 0;
}
