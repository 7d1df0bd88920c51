"""The saver and the idle watcher on a real nested GNOME Shell 43 (harness_wayland's
GnomeShellSession), with the real screenshot portal and GNOME's own blank and lock.

The portal: with the permission store's screenshot entry for programs outside a sandbox at
['yes'], the saver starts from the desktop as it was; at ['no'], or with no entry, from black,
without asking (GNOME would show its dialog). GNOME's blank and lock, idle-delay shorter than the
watcher's timeout: the watcher says so in one line, never runs the saver while the shell's
screen shield is up (blank or lock), ends the saver it started before the blank once the
blank comes, and a saver it starts after the blank was taken away shows the desktop, not the
blank. The watcher's idle source and GNOME's inhibits on GNOME
Shell: idle_test_wayland.py.

The ending there: the pointer's enter comes only with the first motion over the saver's window,
and that one-pixel move must end it every time; and from the saver's first frame on, every frame
GNOME shows is the saver's."""

import subprocess
import time

from harness_wayland import (NORMAL_END, GnomeShellSession, SessionTestCase, most_pixels_drawn,
                             poll, saver_children, still_running_after, wait_exit)

# The shell draws its own pointer over every window, the saver's too (a 24-pixel arrow at most).
POINTER_PIXELS = 24 * 24


def black_pixels(shot):
    return sum(shot.rgb[i:i + 3] == b"\0\0\0" for i in range(0, len(shot.rgb), 3))


def drawn_since(shot, started):
    """The most pixels the saver can have drawn over its first picture since started."""
    return most_pixels_drawn(shot.width, shot.height, time.monotonic() - started) \
        + POINTER_PIXELS


TRIES = 5


def nearly_black_share(pixels):
    """The share of sampled pixels (every 16th, of 4-byte ones) that are nearly black."""
    samples = pixels[0::64], pixels[1::64], pixels[2::64]
    black = sum(1 for b, g, r in zip(*samples) if b < 24 and g < 24 and r < 24)
    return black / len(samples[0])


class SaverOnGnomeShell(SessionTestCase):
    @classmethod
    def make_session(cls):
        return GnomeShellSession()

    def setUp(self):
        self.session.write_settings(1, 1)
        self.session.x.move_mouse(2, 2)

    def tearDown(self):
        self.session.kill_processes()
        self.session.set_screenshot_permission(None)
        poll(self.session.shows_pattern, 10, interval=0.1, message="the bare desktop")

    def shows_desktop_with_lines(self, started):
        """Whether the screen shows the desktop as it was, with lines on it: the saver's
        surface with the portal's picture (the shell's top bar left out: its clock moves)."""
        session = self.session
        shot = session.screenshot()
        below = [(x, y) for x, y in shot.changed_mask(session.desktop) if y >= session.TOP_BAR]
        return 0 < len(below) <= drawn_since(shot, started)

    def black_start(self, started):
        shot = self.session.screenshot()
        return shot.width * shot.height - black_pixels(shot) <= drawn_since(shot, started)

    def test_the_portals_picture_only_where_the_permission_store_allows_it(self):
        session = self.session
        for answer in ("yes", "no", None):
            with self.subTest(permission=answer):
                session.set_screenshot_permission(answer)
                started = time.monotonic()
                saver = session.start_saver("--verbose")
                if answer == "yes":
                    poll(lambda: self.shows_desktop_with_lines(started), 5, interval=0.05,
                         message="the desktop's picture with lines")
                    session.save_png(session.screenshot(), "saver_gnome_shell.png")
                else:
                    poll(lambda: self.black_start(started), 5, interval=0.05,
                         message="a black start")
                session.press("a")
                self.assertEqual(wait_exit(saver, 5), NORMAL_END)
                said = saver.stderr.read().decode(errors="replace")
                self.assertEqual("starting from black" in said, answer != "yes", said)
                if answer != "yes":
                    self.assertIn("permission store", said)
                # Nothing left of the portal's picture (GNOME's portal writes it in the home
                # folder where there is no Pictures folder).
                self.assertEqual(list((session.folder / "home").rglob("Screenshot*")), [])
            self.tearDown()


