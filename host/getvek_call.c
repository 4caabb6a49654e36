/* The host side of the result protocol (getvek_call.h): the order of one call,
   written once, over a few services that each platform provides below. */
#ifndef _WIN32
#define _GNU_SOURCE /* pipe2, beside POSIX */
#endif
#include "getvek_call.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
  exitAnswered = 0,
  exitWorthRetrying = 75, /* EX_TEMPFAIL: another run held the directory, or VEK.TXT was still there */
  maxRuns = 16,
  firstRetryWaitMs = 1,
  longestRetryWaitMs = 100,
  waitSliceMs = 50, /* how often a wait for the tool also looks at its standard error */
  lineSize = 4096   /* of the tool's message line kept; the rest is read and dropped */
};

typedef unsigned long SystemError; /* errno, or GetLastError() */

typedef enum { turnTaken, turnTimedOut, turnFailed } Turn;

typedef enum { runExited, runEndedBySignal, runTimedOut, runNotStarted, runStatusLost } RunEnd;

typedef struct RunOutcome {
  RunEnd end;
  unsigned long code; /* the exit status, the signal, or the SystemError that kept it from starting */
  char line[lineSize];
  size_t lineLength;
  int lineEnded;
} RunOutcome;

/* The tool's first line on standard error, without its line end. */
static void keepLine(RunOutcome *run, const char *bytes, size_t count) {
  size_t at;
  for (at = 0; at < count && !run->lineEnded; ++at) {
    if (bytes[at] == '\n') {
      run->lineEnded = 1;
      if (run->lineLength > 0 && run->line[run->lineLength - 1] == '\r') --run->lineLength;
    } else if (run->lineLength + 1 < lineSize) {
      run->line[run->lineLength++] = bytes[at];
    }
  }
  run->line[run->lineLength] = '\0';
}

static void append(char *buffer, size_t capacity, size_t *length, const char *text) {
  while (*text != '\0' && *length + 1 < capacity) buffer[(*length)++] = *text++;
  if (capacity > 0) buffer[*length] = '\0';
}

/* The call's failure: "getvek_call: <reason>[: <detail>]", cut to fit. */
static int fail(char *answer, size_t capacity, const char *reason, const char *detail) {
  size_t length = 0;
  append(answer, capacity, &length, "getvek_call: ");
  append(answer, capacity, &length, reason);
  if (detail != NULL) {
    append(answer, capacity, &length, ": ");
    append(answer, capacity, &length, detail);
  }
  return -1;
}

static void systemMessage(SystemError error, char *message, size_t size);

static int failOnSystemError(char *answer, size_t capacity, const char *reason, SystemError error) {
  char message[512];
  systemMessage(error, message, sizeof message);
  return fail(answer, capacity, reason, message);
}

static int failWithLine(char *answer, size_t capacity, const char *line) {
  size_t length = 0;
  append(answer, capacity, &length, line);
  return -1;
}

/* The platform's services. A Tool is one call's view of the executable: its
   paths, the argument text and the program directory's lock. */
typedef struct Tool Tool;
static void closeTool(Tool *tool); /* also one that openTool could not make whole */
static long long nowMs(void);
static void sleepMs(unsigned ms);
static Turn takeTurn(Tool *tool, long long deadline, SystemError *error);
static void endTurn(Tool *tool);
static SystemError removeResult(const Tool *tool);
static void runTool(Tool *tool, long long deadline, RunOutcome *run);
/* Up to `capacity` bytes of VEK.TXT into `answer`; their count in `length`. */
static SystemError readResult(const Tool *tool, char *answer, size_t capacity, size_t *length);

static int readAnswer(const Tool *tool, char *answer, size_t capacity) {
  size_t length = 0;
  const SystemError error = readResult(tool, answer, capacity, &length);
  if (error != 0) return failOnSystemError(answer, capacity, "cannot read VEK.TXT", error);
  if (length == capacity) return fail(answer, capacity, "the answer does not fit the buffer", NULL);
  answer[length] = '\0';
  return 0;
}

