"""The standalone saver over two outputs side by side on a headless sway: each output's own
frozen picture and lines, the hidden cursor, moves and keys on either output, an output added or
taken away while it runs, the full-screen window path and --one-monitor."""

import json
import os
import signal
import time
import unittest

from e2e.images import crop, write_png
from harness_wayland import (BUTTON_LEFT, NORMAL_END, SessionTestCase, SwaySession,
                             most_pixels_drawn, poll, running, still_running_after)

# The first output, 640 x 480 at (0, 0), shows the pattern; the second, 800 x 600 at (640, 0),
# shows the pattern of its size upside down. Different sizes, so that a picture copied from
# the wrong output, or drawn at the wrong size, cannot pass.
SECOND_SIZE = (800, 600)
# Points of the layout on either output.
ON_FIRST = (300, 200)
ON_SECOND = (1000, 300)


class SaverChecks:
    """What the tests below check on a session's outputs; self.session is the session."""

    def start_and_wait(self, *arguments, covered=None, extra_env=None):
        """Starts the saver and waits until each output it is to cover (every enabled one
        unless told) shows its picture with something drawn. Returns the saver, each output's
        picture from just before, and when it started."""
        session = self.session
        names = covered or [output.name for output in session.enabled_outputs()]
        before = session.screenshots(names)
        started = time.monotonic()
        saver = session.start_saver(*arguments, extra_env=extra_env)
        session.wait_for_saver(saver, before)
        return saver, before, started

    def assert_ends(self, saver, why, seconds=3):
        self.assertFalse(still_running_after(saver, seconds), f"still running after {why}")
        self.assertEqual(saver.returncode, NORMAL_END,
                         saver.stderr.read().decode(errors="replace"))

    def assert_frozen(self, name, shot, frozen, since):
        """The output shows the picture `frozen` but for what ticks since `since` drew."""
        drawn = shot.changed_mask(frozen)
        self.assertLessEqual(len(drawn), most_pixels_drawn(shot.width, shot.height,
                                                           time.monotonic() - since),
                             f"{name} does not show the picture it had")

    def assert_drawing_goes_on(self, names):
        first = self.session.screenshots(names)
        time.sleep(0.4)
        for name, later in self.session.screenshots(names).items():
            self.assertGreater(later.count_changed(first[name]), 0, f"nothing drawn on {name}")


