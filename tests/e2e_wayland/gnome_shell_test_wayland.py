"""The standalone saver on a real GNOME Shell 43 (nested, llvmpipe): the pointer's enter comes
only with the first motion over the saver's window there, and that one-pixel move must end it
every time; and from the saver's first frame on, every frame GNOME shows is the saver's."""

import time
import unittest

from harness_wayland import (GnomeShellSession, NORMAL_END, SessionTestCase, poll,
                             still_running_after)

TRIES = 5


def nearly_black_share(pixels):
    """The share of sampled pixels (every 16th, of 4-byte ones) that are nearly black."""
    samples = pixels[0::64], pixels[1::64], pixels[2::64]
    black = sum(1 for b, g, r in zip(*samples) if b < 24 and g < 24 and r < 24)
    return black / len(samples[0])


class SaverOnGnomeShell(SessionTestCase):
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
    unittest.main()