static int outcomeOf(const Tool *tool, const RunOutcome *run, char *answer, size_t capacity) {
  char reason[64];
  switch (run->end) {
    case runNotStarted:
      return failOnSystemError(answer, capacity, "cannot start the tool", run->code);
    case runTimedOut:
      return fail(answer, capacity, "timed out; the tool's run was ended", NULL);
    case runEndedBySignal:
      snprintf(reason, sizeof reason, "the tool ended on signal %lu", run->code);
      return fail(answer, capacity, reason, NULL);
    case runStatusLost: /* a host that reaps every child itself: the line tells a failure */
      return run->lineLength > 0 ? failWithLine(answer, capacity, run->line) : readAnswer(tool, answer, capacity);
    case runExited:
      break;
  }
  if (run->code == exitAnswered) return readAnswer(tool, answer, capacity);
  if (run->lineLength > 0) return failWithLine(answer, capacity, run->line);
  snprintf(reason, sizeof reason, "the tool exited with status %lu", run->code);
  return fail(answer, capacity, reason, NULL);
}

/* Holding the program directory's turn: a refusal can come only from a run
   started outside the library, and is repeated while the bounds allow. */
static int runUntilAnswered(Tool *tool, long long deadline, char *answer, size_t capacity) {
  RunOutcome run;
  unsigned waitMs = firstRetryWaitMs;
  int runs;
  for (runs = 1;; ++runs) {
    const SystemError error = removeResult(tool);
    if (error != 0) return failOnSystemError(answer, capacity, "cannot remove VEK.TXT", error);
    memset(&run, 0, sizeof run);
    runTool(tool, deadline, &run);
    if (run.end != runExited || run.code != exitWorthRetrying || runs == maxRuns || nowMs() + waitMs >= deadline)
      return outcomeOf(tool, &run, answer, capacity);
    sleepMs(waitMs);
    waitMs = waitMs * 2 < longestRetryWaitMs ? waitMs * 2 : longestRetryWaitMs;
  }
}

static int convert(Tool *tool, char *answer, size_t capacity, unsigned timeout_ms) {
  const long long deadline = nowMs() + timeout_ms;
  SystemError error = 0;
  int result;
  switch (takeTurn(tool, deadline, &error)) {
    case turnTimedOut:
      return fail(answer, capacity, "timed out waiting for another call from the same program directory", NULL);
    case turnFailed:
      return failOnSystemError(answer, capacity, "cannot take the program directory", error);
    case turnTaken:
      break;
  }
  result = runUntilAnswered(tool, deadline, answer, capacity);
  endTurn(tool);
  return result;
}

/* `opened`: what kept openTool from making `tool`, or 0. */
static int convertWith(Tool *tool, SystemError opened, char *answer, size_t capacity, unsigned timeout_ms) {
  const int result = opened != 0 ? failOnSystemError(answer, capacity, "cannot start the tool", opened)
                                 : convert(tool, answer, capacity, timeout_ms);
  closeTool(tool);
  return result;
}

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

struct Tool {
  wchar_t *executable; /* full path */
  wchar_t *result;     /* VEK.TXT beside it */
  wchar_t *commandLine;
  HANDLE turn;
};

static void systemMessage(SystemError error, char *message, size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, message,
                                (DWORD)size, NULL);
  while (length > 0 && (message[length - 1] == '\n' || message[length - 1] == '\r' || message[length - 1] == ' '))
    --length;
  if (length == 0) {
    snprintf(message, size, "error %lu", error);
  } else {
    message[length] = '\0';
  }
}

static long long nowMs(void) { return (long long)GetTickCount64(); }

static void sleepMs(unsigned ms) { Sleep(ms); }

static DWORD msUntil(long long deadline) {
  const long long left = deadline - nowMs();
  return left > 0 ? (DWORD)left : 0;
}

/* The first `length` characters of `text`, with room for `more` after them. */
static wchar_t *prefixOf(const wchar_t *text, size_t length, size_t more) {
  wchar_t *copy = malloc((length + more + 1) * sizeof *copy);
  if (copy == NULL) return NULL;
  memcpy(copy, text, length * sizeof *copy);
  copy[length] = L'\0';
  return copy;
}

