"""The Python module (host/python/getvek_call.py) calling the built tool: its
answers are the tool's own, also while C hosts call through the library from
the same program directory, and each failure raises its own exception.
GETVEK_BINARY and GETVEK_CALLING_HOST name the built tool and C host."""

import fcntl
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from getvek_call import GetvekCannotStart, GetvekError, GetvekFailed, GetvekTimeout, call


class Program:
    """A fresh program directory with its own copy of the tool, and a tree."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="gvpy")
        self.directory = os.path.join(self.root, "program")
        os.mkdir(self.directory)
        self.tool = os.path.join(self.directory, "getvek")
        shutil.copy2(os.environ["GETVEK_BINARY"], self.tool)

    def file(self, relative):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "w").close()
        return path

    def remove(self):
        shutil.rmtree(self.root)


class CallTest(unittest.TestCase):
    def setUp(self):
        self.program = Program()
        self.addCleanup(self.program.remove)

    def test_answers_as_the_tool_does(self):
        path = self.program.file("My Documents/report final.txt")
        self.assertEqual(call(self.program.tool, path), call(self.program.tool, "  " + path + " "))
        self.assertTrue(call(self.program.tool, path).endswith("/MYDOCU~1/REPORT~1.TXT"))
        self.assertEqual(call(self.program.tool, "--help", timeout=10), "bAd")

    # Two C hosts and four Python threads convert the same paths at once:
    # every answer is the one that path got alone.
    def test_beside_c_hosts_every_answer_is_the_sequential_one(self):
        paths = ["--help"] + [self.program.file("Folder Number %d/long file name %d.txt" % (i, i)) for i in range(1, 13)]
        alone = [call(self.program.tool, path) for path in paths]
        self.assertEqual(len(set(alone)), len(paths))
        rounds = 10
        listed = os.path.join(self.program.root, "paths.txt")
        with open(listed, "w") as out:
            out.write("".join(path + "\n" for path in paths) * rounds)
        hosts = [subprocess.Popen([os.environ["GETVEK_CALLING_HOST"], self.program.tool, listed],
                                  stdout=subprocess.PIPE, text=True) for _ in range(2)]
        differences = []

        def convert(first):
            for at in range(rounds * len(paths)):
                which = (at + first) % len(paths)
                try:
                    answer = call(self.program.tool, paths[which], timeout=60)
                except GetvekError as error:
                    answer = error.message
                if answer != alone[which]:
                    differences.append(answer)

        threads = [threading.Thread(target=convert, args=(first,)) for first in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for host in hosts:
            answers = host.communicate()[0].splitlines()
            self.assertEqual(len(answers), rounds * len(paths))
            differences += [a for at, a in enumerate(answers) if a != alone[at % len(paths)]]
        self.assertEqual(differences, [])

    def test_each_failure_raises_its_own(self):
        def tools_own_failure():
            os.mkdir(os.path.join(self.program.directory, "VEK.TX"))
            return self.program.tool

        def turn_held():
            holder = os.open(self.program.tool, os.O_RDONLY)
            fcntl.flock(holder, fcntl.LOCK_EX)
            self.addCleanup(os.close, holder)
            return self.program.tool

        cases = [
            ("missing tool", lambda: os.path.join(self.program.root, "not-here"), 10, GetvekCannotStart,
             "getvek_call: cannot start the tool: No such file or directory"),
            ("tool's own failure", tools_own_failure, 10, GetvekFailed, "getvek: cannot open "),
            ("timeout of 0", lambda: self.program.tool, 0, GetvekTimeout, "getvek_call: a timeout of 0 starts nothing"),
            ("turn held by another caller", turn_held, 0.3, GetvekTimeout,
             "getvek_call: timed out waiting for another call from the same program directory"),
        ]
        for name, prepare, timeout, raised, message in cases:
            with self.subTest(name):
                with self.assertRaises(raised) as caught:
                    call(prepare(), "--help", timeout=timeout)
                self.assertIsInstance(caught.exception, GetvekError)
                self.assertTrue(caught.exception.message.startswith(message), caught.exception.message)

    def test_a_run_past_the_timeout_is_ended_with_its_group(self):
        started = os.path.join(self.program.root, "started")
        shutil.copy2(os.path.join(os.path.dirname(__file__), "grandparent-tool"), self.program.tool)
        with self.assertRaises(GetvekTimeout):
            call(self.program.tool, started, timeout=1)
        with open(started) as file:
            self.assertTrue(gone_soon(int(file.read())))


def gone_soon(process_id):
    """A zombie still has its /proc entry until whoever inherited it reaps it."""
    for _ in range(200):
        try:
            with open("/proc/%d/stat" % process_id) as stat:
                if ") Z " in stat.read():
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.01)
    return False


if __name__ == "__main__":
    unittest.main()
