"""The saver under a window manager (openbox), which manages Wine's windows here: the start-up
traffic leaves it running, losing activation to another window ends it with status 0 and the
cursor back, as losing the keyboard would otherwise strand it, and keys still end it. Over two
monitors, activation moving between the saver's own windows leaves it running, and another
program taking it ends it whichever of them held it."""

import time

from harness import NORMAL_END, WineTestCase, poll
from e2e.xsession import Monitor


class ManagedTestCase(WineTestCase):
    window_manager = ["openbox", "--sm-disable"]

    def assert_ends_normally(self, process, why):
        self.assertEqual(self.session.wait_exit(process, timeout=10), NORMAL_END,
                         f"wrong status after {why}")
        # A window of another program may set its own cursor a moment later, later still on a busy machine.
        poll(self.session.cursor.is_visible, 10, message=f"the cursor after {why}")


class WindowManagerTest(ManagedTestCase):

    def test_keeps_running_with_nothing_touched(self):
        started = time.monotonic()
        process, _ = self.start_saver()
        self.assertTrue(self.session.still_running_after(process, 5 - (time.monotonic() - started)),
                        f"the saver ended by itself with status {process.returncode}")
        self.assertFalse(self.session.cursor.is_visible(), "the cursor came back by itself")
        self.session.xdotool("key", "a")
        self.assert_ends_normally(process, "a letter key")

    def test_another_window_taking_activation_ends_it(self):
        # A plain X window the window manager manages, mapped before the saver takes over.
        other = self.session.cursor.show_cover(100, 100, 200, 150)
        self.addCleanup(self.session.cursor.remove_cover, other)
        process, _ = self.start_saver()
        self.assertTrue(self.session.still_running_after(process, 0.5), "the saver ended early")
        self.session.xdotool("windowactivate", other)
        self.assert_ends_normally(process, "another window was activated")

    def test_a_new_wine_window_taking_focus_ends_it(self):
        process, _ = self.start_saver()
        self.assertTrue(self.session.still_running_after(process, 0.5), "the saver ended early")
        # Another Windows program opening its window takes the foreground.
        self.session.start_wine([self.session.pattern])
        self.assert_ends_normally(process, "another program's window opened")


LEFT = Monitor("LEFT", 0, 0, 1280, 720, "DUMMY0")
RIGHT = Monitor("RIGHT", 1280, 0, 1920, 1080, "DUMMY1")


class OverTwoMonitorsTest(ManagedTestCase):
    """LEFT (primary) beside RIGHT on Xorg with the dummy driver: a saver window on each, and
    openbox hands the focus to the one mapped last."""

    screen_width = 3200
    screen_height = 1200
    monitors = (LEFT, RIGHT)

    def test_another_program_taking_activation_ends_it_whichever_window_held_it(self):
        for moved in (False, True):
            for taker in ("another program's window opening", "a plain X window activated"):
                with self.subTest(moved_to_the_other_saver_window=moved, taker=taker):
                    self.check_activation_taken(moved, taker)
                    self.session.kill_processes()

    def check_activation_taken(self, moved, taker):
        self.session.move_mouse(*LEFT.centre)
        self.session.let_wine_see_the_pointer()
        self.folder.write_settings((1, 1))
        process = self.session.start_program(self.folder, "/s")
        windows = poll(lambda: len(self.session.visible_windows("^Form1$")) == 2
                       and self.session.visible_windows("^Form1$"), 15,
                       message="a saver window on each monitor")
        self.assertTrue(self.session.still_running_after(process, 0.5), "the saver ended early")
        if moved:
            # The keyboard goes over to the other monitor's saver window: still the saver's.
            holder = int(self.session.xdotool("getwindowfocus").strip())
            self.session.xdotool("windowactivate", next(w for w in windows if w != holder))
            self.assertTrue(self.session.still_running_after(process, 0.5),
                            "moving between its own windows ended the saver")
        if taker == "a plain X window activated":
            other = self.session.cursor.show_cover(100, 100, 200, 150)
            self.addCleanup(self.session.cursor.remove_cover, other)
            self.session.xdotool("windowactivate", other)
        else:
            self.session.start_wine([self.session.pattern])
        self.assert_ends_normally(process, taker)
