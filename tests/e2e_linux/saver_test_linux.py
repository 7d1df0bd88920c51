"""The standalone saver (zorblinth --saver) over a full-screen test pattern on a screen managed by
openbox: its frozen copy of the screen, the hidden cursor, lines piling up with the stored pen,
what ends it and what does not, the one running copy, a keyboard it cannot have, and a display
reached over TCP, where the server cannot share the saver's memory."""

import subprocess
import time

from harness_linux import (
    ALREADY_RUNNING,
    NORMAL_END,
    WINDOW_SYSTEM_FAILED,
    ScreenSaverHost,
    XTestCase,
    most_pixels_drawn,
    poll,
    shared_memory_attachments,
    stroke_width,
)

START = (400, 300)  # where the pointer rests when the saver starts


class SaverOverPattern(XTestCase):
    """Starts every saver over the exact test pattern, with the pointer at START."""

    PATTERN = True

    @classmethod
    def prepare_session(cls):
        super().prepare_session()
        cls.pixels = cls.session.width * cls.session.height

    def setUp(self):
        self.addCleanup(self.session.kill_processes)
        self.session.write_settings((1, 1))
        self.session.move_mouse(*START)

    def start_saver(self, settings=(1, 1)):
        """Starts the saver once the screen shows the pattern alone (a saver that just ended
        leaves its lines until the pattern repaints); returns it and its first picture."""
        self.wait_for_pattern_alone()
        self.session.write_settings(settings)
        process = self.session.start_program("--saver")
        return process, self.wait_for_drawing(process)

    def wait_for_pattern_alone(self):
        poll(lambda: self.session.screenshot().rgb == self.pattern.rgb, 5,
             message="the pattern alone on the screen")

    def wait_for_drawing(self, process):
        """The first screenshot that differs from the pattern. The saver's window shows the
        pattern until the first tick, and ticks begin only once it holds keyboard and pointer,
        so from then on input reaches it."""

        def drawing():
            if process.poll() is not None:
                raise AssertionError(f"the saver ended with {process.returncode} before drawing:"
                                     f" {process.stderr.read().decode()}")
            shot, taken_at = self.session.timed_screenshot()
            return (shot, taken_at) if shot.rgb != self.pattern.rgb else None

        shot, taken_at = poll(drawing, 10, interval=0.02, message="the saver's first lines")
        self.first_seconds = taken_at - process.started_at
        return shot

    def assert_starts_as_the_pattern(self, first):
        """Everything but what the ticks since the start drew is the pattern, pixel for pixel.
        A copy shifted by a pixel or with wrong colours would differ almost everywhere (the
        pattern has one-pixel detail and gradients), and not in thin strokes."""
        changed = first.changed_mask(self.pattern)
        self.assertLessEqual(
            len(changed), most_pixels_drawn(*self.SCREEN, self.first_seconds),
            f"the first picture, {self.first_seconds:.2f} s after the start, is not the screen")
        # The strokes' width from the lines alone: a box's two sides a pixel apart read as a
        # stroke two pixels wide.
        lines = first.changed_mask(self.pattern, ignore_black=True)
        if lines:
            self.assertLess(stroke_width(lines), 1.5)
        return changed

    def assert_ends_normally(self, process, why):
        self.assertEqual(self.session.wait_exit(process, timeout=5), NORMAL_END,
                         f"wrong status after {why}")
        self.assertTrue(self.session.cursor.is_visible(), f"no cursor after {why}")
        self.assertEqual(self.session.visible_windows("^Form1$"), [], f"window left after {why}")

    def end_with_move(self, process):
        self.session.xdotool("mousemove_relative", "--", 1, 0)
        self.assert_ends_normally(process, "a one-pixel move")


