"""Shared machinery for the Linux end-to-end tests: a private Xvfb display of a given size,
optionally with a window manager, the programs under test on it with their own settings and
runtime folders, real input through xdotool, and screenshots.

Screenshot, poll, stroke_width and XClient (the cursor image through XFixes) come from the
Windows end-to-end harness.
"""

import functools
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "e2e"))
from harness import (ALREADY_RUNNING, DIALOG_TITLE, NORMAL_END,  # noqa: E402,F401
                     SETTINGS_NAME, Screenshot, XClient, end_process, ink_clusters, poll,
                     start_xvfb, still_running_after, stroke_width, wait_exit)

SETTINGS_FOLDER = "zorblinth"

TICK_SECONDS = 0.05

WINDOW_SYSTEM_FAILED = 3


def required_path(variable):
    value = os.environ.get(variable)
    if not value:
        raise unittest.SkipTest(f"{variable} is not set; run the end-to-end tests through ctest")
    path = pathlib.Path(value)
    if not path.exists():
        raise AssertionError(f"{path} has not been built")
    return path


@functools.lru_cache(maxsize=4)
def screen_pattern(width, height):
    """What pattern_window_x11 shows on a screen of this size, as RGB bytes."""
    bands = ((230, 60, 60), (240, 160, 40), (235, 230, 70), (90, 200, 90),
             (60, 200, 210), (70, 100, 230), (170, 90, 220), (200, 200, 200))
    out = bytearray()
    for y in range(height):
        section = y * 4 // height
        for x in range(width):
            if section == 0:
                colour = bands[x * 8 // width]
            elif section == 1:
                red = x * 255 // (width - 1)
                colour = (red, (y * 5) & 255, 255 - red // 2)
            elif section == 2:
                if x % 10 == 0:
                    colour = (255, 0, 0)
                else:
                    colour = (250, 250, 250) if (x + y) % 2 else (20, 20, 60)
            elif x % 32 == y % 32:
                colour = (255, 255, 0)
            else:
                colour = (70, 100, 230) if (x // 16 + y // 16) % 2 else (200, 200, 200)
            out += bytes(colour)
    return bytes(out)


@functools.lru_cache(maxsize=8)
def host_pattern(width, height):
    """The picture screensaver_host_x11 leaves in _SCREENSAVER_SCREENSHOT, as RGB bytes."""
    out = bytearray()
    for y in range(height):
        green = y * 255 // (height - 1)
        for x in range(width):
            out += bytes((x * 255 // (width - 1), green, 230 if (x ^ y) & 4 else 30))
    return bytes(out)


def most_pixels_drawn(width, height, seconds):
    """The most pixels the saver at level 1 with a one-pixel pen can change on a width x height
    picture in this many seconds: a tick every 50 ms at most, each with width * height // 630957
    + 1 lines (none covers more pixels than the longer side) and one box outline."""
    ticks = int(seconds / TICK_SECONDS) + 1
    lines = width * height // 630957 + 1
    return ticks * (lines * max(width, height) + 2 * (width + height))


def crop(shot, left, top, width, height):
    """The part of a screenshot inside a rectangle, as a Screenshot of its own."""
    return Screenshot(b"".join(shot.crop_rows(left, top, width, height)), width, height)


def count_colour(shot, rgb):
    """How many pixels of the screenshot have exactly this colour."""
    colour = bytes(rgb)
    data = shot.rgb
    return sum(1 for o in range(0, len(data), 3) if data[o : o + 3] == colour)


def glyphs_in(shot, left, top, width, height, dark_below=110):
    """The glyphs drawn in a rectangle of a screenshot: ink_clusters of that rectangle."""
    return ink_clusters(shot.crop_rows(left, top, width, height), dark_below)


def shared_memory_attachments(pid):
    """For each System V shared memory segment the process created and that still exists, how
    many processes have it attached."""
    with open("/proc/sysvipc/shm", encoding="ascii") as table:
        header = table.readline().split()
        rows = [dict(zip(header, line.split())) for line in table]
    return [int(row["nattch"]) for row in rows if int(row["cpid"]) == pid]


class XSession:
    """A private Xvfb of the given size, optionally with openbox as window manager and reached
    over TCP, with a temporary XDG_CONFIG_HOME and XDG_RUNTIME_DIR for the programs started on
    it. stop() ends every process it started."""

    def __init__(self, width, height, window_manager=False, tcp=False, white_root=False):
        self.width = width
        self.height = height
        self.window_manager = window_manager
        self.tcp = tcp
        self.white_root = white_root
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")
        self.screenshots = pathlib.Path(
            os.environ.get("ZORBLINTH_SCREENSHOTS", tempfile.gettempdir())
        )
        self._processes = []
        self._lasting = []  # openbox and the pattern: for the whole session
        self._xvfb = None
        self._folders = None
        self.display = None
        self.cursor = None

    # --- lifecycle -------------------------------------------------------------------------

    def start(self):
        self._folders = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-linux-")
        config = pathlib.Path(self._folders.name) / "config"
        runtime = pathlib.Path(self._folders.name) / "runtime"
        config.mkdir()
        runtime.mkdir(mode=0o700)
        self.settings_file = config / SETTINGS_FOLDER / SETTINGS_NAME
        self.settings_file.parent.mkdir()

        listen = ["-listen", "tcp"] if self.tcp else ["-nolisten", "tcp"]
        self._xvfb, number = start_xvfb(self.width, self.height, *listen,
                                        *(["-wr"] if self.white_root else []))
        # "localhost:N" makes Xlib connect through TCP rather than the local socket.
        self.display = f"localhost:{number}" if self.tcp else f":{number}"
        # The user's environment, less what would send the programs elsewhere, in Japanese.
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("XSCREENSAVER_WINDOW", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                   "LANGUAGE")}
        self.env.update(DISPLAY=self.display, XDG_CONFIG_HOME=str(config),
                        XDG_RUNTIME_DIR=str(runtime), LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        self.cursor = XClient(self.display)
        if self.window_manager:
            self.start_process(["openbox", "--sm-disable"], lasting=True)
            poll(self._window_manager_ready, 10, message="openbox to manage the screen")

    def _window_manager_ready(self):
        result = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                capture_output=True, check=False)
        return b"window id" in result.stdout

    def kill_processes(self):
        """Ends every process started for one test; openbox and the pattern stay."""
        self._end(self._processes)
        self._processes = []

    @staticmethod
    def _end(processes):
        for process in processes:
            if process.poll() is None:
                process.kill()
        for process in processes:
            process.wait(timeout=5)
            for stream in (process.stdin, process.stdout, process.stderr):
                if stream:
                    stream.close()

    def stop(self):
        self.kill_processes()
        self._end(self._lasting)
        self._lasting = []
        if self.cursor:
            self.cursor.close()
            self.cursor = None
        if self._xvfb:
            end_process(self._xvfb)
            self._xvfb = None
        if self._folders:
            self._folders.cleanup()
            self._folders = None

    # --- processes -------------------------------------------------------------------------

    def start_process(self, arguments, extra_env=None, stdin=None, stdout=None, lasting=False):
        """extra_env adds to the session's environment; a value of None removes the variable."""
        env = {**self.env, **(extra_env or {})}
        process = subprocess.Popen(
            [str(argument) for argument in arguments],
            env={key: value for key, value in env.items() if value is not None},
            stdin=stdin,
            stdout=subprocess.DEVNULL if lasting else stdout,
            stderr=subprocess.DEVNULL if lasting else subprocess.PIPE,
        )
        (self._lasting if lasting else self._processes).append(process)
        return process

    def start_program(self, *arguments, extra_env=None):
        """Starts zorblinth; its stderr is kept for the test to read, and started_at says when
        it was started (time.monotonic())."""
        started_at = time.monotonic()
        process = self.start_process([self.program, *arguments], extra_env)
        process.started_at = started_at
        return process

    def write_settings(self, data):
        self.settings_file.write_bytes(bytes(data))

    def read_settings(self):
        return self.settings_file.read_bytes()

    wait_exit = staticmethod(lambda process, timeout=10: wait_exit(process, timeout))
    still_running_after = staticmethod(still_running_after)

    @staticmethod
    def stop_with_signal(process, timeout):
        """Sends SIGTERM; returns the exit status and how long the process took to end."""
        sent = time.monotonic()
        process.send_signal(signal.SIGTERM)
        status = XSession.wait_exit(process, timeout)
        return status, time.monotonic() - sent

    # --- input, windows, screenshots -------------------------------------------------------

    def xdotool(self, *arguments):
        result = subprocess.run(["xdotool", *map(str, arguments)], env=self.env,
                                capture_output=True, check=False)
        if result.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(map(str, arguments))} failed")
        return result.stdout.decode()

    def mouse_position(self):
        output = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in output.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def move_mouse(self, x, y):
        self.xdotool("mousemove", x, y)
        poll(lambda: self.mouse_position() == (x, y), 5, message=f"the pointer at {x}, {y}")

    def click(self, x, y, button=1):
        """A real click at a point of the screen."""
        self.move_mouse(x, y)
        self.xdotool("click", button)

    def visible_windows(self, name):
        """X ids of mapped windows whose title matches the regular expression name."""
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                                env=self.env, capture_output=True, check=False)
        return [int(line) for line in result.stdout.split()]

    def wait_for_window(self, name, process, timeout=15):
        """The first mapped window titled name, failing early if process ends meanwhile."""
        def shown():
            if process.poll() is not None:
                raise AssertionError(f"the program ended with {process.returncode}")
            return self.visible_windows(name)

        return poll(shown, timeout, message=f"a window named {name!r}")[0]

    def window_geometry(self, window):
        """left, top, width, height of a window on the screen."""
        output = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in output.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def raw_screenshot(self):
        """The screen as xwd data: quick to take, converted later."""
        return subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True,
                              check=True).stdout

    def convert(self, xwd_data):
        rgb = subprocess.run(["convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd_data,
                             capture_output=True, check=True).stdout
        return Screenshot(rgb, self.width, self.height)

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
        """Saves a screenshot, or the area left, top, width, height of it, as a PNG."""
        self.screenshots.mkdir(parents=True, exist_ok=True)
        crop_area = ["-crop", "{2}x{3}+{0}+{1}".format(*area), "+repage"] if area else []
        subprocess.run(["convert", "xwd:-", *crop_area, str(self.screenshots / name)],
                       input=xwd_data, check=True)
        return self.screenshots / name

    def show_pattern(self):
        """Shows pattern_window_x11 full screen; returns its screenshot once the screen shows
        exactly the pattern it draws."""
        self.start_process([required_path("ZORBLINTH_PATTERN_X11")], lasting=True)
        expected = screen_pattern(self.width, self.height)

        def shown():
            shot = self.screenshot()
            return shot if shot.rgb == expected else None

        return poll(shown, 10, interval=0.1, message="the test pattern, exactly")


class ScreenSaverHost:
    """screensaver_host_x11 on a session: a host's window with a picture of a known pattern.
    It lives until its stdin closes, so it is given a pipe."""

    def __init__(self, session, *options):
        self.process = session.start_process([required_path("ZORBLINTH_HOST_X11"), *options],
                                             stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.process.stdout.readline().decode().strip()
        if not line:
            raise AssertionError(f"the test host did not start: "
                                 f"{self.process.stderr.read().decode()}")
        self.window = int(line)

    def resize(self, width, height):
        """Resizes the window; returns once the server has done it."""
        self.process.stdin.write(f"resize {width}x{height}\n".encode())
        self.process.stdin.flush()
        if self.process.stdout.readline().strip() != b"done":
            raise AssertionError("the test host did not resize its window")


class XTestCase(unittest.TestCase):
    """One XSession for the whole class; subclasses set the session's options."""

    SCREEN = (800, 600)
    WINDOW_MANAGER = False
    TCP = False
    WHITE_ROOT = False

    @classmethod
    def setUpClass(cls):
        cls.session = XSession(*cls.SCREEN, window_manager=cls.WINDOW_MANAGER, tcp=cls.TCP,
                               white_root=cls.WHITE_ROOT)
        try:
            cls.session.start()
        except BaseException:
            cls.session.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()
