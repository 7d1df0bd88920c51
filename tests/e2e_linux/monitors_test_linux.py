"""The standalone saver (zorblinth --saver) over several monitors, on an Xorg with the dummy
driver: two RandR monitors of different sizes side by side on a 3200 x 1200 screen, a strip
below them on no monitor, and the full-screen test pattern over all of it. Each monitor gets a
window of its own with its own frozen picture and lines in batches sized to it, the rest of the
screen is left alone; input on either monitor ends it; monitors defined and taken away while it
runs are followed; --one-monitor covers the primary one alone."""

import math
import subprocess
import time

from e2e import images
from harness_linux import (
    NORMAL_END,
    TICK_SECONDS,
    Monitor,
    XTestCase,
    crop,
    most_pixels_drawn,
    poll,
)

LEFT = Monitor("LEFT", 0, 0, 1280, 720, "DUMMY0")
RIGHT = Monitor("RIGHT", 1280, 0, 1920, 1080, "DUMMY1")
# Defined while the saver runs, on no output: only RandR's monitors know of it, not its CRTCs.
EXTRA = Monitor("EXTRA", 0, 760, 800, 400)

# What the ratio of the lines drawn a pixel on LEFT to those on RIGHT may be at level 5 with a
# one-pixel pen. Each monitor's batch from its own area (10 and 21 lines a tick) and lines as
# long as its sides: about 0.73 (measured 0.71 to 0.76). Other batches, measured at the levels
# that come nearest and scaled by lines a tick: the whole screen's on both (39 lines each) about
# 1.45, LEFT's from RIGHT's area or RIGHT's from LEFT's about 1.5, the whole screen's on LEFT
# alone about 2.7, the two swapped about 3.2.
DENSITY_RATIO = (0.5, 1.1)


