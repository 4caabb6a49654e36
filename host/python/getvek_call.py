"""Runs getvek and reads its answer, in the program directory's turn.

Every caller of one program directory, in any language, takes the same turn
before it removes VEK.TXT and holds it until it has read the answer
(docs/hosts.md): on Linux an exclusive flock on the executable, checked after
locking to be still the file the path names; on Windows the mutex
Global\\getvek-host-<volume serial><file index> of the program directory.
The C library host/getvek_call.c takes the same turn, so Python and C
callers may share a directory.

    from getvek_call import call, GetvekError
    answer = call("/opt/app/getvek", "/home/me/My Documents/report final.txt", timeout=10)
"""

import errno
import os
import subprocess
import sys
import time

__all__ = ["call", "GetvekError", "GetvekFailed", "GetvekTimeout", "GetvekCannotStart"]

_WORTH_RETRYING = 75  # EX_TEMPFAIL: the tool gave way to another run
_FIRST_RETRY_WAIT = 0.001
_LONGEST_RETRY_WAIT = 0.1
_FIRST_TURN_PAUSE = 0.0001
_LONGEST_TURN_PAUSE = 0.002


class GetvekError(Exception):
    """A call that gave no answer; `message` says why."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


class GetvekFailed(GetvekError):
    """The tool's own failure line, or the library's reason (GETVEK_CALL_FAILED)."""


class GetvekTimeout(GetvekError):
    """The timeout ended the wait for the turn or the tool's run (GETVEK_CALL_TIMEOUT)."""


class GetvekCannotStart(GetvekError):
    """The tool could not be opened for its turn, or not started (GETVEK_CALL_CANNOT_START)."""


class _Replaced(Exception):
    """The tool was replaced during the turn, which is taken again."""


def _own(reason, error=None):
    return "getvek_call: " + reason + ("" if error is None else ": " + error.strerror)


class _Deadline:
    def __init__(self, timeout):
        self.at = None if timeout is None else time.monotonic() + timeout

    def left(self):
        return None if self.at is None else self.at - time.monotonic()

    def passed(self):
        return self.at is not None and time.monotonic() >= self.at


if sys.platform == "win32":
    import ctypes

    _kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    _kernel32.CreateMutexW.restype = ctypes.c_void_p
    _kernel32.CreateMutexW.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_wchar_p]
    _kernel32.WaitForSingleObject.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
    _kernel32.WaitForSingleObject.restype = ctypes.c_uint32
    _kernel32.ReleaseMutex.argtypes = [ctypes.c_void_p]
    _kernel32.CloseHandle.argtypes = [ctypes.c_void_p]
    _INFINITE = 0xFFFFFFFF
    _ENCODING = "mbcs"  # the ANSI code page, which the tool answers in

    class _Turn:
        """Named after the directory's identity, which a tool replaced in it keeps."""

        def __init__(self, executable, deadline):
            try:
                identity = os.stat(os.path.dirname(executable))
            except OSError as error:
                raise GetvekCannotStart(_own("cannot open the tool for its turn", error)) from None
            name = "Global\\getvek-host-%08X%08X%08X" % (
                identity.st_dev & 0xFFFFFFFF, (identity.st_ino >> 32) & 0xFFFFFFFF, identity.st_ino & 0xFFFFFFFF)
            self.mutex = _kernel32.CreateMutexW(None, 0, name)
            if not self.mutex:
                raise GetvekFailed(_own("cannot take the turn", ctypes.WinError(ctypes.get_last_error())))
            left = deadline.left()
            waited = _kernel32.WaitForSingleObject(
                self.mutex, _INFINITE if left is None else max(0, min(int(left * 1000), _INFINITE - 1)))
            if waited not in (0, 0x80):  # taken, or abandoned by a holder that ended
                _kernel32.CloseHandle(self.mutex)
                raise GetvekTimeout(_own("timed out waiting for another call from the same program directory"))

        def still_held(self):
            return True

        def end(self):
            _kernel32.ReleaseMutex(self.mutex)
            _kernel32.CloseHandle(self.mutex)

    def _start(executable, path):
        return subprocess.Popen('"%s" %s' % (executable, path), stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                creationflags=subprocess.CREATE_NO_WINDOW)

    def _end(process):
        process.kill()

