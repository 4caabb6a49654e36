/* getvek_call: a host application's way to run getvek and read its answer.

   The tool leaves its answer in VEK.TXT beside itself and keeps its runs apart
   only while a run lasts, so every caller of one program directory, from any
   thread or process of any host and in any language, takes a turn first: the
   protocol is in docs/hosts.md, and this library and host/python follow it.

   Calls are thread-safe, and may be made from a child of fork() and from a
   library loaded and unloaded at will: a call that returns has left no thread,
   descriptor or lock behind. On disk it leaves the last VEK.TXT (and whatever
   a run that was ended left, see docs/hosts.md). Relative paths are taken
   from the host's current directory.

   answer: an answer is at most 999 bytes, so a capacity of 1000 holds every
   one; a message is cut to fit. Text is in the encoding the tool answers in:
   the bytes as typed on Linux, the ANSI code page on Windows. */
#ifndef GETVEK_CALL_H
#define GETVEK_CALL_H

#include <stddef.h>
#ifdef _WIN32
#include <wchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What a call returns; the message beside a failure is in `answer`. */
enum {
  GETVEK_CALL_ANSWERED = 0,      /* the answer, or "bAd" */
  GETVEK_CALL_FAILED = -1,       /* the tool's own failure line, or "getvek_call: <reason>" */
  GETVEK_CALL_TIMEOUT = -2,      /* the timeout ended the wait for the turn or the tool's run */
  GETVEK_CALL_CANNOT_START = -3  /* the tool could not be opened for its turn, or not started */
};

/* timeout_ms bounds the whole call: the wait for the turn, the runs and their
   retries. 0 starts nothing and times out at once; GETVEK_CALL_NO_TIMEOUT
   waits without a limit. */
#define GETVEK_CALL_NO_TIMEOUT 0xFFFFFFFFu

/* Converts one path with the getvek executable at tool_path. */
int getvek_call(const char *tool_path, const char *long_path, char *answer, size_t capacity, unsigned timeout_ms);
#ifdef _WIN32
int getvek_callW(const wchar_t *tool_path, const wchar_t *long_path, char *answer, size_t capacity, unsigned timeout_ms);
#endif

#ifdef __cplusplus
}
#endif

#endif