class SaverOverMonitors(XTestCase):
    """Every saver starts over the exact pattern, the pointer resting on one of the monitors."""

    SCREEN = (3200, 1200)
    MONITORS = (LEFT, RIGHT)
    PATTERN = True

    @classmethod
    def prepare_session(cls):
        super().prepare_session()
        cls.pictures = {monitor: crop(cls.pattern, *monitor.area)
                        for monitor in (LEFT, RIGHT, EXTRA)}

    def setUp(self):
        self.addCleanup(self.session.kill_processes)

    # --- starting and ending ---------------------------------------------------------------

    def start_saver(self, settings, *options, pointer_on=LEFT):
        """Starts the saver once the screen shows the pattern alone, with the pointer in the
        middle of a monitor; returns it once it draws, and the screenshot that showed it."""
        self.session.move_mouse(*pointer_on.centre)
        poll(lambda: self.session.screenshot().rgb == self.pattern.rgb, 5,
             message="the pattern alone on the screen")
        self.session.write_settings(settings)
        process = self.session.start_program("--saver", *options)

        def drawing():
            if process.poll() is not None:
                raise AssertionError(f"the saver ended with {process.returncode} before drawing:"
                                     f" {process.stderr.read().decode()}")
            shot, ticks = self.screenshot_and_ticks()
            return (shot, ticks) if shot.rgb != self.pattern.rgb else None

        # Ticks begin once the saver holds keyboard and pointer: input reaches it from now on.
        first, self.first_ticks = poll(drawing, 10, interval=0.02,
                                       message="the saver's first lines")
        return process, first

    def assert_ends_normally(self, process, why):
        self.assertEqual(self.session.wait_exit(process, timeout=5), NORMAL_END,
                         f"wrong status after {why}")
        self.assertTrue(self.session.cursor.is_visible(), f"no cursor after {why}")
        self.assertEqual(self.session.visible_windows("^Form1$"), [], f"window left after {why}")

    def end_with_move(self, process, step=1):
        self.session.xdotool("mousemove_relative", "--", step, 0)
        self.assert_ends_normally(process, "a one-pixel move")

    # --- windows and pictures --------------------------------------------------------------

    def saver_windows(self):
        """The saver's windows by their areas."""
        return {self.session.window_geometry(window): window
                for window in self.session.visible_windows("^Form1$")}

    def saver_areas(self):
        return sorted(self.saver_windows())

    def screenshot_and_ticks(self):
        """A screenshot, and then the count of whole ticks each of the saver's windows keeps,
        by its area: no more can show in the screenshot but the one being sent."""
        shot = self.session.screenshot()
        ticks = {}
        for area, window in self.saver_windows().items():
            output = subprocess.run(["xprop", "-id", str(window), "_ZORBLINTH_TICKS_DRAWN"],
                                    env=self.session.env, capture_output=True, text=True,
                                    check=False).stdout
            ticks[area] = int(output.rsplit("=", 1)[1]) if "(CARDINAL) = " in output else 0
        return shot, ticks

    def wait_for_windows(self, process, *monitors):
        wanted = sorted(monitor.area for monitor in monitors)

        def covered():
            if process.poll() is not None:
                raise AssertionError(f"the saver ended with {process.returncode}")
            return self.saver_areas() == wanted

        poll(covered, 5, message=f"the saver's windows over {[m.name for m in monitors]}")

    def changed_on(self, shot, monitor, lines_only=False):
        """The pixels of a monitor's area that differ from the pattern there; with lines_only,
        not the black ones (the boxes: the pattern has no black, the lines' colours rarely)."""
        return crop(shot, *monitor.area).changed_mask(self.pictures[monitor],
                                                      ignore_black=lines_only)

    def assert_own_picture(self, shot, ticks, monitor):
        """The monitor shows its own area of the pattern with no more changed than its window's
        ticks (and the one being sent) can draw at level 1. A window showing another area, or
        its area shifted by a pixel, would differ in a large part (one-pixel detail, gradients,
        band edges)."""
        changed = self.changed_on(shot, monitor)
        self.assertLessEqual(
            len(changed), most_pixels_drawn(monitor.width, monitor.height,
                                            ticks[monitor.area] * TICK_SECONDS),
            f"{monitor.name} does not show its own picture")
        return changed

    def changed_outside(self, shot, *monitors):
        """Where the screen differs from the pattern outside the monitors' areas: the first row
        and span of it, or None."""
        return images.changed_outside(shot, self.pattern, monitors)

    def wait_for_the_pattern_outside(self, *monitors):
        """A screenshot once the pattern shows again outside the monitors' areas: a window
        taken away leaves its area to be repainted."""

        def repainted():
            shot = self.session.screenshot()
            return shot if self.changed_outside(shot, *monitors) is None else None

        return poll(repainted, 5, message=f"the pattern outside {[m.name for m in monitors]}")

    def assert_rest_is_the_pattern(self, shot, *monitors):
        where = self.changed_outside(shot, *monitors)
        self.assertIsNone(where, f"the screen changed outside {[m.name for m in monitors]}")

    # --- the tests -------------------------------------------------------------------------

    def test_each_monitor_shows_its_own_picture_with_lines_and_the_rest_is_left_alone(self):
        process, first = self.start_saver((1, 1))
        self.assertFalse(self.session.cursor.is_visible(), "the cursor is still visible")
        self.assertEqual(self.saver_areas(), sorted((LEFT.area, RIGHT.area)))
        for monitor in (LEFT, RIGHT):
            self.assert_own_picture(first, self.first_ticks, monitor)
        self.assert_rest_is_the_pattern(first, LEFT, RIGHT)

        time.sleep(0.8)
        later, ticks = self.screenshot_and_ticks()
        for monitor in (LEFT, RIGHT):
            # Level 1: two lines a tick on LEFT, four on RIGHT, and a box on each.
            changed = self.assert_own_picture(later, ticks, monitor)
            self.assertGreater(len(changed), 3000, f"hardly any lines on {monitor.name}")
        self.assert_rest_is_the_pattern(later, LEFT, RIGHT)
        self.assertFalse(self.session.cursor.is_visible(), "the cursor came back")
        self.end_with_move(process)

    def test_a_move_on_either_monitor_a_click_or_a_letter_ends_it(self):
        # Input is grabbed once for the whole screen: it ends the saver wherever the pointer is.
        for name, pointer_on, action in (
                ("a one-pixel move on LEFT", LEFT, ("mousemove_relative", "--", 1, 0)),
                ("a one-pixel move on RIGHT", RIGHT, ("mousemove_relative", "--", 0, -1)),
                ("a click on RIGHT", RIGHT, ("click", 1)),
                ("the letter a, the pointer on RIGHT", RIGHT, ("key", "a"))):
            with self.subTest(name):
                process, _ = self.start_saver((1, 1), pointer_on=pointer_on)
                self.assertTrue(self.session.still_running_after(process, 0.2),
                                "it ended without input")
                self.session.xdotool(*action)
                self.assert_ends_normally(process, name)

    def test_each_monitor_draws_batches_sized_to_its_own_area(self):
        # Level 5: a line a tick for every 100,000 pixels, plus one.
        process, _ = self.start_saver((1, 5))
        time.sleep(1)
        raw = self.session.raw_screenshot()
        self.end_with_move(process)
        self.session.save_png(raw, "saver_monitors_linux.png")
        shot = self.session.convert(raw)
        # Both monitors tick in turn, as often: the shares compare batches, not time.
        share = {monitor: len(self.changed_on(shot, monitor, lines_only=True))
                 / (monitor.width * monitor.height) for monitor in (LEFT, RIGHT)}
        self.assertGreater(share[RIGHT], 0.03, "hardly any lines on RIGHT")
        # Lines drawn a pixel, from the share changed: later lines fall more and more on
        # earlier ones, which would bring the ratio towards 1 the longer the saver ran.
        ratio = math.log(1 - share[LEFT]) / math.log(1 - share[RIGHT])
        self.assertGreaterEqual(ratio, DENSITY_RATIO[0], f"LEFT too sparse: {share}")
        self.assertLessEqual(ratio, DENSITY_RATIO[1], f"LEFT too dense: {share}")

    def test_follows_monitors_defined_and_taken_away_while_it_runs(self):
        self.addCleanup(self.session.lay_out, self.MONITORS)
        process, _ = self.start_saver((1, 1))

        self.session.add_monitor(EXTRA)
        self.wait_for_windows(process, LEFT, RIGHT, EXTRA)

        def lines_on_extra():
            shot, ticks = self.screenshot_and_ticks()
            return (shot, ticks) if self.changed_on(shot, EXTRA) else None

        # One line a tick on EXTRA, and a box.
        shot, ticks = poll(lines_on_extra, 5, message="lines on the monitor defined")
        self.assert_own_picture(shot, ticks, EXTRA)
        self.assert_rest_is_the_pattern(shot, LEFT, RIGHT, EXTRA)

        self.session.remove_monitor(RIGHT)
        self.wait_for_windows(process, LEFT, EXTRA)
        # What was under RIGHT's window shows again; the other monitors go on drawing.
        before = self.wait_for_the_pattern_outside(LEFT, EXTRA)
        self.assertTrue(self.session.still_running_after(process, 0.5),
                        "a change of monitors ended the saver")
        after = self.session.screenshot()
        self.assert_rest_is_the_pattern(after, LEFT, EXTRA)
        for monitor in (LEFT, EXTRA):
            self.assertGreater(len(self.changed_on(after, monitor)),
                               len(self.changed_on(before, monitor)),
                               f"{monitor.name} stopped drawing")

        # A monitor on no output goes with its definition alone.
        self.session.remove_monitor(EXTRA)
        self.wait_for_windows(process, LEFT)
        self.wait_for_the_pattern_outside(LEFT)
        self.assertTrue(self.session.still_running_after(process, 0.3),
                        "a change of monitors ended the saver")
        self.end_with_move(process)

    def test_one_monitor_covers_the_primary_monitor_alone(self):
        self.addCleanup(self.session.lay_out, self.MONITORS)
        # lay_out gives the first monitor's output the primary role; the pointer rests on the
        # other monitor, whose moves end the saver all the same.
        for primary, other in ((LEFT, RIGHT), (RIGHT, LEFT)):
            with self.subTest(primary=primary.name):
                self.session.lay_out((primary, other))
                process, _ = self.start_saver((1, 1), "--one-monitor", pointer_on=other)
                self.assertEqual(self.saver_areas(), [primary.area])
                time.sleep(0.5)
                shot, ticks = self.screenshot_and_ticks()
                changed = self.assert_own_picture(shot, ticks, primary)
                self.assertGreater(len(changed), 1000, "hardly any lines")
                self.assert_rest_is_the_pattern(shot, primary)
                self.end_with_move(process)

    def test_unplugging_the_monitor_under_the_pointer_does_not_end_it(self):
        # Xorg keeps the pointer on lit outputs: when the one under it goes dark, the server
        # moves the pointer onto another. That move is the server's, not the user's.
        self.addCleanup(self.session.lay_out, self.MONITORS)
        process, _ = self.start_saver((1, 1), pointer_on=RIGHT)
        self.session.remove_monitor(RIGHT)
        self.assertTrue(LEFT.left <= self.session.mouse_position()[0] < LEFT.left + LEFT.width,
                        "the server did not move the pointer onto LEFT")
        self.assertTrue(self.session.still_running_after(process, 0.5),
                        "unplugging the monitor under the pointer ended the saver")
        self.wait_for_windows(process, LEFT)
        self.end_with_move(process, -1)  # the pointer rests on LEFT's right edge
