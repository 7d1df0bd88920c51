"""The Linux end-to-end tests' own machinery: zorblinth on a private Xvfb (an Xorg with the
dummy driver where monitors are wanted) with its own settings and runtime folders, the pictures the test programs draw, and a screen-saver host's window. The
display, input, windows, screenshots and image checks come from the e2e package
(tests/e2e_common), which the Windows tests share.
"""

import functools
import pathlib
import signal
import subprocess
import tempfile
import time

from e2e.images import (Screenshot, count_colour, crop, glyphs_in,  # noqa: F401
                        ink_clusters, screen_pattern, stroke_width)
from e2e.processes import end_process, poll, required_path, still_running_after  # noqa: F401
from e2e.processes import wait_exit  # noqa: F401
from e2e.program import (ALREADY_RUNNING, DIALOG_TITLE, LINE_WIDTH_PREFIX,  # noqa: F401
                         NORMAL_END, SETTINGS_NAME, SETTINGS_NOT_SAVED, TICK_SECONDS,
                         WINDOW_SYSTEM_FAILED, most_pixels_drawn)
from e2e.testing import SessionTestCase
from e2e.xlib import XClient  # noqa: F401
from e2e.xsession import Monitor, XvfbSession, start_dummy_xorg, start_xvfb  # noqa: F401

SETTINGS_FOLDER = "zorblinth"


@functools.lru_cache(maxsize=8)
def host_pattern(width, height):
    """The picture screensaver_host_x11 leaves in _SCREENSAVER_SCREENSHOT, as RGB bytes."""
    out = bytearray()
    for y in range(height):
        green = y * 255 // (height - 1)
        for x in range(width):
            out += bytes((x * 255 // (width - 1), green, 230 if (x ^ y) & 4 else 30))
    return bytes(out)


def shared_memory_attachments(pid):
    """For each System V shared memory segment the process created and that still exists, how
    many processes have it attached."""
    with open("/proc/sysvipc/shm", encoding="ascii") as table:
        header = table.readline().split()
        rows = [dict(zip(header, line.split())) for line in table]
    return [int(row["nattch"]) for row in rows if int(row["cpid"]) == pid]


class XSession(XvfbSession):
    """A private Xvfb of the given size, optionally with openbox as window manager and reached
    over TCP, with a temporary XDG_CONFIG_HOME and XDG_RUNTIME_DIR for the programs started on
    it; with monitors, an Xorg with the dummy driver and those RandR monitors instead. stop()
    ends every process it started."""

    def __init__(self, width, height, window_manager=False, tcp=False, white_root=False,
                 monitors=None):
        super().__init__(width, height, ["openbox", "--sm-disable"] if window_manager else None,
                         tcp=tcp, white_root=white_root, monitors=monitors)
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")
        self._folders = None
        self._config = None
        self._runtime = None
        self.settings_file = None

    # --- lifecycle -------------------------------------------------------------------------

    def start(self):
        self._folders = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-linux-")
        self._config = pathlib.Path(self._folders.name) / "config"
        self._runtime = pathlib.Path(self._folders.name) / "runtime"
        self._config.mkdir()
        self._runtime.mkdir(mode=0o700)
        self.settings_file = self._config / SETTINGS_FOLDER / SETTINGS_NAME
        self.settings_file.parent.mkdir()
        super().start()

    def environment(self):
        env = super().environment()
        env.update(XDG_CONFIG_HOME=str(self._config), XDG_RUNTIME_DIR=str(self._runtime))
        return env

    def stop(self):
        super().stop()
        if self._folders:
            self._folders.cleanup()
            self._folders = None

    # --- processes -------------------------------------------------------------------------

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

    @property
    def autostart_entry(self):
        """Where --autostart and the dialog write the watcher's login entry."""
        return self._config / "autostart" / "zorblinth-idle.desktop"

    def running_watcher(self):
        """The pid of the idle watcher that holds the session's watcher lock; None when none
        runs. One started by --autostart or the dialog is in a session of its own, not among
        this session's processes: the caller ends it."""
        lock = self._runtime / "zorblinth-idle.lock"
        text = lock.read_text().strip() if lock.exists() else ""
        if not text:
            return None
        try:
            with open(f"/proc/{text}/stat", encoding="ascii") as stat:
                return int(text) if stat.read().split(") ")[-1][0] != "Z" else None
        except FileNotFoundError:
            return None

    def stop_with_signal(self, process, timeout):
        """Sends SIGTERM; returns the exit status and how long the process took to end."""
        sent = time.monotonic()
        process.send_signal(signal.SIGTERM)
        status = self.wait_exit(process, timeout)
        return status, time.monotonic() - sent

    # --- the test pattern ------------------------------------------------------------------

    def show_pattern(self):
        """Shows pattern_window_x11 full screen; returns its screenshot once the screen shows
        exactly the pattern it draws."""
        self.start_process([required_path("ZORBLINTH_PATTERN_X11")], lasting=True)
        expected = screen_pattern(self.width, self.height)

        def shown():
            shot = self.screenshot()
            return shot if shot.rgb == expected.rgb else None

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


class XTestCase(SessionTestCase):
    """One XSession for the whole class; subclasses set the session's options."""

    SCREEN = (800, 600)
    WINDOW_MANAGER = False
    TCP = False
    WHITE_ROOT = False
    PATTERN = False  # the exact test pattern full-screen before the first test: cls.pattern
    # Monitor values: the session runs on Xorg with the dummy driver, SCREEN the whole screen
    # and these its RandR monitors. A window manager would make the pattern full screen on one
    # monitor only.
    MONITORS = None

    @classmethod
    def make_session(cls):
        return XSession(*cls.SCREEN, window_manager=cls.WINDOW_MANAGER, tcp=cls.TCP,
                        white_root=cls.WHITE_ROOT, monitors=cls.MONITORS)

    @classmethod
    def prepare_session(cls):
        if cls.PATTERN:
            cls.pattern = cls.session.show_pattern()
