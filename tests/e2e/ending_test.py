"""Ending the saver: any character key, mouse button or mouse movement ends it with status 0 and
the cursor back; keys without a character and the start-up mouse report do not."""

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
        for key in ("shift", "ctrl", "Left", "F5"):
            self.session.xdotool("key", key)
            self.assert_still_running(process, f"the key {key} alone")
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
        for button in (1, 3):
            with self.subTest(button=button):
                process, _ = self.start_saver()
                self.session.xdotool("click", button)
                self.assert_ends_normally(process, f"clicking button {button}")

    def test_character_keys_end_it(self):
        for key in ("Return", "space", "7", "Escape"):
            with self.subTest(key=key):
                process, _ = self.start_saver()
                self.session.xdotool("key", key)
                self.assert_ends_normally(process, f"the key {key}")
