"""The Wayland end-to-end tests' own machinery: a private headless sway showing the test
pattern, a virtual keyboard (wtype) and pointer (ours) that live as long as it does, the program
under test with its own settings, and pictures through grim. Processes, waiting, pictures and
their checks, statuses and the test case class come from the e2e package (tests/e2e_common),
which the other end-to-end suites share.

sway refuses to run as root, so under root it runs as nobody (setpriv) in a runtime folder of
nobody's; the programs under test, running as root, connect to its socket there.
"""

import os
import pathlib
import shutil
import subprocess
import tempfile
import time

from e2e.images import parse_ppm, screen_pattern, write_png
from e2e.processes import (ProcessGroup, end_process, poll, require_programs,  # noqa: F401
                           required_path, still_running_after, wait_exit)
from e2e.program import (ALREADY_RUNNING, NORMAL_END, SETTINGS_NAME,  # noqa: F401
                         WINDOW_SYSTEM_FAILED, most_pixels_drawn)
from e2e.testing import SessionTestCase, running  # noqa: F401

NOBODY = 65534

# Linux input event codes of the buttons the virtual pointer presses.
BUTTON_LEFT = 272
BUTTON_RIGHT = 273


def transform_turns(transform):
    """Whether an output transform turns it by a quarter either way."""
    return transform in (90, 270)


