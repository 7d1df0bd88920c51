"""The saver under a window manager (openbox), which manages Wine's windows here: the start-up
traffic leaves it running, losing activation to another window ends it with status 0 and the
cursor back, as losing the keyboard would otherwise strand it, and keys still end it."""

import time

from harness import NORMAL_END, WineTestCase, poll


class WindowManagerTest(WineTestCase):
    window_manager = ["openbox", "--sm-disable"]

    def assert_ends_normally(self, process, why):
        self.assertEqual(self.session.wait_exit(process, timeout=10), NORMAL_END,
                         f"wrong status after {why}")
        # A window of another program may set its own cursor a moment later, later still on a busy machine.
        poll(self.session.cursor.is_visible, 10, message=f"the cursor after {why}")

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
