"""The Wayland end-to-end tests' own machinery: a private headless sway showing the test
pattern on one output or several, a virtual keyboard (wtype) and pointer (ours) that live as long
as it does, the program under test with its own settings, and pictures through grim. Processes,
waiting, pictures and their checks, statuses and the test case class come from the e2e package
(tests/e2e_common), which the other end-to-end suites share.

sway refuses to run as root, so under root it runs as nobody (setpriv) in a runtime folder of
nobody's; the programs under test, running as root, connect to its socket there. Where outputs
must be taken away, the sway under test runs nested in a second, headless one (SwaySession).
"""

import dataclasses
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from e2e.buses import SYSTEM_PYTHON, SessionBus, SystemBus  # noqa: F401
from e2e.images import Screenshot, parse_ppm, screen_pattern, write_png
from e2e.processes import (ProcessGroup, alive, end_process, end_with_parent, poll,  # noqa: F401
                           require_programs, required_path, saver_children,
                           still_running_after, wait_for_output, wait_exit)
from e2e.program import (ALREADY_RUNNING, NORMAL_END, SETTINGS_NAME,  # noqa: F401
                         WINDOW_SYSTEM_FAILED, most_pixels_drawn)
from e2e.testing import SessionTestCase, running  # noqa: F401
from e2e.xsession import XvfbSession

NOBODY = 65534

# Linux input event codes of the buttons the virtual pointer presses.
BUTTON_LEFT = 272
BUTTON_RIGHT = 273


def transform_turns(transform):
    """Whether an output transform turns it by a quarter either way."""
    return transform in (90, 270)


def upside_down(shot):
    """The picture with its rows in the opposite order."""
    return Screenshot(b"".join(bytes(shot.row(y)) for y in reversed(range(shot.height))),
                      shot.width, shot.height)


@dataclasses.dataclass
class Output:
    """One of the session's outputs: its name, its place in the layout (logical pixels) and the
    picture its background shows, at its own pixel size."""
    name: str
    x: int
    y: int
    picture: Screenshot


