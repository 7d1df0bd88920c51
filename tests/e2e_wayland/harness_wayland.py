"""Machinery for the Wayland end-to-end tests: a private headless sway showing a test pattern,
a virtual keyboard (wtype) and pointer (ours) that live as long as it does, the program under
test with its own settings, and pictures through grim.

sway refuses to run as root, so under root it runs as nobody (setpriv) in a runtime folder of
nobody's; the programs under test, running as root, connect to its socket there.
"""

import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

NORMAL_END = 0
ALREADY_RUNNING = 2
WINDOW_SYSTEM_FAILED = 3

SETTINGS_NAME = "Qelvanor.txt"
TICK_SECONDS = 0.05
NOBODY = 65534

BUTTON_LEFT = 272
BUTTON_RIGHT = 273


def required_path(variable):
    value = os.environ.get(variable)
    if not value:
        raise unittest.SkipTest(f"{variable} is not set; run the end-to-end tests through ctest")
    path = pathlib.Path(value)
    if not path.exists():
        raise AssertionError(f"{path} has not been built")
    return path


def require_programs(*names):
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        raise unittest.SkipTest(f"not installed: {', '.join(missing)} (scripts/setup installs them)")


def poll(condition, seconds, interval=0.02, message="the condition"):
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {seconds} s waiting for {message}")
        time.sleep(interval)


def pattern(width, height):
    """The test pattern as RGB bytes: colour bands, a gradient, fine checks and a lattice, so
    that any shift, flip, swapped channel or scaling shows."""
    out = bytearray()
    bands = ((230, 60, 60), (240, 160, 40), (235, 230, 70), (90, 200, 90),
             (60, 200, 210), (70, 100, 230), (170, 90, 220), (200, 200, 200))
    for y in range(height):
        section = y * 4 // height
        for x in range(width):
            if section == 0:
                colour = bands[x * 8 // width]
            elif section == 1:
                red = x * 255 // (width - 1)
                colour = (red, (y * 5) & 255, 255 - red // 2)
            elif section == 2:
                colour = (250, 250, 250) if (x + y) % 2 else (20, 20, 60)
            else:
                colour = (70, 100, 230) if (x // 16 + y // 16) % 2 else (200, 200, 200)
            out += bytes(colour)
    return bytes(out)


def write_png(path, width, height, rgb):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    path.write_bytes(b"\x89PNG\r\n\x1a\n"
                     + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                     + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


class Picture:
    """An RGB picture from grim."""

    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb

    @staticmethod
    def from_ppm(data):
        fields = []
        position = 0
        while len(fields) < 4:  # P6, width, height, maximum, separated by white space
            while data[position:position + 1].isspace():
                position += 1
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        assert fields[0] == b"P6" and fields[3] == b"255", fields
        width, height = int(fields[1]), int(fields[2])
        return Picture(width, height, data[position + 1:position + 1 + width * height * 3])

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.rgb[offset:offset + 3])

    def differing(self, other_rgb):
        """The positions (x, y) where this picture differs from other RGB bytes of its size."""
        assert len(other_rgb) == len(self.rgb)
        mine, theirs = memoryview(self.rgb), memoryview(other_rgb)
        row_bytes = self.width * 3
        found = []
        for y in range(self.height):
            start = y * row_bytes
            if mine[start:start + row_bytes] == theirs[start:start + row_bytes]:
                continue
            for x in range(self.width):
                o = start + x * 3
                if mine[o:o + 3] != theirs[o:o + 3]:
                    found.append((x, y))
        return found


def most_pixels_drawn(width, height, seconds):
    """The most pixels the saver at level 1 with a one-pixel pen can change in this many
    seconds: a tick every 50 ms at most, each with width * height // 630957 + 1 lines (none
    longer than the picture's longer side) and one box outline."""
    ticks = int(seconds / TICK_SECONDS) + 1
    lines = width * height // 630957 + 1
    return ticks * (lines * max(width, height) + 2 * (width + height))


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
        self.pattern = pattern(width, height)
        self._processes = []
        self._lasting = []
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

        picture = self._folder / "pattern.png"
        write_png(picture, self.width, self.height, self.pattern)
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
        poll(lambda: self._shows_pattern(), 15, interval=0.1, message="the pattern on screen")

        # Devices for the whole session: a seat without them gives clients no keyboard or
        # pointer. wtype sleeps for days after making its keyboard, typing nothing.
        self.start_process(["wtype", "-s", "100000000", "x"], lasting=True)
        self.pointer = self.start_process(
            [str(self.pointer_program), str(self.width // self.scale),
             str(self.height // self.scale)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, lasting=True)
        assert self.pointer.stdout.readline().strip() == b"ready", "the virtual pointer failed"

    def _shows_pattern(self):
        picture = self.screenshot()
        # The cursor may be on it: most rows must match.
        row = self.width * 3
        same = sum(picture.rgb[y * row:(y + 1) * row] == self.pattern[y * row:(y + 1) * row]
                   for y in range(self.height))
        return same > self.height * 3 // 4

    def stop(self):
        self.kill_processes()
        self._end(self._lasting)
        self._lasting = []
        if self._sway:
            self._sway.terminate()
            try:
                self._sway.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._sway.kill()
                self._sway.wait()
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
        env = dict(self.env, **(extra_env or {}))
        process = subprocess.Popen(arguments, env=env, stdin=stdin, stdout=stdout, stderr=stderr)
        (self._lasting if lasting else self._processes).append(process)
        return process

    def start_saver(self, *arguments, extra_env=None):
        return self.start_process([str(self.program), "--saver", *arguments],
                                  extra_env=extra_env, stderr=subprocess.PIPE)

    def kill_processes(self):
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
        result = subprocess.run(["grim", "-t", "ppm", "-"], env=self.env, capture_output=True,
                                check=True, timeout=20)
        return Picture.from_ppm(result.stdout)

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
            return shown != before.rgb and shown != self.pattern
        poll(changed, seconds, message="the saver's surface")
        return time.monotonic()


def wait_exit(process, seconds):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return None


def still_running_after(process, seconds):
    return wait_exit(process, seconds) is None