class GnomesBlankAndLock(SessionTestCase):
    """idle-delay 8 s against the watcher's 12 s, as a user who set a short Screen Blank would
    have it. The lock comes last: nothing here can unlock it (the GDM stand-in checks no
    passwords)."""

    IDLE_DELAY = 8
    TIMEOUT = 12

    @classmethod
    def make_session(cls):
        return GnomeShellSession()

    def watch_one_idle_period(self, picture_allowed, lift_blank=False):
        """Starts a watcher after a key and follows it for a whole timeout and more: never a
        saver while the screen shield is up; a saver that runs shows the desktop's picture.
        lift_blank takes GNOME's blank away as soon as it comes, with no input (as a program
        may through org.gnome.ScreenSaver). Returns the watcher and whether a saver ran."""
        session = self.session
        session.set_screenshot_permission("yes" if picture_allowed else None)
        session.press("a")
        pressed = time.monotonic()
        poll(lambda: not session.screen_blanked(), 5, interval=0.1, message="the blank lifted")
        watcher = session.start_process([session.program, "--idle", self.TIMEOUT],
                                        stderr=subprocess.PIPE)
        self.addCleanup(session.kill_processes)
        saver_seen = False
        while time.monotonic() - pressed < self.TIMEOUT + 2:
            savers = saver_children(watcher)
            blanked = session.screen_blanked()
            if blanked and lift_blank:
                session.set_blanked(False)
                lift_blank = False
                continue
            self.assertFalse(savers and blanked and saver_children(watcher),
                             "a saver runs behind GNOME's screen shield")
            if savers and not saver_seen:
                saver_seen = True
                time.sleep(0.3)  # its first picture is up
                shot = session.screenshot()
                if picture_allowed:
                    self.assertLess(black_pixels(shot), shot.width * shot.height // 2,
                                    "the saver took GNOME's blank for the desktop")
            time.sleep(0.2)
        self.assertIsNone(watcher.poll(), "the watcher ended")
        return watcher, saver_seen

    def told(self, watcher):
        """The watcher's lines about GNOME's blank, once it has ended."""
        watcher.terminate()
        self.assertEqual(wait_exit(watcher, 5), NORMAL_END)
        lines = watcher.stderr.read().decode(errors="replace").splitlines()
        return [line for line in lines if "Screen Blank" in line]

    def blank_over_running_saver(self):
        """A saver that started before the blank (--idle 4) ends when the shell blanks at its
        idle-delay, the watcher going on."""
        session = self.session
        session.press("a")
        poll(lambda: not session.screen_blanked(), 5, interval=0.1, message="the blank lifted")
        watcher = session.start_process([session.program, "--idle", 4], stderr=subprocess.PIPE)
        self.addCleanup(session.kill_processes)
        poll(lambda: saver_children(watcher), 10, interval=0.1, message="the saver")
        poll(session.screen_blanked, self.IDLE_DELAY + 5, interval=0.1, message="GNOME's blank")
        poll(lambda: not saver_children(watcher), 3, interval=0.1,
             message="the saver to end behind GNOME's blank")
        self.assertIsNone(watcher.poll(), "the watcher ended")
        watcher.terminate()
        self.assertEqual(wait_exit(watcher, 5), NORMAL_END)

    def test_the_watcher_tells_of_gnomes_blank_and_never_runs_the_saver_behind_it(self):
        session = self.session
        session.gsettings("org.gnome.desktop.session", "idle-delay", self.IDLE_DELAY)
        session.gsettings("org.gnome.desktop.screensaver", "lock-enabled", "false")
        with self.subTest("the saver running when GNOME blanks"):
            try:
                self.blank_over_running_saver()
            finally:
                session.kill_processes()  # a watcher left would hold the next ones off
        for lock in (False, True):
            with self.subTest(lock=lock):
                session.gsettings("org.gnome.desktop.screensaver", "lock-enabled",
                                  "true" if lock else "false")
                # Without the lock, the blank taken away: the saver comes at its time.
                watcher, saver_seen = self.watch_one_idle_period(picture_allowed=not lock,
                                                                 lift_blank=not lock)
                self.assertEqual(saver_seen, not lock)
                if lock:
                    self.assertTrue(session.screen_blanked(), "GNOME did not lock")
                told = self.told(watcher)
                self.assertEqual(len(told), 1, told)
                self.assertIn("Screen Blank", told[0])
                session.kill_processes()


class FirstMoveOnGnomeShell(SessionTestCase):
    @classmethod
    def make_session(cls):
        # No portal: the saver starts from black, which tells its frames from the desktop's.
        return GnomeShellSession(presence=False, portal=False)

    def setUp(self):
        self.session.write_settings(1, 1)

    def tearDown(self):
        self.session.kill_processes()

    def frames_until_shown(self, saver, seconds_shown=0.6):
        """Takes the screen frame after frame from now until the saver's picture (nearly all
        black) has shown for seconds_shown; returns each frame's share of black."""
        session = self.session
        frames = []
        first_shown = None
        deadline = time.monotonic() + 15
        while first_shown is None or time.monotonic() < first_shown + seconds_shown:
            self.assertLess(time.monotonic(), deadline, "the saver's picture never showed")
            if saver.poll() is not None:
                self.fail(f"it ended with {saver.returncode} before a move: "
                          f"{saver.stderr.read().decode(errors='replace')}")
            share = nearly_black_share(session.x.cursor.root_pixels(0, 0, session.width,
                                                                    session.height))
            frames.append(share)
            if first_shown is None and share > 0.8:
                first_shown = time.monotonic()
        return frames

    def test_a_single_one_pixel_move_ends_it_every_time_and_every_frame_is_its_own(self):
        session = self.session
        for attempt in range(TRIES):
            with self.subTest(attempt=attempt):
                session.x.xdotool("mousemove", session.width // 2, session.height // 2)
                poll(lambda: session.shows(session.screenshot(), session.desktop), 10,
                     interval=0.1, message="the bare desktop")
                saver = session.start_saver()
                frames = self.frames_until_shown(saver)
                # From its first frame on, nothing but the saver's black (GNOME's desktop, its
                # screenshot flash, a frame without the window would not be).
                shown = next(i for i, share in enumerate(frames) if share > 0.8)
                self.assertGreater(min(frames[shown:]), 0.8,
                                   f"a frame not the saver's among {frames[shown:]}")
                # mutter gives the saver the pointer with this move alone.
                session.x.xdotool("mousemove_relative", "--", "1", "0")
                self.assertFalse(still_running_after(saver, 3), "a one-pixel move left it running")
                self.assertEqual(saver.returncode, NORMAL_END)


if __name__ == "__main__":
    import unittest

    unittest.main()
