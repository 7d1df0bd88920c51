"""Ending the saver: any character key, mouse button or mouse movement ends it with status 0 and
the cursor back, and so does a move made before its window appeared; keys without a character,
the wheel and the start-up mouse report do not. On a large screen at the busiest settings a move
still ends it at once, in the middle of a long tick, while keys that type nothing leave every
tick whole."""

import os
import subprocess
import time

from harness import NORMAL_END, WineTestCase


class SaverEndingTest(WineTestCase):
    def assert_still_running(self, process, why):
        self.assertTrue(self.session.still_running_after(process, 0.6),
                        f"the saver ended after {why} (status {process.returncode})")

    def assert_ends_normally(self, process, why):
        self.assertEqual(self.session.wait_exit(process, timeout=10), NORMAL_END,
                         f"wrong status after {why}")
        self.assertTrue(self.session.cursor.is_visible(), f"no cursor after {why}")

    def test_keeps_running_while_the_mouse_stays_at_the_start_position(self):
        process, _ = self.start_saver()
        self.assertFalse(self.session.cursor.is_visible())
        # The window system reports the unmoved cursor when the window appears.
        self.assert_still_running(process, "appearing under a still mouse")
        self.session.move_mouse(500, 400)
        self.assert_still_running(process, "a move to the start position")
        for key in ("shift", "ctrl", "Left", "F5", "alt+a", "Delete"):
            self.session.xdotool("key", key)
            self.assert_still_running(process, f"the key {key}")
        # Up, down, left and right on the wheel.
        for button in (4, 5, 6, 7):
            self.session.xdotool("click", button)
            self.assert_still_running(process, f"turning the wheel (button {button})")
        self.assertFalse(self.session.cursor.is_visible())
        self.session.xdotool("key", "a")
        self.assert_ends_normally(process, "a letter key")

    def test_a_one_pixel_move_in_any_direction_ends_it(self):
        for dx, dy in ((1, 0), (0, -1), (-1, 1)):
            with self.subTest(dx=dx, dy=dy):
                self.session.move_mouse(500, 400)
                process, _ = self.start_saver()
                self.session.xdotool("mousemove_relative", "--", dx, dy)
                self.assert_ends_normally(process, f"moving by ({dx}, {dy})")

    def test_a_mouse_button_ends_it_without_movement(self):
        # Left, middle, right and the two extra buttons (back and forward).
        for button in (1, 2, 3, 8, 9):
            with self.subTest(button=button):
                process, _ = self.start_saver()
                self.session.xdotool("click", button)
                self.assert_ends_normally(process, f"clicking button {button}")

    def test_character_keys_end_it(self):
        for key in ("Return", "space", "7", "Escape", "BackSpace", "ctrl+BackSpace", "ctrl+c"):
            with self.subTest(key=key):
                process, _ = self.start_saver()
                self.session.xdotool("key", key)
                self.assert_ends_normally(process, f"the key {key}")

    def test_a_move_between_start_and_the_window_appearing_ends_it(self):
        self.folder.write_settings((1, 1))
        # The driver stops the saver's thread the moment its window exists: after the saver took
        # its start position, and before it shows the window unless the race is lost, which the
        # driver tells; then it is run again. The pointer moves while the saver is held.
        for _ in range(5):
            self.session.move_mouse(500, 400)
            self.session.let_wine_see_the_pointer()
            holder = self.session.start_process(
                [self.session.wine_run, self.session.driver, "hold-saver-when-it-exists"],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.assertEqual(holder.stdout.readline().strip(), b"waiting=1")
            process = self.session.start_program(self.folder, "/s")
            held = holder.stdout.readline().strip()
            if held == b"visible_when_held=0":
                self.session.move_mouse(501, 400)
            output, _ = holder.communicate(b"\n", timeout=40)
            self.assertEqual(holder.returncode, 0, held + output)
            if held == b"visible_when_held=0":
                self.assert_ends_normally(process, "a move before the window appeared")
                return
            self.session.kill_processes()
        self.fail("the saver's window was shown every time before it could be held")

    def test_the_saver_runs_and_ends_on_either_timer(self):
        # The program always asks for the high-resolution timer, and gets it under Wine; the
        # window timer it falls back to on older Windows is run here through a test program.
        tests = os.environ.get("ZORBLINTH_SAVER_TIMER_TESTS")
        if not tests:
            self.skipTest("ZORBLINTH_SAVER_TIMER_TESTS is not set; run through ctest")
        for timer in ("HighResolution", "WindowTimer"):
            with self.subTest(timer=timer):
                status, output = self.session.run_wine(
                    [tests, f"--gtest_filter=SaverOnEachTimer.{timer}"], timeout=60)
                self.assertEqual(status, 0, output)
                self.assertIn("[  PASSED  ] 1 test", output)
                self.session.kill_processes()


class LongTickEndingTest(WineTestCase):
    """The busiest picture on a large screen: one tick takes far longer than the 50 ms between
    ticks, yet the user must not wait for it."""

    screen_width = 3840
    screen_height = 2160

    def test_a_one_pixel_move_ends_it_within_a_second(self):
        process, _ = self.start_saver((10, 20))
        # Well into the ticks, so that the move lands in the middle of one.
        self.assertTrue(self.session.still_running_after(process, 1.0), "the saver ended early")
        moved = time.monotonic()
        self.session.xdotool("mousemove_relative", "--", 1, 0)
        self.assertEqual(self.session.wait_exit(process, timeout=10), NORMAL_END)
        waited = time.monotonic() - moved
        self.assertLess(waited, 1.0, f"the saver took {waited:.2f} s to end")
        self.assertTrue(self.session.cursor.is_visible(), "no cursor after the move")

    def test_keys_that_type_nothing_leave_every_tick_whole(self):
        process, _ = self.start_saver((10, 20))
        before = self.driver.run("saver-ticks")
        # Shift tapped every 20 ms or so, for some five seconds: several long ticks' time.
        self.session.xdotool("key", "--repeat", 150, "--repeat-delay", 20, "shift")
        after = self.driver.run("saver-ticks")
        self.assertEqual(after["cut"], "0", f"ticks were cut short by Shift: {before} {after}")
        self.assertGreater(int(after["drawn"]), int(before["drawn"]),
                           "no tick was drawn while Shift was tapped")
        self.assertIsNone(process.poll(), "the saver ended on Shift")
        self.end_saver_with_mouse(process)

    def test_it_answers_the_window_system_in_the_middle_of_long_ticks(self):
        process, _ = self.start_saver((10, 20))
        # A window that answers no sent message for seconds is taken for hung.
        replies = self.driver.run("saver-answers")
        self.assertEqual(replies["answered"], "5")
        self.assertLess(int(replies["slowest_ms"]), 500, replies)
        self.assertIsNone(process.poll(), "the saver ended without input")
        self.end_saver_with_mouse(process)
