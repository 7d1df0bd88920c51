"""Waiting, and the processes a session starts: each kept in a group that ends them together."""

import ctypes
import os
import pathlib
import select
import shutil
import signal
import subprocess
import time
import unittest


def poll(condition, timeout, interval=0.05, message="condition"):
    """Returns condition()'s first truthy value, or fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {message}")
        time.sleep(interval)


def required_path(variable, must_exist=True):
    """The path ctest passes in an environment variable. Without it the tests are skipped (run
    outside ctest); a path that must exist and does not is a failure (not built)."""
    value = os.environ.get(variable)
    if not value:
        raise unittest.SkipTest(f"{variable} is not set; run the end-to-end tests through ctest")
    path = pathlib.Path(value)
    if must_exist and not path.exists():
        raise AssertionError(f"{path} has not been built")
    return path


def require_programs(*names):
    """Skips the tests when a tool they drive is not installed."""
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        raise unittest.SkipTest(
            f"not installed: {', '.join(missing)} (scripts/setup installs them)")


def end_with_parent():
    """In the child before exec: SIGTERM once the process that started it dies, so that a test
    run killed from outside leaves no server behind."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def wait_for_output(process, marker, timeout):
    """Reads the process's standard output until a line holding marker (bytes); returns that
    line, or fails once the process ends or timeout seconds have passed."""
    deadline = time.monotonic() + timeout
    pending = b""
    while True:
        *lines, pending = pending.split(b"\n")
        found = next((line for line in lines if marker in line), None)
        if found is not None:
            return found
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([process.stdout], [], [], left)[0]:
            raise AssertionError(f"no {marker!r} from {process.args[0]} within {timeout} s")
        chunk = os.read(process.stdout.fileno(), 65536)
        if not chunk:
            raise AssertionError(f"{process.args[0]} ended ({process.wait()}) without {marker!r}")
        pending += chunk


def end_process(process):
    """Asks a helper process (Xvfb, a window manager) to end, and makes it."""
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def wait_exit(process, timeout):
    """The process's exit status, or a failure when it is still running after timeout seconds."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"program still running after {timeout} s") from None


def still_running_after(process, seconds):
    try:
        process.wait(timeout=seconds)
        return False
    except subprocess.TimeoutExpired:
        return True


class ProcessGroup:
    """Processes started together and killed together, their pipes closed."""

    def __init__(self):
        self._processes = []

    def start(self, arguments, env, stdin=None, stdout=None, stderr=None, ending_with_us=False):
        """env is the whole environment; a value of None leaves the variable out. A process
        ending_with_us gets SIGTERM when the test run dies."""
        process = subprocess.Popen(
            [str(argument) for argument in arguments],
            env={key: value for key, value in env.items() if value is not None},
            stdin=stdin,
            stdout=stdout,
            stderr=stderr,
            preexec_fn=end_with_parent if ending_with_us else None,
        )
        self._processes.append(process)
        return process

    def kill_all(self):
        for process in self._processes:
            if process.poll() is None:
                process.kill()
        for process in self._processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass  # stuck in the kernel; nothing more a test can do
            for stream in (process.stdin, process.stdout, process.stderr):
                if stream:
                    stream.close()
        self._processes = []


def saver_children(watcher):
    """The pids of the savers an idle watcher (zorblinth --idle) runs now."""
    path = f"/proc/{watcher.pid}/task/{watcher.pid}/children"
    try:
        with open(path, encoding="ascii") as listed:
            pids = [int(pid) for pid in listed.read().split()]
    except FileNotFoundError:
        return []
    return [pid for pid in pids if alive(pid)]


def alive(pid):
    """Whether the process runs (is there and no zombie)."""
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            return stat.read().split(") ")[-1][0] != "Z"
    except FileNotFoundError:
        return False