class StandaloneSaverTest(SaverOverPattern):
    WINDOW_MANAGER = True

    def test_starts_as_an_exact_copy_of_the_screen_and_piles_up_lines(self):
        process, first = self.start_saver((1, 1))
        self.assertFalse(self.session.cursor.is_visible(), "the cursor is still visible")
        windows = self.session.visible_windows("^Form1$")
        self.assertEqual(len(windows), 1)
        geometry = self.session.xdotool("getwindowgeometry", "--shell", windows[0])
        self.assertIn(f"WIDTH={self.session.width}\nHEIGHT={self.session.height}", geometry)

        first_mask = self.assert_starts_as_the_pattern(first)
        time.sleep(0.6)
        later, taken_at = self.session.timed_screenshot()
        later_mask = later.changed_mask(self.pattern)
        self.assertGreater(len(later_mask), len(first_mask) + 5000, "no lines were added")
        self.assertLessEqual(len(later_mask),
                             most_pixels_drawn(*self.SCREEN, taken_at - process.started_at),
                             "the covered screen was lost")
        kept = len(first_mask & later_mask) / len(first_mask)
        self.assertGreater(kept, 0.95, "earlier drawing was erased")
        # On a local display the server reads the picture in place: the saver's segment is
        # attached by both.
        self.assertEqual(shared_memory_attachments(process.pid), [2])
        self.assertIsNone(process.poll(), "the saver ended without input")
        self.end_with_move(process)

    def ticks_drawn(self, window):
        """The count of whole ticks the saver keeps on its window."""
        output = subprocess.run(["xprop", "-id", str(window), "_ZORBLINTH_TICKS_DRAWN"],
                                env=self.session.env, capture_output=True, text=True,
                                check=True).stdout
        self.assertIn("(CARDINAL) = ", output, "no tick count on the saver's window")
        return int(output.rsplit("=", 1)[1])

    def test_counts_its_ticks_on_its_window_twenty_a_second_at_most(self):
        # The count tools measure the saver by: it must follow the ticks, never run ahead of
        # the fifty-millisecond grid, and not stand still.
        process, _ = self.start_saver((1, 1))
        window = self.session.visible_windows("^Form1$")[0]
        before, counted_at = self.ticks_drawn(window), time.monotonic()
        time.sleep(1.5)
        after, later = self.ticks_drawn(window), time.monotonic()
        self.assertGreaterEqual(after - before, 10, "the saver hardly ticked")
        self.assertLessEqual(after - before, 20 * (later - counted_at) + 2)
        self.assertLessEqual(after, 20 * (later - process.started_at) + 1)
        self.end_with_move(process)

    def test_pen_width_comes_from_the_settings_file(self):
        process, _ = self.start_saver((10, 1))

        def enough_drawn():
            mask = self.session.screenshot().changed_mask(self.pattern, ignore_black=True)
            return mask if len(mask) >= 8000 else None

        # Black boxes are left out: the pattern has no black, the lines' random colours rarely.
        mask = poll(enough_drawn, 5, message="wide lines")
        self.assertAlmostEqual(stroke_width(mask), 10, delta=2)
        self.end_with_move(process)

    def test_a_busy_picture_at_width_3_and_level_20(self):
        process, _ = self.start_saver((3, 20))
        time.sleep(2)
        raw = self.session.raw_screenshot()
        self.session.save_png(raw, "saver_linux.png")
        # About 4,800 lines a tick here: within two seconds almost nothing of the pattern is left.
        changed = self.session.convert(raw).count_changed(self.pattern)
        self.assertGreater(changed, self.pixels * 0.9)
        self.end_with_move(process)

    def test_keys_without_a_character_keep_it_running_and_a_letter_ends_it(self):
        process, _ = self.start_saver()
        for key in ("shift", "ctrl", "alt", "Left", "Up", "Right", "Down", "F5"):
            self.session.xdotool("key", key)
            self.assertTrue(self.session.still_running_after(process, 0.25),
                            f"the key {key} alone ended the saver")
        self.assertFalse(self.session.cursor.is_visible())
        self.session.xdotool("key", "a")
        self.assert_ends_normally(process, "the letter a")

    def test_a_one_pixel_move_a_click_enter_or_sigterm_ends_it(self):
        for name, action in (("a one-pixel move", ("mousemove_relative", "--", 0, -1)),
                             ("a click", ("click", 1)),
                             ("Enter", ("key", "Return")),
                             ("SIGTERM", None)):
            with self.subTest(name):
                self.session.move_mouse(*START)
                process, _ = self.start_saver()
                if action:
                    self.session.xdotool(*action)
                else:
                    process.terminate()
                self.assert_ends_normally(process, name)

    def test_a_second_copy_ends_at_once_with_status_2(self):
        first, _ = self.start_saver()
        second = self.session.start_program("--saver")
        self.assertEqual(self.session.wait_exit(second, timeout=3), ALREADY_RUNNING)
        self.assertIsNone(first.poll(), "the first copy ended")
        self.assertEqual(len(self.session.visible_windows("^Form1$")), 1)
        self.end_with_move(first)

    def test_a_killed_copy_does_not_keep_the_next_from_starting(self):
        crashed, _ = self.start_saver()
        crashed.kill()
        crashed.wait(timeout=5)
        # The server gives back the cursor and the input of a client that is gone.
        poll(self.session.cursor.is_visible, 5, message="the cursor after the crash")
        process, _ = self.start_saver()
        self.end_with_move(process)

    def test_a_keyboard_held_by_another_program_keeps_it_from_starting(self):
        ScreenSaverHost(self.session, "--size", "1x1", "--no-screenshot", "--grab-keyboard")
        started = time.monotonic()
        saver = self.session.start_program("--saver")
        self.assertEqual(self.session.wait_exit(saver, timeout=5), WINDOW_SYSTEM_FAILED)
        self.assertGreaterEqual(time.monotonic() - started, 0.9, "it did not wait for the grab")
        self.assertIn("keyboard", saver.stderr.read().decode())
        self.assertTrue(self.session.cursor.is_visible())
        self.assertEqual(self.session.visible_windows("^Form1$"), [])

    def test_a_keyboard_let_go_of_within_a_second_is_waited_for(self):
        self.wait_for_pattern_alone()
        holder = ScreenSaverHost(self.session, "--size", "1x1", "--no-screenshot",
                                 "--grab-keyboard")
        process = self.session.start_program("--saver")
        time.sleep(0.4)
        holder.process.stdin.close()  # the holder ends and the keyboard is free
        self.wait_for_drawing(process)
        self.session.xdotool("key", "a")
        self.assert_ends_normally(process, "the letter a")


    def test_no_display_means_status_3(self):
        process = self.session.start_program("--saver", extra_env={"DISPLAY": ":9999"})
        self.assertEqual(self.session.wait_exit(process), WINDOW_SYSTEM_FAILED)
        self.assertIn("cannot open the X display", process.stderr.read().decode())


class SaverOverTcpTest(SaverOverPattern):
    """Xlib reaches localhost:N through TCP. The server has no credentials for such a client, so
    it refuses to attach a segment that only its owner may use: the saver must upload its
    picture with plain XPutImage."""

    TCP = True

    def test_draws_without_shared_memory(self):
        self.assertTrue(self.session.display.startswith("localhost:"))
        process, first = self.start_saver((1, 1))
        first_mask = self.assert_starts_as_the_pattern(first)
        time.sleep(0.6)
        later_mask = self.session.screenshot().changed_mask(self.pattern)
        self.assertGreater(len(later_mask), len(first_mask) + 5000, "no lines were added")
        # The segment the saver tried is gone again: no picture is shared with the server.
        self.assertEqual(shared_memory_attachments(process.pid), [])
        self.end_with_move(process)
