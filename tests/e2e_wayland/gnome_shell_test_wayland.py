"""The saver on a real nested GNOME Shell 43 (harness_wayland's GnomeShellSession) with the
real screenshot portal: with the permission store's screenshot entry for programs outside a
sandbox at ['yes'], the saver starts from the desktop as it was; at ['no'], or with no entry,
from black, without asking (GNOME would show its dialog). The idle watcher on GNOME Shell:
idle_test_wayland.py."""

import time

from harness_wayland import (NORMAL_END, GnomeShellSession, SessionTestCase, most_pixels_drawn,
                             poll, wait_exit)

# The shell draws its own pointer over every window, the saver's too (a 24-pixel arrow at most).
POINTER_PIXELS = 24 * 24


def black_pixels(shot):
    return sum(shot.rgb[i:i + 3] == b"\0\0\0" for i in range(0, len(shot.rgb), 3))


def drawn_since(shot, started):
    """The most pixels the saver can have drawn over its first picture since started."""
    return most_pixels_drawn(shot.width, shot.height, time.monotonic() - started) \
        + POINTER_PIXELS


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
