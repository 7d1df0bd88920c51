"""The idle watcher (zorblinth --idle) on Xvfb, through the X server's idle time: the saver comes
once the session has had no input for the timeout and not before, a key ends it, it comes again
after the next idle period; one watcher a session; SIGTERM ends the watcher and its saver; a lost
X server ends the watcher with 3 and takes its saver along."""

import os
import signal
import subprocess
import time

from harness_linux import (ALREADY_RUNNING, NORMAL_END, WINDOW_SYSTEM_FAILED, ScreenSaverHost,
                           XSession, XTestCase)
from e2e.processes import poll, wait_exit

TIMEOUT = 2  # the watcher's --idle seconds
SAVER = "^Form1$"  # the saver window's title


def children(process):
    """The pids of the process's children (the saver it started)."""
    path = f"/proc/{process.pid}/task/{process.pid}/children"
    try:
        with open(path, encoding="ascii") as listed:
            return [int(pid) for pid in listed.read().split()]
    except FileNotFoundError:
        return []


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            return stat.read().split(") ")[-1][0] != "Z"
    except FileNotFoundError:
        return False


class IdleWatcherTest(XTestCase):
    def setUp(self):
        self.addCleanup(self.session.kill_processes)
        self.session.write_settings((1, 1))

    def start_watcher(self):
        self.session.xdotool("mousemove", 10, 10)  # input: the idle time starts from here
        return self.session.start_program("--idle", str(TIMEOUT))

    def wait_for_saver(self, watcher):
        """The saver's window; asserts it came after the timeout (counted from the last input),
        not before."""
        inputAt = time.monotonic()
        self.session.wait_for_window(SAVER, watcher, timeout=TIMEOUT + 5)
        self.assertGreaterEqual(time.monotonic() - inputAt, TIMEOUT - 0.3)

    def test_the_saver_comes_when_idle_and_again_after_the_next_idle_period(self):
        watcher = self.start_watcher()
        for period in range(2):
            with self.subTest(period=period):
                self.wait_for_saver(watcher)
                self.session.xdotool("key", "a")
                poll(lambda: not self.session.visible_windows(SAVER), 5,
                     message="the saver to end on a key")
                self.assertIsNone(watcher.poll())

    def test_one_watcher_a_session_and_sigterm_ends_it_with_its_saver(self):
        watcher = self.start_watcher()
        time.sleep(0.3)
        second = self.session.start_program("--idle", str(TIMEOUT))
        self.assertEqual(self.session.wait_exit(second, 5), ALREADY_RUNNING)
        self.assertIn(b"already", second.stderr.read())
        self.wait_for_saver(watcher)
        savers = children(watcher)
        self.assertEqual(len(savers), 1)
        status, _ = self.session.stop_with_signal(watcher, 5)
        self.assertEqual(status, NORMAL_END)
        poll(lambda: not alive(savers[0]), 3, message="the saver to end with its watcher")

    def test_a_saver_that_cannot_start_is_told_in_one_line_and_the_watcher_goes_on(self):
        # The watcher holds no keyboard: another client takes it, and so the saver fails.
        holder = ScreenSaverHost(self.session, "--size", "1x1", "--no-screenshot",
                                 "--grab-keyboard")
        watcher = self.start_watcher()
        poll(lambda: children(watcher), TIMEOUT + 5, message="the saver started")
        poll(lambda: not children(watcher), 5, message="the saver failing")
        time.sleep(TIMEOUT + 0.5)  # still idle: not started again without input
        self.assertEqual(children(watcher), [])
        self.assertIsNone(watcher.poll())
        holder.process.stdin.close()
        self.session.xdotool("key", "a")
        self.wait_for_saver(watcher)
        self.session.xdotool("key", "a")
        watcher.terminate()
        self.assertEqual(self.session.wait_exit(watcher, 5), NORMAL_END)
        told = [line for line in watcher.stderr.read().decode().splitlines()
                if line.startswith("zorblinth: the saver")]
        self.assertEqual(len(told), 1, told)
        self.assertIn("status 3", told[0])

    def test_bad_timeouts_are_refused_in_one_line(self):
        for value in ("0", "abc", "-5", "99999999999"):
            with self.subTest(value=value):
                process = self.session.start_program("--idle", value)
                self.assertEqual(self.session.wait_exit(process, 5), 64)
                message = process.stderr.read().decode()
                self.assertEqual(message.count("\n"), 1, message)
                self.assertIn(f"'{value}'", message)

    def autostart(self, *arguments):
        """zorblinth --autostart's status. Its stderr is not kept: the watcher it starts would
        hold the pipe open."""
        process = self.session.start_process([self.session.program, "--autostart", *arguments],
                                             stderr=subprocess.DEVNULL)
        return self.session.wait_exit(process, 10)

    def test_autostart_writes_a_valid_entry_starts_the_watcher_and_off_undoes_both(self):
        entry = self.session._config / "autostart" / "zorblinth-idle.desktop"
        lock = self.session._runtime / "zorblinth-idle.lock"

        def watcher_pid():
            text = lock.read_text().strip() if lock.exists() else ""
            return int(text) if text and alive(int(text)) else None

        # Started in a session of its own, the watcher is not one of the test's processes.
        self.addCleanup(lambda: (pid := watcher_pid()) and os.kill(pid, signal.SIGKILL))
        self.session.xdotool("mousemove", 20, 20)
        self.assertEqual(self.autostart(str(TIMEOUT), "--line-width", "4"), NORMAL_END)
        validation = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True)
        self.assertEqual(validation.returncode, 0, validation.stdout)
        self.assertIn(b"--idle 2", entry.read_bytes())
        first = watcher_pid()
        self.assertIsNotNone(first)
        with open(f"/proc/{first}/cmdline", "rb") as command:
            self.assertIn(b"--line-width=4", command.read())
        poll(lambda: self.session.visible_windows(SAVER), TIMEOUT + 5,
             message="the saver from the autostarted watcher")
        self.session.xdotool("key", "a")

        # Again with another timeout: the running watcher makes way for the new one.
        self.assertEqual(self.autostart("30"), NORMAL_END)
        self.assertFalse(alive(first))
        self.assertIsNotNone(watcher_pid())

        self.assertEqual(self.autostart("off"), NORMAL_END)
        self.assertFalse(entry.exists())
        self.assertIsNone(watcher_pid())

    def test_a_lost_x_server_ends_the_watcher_and_its_saver(self):
        session = XSession(320, 240)
        session.start()
        try:
            session.xdotool("mousemove", 5, 5)
            watcher = session.start_program("--idle", str(TIMEOUT))
            session.wait_for_window(SAVER, watcher, timeout=TIMEOUT + 5)
            savers = children(watcher)
            # The test's own connection would end the test with the server.
            session.cursor.close()
            session.cursor = None
            session._xvfb.kill()
            self.assertEqual(wait_exit(watcher, 5), WINDOW_SYSTEM_FAILED)
            lines = watcher.stderr.read().decode().splitlines()
            self.assertTrue(any("went away" in line for line in lines), lines)
            poll(lambda: not any(alive(pid) for pid in savers), 3,
                 message="the saver to end with its watcher")
        finally:
            session.stop()


if __name__ == "__main__":
    import unittest

    unittest.main()
