"""A private X display for one test class: an Xvfb, or an Xorg with the dummy driver where the
tests need monitors; an optional window manager, the processes started on it, real input through
xdotool, windows found by title, and screenshots taken with xwd."""

import os
import pathlib
import subprocess
import tempfile
import time
import typing

from .images import decode_image, save_image
from .processes import (ProcessGroup, end_process, end_with_parent, poll, require_programs,
                        still_running_after, wait_exit)
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
        preexec_fn=end_with_parent,
    )
    os.close(write_end)
    with os.fdopen(read_end) as chosen:
        number = chosen.readline().strip()
    if not number:
        end_process(xvfb)
        raise RuntimeError("Xvfb did not start")
    return xvfb, number


# Xorg with the dummy video driver: a screen of any size whose RandR outputs light up anywhere on
# it, and on which monitors can be defined (xrandr --setmonitor), which Xvfb cannot do. No input
# devices of the machine are taken: xdotool's come through XTEST.
_DUMMY_XORG_CONFIG = """\
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoAddGPU" "false"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual {width} {height}
    EndSubSection
EndSection
"""


def start_dummy_xorg(width, height, folder, *options):
    """A private Xorg with the dummy driver, its screen up to width x height (24-bit), on a
    display number of its own choosing; its configuration and log go to folder. Returns the
    process and the number. It must run as root."""
    folder = pathlib.Path(folder)
    config = folder / "xorg.conf"
    config.write_text(_DUMMY_XORG_CONFIG.format(width=width, height=height))
    # An empty folder of snippets, in place of the machine's xorg.conf.d.
    (folder / "xorg.conf.d").mkdir(exist_ok=True)
    log = folder / "xorg.log"
    read_end, write_end = os.pipe()
    # -sharevts and -novtswitch: the server stays on the machine's current virtual terminal
    # rather than taking one of its own and switching the console to it.
    xorg = subprocess.Popen(
        ["Xorg", "-displayfd", str(write_end), "-config", str(config),
         "-configdir", str(folder / "xorg.conf.d"), "-logfile", str(log), "-noreset", "-ac",
         "-sharevts", "-novtswitch", *(options or ("-nolisten", "tcp"))],
        pass_fds=(write_end,),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
        preexec_fn=end_with_parent,
    )
    os.close(write_end)
    with os.fdopen(read_end) as chosen:
        number = chosen.readline().strip()
    if not number:
        end_process(xorg)
        tail = log.read_text(errors="replace")[-2000:] if log.exists() else "(no log)"
        raise RuntimeError(f"Xorg with the dummy driver did not start:\n{tail}")
    return xorg, number


class Monitor(typing.NamedTuple):
    """A RandR monitor as xrandr --setmonitor defines it: its name, its area of the screen, and
    the output lit over that area for it, if any. Xorg keeps the pointer on lit outputs, so a
    monitor without one is an area the pointer cannot enter."""

    name: str
    left: int
    top: int
    width: int
    height: int
    output: typing.Optional[str] = None

    @property
    def area(self):
        """left, top, width, height"""
        return self.left, self.top, self.width, self.height

    @property
    def centre(self):
        return self.left + self.width // 2, self.top + self.height // 2

    def geometry(self):
        """The geometry as xrandr writes it, with a size in millimetres at 96 dots an inch."""
        millimetres = [round(pixels * 25.4 / 96) for pixels in (self.width, self.height)]
        return (f"{self.width}/{millimetres[0]}x{self.height}/{millimetres[1]}"
                f"+{self.left}+{self.top}")


def _shell_values(output):
    """The NAME=value lines of xdotool's --shell output."""
    return dict(line.split("=", 1) for line in output.split() if "=" in line)


