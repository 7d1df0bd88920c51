"""The idle watcher (zorblinth --idle) on Wayland, one case a compositor and its idle source:
headless sway 1.7 (org_kde_kwin_idle), nested KWin 5.27 (ext_idle_notifier_v1) and a real nested
GNOME Shell 43 (org.gnome.Mutter.IdleMonitor). On each the saver comes once the session has had
no input for the timeout, input ends it, and it comes again after the next idle period; a
compositor that goes away ends the watcher with 3 in one line and takes its saver along. What
keeps it away, with real players where there are: a window holding zwp_idle_inhibitor_v1 on sway
(mpv, and a small client of ours), and GNOME's session manager's idle inhibit (gnome-session-
inhibit) on GNOME Shell, until the player ends; mpv on GNOME Shell does not, as mutter 43 has no
Wayland idle inhibit. An Inhibit on the watcher's own org.freedesktop.ScreenSaver on sway, until
UnInhibit or until its caller leaves the bus; a stand-in of GNOME's session manager on bare
mutter saying idle is inhibited, until it leaves the bus."""

import subprocess
import time
import unittest

from harness_wayland import (HERE, NORMAL_END, SYSTEM_PYTHON, WINDOW_SYSTEM_FAILED,
                             GnomeShellSession, NestedSession, SwaySession, alive, poll,
                             require_programs, required_path, saver_children,
                             still_running_after, wait_for_output, wait_exit)

STAND_INS = HERE / "idle_stand_ins.py"

TIMEOUT = 2  # the watcher's --idle seconds


class Compositor:
    """What differs between the compositors: the session, a key press, the source's name."""

    def __init__(self, name, make, press, source):
        self.name, self.make, self.press, self.source = name, make, press, source


COMPOSITORS = [
    Compositor("sway", lambda: SwaySession(session_bus=True), lambda session: session.type("a"),
               "org_kde_kwin_idle"),
    Compositor("kwin", lambda: NestedSession("kwin", 640, 480),
               lambda session: session.x.xdotool("key", "a"), "ext_idle_notifier_v1"),
    Compositor("gnome-shell", lambda: GnomeShellSession(portal=False),
               lambda session: session.press("a"), "org.gnome.Mutter"),
]
SWAY, KWIN, GNOME_SHELL = COMPOSITORS
# Bare mutter, where a stand-in may own GNOME's session manager's name.
MUTTER = Compositor("mutter", lambda: NestedSession("mutter"),
                    lambda session: session.x.xdotool("key", "a"), "org.gnome.Mutter")

# A video playing in a window on the compositor: mpv's only Wayland output here (no GPU, no
# linux-dmabuf on these compositors) is wlshm.
MPV = ["mpv", "--no-config", "--vo=wlshm", "--no-audio", "--loop=inf",
       "--msg-level=all=no,vo=v", "av://lavfi:testsrc=size=160x90:rate=10"]


def start_mpv(session):
    require_programs("mpv")
    player = session.start_process(MPV, stdout=subprocess.PIPE)
    # Its window is on an output, and the inhibitor on where the compositor offers one (mpv
    # turns it on first).
    wait_for_output(player, b"Surface entered output", 10)
    return player, lambda: (player.terminate(), wait_exit(player, 5))


def start_inhibitor_window(session):
    player = session.start_process([required_path("ZORBLINTH_IDLE_INHIBITOR")],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    assert player.stdout.readline().strip() == b"ready", "the inhibitor window failed"

    def end():
        player.stdin.close()
        assert wait_exit(player, 5) == 0, "the inhibitor window failed"
    return player, end


def start_session_inhibit(session):
    """gnome-session-inhibit, as GNOME's own player and the browsers inhibit idle through the
    session manager."""
    player = session.start_process(["gnome-session-inhibit", "--inhibit", "idle", "--reason",
                                    "a video plays", "--inhibit-only"])
    poll(lambda: session.gdbus_call("org.gnome.SessionManager", "/org/gnome/SessionManager",
                                    "org.gnome.SessionManager.IsInhibited", 8) == "(true,)",
         5, interval=0.1, message="the session manager's inhibit")
    return player, lambda: (player.terminate(), wait_exit(player, 5))


class Player:
    """A program that plays on a compositor, and whether the watcher hears it there."""

    def __init__(self, name, compositor, start, keeps_it_away):
        self.name, self.compositor, self.start = name, compositor, start
        self.keeps_it_away = keeps_it_away


PLAYERS = [
    Player("a window of ours holding an idle inhibitor", SWAY, start_inhibitor_window, True),
    Player("mpv", SWAY, start_mpv, True),
    Player("gnome-session-inhibit", GNOME_SHELL, start_session_inhibit, True),
    Player("mpv", GNOME_SHELL, start_mpv, False),
]


class IdleWatcherOnWayland(unittest.TestCase):
    def start_session(self, compositor):
        """A new session of the compositor's, stopped with the test."""
        session = compositor.make()
        session.start()
        self.addCleanup(session.stop)
        return session

    def watch(self, compositor, session=None):
        """A watcher on a new session of the compositor's, or on the one given."""
        if session is None:
            session = self.start_session(compositor)
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

    def test_a_player_keeps_it_away_where_the_desktop_hears_it(self):
        sessions = {}
        for player in PLAYERS:
            with self.subTest(player.name, compositor=player.compositor.name):
                compositor = player.compositor
                if compositor.name not in sessions:
                    sessions[compositor.name] = self.start_session(compositor)
                session = sessions[compositor.name]
                try:
                    # Playing before the idle time starts: a player slow to start on a busy
                    # machine would otherwise come after the timeout.
                    process, end = player.start(session)
                    session, watcher, since = self.watch(compositor, session)
                    if player.keeps_it_away:
                        self.assert_kept_away(session, watcher, TIMEOUT + 1.5)
                        end()
                        # The timeout counts again from the player's end.
                        self.wait_for_cover(session, watcher, time.monotonic())
                    else:
                        self.wait_for_cover(session, watcher, since)
                        self.assertIsNone(process.poll(), "the player ended meanwhile")
                finally:
                    # A watcher left running would make the next one a second watcher.
                    session.kill_processes()

    def test_an_inhibit_on_the_watchers_screensaver_keeps_it_away(self):
        session, watcher, _ = self.watch(SWAY)
        time.sleep(0.5)  # the watcher owns org.freedesktop.ScreenSaver
        for path, ending in (("/org/freedesktop/ScreenSaver", "UnInhibit"),
                             ("/ScreenSaver", "the caller leaving the bus")):
            with self.subTest(path=path, ending=ending):
                caller = session.start_process([SYSTEM_PYTHON, STAND_INS, "inhibitor", path],
                                               stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                self.assertGreater(int(caller.stdout.readline()), 0, "a cookie")
                # Input once the inhibit holds: a saver that came while the caller started on a
                # busy machine ends, and the idle time counts from here.
                SWAY.press(session)
                poll(lambda: not saver_children(watcher), 5, message="no saver")
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
        session = self.start_session(MUTTER)
        # Inhibiting before the idle time starts, as a player that plays already.
        manager = session.start_process([SYSTEM_PYTHON, STAND_INS, "session-manager"],
                                        stdout=subprocess.PIPE)
        self.assertEqual(manager.stdout.readline().strip(), b"ready")
        session, watcher, _ = self.watch(MUTTER, session)
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
