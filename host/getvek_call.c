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
  firstRetryWaitMs = 1,
  longestRetryWaitMs = 100,
  waitSliceMs = 50, /* how often a wait for the tool also looks at its standard error */
  lineSize = 4096,  /* of the tool's message line kept; the rest is read and dropped */
  replacedMeanwhile = 1 /* never returned: the tool was replaced during the turn, which is taken again */
};

typedef unsigned long SystemError; /* errno, or GetLastError() */

typedef enum { turnTaken, turnBusy, turnReplaced, turnTimedOut, turnUnopened, turnFailed } Turn;

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
static int fail(int code, char *answer, size_t capacity, const char *reason, const char *detail) {
  size_t length = 0;
  append(answer, capacity, &length, "getvek_call: ");
  append(answer, capacity, &length, reason);
  if (detail != NULL) {
    append(answer, capacity, &length, ": ");
    append(answer, capacity, &length, detail);
  }
  return code;
}

static void systemMessage(SystemError error, char *message, size_t size);

static int failOnSystemError(int code, char *answer, size_t capacity, const char *reason, SystemError error) {
  char message[512];
  systemMessage(error, message, sizeof message);
  return fail(code, answer, capacity, reason, message);
}

static int failWithLine(char *answer, size_t capacity, const char *line) {
  size_t length = 0;
  append(answer, capacity, &length, line);
  return GETVEK_CALL_FAILED;
}

/* The platform's services. A Tool is one call's view of the executable: its
   paths, the argument text and the program directory's turn. */
typedef struct Tool Tool;
static void closeTool(Tool *tool); /* also one that openTool could not make whole */
static long long nowMs(void);
static void sleepMs(unsigned ms);
static Turn takeTurn(Tool *tool, long long deadline, SystemError *error);
static void endTurn(Tool *tool);
/* Whether the turn taken is still the program directory's (a replaced tool is taken anew). */
static int stillTheToolsTurn(const Tool *tool);
static SystemError removeResult(const Tool *tool);
static void runTool(Tool *tool, long long deadline, RunOutcome *run);
/* Up to `capacity` bytes of VEK.TXT into `answer`; their count in `length`. */
static SystemError readResult(const Tool *tool, char *answer, size_t capacity, size_t *length);

static int readAnswer(const Tool *tool, char *answer, size_t capacity) {
  size_t length = 0;
  const SystemError error = readResult(tool, answer, capacity, &length);
  if (error != 0) return failOnSystemError(GETVEK_CALL_FAILED, answer, capacity, "cannot read VEK.TXT", error);
  if (length == capacity) return fail(GETVEK_CALL_FAILED, answer, capacity, "the answer does not fit the buffer", NULL);
  answer[length] = '\0';
  return GETVEK_CALL_ANSWERED;
}

static int outcomeOf(const Tool *tool, const RunOutcome *run, char *answer, size_t capacity) {
  char reason[64];
  switch (run->end) {
    case runNotStarted:
      return failOnSystemError(GETVEK_CALL_CANNOT_START, answer, capacity, "cannot start the tool", run->code);
    case runTimedOut:
      return fail(GETVEK_CALL_TIMEOUT, answer, capacity, "timed out; the tool's run was ended", NULL);
    case runEndedBySignal:
      snprintf(reason, sizeof reason, "the tool ended on signal %lu", run->code);
      return fail(GETVEK_CALL_FAILED, answer, capacity, reason, NULL);
    case runStatusLost: /* a host that reaps every child itself: the line tells a failure */
      return run->lineLength > 0 ? failWithLine(answer, capacity, run->line) : readAnswer(tool, answer, capacity);
    case runExited:
      break;
  }
  if (run->code == exitAnswered) return readAnswer(tool, answer, capacity);
  if (run->lineLength > 0) return failWithLine(answer, capacity, run->line);
  snprintf(reason, sizeof reason, "the tool exited with status %lu", run->code);
  return fail(GETVEK_CALL_FAILED, answer, capacity, reason, NULL);
}

/* Holding the program directory's turn: a refusal can come only from a run
   started outside the library (or from a caller still on a replaced tool's
   turn), and is repeated until the deadline. A caller on a replaced tool's
   turn may meet one on the new tool's: every step that touches the directory
   is taken only while the turn is still the directory's, and an answer read
   after the tool was replaced may be the other caller's, so it is asked again. */