class OnTwoOutputs(SaverChecks, SessionTestCase):
    @classmethod
    def make_session(cls):
        return SwaySession(640, 480, more_outputs=[SECOND_SIZE])

    def setUp(self):
        self.first, self.second = (output.name for output in self.session.outputs)
        self.session.write_settings(1, 1)
        self.session.pointer_to(*ON_FIRST)

    def tearDown(self):
        self.session.kill_processes()
        # Whatever a test left up is gone before the next starts.
        poll(self.session.shows_pattern, 10, interval=0.1, message="the bare desktop")

    def test_each_output_shows_its_own_picture_with_lines_and_no_cursor(self):
        session = self.session
        session.pointer_to(*ON_SECOND)
        saver, before, started = self.start_and_wait()
        shots = session.screenshots([self.first, self.second])
        for name, shot in shots.items():
            self.assert_frozen(name, shot, session.output(name).picture, started)
        # The cursor was drawn over the second output's picture; its pixels are the picture's
        # again, but for what lines crossed since.
        cursor = before[self.second].changed_mask(session.output(self.second).picture)
        self.assertGreater(len(cursor), 20, "no cursor on the second output to hide")
        still_shown = sum(shots[self.second].pixel(x, y) == before[self.second].pixel(x, y)
                          for x, y in cursor)
        self.assertLess(still_shown, len(cursor) // 2, "the cursor is still shown")
        self.assert_drawing_goes_on([self.first, self.second])
        folder = os.environ.get("ZORBLINTH_SCREENSHOTS")
        if folder:
            write_png(session.screenshot(), os.path.join(folder, "saver_outputs_wayland.png"))
        session.type("q")
        self.assert_ends(saver, "a typed letter")

    def test_lines_fill_each_output_at_its_own_size(self):
        session = self.session
        saver, _, _ = self.start_and_wait("--line-width", "10", "--line-amount", "20")
        time.sleep(0.3)
        shots = session.screenshots([self.first, self.second])
        # Level 20 is thousands of 10-pixel lines a tick: a few ticks cover most of an output.
        # Drawn at the first output's size, the second's right and bottom would stay bare.
        for name, left, top in ((self.first, 0, 0), (self.second, 640, 0), (self.second, 0, 480)):
            with self.subTest(output=name, left=left, top=top):
                shot = crop(shots[name], left, top, shots[name].width - left,
                            shots[name].height - top)
                bare = crop(session.output(name).picture, left, top, shot.width, shot.height)
                self.assertGreater(shot.count_changed(bare), shot.width * shot.height // 2)
        session.type("q")
        self.assert_ends(saver, "a typed letter")

    def test_a_move_on_either_output_ends_it(self):
        # The pointer's first place, on the surface it entered, is the start: going back there
        # is no move. A move within that output ends it, and so does one onto the other.
        for start, move in ((ON_FIRST, "move 1 0"), (ON_SECOND, "move 0 -1"),
                            (ON_FIRST, "move 700 0"), (ON_SECOND, "move -700 0")):
            with self.subTest(start=start, move=move):
                self.session.pointer_to(*start)
                saver, _, _ = self.start_and_wait()
                self.session.pointer_to(*start)
                self.assertTrue(still_running_after(saver, 0.3),
                                "a move to where the pointer was ended the saver")
                self.session.pointer_command(move)
                self.assert_ends(saver, f"{move} from {start}")

    def test_typed_keys_reach_no_window_beneath_on_either_output_and_a_letter_ends_it(self):
        session = self.session
        witness = session.start_typing_witness()
        # The terminal keeps the focus with the pointer on the other output.
        session.swaymsg("focus_follows_mouse", "no")
        session.swaymsg("mouse_warping", "none")
        self.addCleanup(session.swaymsg, "focus_follows_mouse", "yes")
        self.addCleanup(session.swaymsg, "mouse_warping", "output")
        # The keyboard's surface is the saver's, wherever the terminal and the pointer are.
        for window_on, pointer_at in ((self.first, ON_SECOND), (self.second, ON_FIRST)):
            with self.subTest(terminal_on=window_on):
                session.pointer_to(*pointer_at)
                session.swaymsg("[app_id=foot]", "move", "container", "to", "output", window_on)
                session.swaymsg("[app_id=foot]", "focus")
                typed_before = witness.read_text() if witness.exists() else ""
                session.type("a\n")
                poll(lambda: witness.exists() and witness.read_text() == typed_before + "a\n", 5,
                     interval=0.1, message=f"the terminal on {window_on} reading the keyboard")
                typed_before += "a\n"
                saver, _, _ = self.start_and_wait()
                session.type("-k", "Up")
                session.type("-M", "shift", "-m", "shift")
                self.assertTrue(still_running_after(saver, 0.3))
                session.type("q")
                self.assert_ends(saver, "a typed letter")
                # A new line sends the terminal's line on to cat: it holds only what came after.
                # sway's focus follows the pointer onto the other output once the saver is gone.
                time.sleep(0.3)
                session.swaymsg("[app_id=foot]", "focus")
                session.type("b\n")
                poll(lambda: witness.read_text() != typed_before, 5,
                     message="the terminal's input")
                self.assertEqual(witness.read_text(), typed_before + "b\n",
                                 "keys typed while the saver ran reached the terminal beneath")

    def test_full_screen_windows_cover_both_outputs_where_there_is_no_layer_shell(self):
        session = self.session
        session.pointer_to(*ON_SECOND)
        saver, before, started = self.start_and_wait(
            extra_env={"ZORBLINTH_WAYLAND_SHELL": "xdg"})
        # One window on each output, each the whole output.
        outputs = {node["name"]: node for node in json.loads(session.tree())["nodes"]}
        for name in (self.first, self.second):
            windows = [node for node in descendants(outputs[name]) if node.get("name") == "Form1"]
            self.assertEqual(len(windows), 1, f"saver windows on {name}")
            self.assertEqual(windows[0]["rect"], outputs[name]["rect"])
        # Copied before the windows show, the pictures hold sway's software cursor.
        for name, shot in session.screenshots([self.first, self.second]).items():
            self.assert_frozen(name, shot, before[name], started)
        self.assert_drawing_goes_on([self.first, self.second])
        session.pointer_command("move 1 1")
        self.assert_ends(saver, "a one-pixel move")

    def test_one_monitor_draws_on_the_first_output_alone_and_input_on_either_ends_it(self):
        for start, ending in ((ON_FIRST, "move 0 1"), (ON_FIRST, "move 700 0"),
                              (ON_SECOND, "move 0 1"), (ON_SECOND, f"press {BUTTON_LEFT}")):
            with self.subTest(start=start, ending=ending):
                try:
                    self.check_one_monitor(start, ending)
                finally:
                    # A saver or a button left behind would spoil the next case.
                    self.session.kill_processes()
                    self.session.pointer_command(f"release {BUTTON_LEFT}")

    def check_one_monitor(self, start, ending):
        """The second output keeps its picture (a transparent surface there sees its input), but
        for sway's software cursor, which the saver hides there too; `ending` ends it."""
        session = self.session
        session.pointer_to(*start)
        left_alone = session.screenshot(self.second)
        cursor = left_alone.changed_mask(session.output(self.second).picture)
        saver, _, started = self.start_and_wait("--one-monitor", covered=[self.first])
        self.assert_frozen(self.first, session.screenshot(self.first), session.pattern, started)
        self.assert_drawing_goes_on([self.first])
        for _ in range(3):
            changed = session.screenshot(self.second).changed_mask(left_alone)
            self.assertLessEqual(changed, cursor, "the second output did not stay as it was")
            time.sleep(0.1)
        self.assertTrue(still_running_after(saver, 0.3), "it ended with the pointer unmoved")
        session.pointer_command(ending)
        self.assert_ends(saver, f"{ending} from {start}")


class AnOutputAddedWhileItRuns(SaverChecks, unittest.TestCase):
    def test_it_is_covered_with_its_own_picture_and_the_saver_goes_on(self):
        with running(SwaySession(640, 480)) as session:
            self.session = session
            session.write_settings(1, 1)
            session.pointer_to(*ON_FIRST)
            saver, _, _ = self.start_and_wait()
            # swaybg draws a new output's picture a moment after it comes; the saver copies the
            # output as soon as it is told of it. Held still meanwhile, the saver finds the
            # picture drawn, as it would on a compositor that draws it at once.
            saver.send_signal(signal.SIGSTOP)
            try:
                added = session.add_output(*SECOND_SIZE)
                poll(lambda: session.output_shows_its_picture(added), 10, interval=0.1,
                     message="the new output's picture")
            finally:
                saver.send_signal(signal.SIGCONT)
            resumed = time.monotonic()
            picture = session.output(added).picture
            shown = poll(lambda: (shot := session.screenshot(added)).rgb != picture.rgb and shot,
                         10, message="the saver on the new output")
            self.assert_frozen(added, shown, picture, resumed)
            self.assertIsNone(saver.poll(), "the saver ended when an output came")
            self.assert_drawing_goes_on([session.outputs[0].name, added])
            session.pointer_to(*ON_SECOND)
            self.assert_ends(saver, "a move onto the new output")


class OutputsTakenAway(SaverChecks, unittest.TestCase):
    """On a nested sway, the only one whose outputs can go (see SwaySession)."""

    def start_on_two_outputs(self, session):
        """The saver on both nested outputs, the pointer on the first, the second taken away
        while it runs: it goes on. Returns it and the first output's name."""
        self.session = session
        first, second = (output.name for output in session.outputs)
        session.write_settings(1, 1)
        session.pointer_to(*ON_FIRST)
        saver, _, _ = self.start_and_wait()
        session.remove_output(second)
        self.assertTrue(still_running_after(saver, 0.3), "an output gone ended the saver")
        return saver, first

    def test_it_goes_on_while_one_output_is_left_and_ends_on_a_move_there(self):
        with running(SwaySession(640, 480, more_outputs=[SECOND_SIZE], nested=True)) as session:
            saver, first = self.start_on_two_outputs(session)
            self.assert_drawing_goes_on([first])
            session.pointer_command("move 1 0")
            self.assert_ends(saver, "a one-pixel move")

    def test_it_ends_when_no_output_is_left(self):
        with running(SwaySession(640, 480, more_outputs=[SECOND_SIZE], nested=True)) as session:
            saver, first = self.start_on_two_outputs(session)
            session.remove_output(first)
            self.assert_ends(saver, "the last output gone")


def descendants(node):
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield child
        yield from descendants(child)


if __name__ == "__main__":
    unittest.main()
