"""Drawing into a screen-saver host's window (--root with XSCREENSAVER_WINDOW, --window-id): the
host's picture as the start, placed centred; lines in that window only; input left to the host;
SIGTERM; a window that grows; no picture or a freed one; --line-width.

The host (screensaver_host_x11) maps a window without a background of its own over a white
root window, so anything the saver fails to draw stays white."""

import time

from harness_linux import (
    NORMAL_END,
    WINDOW_SYSTEM_FAILED,
    Screenshot,
    ScreenSaverHost,
    XTestCase,
    count_colour,
    crop,
    host_pattern,
    most_pixels_drawn,
    poll,
    stroke_width,
)

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


def expected_start(window_size, picture_size):
    """What the window should show first: the host's picture centred on it, cropped evenly
    where it is larger and with a black margin where it is smaller (None: all black)."""
    width, height = window_size
    out = bytearray(width * height * 3)
    if picture_size:
        picture_width, picture_height = picture_size
        picture = Screenshot(host_pattern(*picture_size), picture_width, picture_height)
        shown_width, shown_height = min(width, picture_width), min(height, picture_height)
        source_x, source_y = (picture_width - shown_width) // 2, (picture_height - shown_height) // 2
        x, y = (width - shown_width) // 2, (height - shown_height) // 2
        for row in range(shown_height):
            start = ((y + row) * width + x) * 3
            out[start : start + shown_width * 3] = picture.crop_rows(
                source_x, source_y + row, shown_width, 1)[0]
    return Screenshot(bytes(out), width, height)


