"""The idle watcher (zorblinth --idle) on Wayland, one case a compositor and its idle source:
headless sway 1.7 (org_kde_kwin_idle), nested KWin 5.27 (ext_idle_notifier_v1) and nested
mutter 43 (org.gnome.Mutter.IdleMonitor). On each the saver comes once the session has had no
input for the timeout, input ends it, and it comes again after the next idle period; a
compositor that goes away ends the watcher with 3 in one line and takes its saver along. What
keeps it away: an Inhibit on the watcher's own org.freedesktop.ScreenSaver on sway, until
UnInhibit or until its caller leaves the bus; GNOME's session manager saying idle is inhibited."""

import subprocess
import time
import unittest

from harness_wayland import (HERE, NORMAL_END, SYSTEM_PYTHON, WINDOW_SYSTEM_FAILED,
                             NestedSession, SwaySession, poll, required_path, still_running_after,
                             wait_exit)

STAND_INS = HERE / "idle_stand_ins.py"

TIMEOUT = 2  # the watcher's --idle seconds


def saver_children(watcher):
    """The pids of the savers the watcher runs now."""
    path = f"/proc/{watcher.pid}/task/{watcher.pid}/children"
    try:
        with open(path, encoding="ascii") as listed:
            pids = [int(pid) for pid in listed.read().split()]
    except FileNotFoundError:
        return []
    return [pid for pid in pids if alive(pid)]


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            return stat.read().split(") ")[-1][0] != "Z"
    except FileNotFoundError:
        return False


class Compositor:
    """What differs between the compositors: the session, a key press, the source's name."""

    def __init__(self, name, make, press, source):
        self.name, self.make, self.press, self.source = name, make, press, source


COMPOSITORS = [
    Compositor("sway", lambda: SwaySession(session_bus=True), lambda session: session.type("a"),
               "org_kde_kwin_idle"),
    Compositor("kwin", lambda: NestedSession("kwin", 640, 480),
               lambda session: session.x.xdotool("key", "a"), "ext_idle_notifier_v1"),
    Compositor("mutter", lambda: NestedSession("mutter"),
               lambda session: session.x.xdotool("key", "a"), "org.gnome.Mutter"),
]
SWAY, KWIN, MUTTER = COMPOSITORS


class IdleWatcherOnWayland(unittest.TestCase):
    def watch(self, compositor):
        session = compositor.make()
        session.start()
        self.addCleanup(session.stop)
        session.write_settings(1, 1)
        compositor.press(session)  # the idle time counts from here
        pressed = time.monotonic()
        watcher = session.start_process([session.program, "--idle", str(TIMEOUT)],
                                        stderr=subprocess.PIPE)
        return session, watcher, pressed

    def wait_for_cover(self, session, watcher, since):
        """Waits for the saver to cover the screen; asserts it did not come before the
        timeout."""
        def covered():
            if watcher.poll() is not None:
                raise AssertionError(f"the watcher ended with {watcher.returncode}: "
                                     f"{watcher.stderr.read().decode(errors='replace')}")
            return saver_children(watcher) and not session.shows_pattern()
        poll(covered, TIMEOUT + 8, interval=0.1, message="the saver over the desktop")
        self.assertGreaterEqual(time.monotonic() - since, TIMEOUT - 0.3)

    def test_the_saver_comes_when_idle_input_ends_it_and_it_comes_again(self):
        for compositor in COMPOSITORS:
            with self.subTest(compositor.name):
                session, watcher, since = self.watch(compositor)
                for _ in range(2):
                    self.wait_for_cover(session, watcher, since)
                    compositor.press(session)
                    since = time.monotonic()
                    poll(lambda: not saver_children(watcher), 5,
                         message="the saver to end on a key")
                self.assertIsNone(watcher.poll())
                status = session.start_process([session.program, "--idle", "5"],
                                               stderr=subprocess.DEVNULL)
                self.assertEqual(wait_exit(status, 5), 2, "a second watcher")
                watcher.terminate()
                self.assertEqual(wait_exit(watcher, 5), NORMAL_END)

    def assert_kept_away(self, session, watcher, seconds):
        """No saver for that long, nor a covered screen."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertFalse(saver_children(watcher), "a saver came while inhibited")
            time.sleep(0.2)
        self.assertTrue(session.shows_pattern())

    def test_a_window_holding_an_idle_inhibitor_keeps_it_away(self):
        session, watcher, _ = self.watch(SWAY)
        player = session.start_process([required_path("ZORBLINTH_IDLE_INHIBITOR")],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.assertEqual(player.stdout.readline().strip(), b"ready")
        self.assert_kept_away(session, watcher, TIMEOUT + 1.5)
        player.stdin.close()
        self.assertEqual(wait_exit(player, 5), 0)
        # The compositor counts the timeout again from the inhibitor's end.
        self.wait_for_cover(session, watcher, time.monotonic())

    def test_an_inhibit_on_the_watchers_screensaver_keeps_it_away(self):
        session, watcher, _ = self.watch(SWAY)
        time.sleep(0.5)  # the watcher owns org.freedesktop.ScreenSaver
        for path, ending in (("/org/freedesktop/ScreenSaver", "UnInhibit"),
                             ("/ScreenSaver", "the caller leaving the bus")):
            with self.subTest(path=path, ending=ending):
                caller = session.start_process([SYSTEM_PYTHON, STAND_INS, "inhibitor", path],
                                               stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                self.assertGreater(int(caller.stdout.readline()), 0, "a cookie")
                self.assert_kept_away(session, watcher, TIMEOUT + 1.5)
                if ending == "UnInhibit":
                    caller.stdin.write(b"uninhibit\n")
                    caller.stdin.flush()
                    self.assertEqual(caller.stdout.readline().strip(), b"done")
                else:
                    caller.stdin.close()
                    self.assertEqual(wait_exit(caller, 5), 0)
                # The timeout counts from the inhibit's end.
                self.wait_for_cover(session, watcher, time.monotonic())
                SWAY.press(session)
                poll(lambda: not saver_children(watcher), 5, message="the saver to end")

    def test_gnomes_session_manager_saying_inhibited_keeps_it_away(self):
        session, watcher, _ = self.watch(MUTTER)
        manager = session.start_process([SYSTEM_PYTHON, STAND_INS, "session-manager"],
                                        stdout=subprocess.PIPE)
        self.assertEqual(manager.stdout.readline().strip(), b"ready")
        self.assert_kept_away(session, watcher, TIMEOUT + 1.5)
        manager.kill()
        manager.wait()
        # Asked again once a full timeout has passed since it was last asked.
        self.wait_for_cover(session, watcher, time.monotonic() - TIMEOUT)
        self.assertTrue(still_running_after(watcher, 0.1))

    def test_a_compositor_that_goes_away_ends_the_watcher_and_its_saver(self):
        compositor = SWAY
        session, watcher, since = self.watch(compositor)
        self.wait_for_cover(session, watcher, since)
        savers = saver_children(watcher)
        session.kill_compositor()
        self.assertEqual(wait_exit(watcher, 5), WINDOW_SYSTEM_FAILED)
        # The saver says its own line on the same stderr; the watcher says one.
        lines = watcher.stderr.read().decode().splitlines()
        told = [line for line in lines if "went away" in line or "still watching" in line]
        self.assertEqual(len(told), 1, lines)
        self.assertIn(compositor.source, told[0])
        poll(lambda: not any(alive(pid) for pid in savers), 3, message="the saver gone too")


if __name__ == "__main__":
    unittest.main()