static int runUntilAnswered(Tool *tool, long long deadline, char *answer, size_t capacity) {
  RunOutcome run;
  char refusal[lineSize] = "";
  unsigned waitMs = firstRetryWaitMs;
  for (;;) {
    SystemError error;
    int result;
    int refused;
    if (!stillTheToolsTurn(tool)) return replacedMeanwhile;
    error = removeResult(tool);
    if (error != 0) return failOnSystemError(GETVEK_CALL_FAILED, answer, capacity, "cannot remove VEK.TXT", error);
    memset(&run, 0, sizeof run);
    runTool(tool, deadline, &run);
    refused = run.end == runExited && run.code == exitWorthRetrying;
    if (refused && run.lineLength > 0) memcpy(refusal, run.line, run.lineLength + 1);
    if (refused && nowMs() + waitMs < deadline) {
      sleepMs(waitMs);
      waitMs = waitMs * 2 < longestRetryWaitMs ? waitMs * 2 : longestRetryWaitMs;
      continue;
    }
    /* Refused until the timeout, also where it ended the last run: the
       tool's line tells what held the directory. */
    if ((refused || run.end == runTimedOut) && refusal[0] != '\0') {
      failWithLine(answer, capacity, refusal);
      return GETVEK_CALL_TIMEOUT;
    }
    result = outcomeOf(tool, &run, answer, capacity);
    if (refused) result = GETVEK_CALL_TIMEOUT;
    return result != GETVEK_CALL_TIMEOUT && !stillTheToolsTurn(tool) ? replacedMeanwhile : result;
  }
}

static int convert(Tool *tool, char *answer, size_t capacity, long long deadline) {
  for (;;) {
    SystemError error = 0;
    int result;
    switch (takeTurn(tool, deadline, &error)) {
      case turnTaken:
        break;
      case turnUnopened:
        return failOnSystemError(GETVEK_CALL_CANNOT_START, answer, capacity, "cannot open the tool for its turn",
                                 error);
      case turnFailed:
        return failOnSystemError(GETVEK_CALL_FAILED, answer, capacity, "cannot take the turn", error);
      default:
        return fail(GETVEK_CALL_TIMEOUT, answer, capacity,
                    "timed out waiting for another call from the same program directory", NULL);
    }
    result = runUntilAnswered(tool, deadline, answer, capacity);
    endTurn(tool);
    if (result != replacedMeanwhile) return result;
  }
}

/* `opened`: what kept openTool from making `tool`, or 0. */
static int convertWith(Tool *tool, SystemError opened, char *answer, size_t capacity, unsigned timeout_ms) {
  const long long deadline =
      timeout_ms == GETVEK_CALL_NO_TIMEOUT ? (long long)1 << 62 : nowMs() + (long long)timeout_ms;
  int result;
  if (opened != 0) {
    result = failOnSystemError(GETVEK_CALL_CANNOT_START, answer, capacity, "cannot start the tool", opened);
  } else if (timeout_ms == 0) {
    result = fail(GETVEK_CALL_TIMEOUT, answer, capacity, "a timeout of 0 starts nothing", NULL);
  } else {
    result = convert(tool, answer, capacity, deadline);
  }
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

/* Messages that name their file ("%1 is not a valid Win32 application") come
   without the insert, which only the caller can name: the tool. */
static void nameInserts(char *message, size_t size) {
  char named[1024] = "";
  size_t length = 0;
  const char *at;
  for (at = message; *at != '\0'; ++at) {
    const char one[2] = {*at, '\0'};
    const int insert = at[0] == '%' && at[1] == '1';
    append(named, sizeof named, &length, insert ? "the tool" : one);
    at += insert;
  }
  length = 0;
  append(message, size, &length, named);
}

static void systemMessage(SystemError error, char *message, size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, message,
                                (DWORD)size, NULL);
  while (length > 0 && (message[length - 1] == '\n' || message[length - 1] == '\r' || message[length - 1] == ' '))
    --length;
  if (length == 0) {
    snprintf(message, size, "error %lu", error);
  } else {
    message[length] = '\0';
    nameInserts(message, size);
  }
}

static long long nowMs(void) { return (long long)GetTickCount64(); }

static void sleepMs(unsigned ms) { Sleep(ms); }

