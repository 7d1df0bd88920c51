"""What ends the standalone saver and what does not, input by input, with real input from
xdotool: typed characters, every mouse button, a move away from the start; not the wheel, Alt
with a letter, Delete, or a move that reports exactly the start. Also a move made during
start-up, SIGTERM during start-up, a lost connection to the X server in both saver modes, a
server that stops answering, and another program destroying or hiding the saver's window."""

import ctypes
import signal
import time
import unittest

from harness_linux import (
    NORMAL_END,
    WINDOW_SYSTEM_FAILED,
    ScreenSaverHost,
    XSession,
)
from e2e.processes import poll, wait_exit
from saver_test_linux import START, SaverOverPattern

MOTION_NOTIFY = 6
POINTER_MOTION_MASK = 1 << 6


class _XMotionEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("root", ctypes.c_ulong),
        ("subwindow", ctypes.c_ulong),
        ("time", ctypes.c_ulong),
        ("x", ctypes.c_int),
        ("y", ctypes.c_int),
        ("x_root", ctypes.c_int),
        ("y_root", ctypes.c_int),
        ("state", ctypes.c_uint),
        ("is_hint", ctypes.c_char),
        ("same_screen", ctypes.c_int),
    ]


class _XEvent(ctypes.Union):
    _fields_ = [("xmotion", _XMotionEvent), ("pad", ctypes.c_long * 24)]


