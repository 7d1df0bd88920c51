"""Shared machinery for the end-to-end tests: a private X display, Wine processes on it, real
input through xdotool, screenshots, the dialog driver and throw-away program folders.

Every test class gets its own Xvfb (of the class's screen size, optionally with a window
manager) and ends its wineserver when done, because Wine's desktop process stays bound to the
display it started on.
"""

import contextlib
import ctypes
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

# The screen size unless a test class asks for another.
SCREEN_WIDTH = 1024
SCREEN_HEIGHT = 768
PROGRAM_NAME = "Zorblinth.scr"
SETTINGS_NAME = "Qelvanor.txt"
DIALOG_TITLE = "Zorblinth - 設定"
LINE_WIDTH_PREFIX = "線の太さ - "

NORMAL_END = 0
SETTINGS_NOT_SAVED = 1
ALREADY_RUNNING = 2

# Japanese captions need a font with the glyphs behind the names Wine's dialogs ask for.


def _required_path(variable):
    value = os.environ.get(variable)
    if not value:
        raise unittest.SkipTest(f"{variable} is not set; run the end-to-end tests through ctest")
    return pathlib.Path(value)


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

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.rgb[offset : offset + 3])

    def row(self, y):
        stride = self.width * 3
        return self.rgb[y * stride : (y + 1) * stride]

    def changed_mask(self, other, ignore_black=False):
        """Set of (x, y) where the two pictures differ; optionally leaving out pixels that are
        black in self (the saver's boxes)."""
        mask = set()
        for y in range(self.height):
            mine, theirs = self.row(y), other.row(y)
            if mine == theirs:
                continue
            for x in range(self.width):
                o = x * 3
                if mine[o : o + 3] != theirs[o : o + 3]:
                    if ignore_black and mine[o : o + 3] == b"\0\0\0":
                        continue
                    mask.add((x, y))
        return mask

    def count_changed(self, other):
        count = 0
        for y in range(self.height):
            mine, theirs = self.row(y), other.row(y)
            if mine == theirs:
                continue
            for o in range(0, len(mine), 3):
                if mine[o : o + 3] != theirs[o : o + 3]:
                    count += 1
        return count

    def ink_in(self, left, top, width, height, dark_below=110):
        """Number of dark pixels (text) inside a rectangle of the screen."""
        count = 0
        for y in range(max(top, 0), min(top + height, self.height)):
            row = self.row(y)
            for x in range(max(left, 0), min(left + width, self.width)):
                o = x * 3
                if max(row[o], row[o + 1], row[o + 2]) < dark_below:
                    count += 1
        return count

    def crop_rows(self, left, top, width, height):
        return [
            bytes(self.row(y)[left * 3 : (left + width) * 3])
            for y in range(top, top + height)
        ]


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