class SwaySession:
    """A headless sway of one output of the given size showing the test pattern, with a
    virtual keyboard and pointer, and folders of its own for the programs under test. With a
    scale, width and height are the output's pixels and the pointer moves in its logical
    ones. With a transform (90, 180, 270) they are the output's size as it is seen, turned.

    more_outputs gives the sizes of outputs after the first, side by side to its right, tops
    level; each shows the pattern of its size upside down, so that no output's picture can pass
    for another's. They go with a first output at scale 1, unturned.

    Outputs can be added (add_output) but not taken away: this sway's headless backend refuses
    to turn an output off ("Unsupported output state fields"), and nothing else removes one.
    nested=True runs the sway under test on the Wayland backend instead, inside a headless sway
    of its own: each output is a window of that host's, and closing the window takes the output
    away (remove_output)."""

    # A host big enough to show every nested output's window, so that each gets frames.
    HOST_SIZE = (1024, 768)

    def __init__(self, width=640, height=480, scale=1, transform=0, more_outputs=(),
                 nested=False, session_bus=False):
        require_programs("sway", "swaybg", "grim", "wtype")
        if more_outputs and (scale != 1 or transform != 0):
            raise ValueError("more outputs go with a first output at scale 1, unturned")
        self.width = width
        self.height = height
        self.scale = scale
        self.transform = transform
        self.more_outputs = tuple(more_outputs)
        self.nested = nested
        # The backends name their outputs HEADLESS-1, WL-1, ... in the order they make them.
        self.output_prefix = "WL-" if nested else "HEADLESS-"
        self.outputs = []  # every output the session made, first to last, gone or not
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")
        self.pointer_program = required_path("ZORBLINTH_VIRTUAL_POINTER")
        self.pattern = screen_pattern(width, height)
        self._processes = ProcessGroup()
        self._lasting = ProcessGroup()
        self._folder = None
        self._sway = None
        self._host = None
        self._host_env = None
        self.pointer = None
        # session_bus: the programs under test share a private session bus (bare sway has
        # none; the saver's clients then go without).
        self.session_bus = session_bus
        self.bus = None

    def start(self):
        self._folder = pathlib.Path(tempfile.mkdtemp(prefix="zorblinth-e2e-wayland-"))
        self._folder.chmod(0o755)  # nobody reads the config and the pattern
        runtime = self._folder / "runtime"
        runtime.mkdir(mode=0o700)
        # sway refuses to run as root: then it runs as nobody, in nobody's folder.
        if os.geteuid() == 0:
            os.chown(runtime, NOBODY, NOBODY)
        self.runtime = runtime
        config_home = self._folder / "config"
        (config_home / "zorblinth").mkdir(parents=True)
        self.settings_file = config_home / "zorblinth" / SETTINGS_NAME
        self.log = self._folder / "sway.log"

        base = {key: value for key, value in os.environ.items()
                if key not in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK",
                               "XSCREENSAVER_WINDOW", "DBUS_SESSION_BUS_ADDRESS")}
        base.update(XDG_RUNTIME_DIR=str(runtime), DBUS_SESSION_BUS_ADDRESS="disabled:")
        sway_env = dict(base, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                        WLR_LIBINPUT_NO_DEVICES="1", HOME=str(self._folder))
        floating = "for_window [app_id=\".*\"] floating enable\n"
        if self.nested:
            # Floating, the host leaves each window the size its output asks for.
            self._host, self._host_env = self._start_sway(
                "host", f"output HEADLESS-1 resolution {self.HOST_SIZE[0]}x{self.HOST_SIZE[1]}\n"
                "xwayland disable\ndefault_border none\n" + floating, sway_env, base)
            sway_env = dict(sway_env, WLR_BACKENDS="wayland",
                            WAYLAND_DISPLAY=self._host_env["WAYLAND_DISPLAY"])

        picture = write_png(self.pattern, self._folder / "pattern.png")
        first = f"{self.output_prefix}1"
        mode = (self.height, self.width) if transform_turns(self.transform) else (self.width,
                                                                                  self.height)
        # No direct scan-out: while an output shows a full-screen window's own buffer, grim's
        # copies of that output lag up to a second behind it on the headless backend.
        self._sway, env = self._start_sway(
            "sway", f"output {first} resolution {mode[0]}x{mode[1]} position 0,0 "
            f"scale {self.scale} transform {self.transform} bg {picture} stretch\n"
            "xwayland disable\ndefault_border none\n" + floating + "seat seat0 hide_cursor 0\n",
            sway_env, base, options=("-D", "noscanout"))
        # The one-copy lock goes to XDG_RUNTIME_DIR only if that is the program's own; under
        # root, nobody's is not, and the lock would go to root's ~/.cache, shared with every
        # other session running meanwhile.
        self.env = dict(env, XDG_CONFIG_HOME=str(config_home),
                        XDG_CACHE_HOME=str(self._folder / "cache"))
        if self.session_bus:
            self.bus = SessionBus(self._folder)
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.start()
        self.outputs = [Output(first, 0, 0, self.pattern)]
        for size in self.more_outputs:
            self.add_output(*size)
        # Every output's picture on screen: swaybg has drawn them.
        poll(self.shows_pattern, 15, interval=0.1, message="the pattern on screen")

        # Devices for the whole session: a seat without them gives clients no keyboard or
        # pointer. wtype sleeps for days after making its keyboard, typing nothing.
        self.start_process(["wtype", "-s", "100000000", "x"], lasting=True)
        self.pointer = self.start_process(
            [self.pointer_program, self.width // self.scale, self.height // self.scale],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, lasting=True)
        assert self.pointer.stdout.readline().strip() == b"ready", "the virtual pointer failed"

    def _start_sway(self, name, config_text, sway_env, client_env, options=()):
        """Starts a sway with this config in the session's runtime folder (as nobody under
        root); returns it and the environment of its clients."""
        config = self._folder / f"{name}.config"
        config.write_text(config_text)
        there_before = set(self.runtime.iterdir())
        with open(self._folder / f"{name}.log", "wb") as log:
            process = subprocess.Popen(
                (["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
                 if os.geteuid() == 0 else []) + ["sway", *options, "-c", str(config)],
                env=sway_env, stdout=log, stderr=log)
        # setpriv runs sway in its own process, and sway names its IPC socket after its pid.
        socket = poll(lambda: next(iter(sorted(set(self.runtime.glob("wayland-*[0-9]"))
                                               - there_before)), None),
                      15, message=f"{name}'s socket")
        ipc = poll(lambda: next(iter(self.runtime.glob(f"sway-ipc.*.{process.pid}.sock")), None),
                   15, message=f"{name}'s IPC socket")
        return process, dict(client_env, WAYLAND_DISPLAY=socket.name, SWAYSOCK=str(ipc))

    def shows_pattern(self):
        """Whether every enabled output shows its bare picture, but for the cursor (most rows
        match)."""
        return all(self.output_shows_its_picture(output.name) for output in self.enabled_outputs())

    def output_shows_its_picture(self, name):
        picture = self.output(name).picture
        shown = self.screenshot(name)
        if (shown.width, shown.height) != (picture.width, picture.height):
            return False
        same = sum(shown.row(y) == picture.row(y) for y in range(picture.height))
        return same > picture.height * 3 // 4

    def stop(self):
        """Ends everything start() and the tests started; safe after a failed start."""
        self.kill_processes()
        self._lasting.kill_all()
        for process in (self._sway, self._host):
            if process:
                end_process(process)
        self._sway = self._host = None
        if self.bus:
            self.bus.stop()
            self.bus = None
        if self._folder:
            shutil.rmtree(self._folder, ignore_errors=True)
            self._folder = None

    def kill_compositor(self):
        self._sway.kill()
        self._sway.wait()

    def start_typing_witness(self):
        """A foot terminal running cat into a file: a window beneath the saver that shows which
        keys reached it. Returns the file, once the window is up and cat reads."""
        require_programs("foot")
        witness = self.runtime.parent / "typed.txt"
        self.start_process(["foot", "sh", "-c", f"cat > {witness}"],
                           extra_env={"HOME": str(self.runtime.parent)})
        poll(lambda: '"app_id": "foot"' in self.tree(), 15, interval=0.2,
             message="the terminal's window")
        time.sleep(0.5)  # cat started
        return witness

    def pause_compositor(self, paused=True):
        """Stops the compositor (SIGSTOP) as a hung one would, or lets it go on again."""
        self._sway.send_signal(signal.SIGSTOP if paused else signal.SIGCONT)

    # --- outputs ---------------------------------------------------------------------------

    def swaymsg(self, *command):
        subprocess.run(["swaymsg", *command], env=self.env, check=True, capture_output=True,
                       timeout=10)

    def output(self, name):
        return next(output for output in self.outputs if output.name == name)

    def enabled_outputs(self):
        """The session's outputs that sway has in its layout now."""
        listed = json.loads(subprocess.run(
            ["swaymsg", "-t", "get_outputs"], env=self.env, capture_output=True, text=True,
            check=True, timeout=10).stdout)
        active = {entry["name"] for entry in listed if entry["active"]}
        return [output for output in self.outputs if output.name in active]

    def add_output(self, width, height):
        """Makes an output of width x height to the right of the last one made, showing the
        pattern upside down; returns its name. It is set up before it exists, so that it comes
        with its size, place and background at once. Its picture may take a moment to show."""
        last = self.outputs[-1]
        name = f"{self.output_prefix}{len(self.outputs) + 1}"
        output = Output(name, last.x + last.picture.width // self.scale, 0,
                        upside_down(screen_pattern(width, height)))
        picture = write_png(output.picture, self._folder / f"{name}.png")
        self.swaymsg("output", name, "resolution", f"{width}x{height}", "position",
                     str(output.x), str(output.y), "bg", str(picture), "stretch")
        self.swaymsg("create_output")
        self.outputs.append(output)
        return name

    def remove_output(self, name):
        """Takes an output away (nested sessions only): the host closes its window."""
        if not self.nested:
            raise ValueError("only a nested session's outputs can be taken away")
        subprocess.run(["swaymsg", f'[title="wlroots - {name}"]', "kill"], env=self._host_env,
                       check=True, capture_output=True, timeout=10)
        poll(lambda: name not in {output.name for output in self.enabled_outputs()}, 10,
             message=f"{name} gone")

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

    def pointer_to(self, x, y):
        """Puts the pointer at (x, y) of the layout of the outputs enabled now. sway maps an
        absolute position onto the layout's bounding box, which outputs coming and going
        change."""
        outputs = self.enabled_outputs()
        left = min(output.x for output in outputs)
        top = min(output.y for output in outputs)
        right = max(output.x + output.picture.width // self.scale for output in outputs)
        bottom = max(output.y + output.picture.height // self.scale for output in outputs)
        self.pointer_command(f"to {x - left} {y - top} {right - left} {bottom - top}")

    def type(self, *arguments):
        subprocess.run(["wtype", *arguments], env=self.env, check=True, timeout=10)

    def tree(self):
        """sway's tree of windows, as swaymsg prints it in JSON."""
        return subprocess.run(["swaymsg", "-t", "get_tree"], env=self.env, capture_output=True,
                              text=True, check=True, timeout=10).stdout

    def screenshot(self, output=None):
        """The pixels of the whole layout, or of one output, as grim takes them (a
        Screenshot); the layout's bounding box is black where no output is."""
        result = subprocess.run(["grim", "-t", "ppm", *(["-o", output] if output else []), "-"],
                                env=self.env, capture_output=True, check=True, timeout=20)
        return parse_ppm(result.stdout)

    def screenshots(self, names):
        """{name: picture} of these outputs."""
        return {name: self.screenshot(name) for name in names}

    def wait_for_saver(self, saver, before, seconds=10):
        """Waits until the screen shows neither the picture `before` (taken before the saver
        started, the cursor on it) nor the bare pattern: the saver shows its picture and has
        drawn on it (while it copies the output its surface is transparent, and the cursor
        going away alone must not count). `before` may also be {output name: picture}: then
        each of those outputs must show neither its picture there nor its bare one. Returns
        when that was seen."""
        def changed():
            if saver.poll() is not None:
                raise AssertionError(f"the saver ended with status {saver.returncode}: "
                                     f"{saver.stderr.read().decode(errors='replace')}")
            if isinstance(before, Screenshot):
                shown = self.screenshot().rgb
                return shown != before.rgb and shown != self.pattern.rgb
            return all(shown.rgb != before[name].rgb
                       and shown.rgb != self.output(name).picture.rgb
                       for name, shown in self.screenshots(before).items())
        poll(changed, seconds, message="the saver's surface")
        return time.monotonic()



# --- the stand-ins for KWin's screenshot service and the portal, and KWin -------------------------------

HERE = pathlib.Path(__file__).resolve().parent


def start_stand_in(script, group, env, *arguments):
    """Starts a stand-in service (kwin_stand_in.py, portal_stand_in.py) in this process group,
    once it owns its names on the bus of env."""
    stand_in = group.start([SYSTEM_PYTHON, HERE / script, *arguments],
                           dict(env, PYTHONPATH=str(HERE)), stdout=subprocess.PIPE)
    assert stand_in.stdout.readline().strip() == b"ready", f"{script} did not start"
    return stand_in


def start_kwin_stand_in(group, env, *arguments):
    """The stand-in for KWin's screenshot service."""
    return start_stand_in("kwin_stand_in.py", group, env, *arguments)


def start_portal_stand_in(group, env, *arguments):
    """The stand-in for the screenshot portal and its permission store."""
    return start_stand_in("portal_stand_in.py", group, env, *arguments)


def read_log(path):
    """The JSON lines a stand-in logged, as dicts."""
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text().splitlines()]


def install_program(prefix):
    """cmake --install of the build the program under test comes from, into prefix: the program
    with its desktop entries, as a package puts them. Returns the installed program."""
    build = pathlib.Path(required_path("ZORBLINTH_LINUX_PROGRAM")).parent
    subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)], check=True,
                   capture_output=True, timeout=60)
    return pathlib.Path(prefix) / "bin" / "zorblinth"


class NestedSession:
    """A compositor of a desktop nested in a private Xvfb, where its one output is a window at
    the Xvfb's top-left, driven with xdotool (headless KWin and mutter give clients no input).
    It, the programs under test and the test share a session bus of their own.

    compositor "kwin": KWin 5.27 as Plasma's, width x height, with swaybg showing the test
    pattern in its background layer. Debian's kwin_wayland carries a file capability, which
    this machine refuses to honour even for root ("Operation not permitted"); a copy (cp drops
    it) runs. Without a GPU KWin composites with QPainter, and then has no screenshot interface:
    tests give one with kwin_stand_in.py.

    compositor "mutter": mutter 43 as GNOME Shell's, 800 x 600 (its nested size), with the
    pattern in a weston-image window on its own background."""

    OUTPUT = "X11-0"  # what nested KWin calls its output
    MUTTER_SIZE = (800, 600)

    def __init__(self, compositor="kwin", width=640, height=480):
        if compositor not in ("kwin", "mutter"):
            raise ValueError(compositor)
        require_programs("xdotool", "xwd", "dbus-daemon",
                         *(("kwin_wayland", "swaybg") if compositor == "kwin"
                           else ("mutter", "weston-image")))
        self.compositor = compositor
        if compositor == "mutter":
            width, height = self.MUTTER_SIZE
        self.width = width
        self.height = height
        self.pattern = screen_pattern(width, height)
        self.desktop = self.pattern  # the bare desktop as it shows, once started
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")
        self.x = XvfbSession(width + 160, height + 120)
        self._processes = ProcessGroup()
        self._lasting = ProcessGroup()
        self._folder = None
        self.bus = None
        self.env = None

    def start(self):
        self._folder = pathlib.Path(tempfile.mkdtemp(prefix="zorblinth-e2e-nested-"))
        self.folder = self._folder
        runtime = self._folder / "runtime"
        runtime.mkdir(mode=0o700)
        config_home = self._folder / "config"
        (config_home / "zorblinth").mkdir(parents=True)
        self.settings_file = config_home / "zorblinth" / SETTINGS_NAME
        self.x.start()
        self.bus = SessionBus(self._folder)
        address = self.bus.start()
        base = dict(self.x.env, XDG_RUNTIME_DIR=str(runtime), DBUS_SESSION_BUS_ADDRESS=address,
                    HOME=str(self._folder), XDG_CONFIG_HOME=str(config_home),
                    XDG_CACHE_HOME=str(self._folder / "cache"), LANG="C.UTF-8", LC_ALL="C.UTF-8")
        socket = "wayland-nested"
        if self.compositor == "kwin":
            kwin = self._folder / "kwin_wayland"
            shutil.copy(shutil.which("kwin_wayland"), kwin)
            command = [kwin, "--x11-display", self.x.display, "--width", self.width, "--height",
                       self.height, "--socket", socket, "--no-lockscreen", "--no-global-shortcuts"]
            env = dict(base, KWIN_COMPOSE="Q", QT_QPA_PLATFORM=None)
        else:
            command = ["mutter", "--nested", "--wayland", "--no-x11", f"--wayland-display={socket}"]
            env = base
        with open(self._folder / "compositor.log", "wb") as log:
            self._lasting.start(command, env, stdout=log, stderr=log)
        poll(lambda: (runtime / socket).exists(), 20, message="the compositor's socket")
        self.env = dict(base, WAYLAND_DISPLAY=socket)
        picture = write_png(self.pattern if self.compositor == "kwin"
                            else screen_pattern(320, 240), self._folder / "pattern.png")
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        if self.compositor == "kwin":
            self._lasting.start(["swaybg", "-i", picture, "-m", "stretch"], self.env, **quiet)
            poll(self.shows_pattern, 20, interval=0.2, message="the pattern on KWin's output")
        else:
            self._lasting.start(["weston-image", picture], self.env, **quiet)
            self.desktop = poll(self._settled_pattern_window, 20, interval=0.2,
                                message="the pattern's window on mutter's output")

    def _settled_pattern_window(self):
        """The output once it shows the pattern's top band and stays the same."""
        first = self.screenshot()
        if bytes((230, 60, 60)) * 8 not in first.rgb:
            return None
        time.sleep(0.2)
        return first if self.screenshot().rgb == first.rgb else None

    def stop(self):
        self.kill_processes()
        self._lasting.kill_all()
        if self.bus:
            self.bus.stop()
        self.x.stop()
        if self._folder:
            shutil.rmtree(self._folder, ignore_errors=True)
            self._folder = None

    def kill_processes(self):
        self._processes.kill_all()

    def start_process(self, arguments, extra_env=None, stdout=subprocess.DEVNULL, stderr=None):
        return self._processes.start(arguments, {**self.env, **(extra_env or {})},
                                     stdout=stdout, stderr=stderr)

    def start_saver(self, *arguments, program=None, extra_env=None):
        """zorblinth --saver (or another copy of it), its stderr kept for the test."""
        return self.start_process([program or self.program, "--saver", *arguments],
                                  extra_env=extra_env, stderr=subprocess.PIPE)

    def start_stand_in(self, *arguments, data_dirs=()):
        """The stand-in for KWin's screenshot service; data_dirs come before the system's where
        it looks for desktop entries, as a package's would be in /usr/share."""
        env = dict(self.env, XDG_DATA_DIRS=":".join([*map(str, data_dirs), "/usr/local/share",
                                                     "/usr/share"]))
        return start_kwin_stand_in(self._processes, env, *arguments)

    def write_settings(self, line_width, line_amount):
        self.settings_file.write_bytes(bytes((line_width, line_amount)))

    def screenshot(self, raw=None):
        """The compositor's output as the X server shows it."""
        shot = self.x.convert(raw if raw is not None else self.x.raw_screenshot())
        return Screenshot(b"".join(bytes(shot.row(y))[:self.width * 3]
                                   for y in range(self.height)), self.width, self.height)

    def shows_pattern(self):
        """Whether the bare desktop shows (most rows as they were before any saver)."""
        shown = self.screenshot()
        return sum(shown.row(y) == self.desktop.row(y) for y in range(self.height)) \
            > self.height * 3 // 4

    def save_ppm(self, shot, name):
        path = self._folder / name
        path.write_bytes(b"P6\n%d %d\n255\n" % (shot.width, shot.height) + shot.rgb)
        return path


# --- a real GNOME Shell -------------------------------------------------------------------


class GnomeShellSession:
    """A real GNOME Shell 43 (Debian's gnome-shell, mutter inside), nested in a private Xvfb
    with `--nested --wayland --no-x11`, driven with xdotool and pictured from the Xvfb: a 1024 x
    768 output (or `monitors` of them side by side) showing the test pattern as the desktop's
    background, under the shell's top bar. What it needs around it, each private to the session:

    - a system bus: with none the shell dies at once (this machine has /run/systemd/seats, so it
      asks logind); no logind runs on it. gdm_stand_in.py answers GDM's version there, as no
      GDM can run here: without it the shell makes no screen shield (no blank after idle-delay,
      no lock, no org.gnome.ScreenSaver);
    - a session bus whose daemon has the session's environment, so that the services it starts
      on demand (dconf, GNOME's org.gnome.ScreenSaver, the portals) see the same home, runtime
      folder and desktop, as dbus-run-session gives them;
    - with presence, the real gnome-session with no components: the session's idle status, that
      turns idle-delay into the shell's blank, and the session's inhibitors;
    - with portal, the real xdg-desktop-portal with its GNOME backend and the permission store.

    Start-up takes a few seconds on llvmpipe: one session serves a test class. The shell turns
    its animations off on software rendering, so its fade to black is instant here. Two
    sessions may run side by side (each Xvfb picks its own display number)."""

    SOCKET = "wayland-gnome"
    TOP_BAR = 32  # the shell's top bar, rows from the top; its clock changes by the minute

    def __init__(self, width=1024, height=768, monitors=1, presence=True, portal=True):
        require_programs("gnome-shell", "gnome-session", "gsettings", "gdbus", "xdotool", "xwd",
                         "dbus-daemon", "/usr/libexec/xdg-desktop-portal",
                         "/usr/libexec/xdg-desktop-portal-gnome",
                         "/usr/libexec/xdg-permission-store", SYSTEM_PYTHON)
        self.output_width = width
        self.width = width * monitors
        self.height = height
        self.monitors = monitors
        self.presence = presence
        self.portal = portal
        self.pattern = screen_pattern(width, height)
        self.desktop = None  # the desktop as it shows once started
        self.program = required_path("ZORBLINTH_LINUX_PROGRAM")
        self.x = XvfbSession(self.width + 64, height + 64)
        self._processes = ProcessGroup()
        self._lasting = ProcessGroup()
        self._folder = None
        self._system_bus = None
        self.bus = None
        self.env = None

    def start(self):
        """Brings the session up. GNOME Shell on llvmpipe now and then never shows its desktop
        (seen twice in ten starts on a busy machine): a session that does not come up is ended
        and started once more, and a second failure is the test's."""
        try:
            self._start_once()
        except AssertionError as first:
            print(f"GNOME Shell did not come up, starting it again: {first}", file=sys.stderr)
            self.stop()
            self._start_once()

    def _start_once(self):
        self._folder = pathlib.Path(tempfile.mkdtemp(prefix="zorblinth-e2e-gnome-"))
        self.folder = self._folder
        runtime = self._folder / "runtime"
        runtime.mkdir(mode=0o700)
        home = self._folder / "home"
        config_home = home / ".config"
        (config_home / "zorblinth").mkdir(parents=True)
        self.settings_file = config_home / "zorblinth" / SETTINGS_NAME
        self.x.start()
        # A bus of its own as the system bus: the shell only asks it for GDM and logind.
        self._system_bus = SystemBus(self._folder)
        system_address = self._system_bus.start()
        # The session's own mark: every process of it carries it, also those the bus starts.
        self.env = dict(
            self.x.env, XDG_RUNTIME_DIR=str(runtime), HOME=str(home),
            XDG_CONFIG_HOME=str(config_home), XDG_DATA_HOME=str(home / ".local/share"),
            XDG_CACHE_HOME=str(home / ".cache"), XDG_CURRENT_DESKTOP="GNOME",
            XDG_SESSION_TYPE="wayland", XDG_SESSION_DESKTOP="gnome", WAYLAND_DISPLAY=self.SOCKET,
            GDK_BACKEND="wayland", NO_AT_BRIDGE="1", LANG="C.UTF-8", LC_ALL="C.UTF-8",
            DBUS_SYSTEM_BUS_ADDRESS=system_address,
            DBUS_SESSION_BUS_ADDRESS=f"unix:path={self._folder / 'bus'}",
            ZORBLINTH_E2E_SESSION=str(self._folder))
        for name in ("XDG_SESSION_ID", "XDG_SEAT", "XDG_VTNR", "DBUS_STARTER_ADDRESS"):
            self.env.pop(name, None)
        self.bus = SessionBus(self._folder)
        self.bus.start(env={k: v for k, v in self.env.items() if k != "DBUS_SESSION_BUS_ADDRESS"})
        start_stand_in("gdm_stand_in.py", self._lasting, self.env)
        self._prepare_settings()
        with open(self._folder / "gnome-shell.log", "wb") as log:
            self._lasting.start(
                ["gnome-shell", "--nested", "--wayland", "--no-x11",
                 f"--wayland-display={self.SOCKET}"],
                dict(self.env, MUTTER_DEBUG_DUMMY_MODE_SPECS=f"{self.output_width}x{self.height}",
                     MUTTER_DEBUG_NUM_DUMMY_MONITORS=str(self.monitors)),
                stdout=log, stderr=log, ending_with_us=True)
        poll(lambda: (runtime / self.SOCKET).exists(), 30, interval=0.1,
             message="GNOME Shell's Wayland socket")
        self.wait_for_name("org.gnome.Shell", 30)
        if self.presence:
            self._start_presence()
        if self.portal:
            for name, program in (
                    ("org.freedesktop.impl.portal.PermissionStore", "xdg-permission-store"),
                    ("org.freedesktop.impl.portal.desktop.gnome", "xdg-desktop-portal-gnome"),
                    ("org.freedesktop.portal.Desktop", "xdg-desktop-portal")):
                if not self.has_name(name):
                    self.start_lasting([f"/usr/libexec/{program}"])
                    self.wait_for_name(name, 30)  # slow to start on a busy machine
        # In a whole session gnome-settings-daemon has woken GNOME's org.gnome.ScreenSaver (a
        # service of its own in front of the shell's screen shield) long before anyone asks.
        # It answers once the shell has made its shield, which may come after its name.
        poll(self._screen_shield_answers, 30, interval=0.2, message="GNOME's screen shield")
        # The shell starts in the overview; an Escape sent before it is ready to leave it is
        # lost, so it is sent again until the desktop shows.
        def left_overview():
            self.x.xdotool("key", "Escape")
            return self._settled_desktop()
        # llvmpipe on a busy machine may take its time over the first frames.
        try:
            self.desktop = poll(left_overview, 45, interval=0.5,
                                message="GNOME's desktop with the pattern")
        except AssertionError as error:
            shown = self.save_png(self.screenshot(), "gnome-shell-no-desktop.png")
            raise AssertionError(f"{error}; the screen then: {shown}") from None

    def _prepare_settings(self):
        """Settings the shell reads at its start: the pattern as the background, and no
        banners (as root it would show one, "Logged in as a privileged user")."""
        background = write_png(self.pattern, self._folder / "pattern.png")
        for schema, key, value in (
                ("org.gnome.desktop.background", "picture-uri", f"file://{background}"),
                ("org.gnome.desktop.background", "picture-options", "stretched"),
                ("org.gnome.desktop.notifications", "show-banners", "false")):
            self.gsettings(schema, key, value)

    def _start_presence(self):
        sessions = pathlib.Path(self.env["XDG_CONFIG_HOME"]) / "gnome-session" / "sessions"
        sessions.mkdir(parents=True)
        (sessions / "zorblinth-e2e.session").write_text(
            "[GNOME Session]\nName=Presence alone\nRequiredComponents=\n")
        empty = self._folder / "no-autostart"
        empty.mkdir()
        self.start_lasting(["gnome-session", "--builtin", "--session=zorblinth-e2e",
                            "--disable-acceleration-check", "-a", empty])
        self.wait_for_name("org.gnome.SessionManager", 15)

    def _settled_desktop(self):
        """The output once it shows the pattern under the top bar and stays the same."""
        first = self.screenshot()
        if not self.shows(first, self.pattern_scaled()):
            return None
        time.sleep(0.2)
        return first if self.screenshot().rgb == first.rgb else None

    def pattern_scaled(self):
        """The pattern as every output shows it (the background spans each output)."""
        if self.monitors == 1:
            return self.pattern
        rows = [bytes(self.pattern.row(y)) * self.monitors for y in range(self.height)]
        return Screenshot(b"".join(rows), self.width, self.height)

    def shows(self, shot, picture):
        """Whether most rows under the top bar are those of the picture."""
        rows = range(self.TOP_BAR, self.height)
        return sum(shot.row(y) == picture.row(y) for y in rows) > len(rows) * 3 // 4

    def shows_pattern(self):
        """Whether the bare desktop shows, as it was once started."""
        return self.shows(self.screenshot(), self.desktop)

    def stop(self):
        """Ends everything the session started, also what its bus started on demand (found
        by the session's mark), and removes its folder; safe after a failed start."""
        self.kill_processes()
        self._lasting.kill_all()
        if self.bus:
            self.bus.stop()
            self.bus = None
        if self._folder:
            self._end_marked_processes()
        if self._system_bus:
            self._system_bus.stop()
            self._system_bus = None
        self.x.stop()
        if self._folder:
            shutil.rmtree(self._folder, ignore_errors=True)
            self._folder = None

    def _end_marked_processes(self):
        mark = f"ZORBLINTH_E2E_SESSION={self._folder}".encode()

        def marked():
            found = []
            for entry in pathlib.Path("/proc").iterdir():
                if not entry.name.isdigit() or int(entry.name) == os.getpid():
                    continue
                try:
                    if mark in (entry / "environ").read_bytes().split(b"\0"):
                        found.append(int(entry.name))
                except OSError:
                    pass  # gone, or not ours to read
            return found
        # Most leave on their own once their bus is gone.
        for signal_number in (signal.SIGTERM, signal.SIGKILL):
            for pid in marked():
                try:
                    os.kill(pid, signal_number)
                except ProcessLookupError:
                    pass
            try:
                poll(lambda: not marked(), 3, interval=0.1, message="the session's processes")
                return
            except AssertionError:
                continue

    # --- processes -------------------------------------------------------------------------

    def start_process(self, arguments, extra_env=None, stdin=subprocess.DEVNULL,
                      stdout=subprocess.DEVNULL, stderr=None):
        """Starts a client of the shell for one test, ended by kill_processes()."""
        return self._processes.start(arguments, {**self.env, **(extra_env or {})},
                                     stdin, stdout, stderr)

    def start_lasting(self, arguments):
        """A process that lasts as long as the session, its output in the session's folder."""
        with open(self._folder / f"{pathlib.Path(str(arguments[0])).name}.log", "ab") as log:
            return self._lasting.start(arguments, self.env, stdin=subprocess.DEVNULL,
                                       stdout=log, stderr=log, ending_with_us=True)

    def start_saver(self, *arguments, extra_env=None):
        """zorblinth --saver, its stderr kept for the test."""
        return self.start_process([self.program, "--saver", *arguments], extra_env=extra_env,
                                  stderr=subprocess.PIPE)

    def kill_processes(self):
        self._processes.kill_all()

    def write_settings(self, line_width, line_amount):
        self.settings_file.write_bytes(bytes((line_width, line_amount)))

    # --- the session bus -------------------------------------------------------------------

    def gdbus_call(self, destination, path, method, *arguments, timeout=5):
        """A method call through gdbus; its answer as gdbus prints it."""
        result = subprocess.run(
            ["gdbus", "call", "--session", "--dest", destination, "--object-path", path,
             "--method", method, *map(str, arguments)],
            env=self.env, capture_output=True, text=True, timeout=timeout + 5, check=False)
        if result.returncode != 0:
            raise AssertionError(f"{method} failed: {result.stderr.strip()}")
        return result.stdout.strip()

    def has_name(self, name):
        return self.gdbus_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus.NameHasOwner", name) == "(true,)"

    def wait_for_name(self, name, timeout):
        poll(lambda: self.has_name(name), timeout, interval=0.1, message=f"{name} on the bus")

    def gsettings(self, schema, key, value):
        subprocess.run(["gsettings", "set", schema, key, str(value)], env=self.env,
                       check=True, capture_output=True, timeout=10)

    def screen_blanked(self):
        """Whether GNOME's screen shield is up (its blank, or its lock)."""
        return self.gdbus_call("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver",
                               "org.gnome.ScreenSaver.GetActive") == "(true,)"

    def _screen_shield_answers(self):
        try:
            self.screen_blanked()
            return True
        except AssertionError:
            return False

    def set_blanked(self, blanked):
        """Puts GNOME's blank up, or takes it down, as a program may (SetActive)."""
        self.gdbus_call("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver",
                        "org.gnome.ScreenSaver.SetActive", "true" if blanked else "false")

    def idle_time(self):
        """Mutter's idle time, in milliseconds."""
        answer = self.gdbus_call("org.gnome.Mutter.IdleMonitor",
                                 "/org/gnome/Mutter/IdleMonitor/Core",
                                 "org.gnome.Mutter.IdleMonitor.GetIdletime")
        return int(answer.strip("(,)").split()[-1])

    def set_screenshot_permission(self, answer):
        """The portal's permission store's answer for programs outside a sandbox ("yes",
        "no"), or no entry (None), as GNOME's dialog leaves it."""
        store = ("org.freedesktop.impl.portal.PermissionStore",
                 "/org/freedesktop/impl/portal/PermissionStore")
        if answer is None:
            try:
                self.gdbus_call(*store, "org.freedesktop.impl.portal.PermissionStore.Delete",
                                "screenshot", "screenshot")
            except AssertionError:
                pass  # there was none
        else:
            self.gdbus_call(*store, "org.freedesktop.impl.portal.PermissionStore.SetPermission",
                            "screenshot", "true", "screenshot", "", f"['{answer}']")

    # --- input and pictures ----------------------------------------------------------------

    def press(self, key="a"):
        self.x.xdotool("key", key)

    def screenshot(self, raw=None):
        """The shell's outputs as the X server shows them."""
        shot = self.x.convert(raw if raw is not None else self.x.raw_screenshot())
        return Screenshot(b"".join(bytes(shot.row(y))[:self.width * 3]
                                   for y in range(self.height)), self.width, self.height)

    def save_png(self, shot, name):
        """Saves a picture among the end-to-end screenshots; returns its path."""
        folder = pathlib.Path(os.environ.get("ZORBLINTH_SCREENSHOTS", self._folder))
        folder.mkdir(parents=True, exist_ok=True)
        return write_png(shot, folder / name)
