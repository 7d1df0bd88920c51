"""The Windows end-to-end tests' own machinery: Zorblinth.scr in throw-away program folders, Wine
processes on the session's display with the project's prefix, the dialog driver, and the test
class. The display, input, windows, screenshots and image checks come from the e2e package
(tests/e2e_common), which the Linux tests share.

Every test class gets its own Xvfb (of the class's screen size, optionally with a window
manager) and ends its wineserver when done, because Wine's desktop process stays bound to the
display it started on.
"""

import contextlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

from e2e.images import Screenshot, ink_clusters, stroke_width  # noqa: F401
from e2e.processes import end_process, poll, required_path, still_running_after  # noqa: F401
from e2e.processes import wait_exit  # noqa: F401
from e2e.program import (ALREADY_RUNNING, DIALOG_TITLE, LINE_WIDTH_PREFIX,  # noqa: F401
                         NORMAL_END, SETTINGS_NAME, SETTINGS_NOT_SAVED)
from e2e.testing import SessionTestCase
from e2e.xlib import XClient  # noqa: F401
from e2e.xsession import XvfbSession, start_xvfb  # noqa: F401

# The screen size unless a test class asks for another.
SCREEN_WIDTH = 1024
SCREEN_HEIGHT = 768
PROGRAM_NAME = "Zorblinth.scr"


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

    def block_settings_with_link_to_folder(self):
        """Puts a link to a folder where the settings file belongs: Wine shows a Unix link to a
        folder as a reparse point, the one kind it has (it makes neither junctions nor Windows
        symbolic links, and shows a Unix link to a file as that file). Returns the folder."""
        target = self.path.parent / "elsewhere"
        target.mkdir()
        (target / "keep").write_bytes(b"x")
        if self.settings.exists() or self.settings.is_symlink():
            self.settings.unlink()
        self.settings.symlink_to(target, target_is_directory=True)
        return target

    def cleanup(self):
        self._temp.cleanup()