class HostedSaverTest(XTestCase):
    WHITE_ROOT = True
    AREA = (100, 80, 400, 300)  # the host's window: left, top, width, height

    def setUp(self):
        self.addCleanup(self.session.kill_processes)
        self.session.write_settings((1, 1))
        poll(lambda: count_colour(self.session.screenshot(), WHITE) == self.pixels(), 5,
             message="an empty white screen")

    def pixels(self):
        return self.session.width * self.session.height

    def start_host(self, *options, area=AREA):
        left, top, width, height = area
        return ScreenSaverHost(self.session, "--at", f"{left},{top}", "--size",
                               f"{width}x{height}", *options)

    def window_picture(self, area=AREA):
        return crop(self.session.screenshot(), *area)

    def wait_for_first_picture(self, process, area=AREA):
        """The first picture of the window in which the saver has covered all of the host's
        window (nothing of the white root shows through), and the time it had been taken by."""

        def covered():
            if process.poll() is not None:
                raise AssertionError(f"the saver ended with {process.returncode}: "
                                     f"{process.stderr.read().decode()}")
            shot, taken_at = self.session.timed_screenshot()
            shot = crop(shot, *area)
            return (shot, taken_at) if count_colour(shot, WHITE) == 0 else None

        return poll(covered, 5, interval=0.02, message="the saver's picture in the window")

    def assert_starts_from(self, process, expected):
        """The window's first picture is the expected one but for what the ticks since the
        start drew; a misplaced or recoloured picture would differ nearly everywhere, and not
        in thin strokes."""
        first, taken_at = self.wait_for_first_picture(process)
        seconds = taken_at - process.started_at
        changed = first.changed_mask(expected)
        self.assertLessEqual(len(changed), most_pixels_drawn(400, 300, seconds),
                             f"the first picture, {seconds:.2f} s after the start, is not the"
                             " expected one")
        # The strokes' width from the lines alone: a box's two sides a pixel apart read as a
        # stroke two pixels wide.
        lines = first.changed_mask(expected, ignore_black=True)
        if lines:
            self.assertLess(stroke_width(lines), 1.5)
        return first

    def assert_draws_on(self, first, area=AREA):
        """Lines are added to the first picture (a box adds nothing on black, so this counts
        on lines only: about 250 pixels a tick in the host's window)."""
        poll(lambda: self.window_picture(area).count_changed(first) > 1500, 3,
             message="lines added to the first picture")

    def assert_ends_on_sigterm(self, process):
        status, seconds = self.session.stop_with_signal(process, timeout=5)
        self.assertEqual(status, NORMAL_END)
        self.assertLess(seconds, 1.0)

    def repaint_root(self):
        """Gives the root window its white background back: the server paints what a window
        leaves uncovered when it goes."""
        self.start_host("--no-screenshot", area=(0, 0, self.session.width, self.session.height))
        self.session.kill_processes()

    def test_root_mode_starts_from_the_hosts_picture_and_ignores_input(self):
        host = self.start_host()
        before = self.session.screenshot()
        process = self.session.start_program(
            "--root", extra_env={"XSCREENSAVER_WINDOW": hex(host.window)})
        first = self.assert_starts_from(process, expected_start((400, 300), (400, 300)))
        self.assert_draws_on(first)
        # Nothing outside the host's window was touched.
        left, top, width, height = self.AREA
        outside = {(x, y) for x, y in self.session.screenshot().changed_mask(before)
                   if not (left <= x < left + width and top <= y < top + height)}
        self.assertEqual(outside, set(), "the saver drew outside the host's window")

        # Input belongs to the host: moves, clicks and keys over the window change nothing.
        for action in (("mousemove", 300, 230), ("mousemove_relative", "--", 5, 3),
                       ("click", 1), ("click", 3), ("key", "a"), ("key", "Return"),
                       ("key", "Escape")):
            self.session.xdotool(*action)
        self.assertTrue(self.session.still_running_after(process, 0.5), "input ended the saver")
        self.session.save_png(self.session.raw_screenshot(), "hosted_linux.png")
        self.assertTrue(self.session.cursor.is_visible(), "the saver hid the host's cursor")
        self.assert_ends_on_sigterm(process)
        self.assertEqual(process.stderr.read(), b"")

    def test_window_id_in_decimal_and_hexadecimal(self):
        for write in (str, hex):
            with self.subTest(write=write.__name__):
                # A new window each time: one the saver has drawn in keeps its lines.
                host = self.start_host()
                process = self.session.start_program("--window-id", write(host.window))
                first = self.assert_starts_from(process, expected_start((400, 300), (400, 300)))
                self.assert_draws_on(first)
                self.assert_ends_on_sigterm(process)
                self.session.kill_processes()

    def test_a_picture_of_another_size_is_centred(self):
        for picture in ((560, 380), (200, 120), (520, 160)):
            with self.subTest(picture=picture):
                host = self.start_host("--screenshot", "{}x{}".format(*picture))
                process = self.session.start_program("--window-id", host.window)
                self.assert_starts_from(process, expected_start((400, 300), picture))
                self.assert_ends_on_sigterm(process)
                self.session.kill_processes()

    def test_without_a_usable_picture_it_starts_from_black(self):
        for options in (("--no-screenshot",), ("--free-screenshot",)):
            with self.subTest(options=options):
                host = self.start_host(*options)
                process = self.session.start_program("--window-id", host.window)
                first = self.assert_starts_from(process, expected_start((400, 300), None))
                self.assert_draws_on(first)
                self.assert_ends_on_sigterm(process)
                self.assertEqual(process.stderr.read(), b"")
                self.session.kill_processes()

    def test_line_width_option_overrides_the_settings_file(self):
        host = self.start_host("--no-screenshot")
        process = self.session.start_program("--window-id", host.window, "--line-width", 10)
        self.wait_for_first_picture(process)

        def enough_drawn():
            shot = self.window_picture()
            mask = {(x, y) for y in range(shot.height) for x in range(shot.width)
                    if shot.pixel(x, y) != BLACK}
            return mask if len(mask) >= 6000 else None

        self.assertAlmostEqual(stroke_width(poll(enough_drawn, 5, message="wide lines")), 10,
                               delta=2)
        self.assert_ends_on_sigterm(process)

    def test_settings_file_values_are_brought_into_range_and_an_unreadable_file_means_1(self):
        for settings, width in (((0xFF, 0), 10), ((0, 0), 1), (None, 1)):
            with self.subTest(settings=settings):
                if settings is None:
                    # A folder where the file belongs cannot be read, even by root.
                    self.session.settings_file.unlink()
                    self.session.settings_file.mkdir()
                    self.addCleanup(self.session.settings_file.rmdir)
                else:
                    self.session.write_settings(settings)
                host = self.start_host("--no-screenshot")
                process = self.session.start_program("--window-id", host.window)
                self.wait_for_first_picture(process)
                time.sleep(0.5)
                shot = self.window_picture()
                # At level 1 (a level out of range taken as 20 would fill the window at once).
                drawn = {(x, y) for y in range(shot.height) for x in range(shot.width)
                         if shot.pixel(x, y) != BLACK}
                self.assertLess(len(drawn), shot.width * shot.height * 0.5)
                self.assertAlmostEqual(stroke_width(drawn), width, delta=max(0.5, width * 0.2))
                self.assert_ends_on_sigterm(process)
                self.session.kill_processes()

    def test_a_window_that_grows_is_drawn_in_full(self):
        host = self.start_host()
        process = self.session.start_program("--window-id", host.window)
        self.wait_for_first_picture(process)
        since = time.monotonic()
        before = self.window_picture()
        grown = (100, 80, 560, 420)
        host.resize(560, 420)
        after, taken_at = self.wait_for_first_picture(process, grown)
        # What was drawn stays where it was and the new area starts black: only what the ticks
        # in between drew differs.
        budget = most_pixels_drawn(560, 420, taken_at - since)
        self.assertLessEqual(crop(after, 0, 0, 400, 300).count_changed(before), budget,
                             "the picture drawn so far was lost")
        new_area = ((400, 0, 160, 420), (0, 300, 400, 120))

        def drawn_in_new_area(shot):
            return sum(width * height - count_colour(crop(shot, *part), BLACK)
                       for part in new_area for width, height in (part[2:],))

        at_first = drawn_in_new_area(after)
        self.assertLessEqual(at_first, budget, "the new area does not start black")
        # ...and gets lines like the rest.
        poll(lambda: drawn_in_new_area(self.window_picture(grown)) > at_first + 1000, 3,
             message="lines in the new area")
        self.assert_ends_on_sigterm(process)

    def test_root_mode_without_a_host_draws_on_the_root_window(self):
        self.addCleanup(self.repaint_root)
        process = self.session.start_program("--root")
        # The root window has no picture: black, then lines, over the whole screen.
        shot = poll(lambda: (lambda shot: shot if count_colour(shot, WHITE) == 0 else None)(
            self.session.screenshot()), 5, message="the root window painted over")
        self.assertGreater(count_colour(shot, BLACK), self.pixels() * 0.9)
        self.assert_draws_on(shot, (0, 0, self.session.width, self.session.height))
        self.assert_ends_on_sigterm(process)

    def test_a_window_that_is_gone_or_goes(self):
        missing = self.session.start_program("--window-id", "0x1")
        self.assertEqual(self.session.wait_exit(missing), WINDOW_SYSTEM_FAILED)
        self.assertIn("no window 0x1", missing.stderr.read().decode())
        # A host may take its window away at any time, also in the middle of a long tick: the
        # saver ends without an X error.
        host = self.start_host(area=(0, 0, self.session.width, self.session.height))
        process = self.session.start_program("--window-id", host.window, "--line-width", 10,
                                             "--line-amount", 20)
        self.wait_for_first_picture(process, (0, 0, self.session.width, self.session.height))
        host.process.stdin.close()
        self.assertEqual(self.session.wait_exit(process, timeout=3), NORMAL_END)
        self.assertEqual(process.stderr.read(), b"")

    def test_sigterm_ends_it_at_once_even_in_a_long_tick(self):
        # The whole screen at the highest level with the widest pen: thousands of lines a tick.
        whole_screen = (0, 0, self.session.width, self.session.height)
        host = self.start_host(area=whole_screen)
        process = self.session.start_program("--window-id", host.window, "--line-width", 10,
                                             "--line-amount", 20)
        self.wait_for_first_picture(process, whole_screen)
        time.sleep(0.3)
        self.assert_ends_on_sigterm(process)
