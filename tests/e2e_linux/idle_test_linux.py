"""The idle watcher (zorblinth --idle) on Xvfb, through the X server's own screen saver: the saver
comes once the session has had no input for the timeout and not before, a key ends it, it comes
again after the next idle period; a playing mpv, `xdg-screensaver reset` every second and a client
that dies holding XScreenSaverSuspend keep it away until they stop; on Xorg the server never blanks
over it and `xset q` is as before once the watcher ends, also after the watcher before was
killed; one watcher a session; SIGTERM ends the watcher and its saver; a lost X server ends the
watcher with 3 and takes its saver along."""

import os
import signal
import subprocess
import sys
import threading
import time
import unittest

from harness_linux import (ALREADY_RUNNING, NORMAL_END, WINDOW_SYSTEM_FAILED, Monitor,
                           ScreenSaverHost, XClient, XSession, XTestCase)
from e2e.processes import alive, poll, require_programs, saver_children, wait_exit
from e2e.xlib import SAVER_BLANKED, SAVER_ON

TIMEOUT = 2  # the watcher's --idle seconds
SAVER = "^Form1$"  # the saver window's title



def keep_away(session, kind):
    """Starts a real client that keeps the X server's saver away; returns, once it does, a
    function that ends it and tells the moment from which the server counts again."""
    if kind == "xdg-screensaver reset":
        stopping, last = threading.Event(), []
        # No desktop's variables or bus: it resets the X server's saver (xset s reset).
        env = {name: value for name, value in session.env.items() if name not in (
            "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
            "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "DBUS_SESSION_BUS_ADDRESS")}

        def beat():
            while not stopping.is_set():
                started = time.monotonic()
                subprocess.run(["xdg-screensaver", "reset"], env=env, check=True,
                               capture_output=True)
                last.append(started)
                stopping.wait(1)

        beats = threading.Thread(target=beat)
        beats.start()
        poll(lambda: last, 10, message="the first xdg-screensaver reset")
        return lambda: (stopping.set(), beats.join(), last[-1])[-1]
    if kind == "mpv":  # it holds XScreenSaverSuspend while it plays, its only way on X11
        process = session.start_process(
            ["mpv", "--no-config", "--vo=x11", "--no-audio", "--title=keeper", "--really-quiet",
             "av://lavfi:testsrc=size=320x240:rate=10"], stderr=subprocess.DEVNULL)
        session.wait_for_window("^keeper$", process, timeout=20)
        time.sleep(0.5)  # playing
    else:  # a client that suspends, killed holding the suspension
        process = session.start_process([sys.executable, "-m", "e2e.xlib", "suspend"],
                                        stdout=subprocess.PIPE)
        assert process.stdout.readline() == b"held\n"

    def stop():
        process.send_signal(signal.SIGTERM if kind == "mpv" else signal.SIGKILL)
        process.wait(10)
        return time.monotonic()

    return stop


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

    def test_players_and_heartbeats_keep_the_saver_away_until_they_stop(self):
        # The user had turned the server's saver off before: the watcher counts all the same.
        self.session.xset("s", "off")
        before = self.session.xset("q")
        watcher = self.start_watcher()
        for number, kind in enumerate(("mpv", "xdg-screensaver reset",
                                       "a client that dies suspending")):
            with self.subTest(keeper=kind):
                stop = keep_away(self.session, kind)
                # Input ends a saver that came while the keeper started, and counts from here:
                # a move away from the player's window, which would take a key for itself.
                self.session.xdotool("mousemove", 700 + number, 500)
                poll(lambda: not self.session.visible_windows(SAVER), 5, message="no saver")
                held_until = time.monotonic() + 2 * TIMEOUT + 1
                while time.monotonic() < held_until:
                    self.assertEqual(saver_children(watcher), [], "a saver came while kept away")
                    time.sleep(0.2)
                counting_from = stop()
                self.session.wait_for_window(SAVER, watcher, timeout=TIMEOUT + 5)
                self.assertGreaterEqual(time.monotonic() - counting_from, TIMEOUT - 0.3)
                self.session.xdotool("key", "a")
                poll(lambda: not self.session.visible_windows(SAVER), 5, message="the saver's end")
        # Killed outright, a watcher cannot put the user's settings back: the next one does.
        watcher.kill()
        watcher.wait()
        killed = self.session.xset("q")
        self.assertNotEqual(killed, before)
        watcher = self.session.start_program("--idle", str(TIMEOUT + 1))
        poll(lambda: self.session.xset("q") != killed, 5, message="the next watcher's settings")
        self.assertEqual(self.session.stop_with_signal(watcher, 5)[0], NORMAL_END)
        self.assertEqual(self.session.xset("q"), before)

    def test_on_xorg_the_server_never_blanks_over_the_saver_and_gets_its_settings_back(self):
        require_programs("Xorg")
        if os.geteuid() != 0:
            raise unittest.SkipTest("Xorg with the dummy driver needs root")
        session = XSession(640, 480, monitors=(Monitor("ALL", 0, 0, 640, 480, "DUMMY0"),))
        self.addCleanup(session.stop)
        session.start()
        server = XClient(session.display)
        self.addCleanup(server.close)  # before its server ends, which Xlib would not survive
        session.write_settings((1, 1))
        pattern = session.show_pattern()
        # The server's own saver would blank at 4 s, before the watcher's 6 s.
        session.xset("s", 4, 4)
        before = session.xset("q")
        session.xdotool("mousemove", 5, 5)
        input_at = time.monotonic()
        watcher = session.start_program("--idle", "6")
        seen = []

        def saver_shown():
            seen.append(server.screen_saver())
            return session.visible_windows(SAVER)

        poll(saver_shown, 15, interval=0.1, message="the saver")
        self.assertGreaterEqual(time.monotonic() - input_at, 6 - 0.3)
        time.sleep(1)  # lines drawn
        seen.append(server.screen_saver())
        raw = session.raw_screenshot()
        session.save_png(raw, "idle-xorg-saver.png")
        self.assertEqual(seen[-1][0], SAVER_ON)
        self.assertNotIn((SAVER_ON, SAVER_BLANKED), seen)
        self.assertGreater(session.convert(raw).count_changed(pattern), 500, "lines drawn")
        self.assertEqual(session.stop_with_signal(watcher, 5)[0], NORMAL_END)
        self.assertEqual(session.xset("q"), before)

    def test_one_watcher_a_session_and_sigterm_ends_it_with_its_saver(self):
        watcher = self.start_watcher()
        time.sleep(0.3)
        second = self.session.start_program("--idle", str(TIMEOUT))
        self.assertEqual(self.session.wait_exit(second, 5), ALREADY_RUNNING)
        self.assertIn(b"already", second.stderr.read())
        self.wait_for_saver(watcher)
        savers = saver_children(watcher)
        self.assertEqual(len(savers), 1)
        status, _ = self.session.stop_with_signal(watcher, 5)
        self.assertEqual(status, NORMAL_END)
        poll(lambda: not alive(savers[0]), 3, message="the saver to end with its watcher")

    def test_a_saver_that_cannot_start_is_told_in_one_line_and_the_watcher_goes_on(self):
        # The watcher holds no keyboard: another client takes it, and so the saver fails.
        holder = ScreenSaverHost(self.session, "--size", "1x1", "--no-screenshot",
                                 "--grab-keyboard")
        watcher = self.start_watcher()
        poll(lambda: saver_children(watcher), TIMEOUT + 5, message="the saver started")
        poll(lambda: not saver_children(watcher), 5, message="the saver failing")
        time.sleep(TIMEOUT + 0.5)  # still idle: not started again without input
        self.assertEqual(saver_children(watcher), [])
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
            savers = saver_children(watcher)
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
    unittest.main()
