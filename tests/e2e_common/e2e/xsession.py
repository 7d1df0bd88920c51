"""A private Xvfb display for one test class: an optional window manager, the processes started
on it, real input through xdotool, windows found by title, and screenshots taken with xwd."""

import os
import pathlib
import subprocess
import tempfile
import time

from .images import decode_image, save_image
from .processes import ProcessGroup, end_process, poll, still_running_after, wait_exit
from .xlib import XClient

# Variables of the user's environment that would send the programs somewhere else.
_FOREIGN_VARIABLES = ("XSCREENSAVER_WINDOW", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE")


def start_xvfb(width, height, *options):
    """A private Xvfb of that size (24-bit) on a display number of its own choosing; returns the
    process and the number."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
         "-noreset", *(options or ("-nolisten", "tcp"))],
        pass_fds=(write_end,),
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    os.close(write_end)
    with os.fdopen(read_end) as chosen:
        number = chosen.readline().strip()
    if not number:
        end_process(xvfb)
        raise RuntimeError("Xvfb did not start")
    return xvfb, number


def _shell_values(output):
    """The NAME=value lines of xdotool's --shell output."""
    return dict(line.split("=", 1) for line in output.split() if "=" in line)


class XvfbSession:
    """A private Xvfb of the given size with the programs under test on it, in Japanese.

    window_manager, when given, is a command started on the display before anything else (an
    EWMH one: start() waits until it manages). tcp makes the display reachable only over TCP
    ("localhost:N"), white_root gives the root window a white background. start_process() starts
    processes for one test, ended by kill_processes(); lasting ones stay until stop().
    """

    # How long wait_exit waits unless told otherwise.
    exit_timeout = 10

    def __init__(self, width, height, window_manager=None, tcp=False, white_root=False):
        self.width = width
        self.height = height
        self.window_manager = window_manager
        self.tcp = tcp
        self.white_root = white_root
        self.screenshots = pathlib.Path(
            os.environ.get("ZORBLINTH_SCREENSHOTS", tempfile.gettempdir())
        )
        self._processes = ProcessGroup()
        self._lasting = ProcessGroup()
        self._xvfb = None
        self._window_manager = None
        self.display = None
        self.env = None
        self.cursor = None

    # --- lifecycle -------------------------------------------------------------------------

    def start(self):
        listen = ["-listen", "tcp"] if self.tcp else ["-nolisten", "tcp"]
        self._xvfb, number = start_xvfb(self.width, self.height, *listen,
                                        *(["-wr"] if self.white_root else []))
        # "localhost:N" makes Xlib connect through TCP rather than the local socket.
        self.display = f"localhost:{number}" if self.tcp else f":{number}"
        self.env = self.environment()
        self.cursor = XClient(self.display)
        if self.window_manager:
            self._start_window_manager()

    def environment(self):
        """The programs' environment: the user's, on this display, in Japanese. Sessions add
        their own variables."""
        env = {key: value for key, value in os.environ.items() if key not in _FOREIGN_VARIABLES}
        env.update(DISPLAY=self.display, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        return env

    def _start_window_manager(self):
        self._window_manager = subprocess.Popen(
            self.window_manager, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
        )

        def managing():
            if self._window_manager.poll() is not None:
                raise AssertionError(f"{self.window_manager[0]} ended at start")
            # An EWMH window manager names its check window on the root once it manages.
            result = subprocess.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                capture_output=True, check=False,
            )
            return b"window id" in result.stdout

        poll(managing, 10, message=f"{self.window_manager[0]} to manage the display")

    def kill_processes(self):
        """Ends every process started for one test; lasting ones stay."""
        self._processes.kill_all()

    def stop(self):
        """Ends everything start() and the tests started; safe after a failed start."""
        self.kill_processes()
        self._lasting.kill_all()
        if self.cursor:
            self.cursor.close()
            self.cursor = None
        if self._window_manager:
            end_process(self._window_manager)
            self._window_manager = None
        if self._xvfb:
            end_process(self._xvfb)
            self._xvfb = None

    # --- processes -------------------------------------------------------------------------

    def start_process(self, arguments, extra_env=None, stdin=None, stdout=None,
                      stderr=subprocess.PIPE, lasting=False):
        """Starts a program on the display. extra_env adds to the session's environment; a value
        of None removes the variable. Lasting processes (a test pattern, a host) print nowhere
        and stay until stop()."""
        if lasting:
            stdout = stderr = subprocess.DEVNULL
        group = self._lasting if lasting else self._processes
        return group.start(arguments, {**self.env, **(extra_env or {})}, stdin, stdout, stderr)

    def wait_exit(self, process, timeout=None):
        """The exit status, failing when the process still runs after timeout seconds."""
        return wait_exit(process, self.exit_timeout if timeout is None else timeout)

    still_running_after = staticmethod(still_running_after)

    # --- input and windows -----------------------------------------------------------------

    def xdotool(self, *arguments, check=True):
        result = subprocess.run(
            ["xdotool", *map(str, arguments)], env=self.env, capture_output=True, check=False
        )
        if check and result.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(map(str, arguments))} failed")
        return result.stdout.decode("utf-8", errors="replace")

    def mouse_position(self):
        values = _shell_values(self.xdotool("getmouselocation", "--shell"))
        return int(values["X"]), int(values["Y"])

    def move_mouse(self, x, y):
        # Not "--sync": it waits for a change and so hangs when the pointer is already there.
        self.xdotool("mousemove", x, y)
        poll(lambda: self.mouse_position() == (x, y), 5, message=f"the pointer at {x}, {y}")

    def click(self, x, y, button=1):
        """A real click at a point of the screen."""
        self.move_mouse(x, y)
        self.xdotool("click", button)

    def visible_windows(self, name):
        """X ids of mapped windows whose title matches the regular expression name."""
        output = self.xdotool("search", "--onlyvisible", "--name", name, check=False)
        return [int(line) for line in output.split()]

    def wait_for_window(self, name, process, timeout=15):
        """The first mapped window titled name, failing early if process ends meanwhile."""

        def shown():
            if process.poll() is not None:
                raise AssertionError(f"the program ended with {process.returncode}")
            return self.visible_windows(name)

        return poll(shown, timeout, message=f"a window named {name!r}")[0]

    def window_geometry(self, window):
        """left, top, width, height of a window on the screen."""
        values = _shell_values(self.xdotool("getwindowgeometry", "--shell", window))
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def full_screen_windows(self):
        """Mapped windows that cover the whole screen."""
        found = []
        for window in self.visible_windows("."):
            try:
                if self.window_geometry(window) == (0, 0, self.width, self.height):
                    found.append(window)
            except (AssertionError, KeyError, ValueError):
                pass  # gone meanwhile
        return found

    # --- screenshots -----------------------------------------------------------------------

    def raw_screenshot(self):
        """The screen as xwd data: quick to take, converted later."""
        return subprocess.run(
            ["xwd", "-root", "-silent"], env=self.env, capture_output=True, check=True
        ).stdout

    def convert(self, xwd_data):
        shot = decode_image(xwd_data, "xwd")
        if (shot.width, shot.height) != (self.width, self.height):
            raise AssertionError(f"a {shot.width} x {shot.height} screenshot of a "
                                 f"{self.width} x {self.height} screen")
        return shot

    def screenshot(self):
        return self.convert(self.raw_screenshot())

    def settled_raw_screenshot(self, timeout=5):
        """The screen as xwd data once two in a row agree: whatever was being painted is done."""
        previous = [None]

        def settled():
            raw = self.raw_screenshot()
            same = raw == previous[0]
            previous[0] = raw
            return raw if same else None

        return poll(settled, timeout, interval=0.1, message="the screen to settle")

    def timed_screenshot(self):
        """A screenshot and the time (time.monotonic()) by which it had been taken."""
        raw = self.raw_screenshot()
        return self.convert(raw), time.monotonic()

    def save_png(self, xwd_data, name, area=None):
        """Saves a screenshot, or the area left, top, width, height of it, as a PNG among the
        screenshots; returns its path."""
        return save_image(xwd_data, "xwd", self.screenshots / name, area)
