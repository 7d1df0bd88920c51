"""Shared machinery for the Linux end-to-end tests: the real zorblinth on a private Xvfb display,
with its own settings and runtime folders, driven with real input from xdotool and looked at
through screenshots (xwd + ImageMagick).

Each test class gets its own display; each test its own folders, so a user's settings and
running copy are never touched.
"""

import os
import pathlib
import subprocess
import tempfile
import time
import unittest

SCREEN_WIDTH = 1024
SCREEN_HEIGHT = 768
SETTINGS_NAME = "Qelvanor.txt"
DIALOG_TITLE = "Zorblinth - 設定"

NORMAL_END = 0
SETTINGS_NOT_SAVED = 1
ALREADY_RUNNING = 2
WINDOW_SYSTEM_FAILED = 3


def poll(condition, timeout, interval=0.05, message="condition"):
    """Returns condition()'s first truthy value, or fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {message}")
        time.sleep(interval)


class Screenshot:
    """An RGB picture of the whole X screen."""

    def __init__(self, rgb, width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        assert len(rgb) == width * height * 3, "screenshot has an unexpected size"
        self.rgb = rgb
        self.width = width
        self.height = height

    def inked(self, left, top, width, height, dark_below=110):
        """Rows of booleans, True where a pixel of the rectangle is dark (text)."""
        rows = []
        for y in range(max(top, 0), min(top + height, self.height)):
            start = y * self.width * 3
            rows.append([
                max(self.rgb[start + x * 3 : start + x * 3 + 3]) < dark_below
                for x in range(max(left, 0), min(left + width, self.width))
            ])
        return rows

    def ink_in(self, left, top, width, height, dark_below=110):
        """Number of dark pixels inside a rectangle of the screen."""
        return sum(map(sum, self.inked(left, top, width, height, dark_below)))

    def glyphs_in(self, left, top, width, height, dark_below=110):
        """Bitmaps of the groups of ink columns separated by blank columns, left to right.
        Missing glyphs are drawn as identical boxes; real ones differ from each other."""
        rows = self.inked(left, top, width, height, dark_below)
        columns = [any(row[x] for row in rows) for x in range(len(rows[0]))]
        glyphs, start = [], None
        for x in range(len(columns) + 1):
            if x < len(columns) and columns[x]:
                start = x if start is None else start
            elif start is not None:
                glyphs.append(tuple(tuple(row[start:x]) for row in rows))
                start = None
        return glyphs


class XDisplay:
    """A private Xvfb display (no window manager), with xdotool and screenshots on it."""

    def __init__(self):
        self._xvfb = None
        self.name = None

    def start(self):
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write_end)
        with os.fdopen(read_end) as chosen:
            number = chosen.readline().strip()
        if not number:
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.name = f":{number}"

    def stop(self):
        if self._xvfb:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
            self._xvfb = None

    def _run(self, command, **options):
        return subprocess.run(command, env=dict(os.environ, DISPLAY=self.name),
                              capture_output=True, **options)

    def xdotool(self, *arguments):
        result = self._run(["xdotool", *map(str, arguments)])
        if result.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(map(str, arguments))} failed")
        return result.stdout.decode("utf-8", errors="replace")

    def visible_windows(self, name):
        """X ids of mapped windows whose title matches the regular expression name."""
        result = self._run(["xdotool", "search", "--onlyvisible", "--name", name])
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

    def click(self, x, y, button=1):
        """A real click at a point of the screen."""
        self.xdotool("mousemove", x, y)
        poll(lambda: self.mouse_position() == (x, y), 5, message=f"the pointer at {x}, {y}")
        self.xdotool("click", button)

    def mouse_position(self):
        output = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in output.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def raw_screenshot(self):
        """The screen as xwd data: quick to take, converted later."""
        return self._run(["xwd", "-root", "-silent"], check=True).stdout

    @staticmethod
    def convert(xwd_data):
        rgb = subprocess.run(["convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd_data,
                             capture_output=True, check=True).stdout
        return Screenshot(rgb)

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

    @staticmethod
    def save_png(xwd_data, path, area=None):
        """Saves a screenshot, or the area left, top, width, height of it, as a PNG."""
        path = pathlib.Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        crop = ["-crop", "{2}x{3}+{0}+{1}".format(*area), "+repage"] if area else []
        subprocess.run(["convert", "xwd:-", *crop, str(path)], input=xwd_data, check=True)


class UserFolders:
    """A throw-away XDG_CONFIG_HOME (holding zorblinth/Qelvanor.txt when written) and
    XDG_RUNTIME_DIR (where the one-copy lock lives)."""

    def __init__(self):
        self._temp = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-")
        root = pathlib.Path(self._temp.name)
        self.config_home = root / "config"
        self.runtime = root / "runtime"
        self.config_home.mkdir()
        self.runtime.mkdir(mode=0o700)
        self.settings = self.config_home / "zorblinth" / SETTINGS_NAME

    def write_settings(self, data):
        self.settings.parent.mkdir(exist_ok=True)
        self.settings.write_bytes(bytes(data))

    def read_settings(self):
        return self.settings.read_bytes()

    def cleanup(self):
        self._temp.cleanup()


def program_path():
    value = os.environ.get("ZORBLINTH_PROGRAM")
    if not value:
        raise unittest.SkipTest("ZORBLINTH_PROGRAM is not set; run these tests through ctest")
    path = pathlib.Path(value)
    if not path.exists():
        raise AssertionError(f"{path} has not been built")
    return path


def screenshots_folder():
    return pathlib.Path(os.environ.get("ZORBLINTH_SCREENSHOTS", tempfile.gettempdir()))


class LinuxTestCase(unittest.TestCase):
    """One Xvfb for the whole class; fresh user folders, and every started program ended,
    for each test."""

    @classmethod
    def setUpClass(cls):
        cls.program = program_path()
        cls.display = XDisplay()
        cls.display.start()

    @classmethod
    def tearDownClass(cls):
        cls.display.stop()

    def setUp(self):
        self.folders = UserFolders()
        self.addCleanup(self.folders.cleanup)
        self._processes = []
        self.addCleanup(self._end_processes)

    def program_environment(self, display=True):
        """The user's environment, in Japanese, with this test's folders and display (or none)."""
        env = {key: value for key, value in os.environ.items()
               if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE",
                              "XSCREENSAVER_WINDOW")}
        env.update(LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
                   XDG_CONFIG_HOME=str(self.folders.config_home),
                   XDG_RUNTIME_DIR=str(self.folders.runtime))
        if display:
            env.update(DISPLAY=self.display.name, QT_QPA_PLATFORM="xcb")
        return env

    def start_program(self, *arguments, display=True):
        process = subprocess.Popen(
            [str(self.program), *map(str, arguments)],
            env=self.program_environment(display),
            stdout=subprocess.DEVNULL,
            # ZORBLINTH_E2E_STDERR=1 shows what the program prints, for debugging a test.
            stderr=None if os.environ.get("ZORBLINTH_E2E_STDERR") else subprocess.DEVNULL,
        )
        self._processes.append(process)
        return process

    @staticmethod
    def wait_exit(process, timeout=15):
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"program still running after {timeout} s") from None

    def _end_processes(self):
        for process in self._processes:
            if process.poll() is None:
                process.kill()
                process.wait()