/* The lock of its own: a mutex named, as the tool names its own
   ("getvek-run-"), after the program directory's volume serial number and
   file index, so that every spelling of one directory meets it. */
static SystemError openTurn(Tool *tool, size_t directoryLength) {
  static const wchar_t hex[] = L"0123456789ABCDEF";
  /* "C:" alone would name the drive's current directory. */
  const size_t openedLength = tool->executable[directoryLength - 1] == L':' ? directoryLength + 1 : directoryLength;
  wchar_t *directory = prefixOf(tool->executable, openedLength, 0);
  wchar_t name[64] = L"Global\\getvek-host-";
  BY_HANDLE_FILE_INFORMATION identity;
  HANDLE handle;
  DWORD parts[3];
  size_t at = wcslen(name);
  int part;
  int shift;
  if (directory == NULL) return ERROR_NOT_ENOUGH_MEMORY;
  handle = CreateFileW(directory, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  free(directory);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  if (!GetFileInformationByHandle(handle, &identity)) {
    const SystemError error = GetLastError();
    CloseHandle(handle);
    return error;
  }
  CloseHandle(handle);
  parts[0] = identity.dwVolumeSerialNumber;
  parts[1] = identity.nFileIndexHigh;
  parts[2] = identity.nFileIndexLow;
  for (part = 0; part < 3; ++part)
    for (shift = 28; shift >= 0; shift -= 4) name[at++] = hex[(parts[part] >> shift) & 0xF];
  name[at] = L'\0';
  tool->turn = CreateMutexW(NULL, FALSE, name);
  return tool->turn == NULL ? GetLastError() : 0;
}

static void closeTool(Tool *tool) {
  if (tool->turn != NULL) CloseHandle(tool->turn);
  free(tool->executable);
  free(tool->result);
  free(tool->commandLine);
}

/* The command line is the quoted executable, a space and the path: the tool
   takes everything after the blanks that follow its name as the path. */
static SystemError openTool(Tool *tool, const wchar_t *toolPath, const wchar_t *longPath) {
  const DWORD size = GetFullPathNameW(toolPath, 0, NULL, NULL);
  const wchar_t *slash;
  size_t directoryLength;
  memset(tool, 0, sizeof *tool);
  if (size == 0) return GetLastError();
  tool->executable = malloc(size * sizeof *tool->executable);
  if (tool->executable == NULL) return ERROR_NOT_ENOUGH_MEMORY;
  if (GetFullPathNameW(toolPath, size, tool->executable, NULL) == 0) return GetLastError();
  slash = wcsrchr(tool->executable, L'\\');
  if (slash == NULL) return ERROR_BAD_PATHNAME;
  directoryLength = (size_t)(slash - tool->executable);
  tool->result = prefixOf(tool->executable, directoryLength, wcslen(L"\\VEK.TXT"));
  tool->commandLine = prefixOf(L"\"", 1, wcslen(tool->executable) + wcslen(L"\" ") + wcslen(longPath));
  if (tool->result == NULL || tool->commandLine == NULL) return ERROR_NOT_ENOUGH_MEMORY;
  wcscat(tool->result, L"\\VEK.TXT");
  wcscat(wcscat(wcscat(tool->commandLine, tool->executable), L"\" "), longPath);
  return openTurn(tool, directoryLength);
}

/* A holder that ended without releasing it leaves it abandoned; the next
   call takes it over. */
static Turn takeTurn(Tool *tool, long long deadline, SystemError *error) {
  switch (WaitForSingleObject(tool->turn, msUntil(deadline))) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return turnTaken;
    case WAIT_TIMEOUT:
      return turnTimedOut;
    default:
      *error = GetLastError();
      return turnFailed;
  }
}

static void endTurn(Tool *tool) { ReleaseMutex(tool->turn); }

static SystemError removeResult(const Tool *tool) {
  if (DeleteFileW(tool->result) || GetLastError() == ERROR_FILE_NOT_FOUND) return 0;
  return GetLastError();
}