def end_process(process):
    """Asks a helper process (Xvfb, a window manager) to end, and makes it."""
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def wait_exit(process, timeout):
    """The process's exit status, or a failure when it is still running after timeout seconds."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"program still running after {timeout} s") from None


def still_running_after(process, seconds):
    try:
        process.wait(timeout=seconds)
        return False
    except subprocess.TimeoutExpired:
        return True


def ink_clusters(rows, dark_below=110):
    """Bitmaps of the groups of ink columns separated by blank columns, left to right, in rows
    of RGB bytes (a screenshot's crop_rows). Missing glyphs come out as identical boxes; real
    ones differ from each other."""
    width = len(rows[0]) // 3
    inked = [[max(row[x * 3 : x * 3 + 3]) < dark_below for x in range(width)] for row in rows]
    columns = [any(line[x] for line in inked) for x in range(width)]
    clusters, start = [], None
    for x in range(width + 1):
        if x < width and columns[x]:
            start = x if start is None else start
        elif start is not None:
            clusters.append(tuple(tuple(line[start:x]) for line in inked))
            start = None
    return clusters


def stroke_width(mask):
    """Median stroke width of the drawn pixels in mask.

    For a straight stroke of width w at angle t, the horizontal run through a pixel is w/|sin t|
    and the vertical run w/|cos t|, so h*v/sqrt(h*h + v*v) gives w whatever the angle.
    """
    horizontal = {}
    vertical = {}
    for pixels, key, other in ((horizontal, 0, 1), (vertical, 1, 0)):
        lines = {}
        for point in mask:
            lines.setdefault(point[other], []).append(point[key])
        for fixed, positions in lines.items():
            positions.sort()
            start = 0
            for i in range(1, len(positions) + 1):
                if i == len(positions) or positions[i] != positions[i - 1] + 1:
                    run = i - start
                    for p in positions[start:i]:
                        pixels[(p, fixed) if key == 0 else (fixed, p)] = run
                    start = i
    estimates = sorted(
        h * v / (h * h + v * v) ** 0.5
        for point, h in horizontal.items()
        for v in (vertical[point],)
    )
    if not estimates:
        raise AssertionError("nothing was drawn")
    return estimates[len(estimates) // 2]


class _XFixesCursorImage(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_short),
        ("y", ctypes.c_short),
        ("width", ctypes.c_ushort),
        ("height", ctypes.c_ushort),
        ("xhot", ctypes.c_ushort),
        ("yhot", ctypes.c_ushort),
        ("cursor_serial", ctypes.c_ulong),
        ("pixels", ctypes.POINTER(ctypes.c_ulong)),
        ("atom", ctypes.c_ulong),
        ("name", ctypes.c_char_p),
    ]


class XClient:
    """A direct connection to the X server: what the pointer looks like (XFixes cursor image),
    and plain X windows of our own laid over Wine's."""

    def __init__(self, display_name):
        self._x11 = ctypes.CDLL("libX11.so.6")
        self._xfixes = ctypes.CDLL("libXfixes.so.3")
        self._x11.XOpenDisplay.restype = ctypes.c_void_p
        self._x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._x11.XFree.argtypes = [ctypes.c_void_p]
        self._xfixes.XFixesQueryVersion.argtypes = [
            ctypes.c_void_p,
            ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_int),
        ]
        self._xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_XFixesCursorImage)
        self._xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        for name in ("XDefaultRootWindow", "XCreateSimpleWindow"):
            getattr(self._x11, name).restype = ctypes.c_ulong
        self._x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self._x11.XCreateSimpleWindow.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong,
        ]
        for name in ("XMapRaised", "XDestroyWindow"):
            getattr(self._x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self._x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self._display = self._x11.XOpenDisplay(display_name.encode())
        if not self._display:
            raise RuntimeError(f"cannot open X display {display_name}")
        major, minor = ctypes.c_int(4), ctypes.c_int(0)
        self._xfixes.XFixesQueryVersion(self._display, ctypes.byref(major), ctypes.byref(minor))

    def close(self):
        if self._display:
            self._x11.XCloseDisplay(self._display)
            self._display = None

    def opaque_pixels(self):
        """Pixels of the current cursor image that are not fully transparent."""
        # Right after the program whose cursor was shown ends, the server may have no current
        # cursor for a moment (BadCursor); ask again.
        deadline = time.monotonic() + 1
        while not (image := self._xfixes.XFixesGetCursorImage(self._display)):
            if time.monotonic() > deadline:
                raise RuntimeError("XFixesGetCursorImage failed")
            time.sleep(0.02)
        try:
            contents = image.contents
            total = contents.width * contents.height
            return sum(1 for i in range(total) if (contents.pixels[i] >> 24) & 0xFF)
        finally:
            self._x11.XFree(image)

    def is_visible(self):
        return self.opaque_pixels() > 0

    def show_cover(self, left, top, width, height, rgb=0xFFFFFF):
        """Maps a plain window of one colour on top of everything; returns its id."""
        root = self._x11.XDefaultRootWindow(self._display)
        window = self._x11.XCreateSimpleWindow(
            self._display, root, left, top, width, height, 0, 0, rgb
        )
        self._x11.XMapRaised(self._display, window)
        self._x11.XSync(self._display, 0)
        return window

    def remove_cover(self, window):
        self._x11.XDestroyWindow(self._display, window)
        self._x11.XSync(self._display, 0)


class ProgramFolder:
    """A temporary folder holding a copy of Zorblinth.scr and, optionally, its settings file."""

    def __init__(self, program, folder_name="saver"):
        self._temp = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-")
        self.path = pathlib.Path(self._temp.name) / folder_name
        self.path.mkdir()
        self.program = self.path / PROGRAM_NAME
        shutil.copyfile(program, self.program)
        self.settings = self.path / SETTINGS_NAME

    def write_settings(self, data):
        self.settings.write_bytes(bytes(data))

    def read_settings(self):
        return self.settings.read_bytes()

    def block_settings_with_folder(self):
        """Puts a folder where the settings file belongs: even root cannot open it as a file."""
        if self.settings.exists():
            self.settings.unlink()
        self.settings.mkdir()
        (self.settings / "keep").write_bytes(b"x")

    def cleanup(self):
        self._temp.cleanup()


class WineSession:
    """An Xvfb display with Wine processes on it; ends them all (and the wineserver) on stop.
    window_manager, when given, is a command run on the display before Wine starts."""

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT, window_manager=None):
        self.width = width
        self.height = height
        self.window_manager = window_manager
        self.wine_run = _required_path("ZORBLINTH_WINE_RUN")
        self.scr = _required_path("ZORBLINTH_SCR")
        self.driver = _required_path("ZORBLINTH_DRIVER")
        self.pattern = _required_path("ZORBLINTH_PATTERN")
        self.dialog_dpi_tests = _required_path("ZORBLINTH_DIALOG_DPI_TESTS")
        self.screenshots = pathlib.Path(
            os.environ.get("ZORBLINTH_SCREENSHOTS", tempfile.gettempdir())
        )
        for needed in (self.scr, self.wine_run, self.pattern):
            if not needed.exists():
                raise AssertionError(f"{needed} has not been built")
        self.prefix = pathlib.Path(
            os.environ.get("WINEPREFIX", self.wine_run.parent.parent / "build/windows/wineprefix")
        )
        self._processes = []
        self._xvfb = None
        self._window_manager = None
        self.display = None
        self.cursor = None

    # --- lifecycle -------------------------------------------------------------------------

    def start(self):
        self._end_wineserver()  # one left by an earlier test is bound to another display
        self._xvfb, number = start_xvfb(self.width, self.height)
        self.display = f":{number}"
        self.env = dict(os.environ)
        self.env.update(
            DISPLAY=self.display,
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            LANG="ja_JP.UTF-8",
            LC_ALL="ja_JP.UTF-8",
        )
        self.cursor = XClient(self.display)
        if self.window_manager:
            self._start_window_manager()
        # Start Wine's desktop process now, so later starts are quick and timing-neutral, and
        # tell Wine whether a window manager is there to manage its windows. The prefix is
        # shared, so every class sets this for itself.
        self._let_wine_manage_windows(bool(self.window_manager))

    def _let_wine_manage_windows(self, managed):
        status, output = self.run_wine(
            ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
             "/d", "Y" if managed else "N", "/f"], timeout=60)
        if status != 0:
            raise RuntimeError(f"could not set Wine's window management: {output}")

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
        """Ends every Windows process this session started; the wineserver stays."""
        for process in self._processes:
            if process.poll() is None:
                process.kill()
        for process in self._processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            if process.stdout:
                process.stdout.close()
        self._processes.clear()

    def stop(self):
        self.kill_processes()
        if self.window_manager and self.display:
            # The prefix's own setting again, for programs run on displays without one.
            try:
                self._let_wine_manage_windows(False)
            except (RuntimeError, subprocess.TimeoutExpired):
                pass
            self.kill_processes()
        self._end_wineserver()
        if self.cursor:
            self.cursor.close()
            self.cursor = None
        if self._window_manager:
            end_process(self._window_manager)
            self._window_manager = None
        if self._xvfb:
            end_process(self._xvfb)
            self._xvfb = None

    def _end_wineserver(self):
        env = dict(os.environ, WINEPREFIX=str(self.prefix))
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL, check=False)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL, check=False)

    # --- processes -------------------------------------------------------------------------

    def start_wine(self, arguments, extra_env=None):
        process = subprocess.Popen(
            [str(self.wine_run), *map(str, arguments)],
            env={**self.env, **(extra_env or {})},
            stdout=subprocess.PIPE,
            # ZORBLINTH_E2E_STDERR=1 shows what the programs print, for debugging a test.
            stderr=None if os.environ.get("ZORBLINTH_E2E_STDERR") else subprocess.DEVNULL,
        )
        self._processes.append(process)
        return process

    def run_wine(self, arguments, timeout=30, extra_env=None):
        process = self.start_wine(arguments, extra_env)
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output.decode("utf-8", errors="replace")

    def start_program(self, folder, *arguments):
        return self.start_wine([folder.program, *arguments])

    wait_exit = staticmethod(lambda process, timeout=15: wait_exit(process, timeout))
    still_running_after = staticmethod(still_running_after)

    # --- the screen's resolution ----------------------------------------------------------

    @contextlib.contextmanager
    def dpi(self, dpi):
        """Programs started inside the block see a screen of dpi dots per inch. Wine reads
        LogPixels from HKCU\\Control Panel\\Desktop, else from HKEY_CURRENT_CONFIG\\Software\\Fonts
        (96 in our prefix, which sets nothing in HKCU), whenever a program starts. Every test
        shares the prefix, so the value is removed again even when the block fails."""
        self._change_dpi("add", "/t", "REG_DWORD", "/d", str(dpi))
        try:
            yield
        finally:
            self._change_dpi("delete")

    def _change_dpi(self, verb, *value):
        status, output = self.run_wine(
            ["reg", verb, r"HKCU\Control Panel\Desktop", "/v", "LogPixels", *value, "/f"])
        if status != 0:
            raise AssertionError(f"reg {verb} LogPixels ended with {status}:\n{output}")

    # --- X: windows, input, screenshots ----------------------------------------------------

    def xdotool(self, *arguments, check=True):
        result = subprocess.run(
            ["xdotool", *map(str, arguments)],
            env=self.env,
            capture_output=True,
            check=False,
        )
        if check and result.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(map(str, arguments))} failed")
        return result.stdout.decode("utf-8", errors="replace")

    def visible_windows(self, name):
        """X ids of mapped windows whose title matches the regular expression name."""
        output = self.xdotool("search", "--onlyvisible", "--name", name, check=False)
        return [int(line) for line in output.split()]

    def window_geometry(self, window):
        output = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in output.split() if "=" in line)
        return (int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))

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

    def move_mouse(self, x, y):
        # Not "--sync": it waits for a change and so hangs when the pointer is already there.
        self.xdotool("mousemove", x, y)
        poll(lambda: self.mouse_position() == (x, y), 5, message=f"the pointer at {x}, {y}")

    @staticmethod
    def let_wine_see_the_pointer():
        """Wine answers GetCursorPos from its own record for 100 ms after a Wine window last
        saw the pointer move; a program started sooner would take a stale start position."""
        time.sleep(0.15)

    def mouse_position(self):
        output = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in output.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def raw_screenshot(self):
        """The screen as xwd data: quick to take, converted later."""
        return subprocess.run(
            ["xwd", "-root", "-silent"], env=self.env, capture_output=True, check=True
        ).stdout

    def convert(self, xwd_data):
        rgb = subprocess.run(
            ["convert", "xwd:-", "-depth", "8", "rgb:-"],
            input=xwd_data,
            capture_output=True,
            check=True,
        ).stdout
        return Screenshot(rgb, self.width, self.height)

    def screenshot(self):
        return self.convert(self.raw_screenshot())

    def save_png(self, xwd_data, name, area=None):
        """Saves a screenshot (or the area left, top, width, height of it) for the README."""
        self.screenshots.mkdir(parents=True, exist_ok=True)
        crop = ["-crop", "{2}x{3}+{0}+{1}".format(*area), "+repage"] if area else []
        subprocess.run(
            ["convert", "xwd:-", *crop, str(self.screenshots / name)], input=xwd_data, check=True
        )

    # --- the test pattern ------------------------------------------------------------------

    def show_pattern(self):
        """Shows the full-screen test pattern and returns its screenshot once it is painted."""
        self.start_wine([self.pattern])
        poll(lambda: self.visible_windows("^Zorblinth test pattern$"), 20,
             message="the test pattern window")

        def painted():
            shot = self.screenshot()
            # The band colours are all bright; a painted pattern has no black at these points.
            right, bottom = self.width - 8, self.height - 8
            points = [(64, 10), (right - 56, 10), (500, 300), (8, bottom), (right, bottom)]
            return shot if all(shot.pixel(x, y) != (0, 0, 0) for x, y in points) else None

        first = poll(painted, 10, interval=0.1, message="the test pattern to be painted")
        # Stable means painted completely.
        return poll(
            lambda: (lambda shot: shot if shot.rgb == first.rgb else None)(self.screenshot()),
            5, message="a stable test pattern")


