/* getvek in the caller's own process: the short 8.3 form of a path, as one
 * run of the getvek tool would leave it in VEK.TXT, without a process, a
 * result file or a lock.
 *
 * Link with `pkg-config --cflags --libs getvek`, or in CMake
 * `find_package(getvek)` and the target `getvek::getvek`. */
#ifndef GETVEK_H
#define GETVEK_H

#include <stddef.h>

#if defined(_WIN32) && defined(GETVEK_BUILDING_LIBRARY)
#define GETVEK_API __declspec(dllexport)
#elif defined(GETVEK_BUILDING_LIBRARY)
#define GETVEK_API __attribute__((visibility("default")))
#else
#define GETVEK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The answer could not be found out (no descriptors, no memory, an I/O
 * error): `answer` holds the line the tool would print, without its
 * program name: "cannot <action>: <reason>". */
#define GETVEK_FAILED (-1)
/* `capacity` cannot hold the answer (or the failure's line) with its
 * terminator: `answer` then holds the empty string when `capacity` is at
 * least 1, and nothing is written when it is 0. */
#define GETVEK_TOO_SMALL (-2)

/* Answers exactly what one run of the tool would leave in VEK.TXT for the
 * argument text `path`: spaces around it removed, wildcards resolved as
 * Windows does, and the short form, or "bAd" where the path has none or
 * its short form would not fit 1,000 characters with its terminator.
 * Returns 0 with the answer NUL-terminated in `answer` (`capacity` bytes),
 * or GETVEK_FAILED or GETVEK_TOO_SMALL.
 *
 * A relative path follows the process's current directory at the call. On
 * Windows `path` and the answer are in the ANSI code page, as the tool's
 * argument and result file are.
 *
 * Writes no file, takes no lock and keeps nothing from one call to the
 * next; it changes no setting of the process (signals, allocator, current
 * directory). Any number of threads may call it at once. */
GETVEK_API int getvek_short_form(const char *path, char *answer, size_t capacity);

#ifdef _WIN32
#include <wchar.h>
/* The same, with `path` and the answer (or the failure's line) in UTF-16,
 * so that nothing the ANSI code page lacks is lost; `capacity` counts
 * wchar_t. Where the code page writes the path, the answer is the one
 * getvek_short_form gives. */
GETVEK_API int getvek_short_formW(const wchar_t *path, wchar_t *answer, size_t capacity);
#endif

#ifdef __cplusplus
}
#endif

#endif