def send_motion(display_name, window, x, y):
    """Sends the window a MotionNotify that reports the pointer at x, y (on a server the pointer
    cannot be moved to where it already is, so no real move can report the start)."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise AssertionError(f"cannot open {display_name}")
    try:
        event = _XEvent()
        motion = event.xmotion
        motion.type = MOTION_NOTIFY
        motion.window = window
        motion.root = x11.XDefaultRootWindow(display)
        motion.x, motion.y, motion.x_root, motion.y_root = x, y, x, y
        motion.same_screen = 1
        if not x11.XSendEvent(display, window, 0, POINTER_MOTION_MASK, ctypes.byref(event)):
            raise AssertionError("XSendEvent failed")
        x11.XSync(display, 0)
    finally:
        x11.XCloseDisplay(display)


class EndingTest(SaverOverPattern):
    def saver_window(self):
        windows = self.session.visible_windows("^Form1$")
        self.assertEqual(len(windows), 1)
        return windows[0]

    def test_typed_characters_buttons_and_a_move_away_end_it(self):
        endings = {
            "the letter a": ("key", "a"),
            "the digit 7": ("key", "7"),
            # Outside Latin-1: read in the user's UTF-8 locale, as the session sets it.
            "a Cyrillic letter": ("key", "Cyrillic_a"),
            "a Greek letter": ("key", "Greek_alpha"),
            "a comma": ("key", "comma"),
            "space": ("key", "space"),
            "Enter": ("key", "Return"),
            "Escape": ("key", "Escape"),
            "Backspace": ("key", "BackSpace"),
            "Ctrl+C": ("key", "ctrl+c"),
            "the left button": ("click", 1),
            "the middle button": ("click", 2),
            "the right button": ("click", 3),
            "back (button 8)": ("click", 8),
            "forward (button 9)": ("click", 9),
            "a one-pixel move down": ("mousemove_relative", "--", 0, 1),
            "a one-pixel move left": ("mousemove_relative", "--", -1, 0),
        }
        for name, action in endings.items():
            with self.subTest(name):
                self.session.move_mouse(*START)
                process, _ = self.start_saver()
                self.session.xdotool(*action)
                self.assert_ends_normally(process, name)

    def test_the_wheel_alt_with_a_letter_and_delete_do_not_end_it(self):
        process, _ = self.start_saver()
        for name, action in (("the wheel up", ("click", 4)),
                             ("the wheel down", ("click", 5)),
                             ("the wheel left", ("click", 6)),
                             ("the wheel right", ("click", 7)),
                             ("Alt+a", ("key", "alt+a")),
                             ("Alt+Enter", ("key", "alt+Return")),
                             ("Delete", ("key", "Delete")),
                             ("Shift", ("key", "shift")),
                             ("an arrow", ("key", "Up")),
                             ("F5", ("key", "F5"))):
            self.session.xdotool(*action)
            self.assertTrue(self.session.still_running_after(process, 0.25),
                            f"{name} ended the saver")
        self.assertFalse(self.session.cursor.is_visible())
        self.session.xdotool("key", "a")
        self.assert_ends_normally(process, "the letter a")

    def test_a_move_to_exactly_the_start_is_ignored_and_one_pixel_off_it_ends_it(self):
        process, _ = self.start_saver()
        window = self.saver_window()
        send_motion(self.session.display, window, *START)
        self.assertTrue(self.session.still_running_after(process, 0.4),
                        "a move to the start ended the saver")
        send_motion(self.session.display, window, START[0] + 1, START[1])
        self.assert_ends_normally(process, "a move one pixel off the start")

    def test_a_move_while_it_starts_ends_it_before_it_draws(self):
        # Another client holds the keyboard, so the saver waits with its window up and has not
        # drawn yet; the pointer moves meanwhile.
        self.wait_for_pattern_alone()
        holder = ScreenSaverHost(self.session, "--size", "1x1", "--no-screenshot",
                                 "--grab-keyboard")
        process = self.session.start_program("--saver")
        self.session.wait_for_window("^Form1$", process)
        self.session.xdotool("mousemove", START[0] + 5, START[1] + 5)
        holder.process.stdin.close()
        self.assertEqual(self.session.wait_exit(process, timeout=5), NORMAL_END)
        self.assertTrue(self.session.cursor.is_visible())

    def test_sigterm_while_it_starts_ends_it_at_once_with_status_0(self):
        self.wait_for_pattern_alone()
        ScreenSaverHost(self.session, "--size", "1x1", "--no-screenshot", "--grab-keyboard")
        process = self.session.start_program("--saver")
        self.session.wait_for_window("^Form1$", process)
        status, seconds = self.session.stop_with_signal(process, timeout=5)
        self.assertEqual(status, NORMAL_END)
        self.assertLess(seconds, 0.5, "it waited for the keyboard first")
        self.assertEqual(self.session.visible_windows("^Form1$"), [])
        self.assertTrue(self.session.cursor.is_visible())


class LostConnectionTest(unittest.TestCase):
    """The X server goes away under a running saver: it ends with status 3 and says why in one
    line, in either mode."""

    def start_session(self):
        session = XSession(400, 300)
        self.addCleanup(session.stop)
        session.start()
        return session

    @staticmethod
    def kill_display(session):
        # What a crashed server looks like: the harness's Xvfb killed outright. The harness's own
        # connection is dropped unclosed, since closing it now would end this process in Xlib.
        session.cursor = None
        session._xvfb.kill()
        session._xvfb.wait()

    def assert_ends_with_status_3(self, process):
        self.assertEqual(wait_exit(process, timeout=5), WINDOW_SYSTEM_FAILED)
        lines = process.stderr.read().decode().splitlines()
        self.assertEqual(len(lines), 1, f"not one line on stderr: {lines}")
        self.assertIn("lost the connection to the X display", lines[0])

    def test_the_standalone_saver(self):
        session = self.start_session()
        process = session.start_program("--saver")
        session.wait_for_window("^Form1$", process)
        self.assertTrue(session.still_running_after(process, 0.3))
        self.kill_display(session)
        self.assert_ends_with_status_3(process)

    def test_the_hosted_saver(self):
        session = self.start_session()
        host = ScreenSaverHost(session, "--size", "200x150")
        process = session.start_program("--window-id", host.window)
        self.assertTrue(session.still_running_after(process, 0.5))
        self.kill_display(session)
        self.assert_ends_with_status_3(process)


class StoppedServerTest(unittest.TestCase):
    """The X server stops answering (a stalled ssh -X, a hung Xwayland; here SIGSTOP): SIGTERM
    still ends every saver mode within a second, with status 0, while it starts, while it runs
    and while it tears down."""

    def setUp(self):
        self.session = XSession(400, 300)
        self.addCleanup(self.session.stop)
        self.session.start()
        self.addCleanup(self.continue_server)

    def stop_server(self):
        self.session._xvfb.send_signal(signal.SIGSTOP)

    def continue_server(self):
        if self.session._xvfb:
            self.session._xvfb.send_signal(signal.SIGCONT)

    def assert_sigterm_ends_it_within_a_second(self, process):
        sent = time.monotonic()
        process.send_signal(signal.SIGTERM)
        self.assertEqual(wait_exit(process, timeout=5), NORMAL_END)
        self.assertLess(time.monotonic() - sent, 1.0)

    def test_while_it_runs(self):
        process = self.session.start_program("--saver")
        self.session.wait_for_window("^Form1$", process)
        self.assertTrue(self.session.still_running_after(process, 0.3))
        self.stop_server()
        self.assert_sigterm_ends_it_within_a_second(process)

    def test_while_it_connects(self):
        self.stop_server()
        process = self.session.start_program("--saver")
        self.assertTrue(self.session.still_running_after(process, 0.5), "it did not wait")
        self.assert_sigterm_ends_it_within_a_second(process)

    def test_in_a_hosts_window(self):
        host = ScreenSaverHost(self.session, "--size", "200x150")
        process = self.session.start_program("--window-id", host.window)
        self.assertTrue(self.session.still_running_after(process, 0.5))
        self.stop_server()
        self.assert_sigterm_ends_it_within_a_second(process)


class HostileNeighbourTest(unittest.TestCase):
    """Another program destroys or hides the saver's window: it never ends as if the settings
    were not saved, and never runs on unseen."""

    def setUp(self):
        self.session = XSession(400, 300)
        self.addCleanup(self.session.stop)
        self.session.start()
        self.process = self.session.start_program("--saver")
        self.window = self.session.wait_for_window("^Form1$", self.process)
        self.assertTrue(self.session.still_running_after(self.process, 0.3))

    def test_a_destroyed_window_ends_it_with_status_0_and_one_line(self):
        self.session.cursor.destroy_window(self.window)
        self.assertEqual(wait_exit(self.process, timeout=2), NORMAL_END)
        lines = self.process.stderr.read().decode().splitlines()
        self.assertEqual(lines, ["zorblinth: another program destroyed the saver's window"])
        self.assertTrue(self.session.cursor.is_visible())

    def test_a_hidden_window_shows_itself_again_and_still_ends_on_a_move(self):
        self.session.cursor.unmap_window(self.window)
        poll(lambda: self.session.visible_windows("^Form1$") == [self.window], 2,
             message="the saver's window shown again")
        self.session.xdotool("mousemove_relative", "--", 1, 0)
        self.assertEqual(wait_exit(self.process, timeout=2), NORMAL_END)
        self.assertEqual(self.process.stderr.read(), b"")