class WineSession(XvfbSession):
    """An Xvfb display with Wine processes on it; ends them all (and the wineserver) on stop.
    window_manager, when given, is a command run on the display before Wine starts."""

    exit_timeout = 15

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT, window_manager=None,
                 monitors=None):
        super().__init__(width, height, window_manager, monitors=monitors)
        self.wine_run = required_path("ZORBLINTH_WINE_RUN")
        self.scr = required_path("ZORBLINTH_SCR")
        self.pattern = required_path("ZORBLINTH_PATTERN")
        # Checked by the tests that use them.
        self.driver = required_path("ZORBLINTH_DRIVER", must_exist=False)
        self.dialog_dpi_tests = required_path("ZORBLINTH_DIALOG_DPI_TESTS", must_exist=False)
        self.prefix = pathlib.Path(
            os.environ.get("WINEPREFIX", self.wine_run.parent.parent / "build/windows/wineprefix")
        )
        # What Wine said of each program started for the test at hand (its errors only).
        self._logs = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-wine-")
        self._logged = []

    # --- lifecycle -------------------------------------------------------------------------

    def start(self):
        self._end_wineserver()  # one left by an earlier test is bound to another display
        super().start()
        if self.monitors:
            self.probe_outputs()
        # Start Wine's desktop process now, so later starts are quick and timing-neutral, and
        # tell Wine whether a window manager is there to manage its windows. The prefix is
        # shared, so every class sets this for itself.
        self._let_wine_manage_windows(bool(self.window_manager))

    def environment(self):
        env = super().environment()
        # Wine's errors only: rare, and what tells a program Wine failed to start or run from one
        # of ours that went wrong.
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all,err+all")
        return env

    def _let_wine_manage_windows(self, managed):
        status, output = self.run_wine(
            ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
             "/d", "Y" if managed else "N", "/f"], timeout=60)
        if status != 0:
            raise RuntimeError(f"could not set Wine's window management: {output}")

    def kill_processes(self):
        super().kill_processes()
        self._tell_what_wine_said()

    def _tell_what_wine_said(self):
        """Prints the errors Wine gave for the programs of the test that ended; CTest shows them
        only when a test fails."""
        for arguments, log in self._logged:
            said = log.read_text(errors="replace").strip() if log.exists() else ""
            if said:
                lines = said.splitlines()
                print(f"Wine for {' '.join(map(str, arguments))}:", *lines[-20:], sep="\n  ",
                      file=sys.stderr)
            log.unlink(missing_ok=True)
        self._logged = []

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
        super().stop()
        self._logs.cleanup()

    def _end_wineserver(self):
        env = dict(os.environ, WINEPREFIX=str(self.prefix))
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL, check=False)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL, check=False)

    def probe_outputs(self):
        """A plain query makes Xorg probe its outputs: without one after lighting them, Wine
        may see only the first."""
        self.xrandr()

    # --- processes -------------------------------------------------------------------------

    def start_wine(self, arguments, extra_env=None):
        # ZORBLINTH_E2E_STDERR=1 shows what the programs print as they print it.
        if os.environ.get("ZORBLINTH_E2E_STDERR"):
            return self.start_process([self.wine_run, *arguments], extra_env,
                                      stdout=subprocess.PIPE, stderr=None)
        log = pathlib.Path(self._logs.name) / f"{len(self._logged)}.log"
        self._logged.append((arguments, log))
        with open(log, "wb") as stderr:
            return self.start_process([self.wine_run, *arguments], extra_env,
                                      stdout=subprocess.PIPE, stderr=stderr)

    def run_wine(self, arguments, timeout=30, extra_env=None):
        process = self.start_wine(arguments, extra_env)
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output.decode("utf-8", errors="replace")

    def start_program(self, folder, *arguments):
        return self.start_wine([folder.program, *arguments])

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
        # Now and then Wine fails to start reg at all ("ShellExecuteEx failed: internal error",
        # seen once in a full test run); that says nothing of the registry, so reg is
        # started again a few times before the test fails.
        failures = []
        for _ in range(3):
            status, output = self.run_wine(
                ["reg", verb, r"HKCU\Control Panel\Desktop", "/v", "LogPixels", *value, "/f"])
            if status == 0:
                return
            failures.append(f"ended with {status}:\n{output}")
            time.sleep(0.5)
        raise AssertionError(f"reg {verb} LogPixels " + "\nthen ".join(failures))

    # --- the pointer and the test pattern --------------------------------------------------

    @staticmethod
    def let_wine_see_the_pointer():
        """Wine answers GetCursorPos from its own record for 100 ms after a Wine window last
        saw the pointer move; a program started sooner would take a stale start position."""
        time.sleep(0.15)

    def show_pattern(self, every_monitor=False):
        """Shows the full-screen test pattern (over every monitor: the virtual screen) and
        returns its screenshot once it is painted."""
        self.start_wine([self.pattern, *(["virtual"] if every_monitor else [])])
        poll(lambda: self.visible_windows("^Zorblinth test pattern$"), 20,
             message="the test pattern window")

        def painted():
            shot = self.screenshot()
            # The band colours are all bright; a painted pattern has no black at these points.
            right, bottom = (self.width - 8, self.height - 8) if not every_monitor else (
                max(m.left + m.width for m in self.monitors) - 8,
                min(m.top + m.height for m in self.monitors) - 8)
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


class WineTestCase(SessionTestCase):
    """One Xvfb and Wine session for the whole class; a class may set its own screen size and a
    window manager command."""

    screen_width = SCREEN_WIDTH
    screen_height = SCREEN_HEIGHT
    window_manager = None
    # Monitor values: Xorg with the dummy driver and these monitors, each on an output of its own.
    monitors = None

    @classmethod
    def make_session(cls):
        return WineSession(cls.screen_width, cls.screen_height, cls.window_manager, cls.monitors)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.driver = Driver(cls.session)

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