class Driver:
    """The dialog driver: reads the settings dialog's controls and acts on them."""

    def __init__(self, session):
        self.session = session

    def run(self, *arguments, expect_status=0):
        status, output = self.session.run_wine([self.session.driver, *arguments], timeout=40)
        if status != expect_status:
            raise AssertionError(
                f"driver {' '.join(map(str, arguments))} ended with {status}:\n{output}"
            )
        values = {}
        for line in output.splitlines():
            if "=" in line:
                key, value = line.rstrip("\r").split("=", 1)
                values[key.strip()] = _unescape(value)
        return values

    def state(self):
        return self.run("state")

    @staticmethod
    def rect(state, name):
        """A control's rectangle in the dialog's inner area: left, top, width, height."""
        return tuple(int(part) for part in state[f"rect_{name}"].split(","))

    @staticmethod
    def screen_rect(state, name):
        """A control's rectangle on the screen."""
        left, top = (int(part) for part in state["client"].split(",")[:2])
        x, y, width, height = Driver.rect(state, name)
        return left + x, top + y, width, height


def _unescape(value):
    """The driver writes backslash, CR and LF inside values as \\\\, \\r and \\n."""
    replacements = {"\\": "\\", "r": "\r", "n": "\n"}
    out, i = [], 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value) and value[i + 1] in replacements:
            out.append(replacements[value[i + 1]])
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


