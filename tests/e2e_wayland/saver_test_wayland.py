"""The standalone saver on a headless sway: its first picture, the hidden cursor, what ends it
and what does not, where typed keys go, one copy at a time, the xdg-shell path, the idle
daemon, the lock on resume, and what happens without a compositor or when it goes away."""

import os
import pathlib
import signal
import subprocess
import tempfile
import time
import unittest

from e2e.buses import MockLogind
from harness_wayland import (ALREADY_RUNNING, BUTTON_LEFT, BUTTON_RIGHT, NORMAL_END,
                             WINDOW_SYSTEM_FAILED, ProcessGroup, SessionBus, SessionTestCase,
                             SwaySession, install_program, start_kwin_stand_in,
                             most_pixels_drawn, poll, require_programs, required_path, running,
                             still_running_after, wait_exit)


class SaverOnSway(SessionTestCase):
    @classmethod
    def make_session(cls):
        return SwaySession(640, 480)

    def setUp(self):
        self.session.write_settings(1, 1)
        self.session.pointer_command("to 300 200")

    def tearDown(self):
        self.session.kill_processes()
        # Whatever a test left up is gone before the next starts.
        poll(self.session.shows_pattern, 10, interval=0.1, message="the bare desktop")

    def start_and_wait(self, *arguments, extra_env=None):
        before = self.session.screenshot()
        started = time.monotonic()
        saver = self.session.start_saver(*arguments, extra_env=extra_env)
        self.session.wait_for_saver(saver, before)
        return saver, before, started

    def assert_ends(self, saver, why, seconds=3):
        self.assertFalse(still_running_after(saver, seconds), f"still running after {why}")
        self.assertEqual(saver.returncode, NORMAL_END,
                         saver.stderr.read().decode(errors="replace"))

    def assert_frozen_desktop(self, shot, before, started):
        session = self.session
        elapsed = time.monotonic() - started
        drawn = shot.changed_mask(before)
        self.assertLessEqual(len(drawn), most_pixels_drawn(session.width, session.height, elapsed),
                             "the saver's picture is not the desktop it froze")

    def assert_frozen_desktop_without_cursor(self, shot, before, started):
        session = self.session
        elapsed = time.monotonic() - started
        drawn = shot.changed_mask(session.pattern)
        self.assertLessEqual(len(drawn), most_pixels_drawn(session.width, session.height, elapsed),
                             "the saver's picture is not the desktop it froze")
        # The cursor was drawn over the pattern before; its pixels are the pattern's again,
        # but for what lines crossed since.
        cursor = before.changed_mask(session.pattern)
        self.assertGreater(len(cursor), 20, "no cursor on the desktop to hide")
        still_shown = sum(shot.pixel(x, y) == before.pixel(x, y) for x, y in cursor)
        self.assertLess(still_shown, len(cursor) // 2, "the cursor is still shown")

    # --- the picture -----------------------------------------------------------------------

    def test_first_picture_is_the_desktop_without_the_cursor_and_it_grows(self):
        saver, before, started = self.start_and_wait()
        first = self.session.screenshot()
        self.assert_frozen_desktop_without_cursor(first, before, started)
        time.sleep(0.5)
        later = self.session.screenshot()
        self.assertGreater(later.count_changed(first), 0, "nothing drawn in half a second")
        self.session.type("q")
        self.assert_ends(saver, "a typed letter")

    def test_wide_pens_and_many_lines_from_the_settings_file_or_the_command_line(self):
        for settings, arguments in (((10, 20), ()),
                                    ((1, 1), ("--line-width", "10", "--line-amount", "20"))):
            with self.subTest(settings=settings, arguments=arguments):
                self.session.write_settings(*settings)
                saver, _, _ = self.start_and_wait(*arguments)
                time.sleep(0.3)
                covered = self.session.screenshot().count_changed(self.session.pattern)
                # Level 20 on 640 x 480 is 3073 lines a tick: a few ticks of 10-pixel lines
                # cover most of the screen; level 1 with 1-pixel lines covers a few thousand
                # pixels at most.
                self.assertGreater(covered, self.session.width * self.session.height // 2)
                self.session.type("q")
                self.assert_ends(saver, "a typed letter")

    # --- ending ----------------------------------------------------------------------------

    def test_keys_that_type_nothing_and_the_wheel_leave_it_running(self):
        saver, _, _ = self.start_and_wait()
        self.session.type("-M", "shift", "-m", "shift")
        self.session.type("-k", "Up")
        self.session.type("-k", "F5")
        self.session.type("-k", "Delete")
        self.session.type("-M", "alt", "x", "-m", "alt")
        self.session.pointer_command("wheel 1")
        self.session.pointer_command("wheel -1")
        self.assertTrue(still_running_after(saver, 0.5),
                        "a key typing nothing or the wheel ended the saver")
        self.session.type("-k", "Return")
        self.assert_ends(saver, "Enter")

    def test_a_click_before_any_move_ends_it(self):
        for button in (BUTTON_LEFT, BUTTON_RIGHT):
            with self.subTest(button=button):
                saver, _, _ = self.start_and_wait()
                self.session.pointer_command(f"press {button}")
                self.session.pointer_command(f"release {button}")
                self.assert_ends(saver, f"a click of button {button}")

    def test_a_move_to_where_the_pointer_was_does_not_end_it_a_one_pixel_move_does(self):
        for dx, dy in ((1, 0), (0, -1)):
            with self.subTest(move=(dx, dy)):
                self.session.pointer_command("to 300 200")
                saver, _, _ = self.start_and_wait()
                self.session.pointer_command("to 300 200")
                self.assertTrue(still_running_after(saver, 0.3),
                                "a move to where the pointer was ended the saver")
                self.session.pointer_command(f"move {dx} {dy}")
                self.assert_ends(saver, f"a move by ({dx}, {dy})")

    def test_termination_signals_end_it(self):
        for sent in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sent.name):
                saver, _, _ = self.start_and_wait("--line-amount", "20", "--line-width", "10")
                saver.send_signal(sent)
                self.assert_ends(saver, sent.name, seconds=2)

    def test_typed_keys_never_reach_the_window_beneath(self):
        session = self.session
        witness = session.start_typing_witness()
        session.type("a\n")
        poll(lambda: witness.exists() and witness.read_text() == "a\n", 5, interval=0.1,
             message="the terminal reading the keyboard")
        typed_before = witness.read_text()

        saver, _, _ = self.start_and_wait()
        session.type("-k", "Up")
        session.type("-M", "shift", "-m", "shift")
        self.assertTrue(still_running_after(saver, 0.3))
        session.type("q")
        self.assert_ends(saver, "a typed letter")
        # A new line sends the terminal's line on to cat: it holds only what came after.
        time.sleep(0.3)
        session.type("b\n")
        poll(lambda: witness.read_text() != typed_before, 5, message="the terminal's input")
        self.assertEqual(witness.read_text(), typed_before + "b\n",
                         "keys typed while the saver ran reached the terminal beneath")

    # --- one copy, other shells, idle ------------------------------------------------------

    def test_a_second_copy_ends_at_once_and_leaves_the_first_running(self):
        saver, _, _ = self.start_and_wait()
        second = self.session.start_saver()
        self.assertEqual(wait_exit(second, 5), ALREADY_RUNNING)
        self.assertIsNone(saver.poll())
        self.session.type("q")
        self.assert_ends(saver, "a typed letter")

    def test_a_full_screen_window_where_there_is_no_layer_shell(self):
        saver, before, started = self.start_and_wait(
            extra_env={"ZORBLINTH_WAYLAND_SHELL": "xdg"})
        titles = self.session.tree()
        self.assertIn('"name": "Form1"', titles)
        self.assertIn('"app_id": "zorblinth"', titles)
        # Copied before the window shows, the picture holds sway's software cursor.
        self.assert_frozen_desktop(self.session.screenshot(), before, started)
        self.session.pointer_command("move 1 1")
        self.assert_ends(saver, "a one-pixel move")
        self.session.pointer_command("to 300 200")
        saver, _, _ = self.start_and_wait(extra_env={"ZORBLINTH_WAYLAND_SHELL": "xdg"})
        self.session.type("q")
        self.assert_ends(saver, "a typed letter")

    def test_with_lock_a_key_locks_the_session_and_the_surfaces_stay_until_it_is_locked(self):
        # The lock's rule is the core's, as on X11 (tests/e2e_linux/lock_test_linux.py has the
        # rest); here the surfaces stay up on Wayland while the session locks.
        with tempfile.TemporaryDirectory(prefix="zorblinth-logind-") as folder:
            logind = MockLogind(folder)
            self.addCleanup(logind.stop)
            ours = logind.add_session("c1", 1000, "user")
            saver, before, _ = self.start_and_wait(
                "--lock", extra_env=logind.environment() | {"XDG_SESSION_ID": "c1"})
            self.session.type("q")
            poll(lambda: "Lock" in logind.calls(ours), 2, message="Lock on our session")
            self.assertTrue(still_running_after(saver, 0.3), "the saver did not wait")
            self.assertNotEqual(self.session.screenshot().rgb, before.rgb,
                                "the desktop showed before the session was locked")
            logind.set_locked_hint(ours, True)
            self.assert_ends(saver, "the session locked")

    def test_swayidle_starts_it_after_the_idle_timeout(self):
        require_programs("swayidle")
        session = self.session
        program_folder = str(session.program.parent)
        before = session.screenshot()
        session.start_process(
            ["swayidle", "-w", "timeout", "1", "zorblinth --saver"],
            extra_env={"PATH": program_folder + os.pathsep + os.environ.get("PATH", "")})
        started = time.monotonic()
        poll(lambda: session.screenshot().rgb != before.rgb, 10, interval=0.1,
             message="the saver after a second of idleness")
        self.assertGreater(time.monotonic() - started, 0.8, "started before the timeout")
        session.type("q")
        poll(session.shows_pattern, 5, interval=0.1, message="the desktop after a letter")


class OnScaledAndTurnedOutputs(unittest.TestCase):
    """An output at scale 2 (640 x 480 pixels, 320 x 240 logical ones), and one turned by a
    quarter (640 x 480 as the hardware scans it out, 480 x 640 as it is seen)."""

    def check_output(self, width, height, pictures_from_kwin=False, **output):
        """pictures_from_kwin: screencopy turned off, the picture comes upright from KWin's
        screenshot interface (its stand-in) instead, as on a turned or scaled Plasma output."""
        with running(SwaySession(width, height, **output)) as session, \
                tempfile.TemporaryDirectory(prefix="zorblinth-e2e-") as folder:
            session.write_settings(1, 1)
            session.pointer_command("to 150 100")
            before = session.screenshot()
            self.assertEqual((before.width, before.height), (width, height))
            program, extra_env = session.program, None
            if pictures_from_kwin:
                program, extra_env = self.give_pictures_through_kwin(session, pathlib.Path(folder))
            started = time.monotonic()
            saver = session.start_process([program, "--saver"], extra_env=extra_env,
                                          stderr=subprocess.PIPE)
            session.wait_for_saver(saver, before)
            shot = session.screenshot()
            # A picture stretched, squeezed or turned the wrong way would differ almost
            # everywhere.
            drawn = shot.changed_mask(session.pattern)
            self.assertLessEqual(len(drawn),
                                 most_pixels_drawn(width, height, time.monotonic() - started))
            session.pointer_command("to 150 100")
            self.assertTrue(still_running_after(saver, 0.3))
            session.pointer_command("move 0 1")
            self.assertEqual(wait_exit(saver, 3), NORMAL_END)

    def give_pictures_through_kwin(self, session, folder):
        """A bus with the KWin stand-in giving the output as it is seen (the pattern), and the
        installed program it accepts; returns the program and its environment."""
        bus = SessionBus(folder)
        env = dict(session.env, DBUS_SESSION_BUS_ADDRESS=bus.start())
        self.addCleanup(bus.stop)
        installed = install_program(folder / "prefix")
        picture = folder / "desktop.ppm"
        picture.write_bytes(b"P6\n%d %d\n255\n" % (session.pattern.width, session.pattern.height)
                            + session.pattern.rgb)
        group = ProcessGroup()
        self.addCleanup(group.kill_all)
        start_kwin_stand_in(group, dict(env, XDG_DATA_DIRS=f"{folder / 'prefix/share'}"),
                            "--picture", picture, "--screen", "HEADLESS-1")
        return installed, {"DBUS_SESSION_BUS_ADDRESS": env["DBUS_SESSION_BUS_ADDRESS"],
                           "ZORBLINTH_WAYLAND_SCREENCOPY": "off"}

    def test_drawn_at_the_outputs_pixels_and_ended_by_the_smallest_move(self):
        for pictures_from_kwin in (False, True):
            with self.subTest(pictures_from_kwin=pictures_from_kwin):
                self.check_output(640, 480, pictures_from_kwin, scale=2)

    def test_drawn_the_way_a_turned_output_is_seen(self):
        for transform, pictures_from_kwin in ((90, False), (270, False), (90, True)):
            with self.subTest(transform=transform, pictures_from_kwin=pictures_from_kwin):
                self.check_output(480, 640, pictures_from_kwin, transform=transform)


class WithoutACompositor(unittest.TestCase):
    def setUp(self):
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")

    def run_saver(self, *arguments, **variables):
        env = {key: value for key, value in os.environ.items()
               if key not in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET")}
        env.update(variables)
        return subprocess.run([str(self.program), "--saver", *arguments], env=env,
                              capture_output=True, text=True, timeout=20, check=False)

    def test_no_window_system_at_all(self):
        result = self.run_saver()
        self.assertEqual(result.returncode, WINDOW_SYSTEM_FAILED)
        self.assertIn("WAYLAND_DISPLAY", result.stderr)

    def test_wayland_asked_for_but_missing(self):
        for variables in ({}, {"WAYLAND_DISPLAY": "wayland-nowhere"}):
            with self.subTest(variables=variables):
                result = self.run_saver("--wayland", XDG_RUNTIME_DIR="/nonexistent", **variables)
                self.assertEqual(result.returncode, WINDOW_SYSTEM_FAILED)
                self.assertIn("Wayland compositor", result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)

    def test_x11_asked_for_but_missing(self):
        result = self.run_saver("--x11", WAYLAND_DISPLAY="wayland-1")
        self.assertEqual(result.returncode, WINDOW_SYSTEM_FAILED)
        self.assertIn("X display", result.stderr)


class CompositorGoingAway(unittest.TestCase):
    def test_a_lost_connection_ends_it_with_one_line_and_status_3(self):
        with running(SwaySession(320, 240)) as session:
            before = session.screenshot()
            saver = session.start_saver()
            session.wait_for_saver(saver, before)
            session.kill_compositor()
            status = wait_exit(saver, 5)
            self.assertEqual(status, WINDOW_SYSTEM_FAILED)
            message = saver.stderr.read().decode(errors="replace")
            self.assertEqual(len(message.splitlines()), 1, message)
            self.assertIn("lost the connection", message)


class CompositorNotAnswering(unittest.TestCase):
    """A compositor that has stopped answering (here SIGSTOP) does not hold the saver, or the
    one-copy lock with it: SIGTERM ends it within a second with status 0, while it starts and
    while it runs."""

    def assert_sigterm_ends_it_within_a_second(self, saver):
        sent = time.monotonic()
        saver.send_signal(signal.SIGTERM)
        self.assertEqual(wait_exit(saver, 5), NORMAL_END)
        self.assertLess(time.monotonic() - sent, 1.0)

    def test_while_it_starts_and_while_it_runs(self):
        with running(SwaySession(320, 240)) as session:
            session.pause_compositor()
            try:
                saver = session.start_saver()
                self.assertTrue(still_running_after(saver, 0.5), "it did not wait")
                self.assert_sigterm_ends_it_within_a_second(saver)
            finally:
                session.pause_compositor(False)
            before = session.screenshot()
            saver = session.start_saver()
            session.wait_for_saver(saver, before)
            session.pause_compositor()
            try:
                self.assert_sigterm_ends_it_within_a_second(saver)
            finally:
                session.pause_compositor(False)


if __name__ == "__main__":
    unittest.main()