static void readAvailable(HANDLE output, RunOutcome *run) {
  char buffer[4096];
  DWORD available = 0;
  DWORD got = 0;
  while (PeekNamedPipe(output, NULL, 0, NULL, &available, NULL) && available > 0 &&
         ReadFile(output, buffer, available < sizeof buffer ? available : sizeof buffer, &got, NULL) && got > 0)
    keepLine(run, buffer, got);
}

/* Waited for by its process, never by the pipe's end: another thread of the
   host that starts a process meanwhile may inherit the pipe's write end too.
   The pipe is read as the run goes, so that a long line cannot fill it. */
static void waitForTool(HANDLE process, HANDLE output, long long deadline, RunOutcome *run) {
  DWORD code = 0;
  for (;;) {
    const DWORD left = msUntil(deadline);
    const DWORD waited = WaitForSingleObject(process, left < waitSliceMs ? left : waitSliceMs);
    readAvailable(output, run);
    if (waited == WAIT_OBJECT_0) break;
    if (waited != WAIT_TIMEOUT || msUntil(deadline) == 0) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, INFINITE);
      run->end = runTimedOut;
      return;
    }
  }
  GetExitCodeProcess(process, &code);
  run->end = runExited;
  run->code = code;
}

/* Started with its standard error on `errorEnd`, and with no other handle
   of the host: a handle it inherited, a file the host has open, would stay
   open until the tool had ended. */
static BOOL startTool(Tool *tool, HANDLE errorEnd, PROCESS_INFORMATION *process) {
  STARTUPINFOEXW startup;
  SIZE_T size = 0;
  BOOL started = FALSE;
  memset(&startup, 0, sizeof startup);
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdError = errorEnd;
  InitializeProcThreadAttributeList(NULL, 1, 0, &size);
  startup.lpAttributeList = malloc(size);
  if (startup.lpAttributeList == NULL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
    /* A console program: a host without a console would otherwise show a window for each run. */
    started = UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &errorEnd,
                                        sizeof errorEnd, NULL, NULL) &&
              CreateProcessW(tool->executable, tool->commandLine, NULL, NULL, TRUE,
                             CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, NULL, NULL, &startup.StartupInfo,
                             process);
    DeleteProcThreadAttributeList(startup.lpAttributeList);
  }
  free(startup.lpAttributeList);
  return started;
}

static void runTool(Tool *tool, long long deadline, RunOutcome *run) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
  PROCESS_INFORMATION process;
  HANDLE output = NULL;
  HANDLE errorEnd = NULL;
  BOOL started;
  if (!CreatePipe(&output, &errorEnd, &inheritable, 0)) {
    run->end = runNotStarted;
    run->code = GetLastError();
    return;
  }
  SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
  started = startTool(tool, errorEnd, &process);
  run->code = started ? 0 : GetLastError();
  CloseHandle(errorEnd);
  if (started) {
    CloseHandle(process.hThread);
    waitForTool(process.hProcess, output, deadline, run);
    CloseHandle(process.hProcess);
  } else {
    run->end = runNotStarted;
  }
  CloseHandle(output);
}

static SystemError readResult(const Tool *tool, char *answer, size_t capacity, size_t *length) {
  const HANDLE file =
      CreateFileW(tool->result, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  SystemError error = 0;
  DWORD got = 0;
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  while (*length < capacity) {
    const size_t wanted = capacity - *length;
    if (!ReadFile(file, answer + *length, wanted < 65536 ? (DWORD)wanted : 65536, &got, NULL)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    *length += got;
  }
  CloseHandle(file);
  return error;
}

int getvek_callW(const wchar_t *tool_path, const wchar_t *long_path, char *answer, size_t capacity,
                 unsigned timeout_ms) {
  Tool tool;
  return convertWith(&tool, openTool(&tool, tool_path, long_path), answer, capacity, timeout_ms);
}

/* Narrow text is in the ANSI code page, as the tool reads it. */
static wchar_t *widened(const char *text) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
  wchar_t *wide = length > 0 ? malloc((size_t)length * sizeof *wide) : NULL;
  if (wide != NULL && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, length) != length) {
    free(wide);
    wide = NULL;
  }
  return wide;
}

