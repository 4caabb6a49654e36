/* getvek_call: a host application's way to run getvek and read its answer.

   The tool leaves its answer in VEK.TXT beside itself, and keeps runs from one
   program directory apart only while a run lasts: a second caller that removes
   VEK.TXT and starts its own run before the first has read the answer takes
   that answer away, or leaves its own in its place. So every call, from any
   thread or process of any host, waits its turn for the program directory
   (a lock of the library's own, which the tool never takes), removes a stale
   VEK.TXT, starts the tool with the path as its whole argument text (no
   shell, no window), waits for it to end, and reads VEK.TXT.

   A run refused because something outside the library was running the tool
   from the same directory (exit status 75) is repeated: at most 16 runs in
   all, waiting 1, 2, 4 ... up to 100 ms between them, never past the
   timeout; then the call fails with the tool's refusal line. A call whose
   timeout ends while the tool runs ends the run (SIGKILL, TerminateProcess)
   and waits for it to be gone before it returns.

   answer: an answer is at most 999 bytes, so a capacity of 1000 holds every
   one; a message is cut to fit. Text is in the encoding the tool answers in:
   the bytes as typed on Linux, the ANSI code page on Windows (see README.md,
   "Calling it from a host"). */
#ifndef GETVEK_CALL_H
#define GETVEK_CALL_H

#include <stddef.h>
#ifdef _WIN32
#include <wchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Converts one path with the getvek executable at tool_path. Returns 0 with the answer (or "bAd")
   NUL-terminated in answer; -1 with the tool's message line, or a reason of its own, in answer.
   timeout_ms bounds the whole call, retries included. */
int getvek_call(const char *tool_path, const char *long_path, char *answer, size_t capacity, unsigned timeout_ms);
#ifdef _WIN32
int getvek_callW(const wchar_t *tool_path, const wchar_t *long_path, char *answer, size_t capacity, unsigned timeout_ms);
#endif

#ifdef __cplusplus
}
#endif

#endif