/* INFINITE for a call without a limit. */
static DWORD msUntil(long long deadline) {
  const long long left = deadline - nowMs();
  return left <= 0 ? 0 : left >= INFINITE ? INFINITE : (DWORD)left;
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

/* The mutex is named after the directory, which a tool replaced in it keeps. */
static int stillTheToolsTurn(const Tool *tool) {
  (void)tool;
  return 1;
}

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
                         : fail(GETVEK_CALL_CANNOT_START, answer, capacity, "a path is not text in the ANSI code page", NULL);
  free(tool);
  free(path);
  return result;
}

#else

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

enum {
  firstTurnPauseUs = 100,
  longestTurnPauseUs = 2000 /* between attempts at a taken turn */
};

struct Tool {
  char *executable; /* resolved: the program directory is the one the file itself is in */
  char *result;     /* VEK.TXT beside it */
  const char *path;
  int turn; /* the executable, opened and locked, while the call holds the turn; else -1 */
  dev_t device;
  ino_t inode; /* of the file locked */
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

static void sleepUs(unsigned long us) {
  struct timespec left;
  left.tv_sec = (time_t)(us / 1000000);
  left.tv_nsec = (long)(us % 1000000) * 1000;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

static void sleepMs(unsigned ms) { sleepUs((unsigned long)ms * 1000); }

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
  return 0;
}

/* The turn is an exclusive flock on the executable: the tool flocks its
   directory, and a lock there would turn every run away. Each attempt opens
   the file anew, since flock keeps apart open files, not processes: so the
   threads of one host exclude each other as processes do, with no state in
   the library that a fork or an unload could leave locked or running. A
   replaced tool (a new file renamed over it) is a new file with a lock of its
   own, so a turn counts only while the path still names the file locked. */
static int stillTheToolsTurn(const Tool *tool) {
  struct stat named;
  return stat(tool->executable, &named) == 0 && named.st_dev == tool->device && named.st_ino == tool->inode;
}

/* Unlocked, not only closed: a process that another thread forked meanwhile
   may still share the descriptor until it runs its program. */
static void endTurn(Tool *tool) {
  flock(tool->turn, LOCK_UN);
  close(tool->turn);
  tool->turn = -1;
}

/* Locking needs the file open for reading: a descriptor that only names it
   (O_PATH) takes no flock. */
static Turn tryTurn(Tool *tool, SystemError *error) {
  struct stat locked;
  const int turn = open(tool->executable, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (turn < 0) {
    *error = (SystemError)errno;
    return turnUnopened;
  }
  if (flock(turn, LOCK_EX | LOCK_NB) != 0 || fstat(turn, &locked) != 0) {
    *error = (SystemError)errno;
    close(turn);
    return *error == EWOULDBLOCK || *error == EINTR ? turnBusy : turnFailed;
  }
  tool->turn = turn;
  tool->device = locked.st_dev;
  tool->inode = locked.st_ino;
  if (stillTheToolsTurn(tool)) return turnTaken;
  endTurn(tool);
  return turnReplaced;
}

/* flock takes no timeout, and a thread blocked in it would outlive the call:
   so attempts without waiting, with pauses that grow to a few milliseconds.
   Turns are not handed out in order: a caller back at once may take the turn
   again before one that is pausing. */
static Turn takeTurn(Tool *tool, long long deadline, SystemError *error) {
  unsigned long pauseUs = firstTurnPauseUs;
  for (;;) {
    const Turn turn = tryTurn(tool, error);
    const long long left = deadline - nowMs();
    if (turn != turnBusy && turn != turnReplaced) return turn;
    if (left <= 0) return turnTimedOut;
    if (turn == turnBusy) {
      sleepUs(left * 1000 < (long long)pauseUs ? (unsigned long)left * 1000 : pauseUs);
      pauseUs = pauseUs * 2 < longestTurnPauseUs ? pauseUs * 2 : longestTurnPauseUs;
    }
  }
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
    kill(-child, SIGKILL);
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
  posix_spawnattr_t attributes;
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
    if (error == 0) error = posix_spawnattr_init(&attributes);
    if (error == 0) {
      /* A group of its own, so that a run ended at the timeout takes along
         whatever a stand-in for the tool (a script) started. */
      error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
      if (error == 0) error = posix_spawnattr_setpgroup(&attributes, 0);
      if (error == 0) error = posix_spawn(&child, tool->executable, &actions, &attributes, arguments, environ);
      posix_spawnattr_destroy(&attributes);
    }
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