int getvek_call(const char *tool_path, const char *long_path, char *answer, size_t capacity, unsigned timeout_ms) {
  wchar_t *tool = widened(tool_path);
  wchar_t *path = widened(long_path);
  const int result = tool != NULL && path != NULL
                         ? getvek_callW(tool, path, answer, capacity, timeout_ms)
                         : fail(answer, capacity, "a path is not text in the ANSI code page", NULL);
  free(tool);
  free(path);
  return result;
}

#else

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

struct Tool {
  char *executable; /* resolved: the program directory is the one the file itself is in */
  char *result;     /* VEK.TXT beside it */
  const char *path;
  int turn; /* the executable, opened for its lock */
  pthread_mutex_t *threadTurn;
};

static void systemMessage(SystemError error, char *message, size_t size) {
  size_t length = 0;
  append(message, size, &length, strerror((int)error));
}

static long long nowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static void sleepMs(unsigned ms) {
  struct timespec left;
  left.tv_sec = (time_t)(ms / 1000);
  left.tv_nsec = (long)(ms % 1000) * 1000000;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

static void closeTool(Tool *tool) {
  if (tool->turn >= 0) close(tool->turn);
  free(tool->executable);
  free(tool->result);
}

static SystemError openTool(Tool *tool, const char *toolPath, const char *longPath) {
  size_t directoryLength;
  memset(tool, 0, sizeof *tool);
  tool->turn = -1;
  tool->path = longPath;
  tool->executable = realpath(toolPath, NULL);
  if (tool->executable == NULL) return (SystemError)errno;
  directoryLength = (size_t)(strrchr(tool->executable, '/') - tool->executable);
  tool->result = malloc(directoryLength + sizeof "/VEK.TXT");
  if (tool->result == NULL) return ENOMEM;
  memcpy(tool->result, tool->executable, directoryLength);
  memcpy(tool->result + directoryLength, "/VEK.TXT", sizeof "/VEK.TXT");
  tool->turn = open(tool->executable, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  return tool->turn < 0 ? (SystemError)errno : 0;
}

/* The lock of its own is taken in two steps. The threads of one process
   queue at a mutex (one of a few, chosen by the executable's identity), and
   only the one holding it goes on to flock the executable, which keeps
   processes apart: the tool flocks its directory, and a lock on the
   directory would turn every run away. Both waits end at the deadline. flock
   takes no timeout, so a call that finds it taken leaves the blocking flock
   to a thread of its own and waits for that thread: it is woken as soon as
   the lock is free, where trying again now and then would leave the lock to
   whichever caller came back first, and a waiting one could wait past any
   timeout. A call that gives up leaves the descriptor to that thread, which
   closes it once it has the lock. */
enum { threadTurnCount = 16 };
static pthread_mutex_t threadTurns[threadTurnCount];
static pthread_once_t threadTurnsMade = PTHREAD_ONCE_INIT;

static void makeThreadTurns(void) {
  int turn;
  for (turn = 0; turn < threadTurnCount; ++turn) pthread_mutex_init(&threadTurns[turn], NULL);
}

/* The deadline as a time on `clock`, for the waits that take one. */
static struct timespec onClock(clockid_t clock, long long deadline) {
  struct timespec at;
  long long left = deadline - nowMs();
  if (left < 0) left = 0;
  clock_gettime(clock, &at);
  at.tv_sec += (time_t)(left / 1000);
  at.tv_nsec += (long)(left % 1000) * 1000000;
  if (at.tv_nsec >= 1000000000) {
    at.tv_nsec -= 1000000000;
    ++at.tv_sec;
  }
  return at;
}

typedef enum { waiting, taken, failed, gaveUp } WaitState;

typedef struct Waiter {
  pthread_mutex_t mutex;
  pthread_cond_t changed;
  int turn;
  WaitState state;
  SystemError error;
  int owners; /* the call and the thread: the last to let go frees it */
} Waiter;

static void letGo(Waiter *waiter) {
  int last;
  pthread_mutex_lock(&waiter->mutex);
  last = --waiter->owners == 0;
  pthread_mutex_unlock(&waiter->mutex);
  if (!last) return;
  pthread_cond_destroy(&waiter->changed);
  pthread_mutex_destroy(&waiter->mutex);
  free(waiter);
}

static void *waitForTurn(void *argument) {
  Waiter *waiter = argument;
  int locked;
  SystemError error;
  do {
    locked = flock(waiter->turn, LOCK_EX) == 0;
  } while (!locked && errno == EINTR);
  error = locked ? 0 : (SystemError)errno;
  pthread_mutex_lock(&waiter->mutex);
  if (waiter->state == gaveUp) {
    flock(waiter->turn, LOCK_UN);
    close(waiter->turn);
  } else {
    waiter->state = locked ? taken : failed;
    waiter->error = error;
    pthread_cond_signal(&waiter->changed);
  }
  pthread_mutex_unlock(&waiter->mutex);
  letGo(waiter);
  return NULL;
}

/* Detached, and with every signal blocked: the host's signals are for its
   own threads. */
static int startWaiting(Waiter *waiter) {
  pthread_attr_t attributes;
  pthread_t thread;
  sigset_t all;
  sigset_t before;
  int error = pthread_attr_init(&attributes);
  if (error != 0) return error;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  error = pthread_create(&thread, &attributes, waitForTurn, waiter);
  pthread_sigmask(SIG_SETMASK, &before, NULL);
  pthread_attr_destroy(&attributes);
  return error;
}

static Waiter *newWaiter(int turn) {
  Waiter *waiter = malloc(sizeof *waiter);
  pthread_condattr_t attributes;
  if (waiter == NULL) return NULL;
  pthread_mutex_init(&waiter->mutex, NULL);
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&waiter->changed, &attributes);
  pthread_condattr_destroy(&attributes);
  waiter->turn = turn;
  waiter->state = waiting;
  waiter->error = 0;
  waiter->owners = 2;
  return waiter;
}

static Turn takeProcessTurn(Tool *tool, long long deadline, SystemError *error) {
  struct timespec until;
  Waiter *waiter;
  WaitState state;
  if (flock(tool->turn, LOCK_EX | LOCK_NB) == 0) return turnTaken;
  if (errno != EWOULDBLOCK) {
    *error = (SystemError)errno;
    return turnFailed;
  }
  waiter = newWaiter(tool->turn);
  if (waiter == NULL) {
    *error = ENOMEM;
    return turnFailed;
  }
  *error = (SystemError)startWaiting(waiter);
  if (*error != 0) {
    waiter->owners = 1;
    letGo(waiter);
    return turnFailed;
  }
  until = onClock(CLOCK_MONOTONIC, deadline);
  pthread_mutex_lock(&waiter->mutex);
  while (waiter->state == waiting && pthread_cond_timedwait(&waiter->changed, &waiter->mutex, &until) != ETIMEDOUT) {
  }
  state = waiter->state;
  if (state == waiting) {
    waiter->state = gaveUp;
    tool->turn = -1;
  }
  *error = waiter->error;
  pthread_mutex_unlock(&waiter->mutex);
  letGo(waiter);
  return state == taken ? turnTaken : state == failed ? turnFailed : turnTimedOut;
}

static Turn takeTurn(Tool *tool, long long deadline, SystemError *error) {
  struct stat identity;
  struct timespec until;
  int locked;
  Turn turn;
  if (fstat(tool->turn, &identity) != 0) {
    *error = (SystemError)errno;
    return turnFailed;
  }
  pthread_once(&threadTurnsMade, makeThreadTurns);
  tool->threadTurn = &threadTurns[(identity.st_dev ^ identity.st_ino) % threadTurnCount];
  until = onClock(CLOCK_REALTIME, deadline);
  locked = pthread_mutex_timedlock(tool->threadTurn, &until);
  if (locked != 0) {
    *error = (SystemError)locked;
    return locked == ETIMEDOUT ? turnTimedOut : turnFailed;
  }
  turn = takeProcessTurn(tool, deadline, error);
  if (turn != turnTaken) pthread_mutex_unlock(tool->threadTurn);
  return turn;
}

/* Unlocked, not only closed: a process that another thread forked meanwhile
   may still share the descriptor until it runs its program. */
static void endTurn(Tool *tool) {
  flock(tool->turn, LOCK_UN);
  pthread_mutex_unlock(tool->threadTurn);
}

static SystemError removeResult(const Tool *tool) {
  return unlink(tool->result) == 0 || errno == ENOENT ? 0 : (SystemError)errno;
}

/* 0 once the pipe has ended. */
static int readOutput(int output, RunOutcome *run) {
  char buffer[4096];
  const ssize_t got = read(output, buffer, sizeof buffer);
  if (got > 0) keepLine(run, buffer, (size_t)got);
  return got > 0 || (got < 0 && errno == EINTR);
}

static int reap(pid_t child, int *status) {
  pid_t reaped;
  do {
    reaped = waitpid(child, status, 0);
  } while (reaped < 0 && errno == EINTR);
  return reaped == child;
}

/* The end of its standard error tells that the tool has ended, but a process
   that another thread forked meanwhile may hold the pipe's write end until it
   runs its program: so the process is also asked after every slice. */
static void waitForTool(pid_t child, int output, long long deadline, RunOutcome *run) {
  struct pollfd ready;
  int status = 0;
  int ended = 0;
  int reaped = 0;
  ready.fd = output;
  ready.events = POLLIN;
  while (!ended && !reaped) {
    const long long left = deadline - nowMs();
    int got;
    if (left <= 0) break;
    got = poll(&ready, 1, left < waitSliceMs ? (int)left : waitSliceMs);
    if (got > 0) ended = !readOutput(output, run);
    if (got == 0) reaped = waitpid(child, &status, WNOHANG) == child;
  }
  if (!ended && !reaped) {
    kill(child, SIGKILL);
    reap(child, &status);
    run->end = runTimedOut;
    return;
  }
  while (!ended && poll(&ready, 1, 0) > 0) ended = !readOutput(output, run);
  if (!reaped && !reap(child, &status)) {
    run->end = runStatusLost;
  } else if (WIFEXITED(status)) {
    run->end = runExited;
    run->code = (unsigned long)WEXITSTATUS(status);
  } else {
    run->end = runEndedBySignal;
    run->code = (unsigned long)WTERMSIG(status);
  }
}

/* The path is one argument: the tool joins its arguments with single spaces. */
static void runTool(Tool *tool, long long deadline, RunOutcome *run) {
  char *arguments[3];
  posix_spawn_file_actions_t actions;
  pid_t child = 0;
  int output[2];
  int error;
  arguments[0] = tool->executable;
  arguments[1] = (char *)tool->path;
  arguments[2] = NULL;
  if (pipe2(output, O_CLOEXEC) != 0) {
    run->end = runNotStarted;
    run->code = (unsigned long)errno;
    return;
  }
  error = posix_spawn_file_actions_init(&actions);
  if (error == 0) {
    error = posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    if (error == 0) error = posix_spawn(&child, tool->executable, &actions, NULL, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
  }
  close(output[1]);
  if (error == 0) {
    waitForTool(child, output[0], deadline, run);
  } else {
    run->end = runNotStarted;
    run->code = (unsigned long)error;
  }
  close(output[0]);
}

static SystemError readResult(const Tool *tool, char *answer, size_t capacity, size_t *length) {
  const int file = open(tool->result, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  SystemError error = 0;
  if (file < 0) return (SystemError)errno;
  while (*length < capacity) {
    const ssize_t got = read(file, answer + *length, capacity - *length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = (SystemError)errno;
    if (got <= 0) break;
    *length += (size_t)got;
  }
  close(file);
  return error;
}

int getvek_call(const char *tool_path, const char *long_path, char *answer, size_t capacity, unsigned timeout_ms) {
  Tool tool;
  return convertWith(&tool, openTool(&tool, tool_path, long_path), answer, capacity, timeout_ms);
}

#endif