else:
    import fcntl
    import signal

    _ENCODING = None  # the bytes as typed: os.fsdecode

    class _Turn:
        """An exclusive flock on the executable, opened by each call itself
        and kept open while it waits, opened again after a replacement."""

        def __init__(self, executable, deadline):
            self.executable = executable
            pause = _FIRST_TURN_PAUSE
            self.file = None
            while True:
                if self.file is None:
                    try:
                        self.file = os.open(executable, os.O_RDONLY | os.O_CLOEXEC | os.O_NOCTTY)
                    except OSError as error:
                        raise GetvekCannotStart(_own("cannot open the tool for its turn", error)) from None
                try:
                    fcntl.flock(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    locked = os.fstat(self.file)
                except BlockingIOError:
                    if deadline.passed():
                        os.close(self.file)
                        raise GetvekTimeout(
                            _own("timed out waiting for another call from the same program directory")) from None
                    time.sleep(pause if deadline.at is None else max(0, min(pause, deadline.left())))
                    pause = min(pause * 2, _LONGEST_TURN_PAUSE)
                    continue
                except OSError as error:
                    os.close(self.file)
                    raise GetvekFailed(_own("cannot take the turn", error)) from None
                self.identity = (locked.st_dev, locked.st_ino)
                if self.still_held():
                    return
                self.end()
                self.file = None

        def still_held(self):
            try:
                named = os.stat(self.executable)
            except OSError:
                return False
            return (named.st_dev, named.st_ino) == self.identity

        def end(self):
            fcntl.flock(self.file, fcntl.LOCK_UN)
            os.close(self.file)

    def _start(executable, path):
        # A session, and so a process group, of its own: a run ended at the
        # timeout takes along whatever a stand-in for the tool started.
        return subprocess.Popen([executable, path], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                start_new_session=True)

    def _end(process):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def _decoded(data):
    return os.fsdecode(data) if _ENCODING is None else data.decode(_ENCODING, "replace")


def _run(executable, path, deadline):
    """The exit status and the tool's first line on standard error."""
    try:
        process = _start(executable, path)
    except OSError as error:
        raise GetvekCannotStart(_own("cannot start the tool", error)) from None
    try:
        _, errors = process.communicate(timeout=deadline.left())
    except subprocess.TimeoutExpired:
        _end(process)
        process.communicate()
        raise GetvekTimeout(_own("timed out; the tool's run was ended")) from None
    line = _decoded(errors).split("\n", 1)[0].rstrip("\r")
    return process.returncode, line


def _answer(result):
    try:
        with open(result, "rb") as file:
            return _decoded(file.read())
    except OSError as error:
        raise GetvekFailed(_own("cannot read VEK.TXT", error)) from None


def _run_until_answered(executable, path, turn, deadline):
    result = os.path.join(os.path.dirname(executable), "VEK.TXT")
    wait = _FIRST_RETRY_WAIT
    while True:
        if not turn.still_held():
            raise _Replaced()
        try:
            os.unlink(result)
        except FileNotFoundError:
            pass
        except OSError as error:
            raise GetvekFailed(_own("cannot remove VEK.TXT", error)) from None
        status, line = _run(executable, path, deadline)
        if status == _WORTH_RETRYING:
            if deadline.at is None or time.monotonic() + wait < deadline.at:
                time.sleep(wait)
                wait = min(wait * 2, _LONGEST_RETRY_WAIT)
                continue
            raise GetvekTimeout(line or _own("the tool exited with status 75"))
        # An answer read after the tool was replaced may be another caller's.
        try:
            if status == 0:
                answer = _answer(result)
            elif status < 0:
                raise GetvekFailed(_own("the tool ended on signal %d" % -status))
            else:
                raise GetvekFailed(line or _own("the tool exited with status %d" % status))
        except GetvekFailed:
            if not turn.still_held():
                raise _Replaced() from None
            raise
        if not turn.still_held():
            raise _Replaced()
        return answer


def call(tool, path, timeout=None):
    """The short form of `path` (or "bAd") from the getvek executable `tool`.

    `timeout` in seconds bounds the whole call, the wait for the turn and the
    retries included; None waits without a limit; 0 starts nothing and times
    out at once. Raises GetvekTimeout, GetvekFailed or GetvekCannotStart, each
    a GetvekError with its message. A relative path is taken from the current
    directory, and the spaces at its ends are removed by the tool."""
    executable = os.path.realpath(tool)
    if not os.path.exists(executable):
        raise GetvekCannotStart(_own("cannot start the tool", FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT))))
    if timeout is not None and timeout <= 0:
        raise GetvekTimeout(_own("a timeout of 0 starts nothing"))
    deadline = _Deadline(timeout)
    while True:
        turn = _Turn(executable, deadline)
        try:
            return _run_until_answered(executable, path, turn, deadline)
        except _Replaced:
            continue
        finally:
            turn.end()