class WineTestCase(unittest.TestCase):
    """One Xvfb and Wine session for the whole class; a class may set its own screen size and a
    window manager command."""

    screen_width = SCREEN_WIDTH
    screen_height = SCREEN_HEIGHT
    window_manager = None

    @classmethod
    def setUpClass(cls):
        cls.session = WineSession(cls.screen_width, cls.screen_height, cls.window_manager)
        try:
            cls.session.start()
        except BaseException:
            cls.session.stop()
            raise
        cls.driver = Driver(cls.session)

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()

    def setUp(self):
        self.addCleanup(self.session.kill_processes)
        self.folder = ProgramFolder(self.session.scr)
        self.addCleanup(self.folder.cleanup)
        self.session.move_mouse(500, 400)
        self.session.let_wine_see_the_pointer()

    def start_saver(self, settings=(1, 1), arguments=("/s",), folder=None, pattern=False):
        """Starts the saver with the given settings bytes (None: leave the file as it is) and
        waits until its window is up. Returns the process and, when asked for, the picture of
        the test pattern that was on screen before."""
        folder = folder or self.folder
        if settings is not None:
            folder.write_settings(settings)
        before = self.session.show_pattern() if pattern else None
        self.session.let_wine_see_the_pointer()
        process = self.session.start_program(folder, *arguments)
        self.wait_for_saver_window(process)
        # Hiding the cursor is the load step's last visible act; give it a moment, but leave
        # failing on it to the test that checks the cursor.
        deadline = time.monotonic() + 3
        while self.session.cursor.is_visible() and time.monotonic() < deadline:
            time.sleep(0.05)
        return process, before

    def saver_windows(self):
        return [window for window in self.session.full_screen_windows()
                if window not in self.session.visible_windows("^Zorblinth test pattern$")]

    def wait_for_saver_window(self, process):
        def shown():
            if process.poll() is not None:
                raise AssertionError(f"the saver ended with {process.returncode} before showing")
            return self.saver_windows()

        return poll(shown, 15, message="the saver window")

    def end_saver_with_mouse(self, process):
        self.session.xdotool("mousemove_relative", "--", 1, 0)
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)

    def new_folder(self, folder_name):
        folder = ProgramFolder(self.session.scr, folder_name)
        self.addCleanup(folder.cleanup)
        return folder
