"""A stand-in for KWin's screenshot service (org.kde.KWin.ScreenShot2) on a private session bus,
for the end-to-end tests: KWin gives screenshots only with OpenGL compositing, which needs a GPU
that test machines lack.

It answers CaptureScreen as KWin 5.27 does: the caller must be a program whose installed desktop
file (under applications/ in $XDG_DATA_DIRS) has its absolute path as the first word of Exec and
lists the interface under X-KDE-DBUS-Restricted-Interfaces; the reply describes raw ARGB32
pixels (QImage format 5) that are then written into the caller's pipe.

    kwin_stand_in.py --picture FILE.ppm --screen NAME --log FILE
    kwin_stand_in.py --silent      (takes every call and never answers)

Each call is logged as one JSON line. Runs with Debian's python3 (python3-dbus, python3-gi).
"""

import argparse
import configparser
import json
import os
import pathlib
import shlex
import sys
import threading

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.kde.KWin.ScreenShot2"
ERROR = "org.kde.KWin.ScreenShot2.Error."
QIMAGE_ARGB32 = 5


class Refused(dbus.DBusException):
    def __init__(self, name, message):
        super().__init__(message, name=ERROR + name)


def read_ppm(path):
    data = pathlib.Path(path).read_bytes()
    fields, position = [], 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    assert fields[0] == b"P6" and fields[3] == b"255", "a binary PPM of 8-bit channels"
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[position + 1:position + 1 + width * height * 3]


def argb32(width, height, rgb):
    """0xAARRGGBB words as a little-endian machine stores them: B, G, R, A."""
    out = bytearray(width * height * 4)
    out[0::4], out[1::4], out[2::4] = rgb[2::3], rgb[1::3], rgb[0::3]
    out[3::4] = b"\xff" * (width * height)
    return bytes(out)


def data_dirs():
    home = os.environ.get("XDG_DATA_HOME") or os.path.expanduser("~/.local/share")
    rest = os.environ.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share"
    return [home, *rest.split(":")]


def restricted_interfaces(executable):
    """The interfaces the desktop files of this program allow it, as KWin finds them."""
    allowed = set()
    for folder in data_dirs():
        for entry in pathlib.Path(folder, "applications").rglob("*.desktop"):
            parser = configparser.ConfigParser(interpolation=None, strict=False)
            parser.optionxform = str
            try:
                parser.read(entry, encoding="utf-8")
                desktop = parser["Desktop Entry"]
                first = shlex.split(desktop.get("Exec", ""))[0]
            except (KeyError, IndexError, ValueError, configparser.Error):
                continue
            # A bare name would be taken relative to KWin's folder: it never matches.
            if os.path.isabs(first) and os.path.realpath(first) == executable:
                listed = desktop.get("X-KDE-DBUS-Restricted-Interfaces", "")
                allowed.update(name.strip() for name in listed.split(",") if name.strip())
    return allowed


class ScreenShot(dbus.service.Object):
    def __init__(self, bus, arguments):
        super().__init__(bus, "/org/kde/KWin/ScreenShot2")
        self.bus = bus
        self.arguments = arguments
        self.pending = []  # the silent stand-in's unanswered calls, kept alive
        if arguments.picture:
            width, height, rgb = read_ppm(arguments.picture)
            self.picture = (width, height, argb32(width, height, rgb))

    def log(self, **record):
        log_call(self.arguments.log, record)

    @dbus.service.method(INTERFACE, in_signature="sa{sv}h", out_signature="a{sv}",
                         sender_keyword="sender", async_callbacks=("reply", "refuse"))
    def CaptureScreen(self, name, options, pipe, sender, reply, refuse):
        fd = pipe.take()
        pid = int(self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
                  .GetConnectionUnixProcessID(sender, dbus_interface="org.freedesktop.DBus"))
        executable = os.path.realpath(f"/proc/{pid}/exe")
        self.log(screen=str(name), options={str(k): bool(v) for k, v in options.items()},
                 executable=executable)
        if self.arguments.silent:
            self.pending.append((reply, refuse, fd))
            return
        try:
            if INTERFACE not in restricted_interfaces(executable):
                raise Refused("NoAuthorized", "The process is not authorized to take a screenshot")
            if name != self.arguments.screen:
                raise Refused("InvalidScreen", "Invalid screen requested")
        except Refused as refusal:
            os.close(fd)
            refuse(refusal)
            return
        width, height, pixels = self.picture
        reply({"type": "raw", "format": dbus.UInt32(QIMAGE_ARGB32),
               "width": dbus.UInt32(width), "height": dbus.UInt32(height),
               "stride": dbus.UInt32(width * 4)})
        threading.Thread(target=self.write, args=(fd, pixels), daemon=True).start()

    @staticmethod
    def write(fd, pixels):
        with os.fdopen(fd, "wb") as pipe:
            try:
                pipe.write(pixels)
            except BrokenPipeError:
                pass


def log_call(path, record):
    """Appends one call to the log, a JSON line, where there is a log."""
    if path:
        with open(path, "a") as log:
            log.write(json.dumps(record) + "\n")


def serve(names, build):
    """Owns these names on the session bus with the objects build(bus) makes, says "ready"
    and runs until killed."""
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    owned = [dbus.service.BusName(name, bus, do_not_queue=True) for name in names]
    services = build(bus)
    print("ready", flush=True)
    try:
        GLib.MainLoop().run()
    finally:
        del services, owned


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--picture")
    parser.add_argument("--screen")
    parser.add_argument("--log")
    parser.add_argument("--silent", action="store_true")
    arguments = parser.parse_args()
    if not arguments.silent and not (arguments.picture and arguments.screen):
        parser.error("--picture and --screen, or --silent")
    serve([INTERFACE], lambda bus: [ScreenShot(bus, arguments)])


if __name__ == "__main__":
    sys.exit(main())