class XvfbSession:
    """A private Xvfb of the given size with the programs under test on it, in Japanese.

    window_manager, when given, is a command started on the display before anything else (an
    EWMH one: start() waits until it manages). tcp makes the display reachable only over TCP
    ("localhost:N"), white_root gives the root window a white background. start_process() starts
    processes for one test, ended by kill_processes(); lasting ones stay until stop().

    monitors, when given (Monitor values), puts the session on an Xorg with the dummy driver
    instead, its screen width x height with exactly those RandR monitors; lay_out(),
    add_monitor() and remove_monitor() change them. It needs root.
    """

    # How long wait_exit waits unless told otherwise.
    exit_timeout = 10

    def __init__(self, width, height, window_manager=None, tcp=False, white_root=False,
                 monitors=None):
        self.width = width
        self.height = height
        self.window_manager = window_manager
        self.tcp = tcp
        self.white_root = white_root
        self.monitors = tuple(monitors or ())
        self.screenshots = pathlib.Path(
            os.environ.get("ZORBLINTH_SCREENSHOTS", tempfile.gettempdir())
        )
        self._processes = ProcessGroup()
        self._lasting = ProcessGroup()
        self._xvfb = None  # the X server: Xvfb, or Xorg with monitors
        self._xorg_folder = None
        self._modes = set()  # modes made for outputs
        self._output_modes = set()  # (output, mode) pairs given
        self._lit = set()  # outputs lit by lay_out() and add_monitor()
        self._window_manager = None
        self.display = None
        self.env = None
        self.cursor = None

    # --- lifecycle -------------------------------------------------------------------------

    def start(self):
        listen = ["-listen", "tcp"] if self.tcp else ["-nolisten", "tcp"]
        options = [*listen, *(["-wr"] if self.white_root else [])]
        if self.monitors:
            require_programs("Xorg", "xrandr")
            self._xorg_folder = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-xorg-")
            self._xvfb, number = start_dummy_xorg(self.width, self.height,
                                                  self._xorg_folder.name, *options)
        else:
            self._xvfb, number = start_xvfb(self.width, self.height, *options)
        # "localhost:N" makes Xlib connect through TCP rather than the local socket.
        self.display = f"localhost:{number}" if self.tcp else f":{number}"
        self.env = self.environment()
        if self.monitors:
            self.lay_out(self.monitors)
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
        if self._xorg_folder:
            self._xorg_folder.cleanup()
            self._xorg_folder = None

    # --- monitors (Xorg with the dummy driver) ---------------------------------------------

    def xrandr(self, *arguments):
        result = subprocess.run(["xrandr", *map(str, arguments)], env=self.env,
                                capture_output=True, text=True, check=False)
        if result.returncode != 0:
            raise AssertionError(f"xrandr {' '.join(map(str, arguments))} failed: "
                                 f"{result.stderr.strip()}")
        return result.stdout

    def listed_monitors(self, defined_only=False):
        """The monitors RandR lists now, as Monitor values (output: the first one named); with
        defined_only, those xrandr --setmonitor defined, not those of an output of its own."""
        found = []
        # " 0: +*DUMMY0 1600/423x1200/317+0+0  DUMMY0": "+" an output's own, "*" the primary's.
        for line in self.xrandr("--listmonitors").splitlines()[1:]:
            fields = line.split()
            if defined_only and fields[1].startswith("+"):
                continue
            width, height, left, top = (
                int(part.split("/")[0]) for part in fields[2].replace("x", "+", 1).split("+"))
            found.append(Monitor(fields[1].lstrip("+*"), left, top, width, height,
                                 fields[3] if len(fields) > 3 else None))
        return found

    def _output_arguments(self, monitor):
        """xrandr arguments that light the monitor's output over its area, in a mode of exactly
        that size made for it."""
        mode = f"zorblinth-{monitor.width}x{monitor.height}"
        if mode not in self._modes:
            # Blanking of a pixel or two: the dummy driver shows nothing, any timing will do.
            self.xrandr("--newmode", mode, 100,
                        *(monitor.width + extra for extra in range(4)),
                        *(monitor.height + extra for extra in range(4)))
            self._modes.add(mode)
        if (monitor.output, mode) not in self._output_modes:
            self.xrandr("--addmode", monitor.output, mode)
            self._output_modes.add((monitor.output, mode))
        self._lit.add(monitor.output)
        return ["--output", monitor.output, "--mode", mode,
                "--pos", f"{monitor.left}x{monitor.top}"]

    def lay_out(self, monitors):
        """Makes the RandR monitors exactly these, each with its output lit over its area, other
        outputs off, on a screen of the session's size. The first monitor with an output has
        the primary output."""
        monitors = tuple(monitors)
        # RandR refuses to define a monitor again over an output it already has.
        defined = self.listed_monitors(defined_only=True)
        for listed in defined:
            if listed not in monitors:
                self.xrandr("--delmonitor", listed.name)
        arguments = ["--fb", f"{self.width}x{self.height}"]
        for monitor in monitors:
            if monitor.output:
                arguments += self._output_arguments(monitor)
                if "--primary" not in arguments:
                    arguments.append("--primary")
        # DUMMY0 is lit at start, over a mode of the driver's choosing.
        used = {monitor.output for monitor in monitors}
        for output in (self._lit | {"DUMMY0"}) - used:
            arguments += ["--output", output, "--off"]
            self._lit.discard(output)
        self.xrandr(*arguments)
        for monitor in monitors:
            if monitor not in defined:
                self.xrandr("--setmonitor", monitor.name, monitor.geometry(),
                            monitor.output or "none")
        listed = self.listed_monitors()
        if sorted(listed) != sorted(monitors):
            raise AssertionError(f"RandR lists {listed}, not {list(monitors)}")

    def add_monitor(self, monitor):
        """Defines one more monitor, lighting its output first if it has one."""
        if monitor.output:
            # --fb: without it xrandr fits the screen to the lit outputs.
            self.xrandr("--fb", f"{self.width}x{self.height}", *self._output_arguments(monitor))
        self.xrandr("--setmonitor", monitor.name, monitor.geometry(), monitor.output or "none")

    def remove_monitor(self, monitor):
        """Takes a monitor away as unplugging it would: its output goes dark first, so that no
        monitor of the output's own takes its place, then its definition is deleted."""
        if monitor.output:
            self.xrandr("--fb", f"{self.width}x{self.height}", "--output", monitor.output, "--off")
            self._lit.discard(monitor.output)
        self.xrandr("--delmonitor", monitor.name)

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

    def xset(self, *arguments):
        """xset's output (xset q: the server's screen saver and DPMS settings, among others)."""
        return subprocess.run(["xset", *map(str, arguments)], env=self.env, capture_output=True,
                              text=True, check=True).stdout

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