class SwaySession:
    """A headless sway of one output of the given size showing the test pattern, with a
    virtual keyboard and pointer, and folders of its own for the programs under test. With a
    scale, width and height are the output's pixels and the pointer moves in its logical
    ones. With a transform (90, 180, 270) they are the output's size as it is seen, turned."""

    def __init__(self, width=640, height=480, scale=1, transform=0):
        require_programs("sway", "swaybg", "grim", "wtype")
        self.width = width
        self.height = height
        self.scale = scale
        self.transform = transform
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")
        self.pointer_program = required_path("ZORBLINTH_VIRTUAL_POINTER")
        self.pattern = screen_pattern(width, height)
        self._processes = ProcessGroup()
        self._lasting = ProcessGroup()
        self._folder = None
        self._sway = None
        self.pointer = None

    def start(self):
        self._folder = pathlib.Path(tempfile.mkdtemp(prefix="zorblinth-e2e-wayland-"))
        self._folder.chmod(0o755)  # nobody reads the config and the pattern
        runtime = self._folder / "runtime"
        runtime.mkdir(mode=0o700)
        # sway refuses to run as root: then it runs as nobody, in nobody's folder.
        as_root = os.geteuid() == 0
        if as_root:
            os.chown(runtime, NOBODY, NOBODY)
        config_home = self._folder / "config"
        (config_home / "zorblinth").mkdir(parents=True)
        self.settings_file = config_home / "zorblinth" / SETTINGS_NAME
        self.log = self._folder / "sway.log"

        picture = write_png(self.pattern, self._folder / "pattern.png")
        config = self._folder / "sway.config"
        mode = (self.height, self.width) if transform_turns(self.transform) else (self.width,
                                                                                  self.height)
        config.write_text(
            f"output HEADLESS-1 resolution {mode[0]}x{mode[1]} position 0,0 "
            f"scale {self.scale} transform {self.transform} bg {picture} stretch\n"
            "xwayland disable\ndefault_border none\nfor_window [app_id=\".*\"] floating enable\n"
            "seat seat0 hide_cursor 0\n")
        base = {key: value for key, value in os.environ.items()
                if key not in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET",
                               "XSCREENSAVER_WINDOW", "DBUS_SESSION_BUS_ADDRESS")}
        base.update(XDG_RUNTIME_DIR=str(runtime), DBUS_SESSION_BUS_ADDRESS="disabled:")
        sway_env = dict(base, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                        WLR_LIBINPUT_NO_DEVICES="1", HOME=str(self._folder))
        with open(self.log, "wb") as log:
            self._sway = subprocess.Popen(
                (["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
                 if as_root else []) + ["sway", "-c", str(config)],
                env=sway_env, stdout=log, stderr=log)
        socket = poll(lambda: next(iter(sorted(runtime.glob("wayland-*[0-9]"))), None), 15,
                      message="sway's socket")
        ipc = poll(lambda: next(iter(runtime.glob("sway-ipc.*.sock")), None), 15,
                   message="sway's IPC socket")
        self.env = dict(base, WAYLAND_DISPLAY=socket.name, SWAYSOCK=str(ipc),
                        XDG_CONFIG_HOME=str(config_home))
        self.runtime = runtime
        # The pattern on screen: swaybg has drawn it.
        poll(self.shows_pattern, 15, interval=0.1, message="the pattern on screen")

        # Devices for the whole session: a seat without them gives clients no keyboard or
        # pointer. wtype sleeps for days after making its keyboard, typing nothing.
        self.start_process(["wtype", "-s", "100000000", "x"], lasting=True)
        self.pointer = self.start_process(
            [self.pointer_program, self.width // self.scale, self.height // self.scale],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, lasting=True)
        assert self.pointer.stdout.readline().strip() == b"ready", "the virtual pointer failed"

    def shows_pattern(self):
        """Whether the screen shows the bare pattern, but for the cursor (most rows match)."""
        picture = self.screenshot()
        same = sum(picture.row(y) == self.pattern.row(y) for y in range(self.height))
        return same > self.height * 3 // 4

    def stop(self):
        """Ends everything start() and the tests started; safe after a failed start."""
        self.kill_processes()
        self._lasting.kill_all()
        if self._sway:
            end_process(self._sway)
            self._sway = None
        if self._folder:
            shutil.rmtree(self._folder, ignore_errors=True)
            self._folder = None

    def kill_compositor(self):
        self._sway.kill()
        self._sway.wait()

    # --- processes -------------------------------------------------------------------------

    def start_process(self, arguments, extra_env=None, stdin=subprocess.DEVNULL,
                      stdout=subprocess.DEVNULL, stderr=None, lasting=False):
        """Starts a client of the compositor. extra_env adds to the session's environment; a
        value of None removes the variable. Lasting processes stay until stop(), the others
        until kill_processes()."""
        group = self._lasting if lasting else self._processes
        return group.start(arguments, {**self.env, **(extra_env or {})}, stdin, stdout, stderr)

    def start_saver(self, *arguments, extra_env=None):
        """Starts zorblinth --saver; its stderr is kept for the test to read."""
        return self.start_process([self.program, "--saver", *arguments],
                                  extra_env=extra_env, stderr=subprocess.PIPE)

    def kill_processes(self):
        """Ends every process started for one test; lasting ones stay."""
        self._processes.kill_all()

    def write_settings(self, line_width, line_amount):
        self.settings_file.write_bytes(bytes((line_width, line_amount)))

    # --- input and pictures ----------------------------------------------------------------

    def pointer_command(self, command):
        self.pointer.stdin.write(command.encode() + b"\n")
        self.pointer.stdin.flush()
        answer = self.pointer.stdout.readline().strip()
        assert answer == b"ok", f"the virtual pointer answered {answer!r} to {command!r}"

    def type(self, *arguments):
        subprocess.run(["wtype", *arguments], env=self.env, check=True, timeout=10)

    def tree(self):
        """sway's tree of windows, as swaymsg prints it in JSON."""
        return subprocess.run(["swaymsg", "-t", "get_tree"], env=self.env, capture_output=True,
                              text=True, check=True, timeout=10).stdout

    def screenshot(self):
        """The output's pixels as grim takes them (a Screenshot)."""
        result = subprocess.run(["grim", "-t", "ppm", "-"], env=self.env, capture_output=True,
                                check=True, timeout=20)
        return parse_ppm(result.stdout)

    def wait_for_saver(self, saver, before, seconds=10):
        """Waits until the screen shows neither the picture `before` (taken before the saver
        started, the cursor on it) nor the bare pattern: the saver shows its picture and has
        drawn on it (while it copies the output its surface is transparent, and the cursor
        going away alone must not count). Returns when that was seen."""
        def changed():
            if saver.poll() is not None:
                raise AssertionError(f"the saver ended with status {saver.returncode}: "
                                     f"{saver.stderr.read().decode(errors='replace')}")
            shown = self.screenshot().rgb
            return shown != before.rgb and shown != self.pattern.rgb
        poll(changed, seconds, message="the saver's surface")
        return time.monotonic()

