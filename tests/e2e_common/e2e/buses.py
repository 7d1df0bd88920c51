"""Private D-Bus buses for the programs under test, and the real services put on them: a
session bus (which starts dconf when GSettings is written), and logind on a private system bus
through python-dbusmock's logind template."""

import pathlib
import subprocess

from .processes import end_process, poll, require_programs

# python3-dbusmock is Debian's: it runs with Debian's own python3.
SYSTEM_PYTHON = "/usr/bin/python3"


class SessionBus:
    """A private bus (a session bus's configuration) listening at folder/name. A session bus at
    $XDG_RUNTIME_DIR/bus is the one sd-bus and GLib find without being told."""

    def __init__(self, folder, name="bus"):
        require_programs("dbus-daemon")
        self.folder = pathlib.Path(folder)
        self.name = name
        self.process = None
        self.address = None

    def start(self):
        self.process = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
             f"--address=unix:path={self.folder / self.name}"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.address = self.process.stdout.readline().decode().strip()
        assert self.address, "dbus-daemon gave no address"
        return self.address

    def stop(self):
        if self.process:
            end_process(self.process)
            self.process.stdout.close()
            self.process = None

    def call(self, service, path, interface, method, signature="", *arguments):
        """busctl's answer to a method call on this bus, as text ("b true")."""
        result = subprocess.run(
            ["busctl", f"--address={self.address}", "call", service, path, interface, method,
             *([signature, *map(str, arguments)] if signature else [])],
            capture_output=True, text=True, check=False, timeout=10)
        if result.returncode != 0:
            raise AssertionError(f"busctl call {method} failed: {result.stderr.strip()}")
        return result.stdout.strip()

    def has_owner(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", "s", name) == "b true"


class LogindMock:
    """logind as python-dbusmock's template gives it, on a private system bus of its own, with
    one session. environment() points a program at that bus and session; lock() and unlock()
    set the session's LockedHint as the desktop's lock screen does."""

    SESSION = "c1"
    PATH = f"/org/freedesktop/login1/session/{SESSION}"

    def __init__(self, folder):
        require_programs("busctl")
        self.bus = SessionBus(folder, "system_bus")
        self.process = None

    def start(self, by_pid=False):
        """by_pid: logind also answers GetSessionByPID (the template does not), with this
        session, for a program started without $XDG_SESSION_ID."""
        address = self.bus.start()
        self.process = subprocess.Popen(
            [SYSTEM_PYTHON, "-m", "dbusmock", "--template", "logind"],
            env={"DBUS_SYSTEM_BUS_ADDRESS": address, "PATH": "/usr/bin:/bin"},
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        poll(lambda: self.bus.has_owner("org.freedesktop.login1"), 10,
             message="dbusmock's logind on the bus")
        manager = ("org.freedesktop.login1", "/org/freedesktop/login1")
        self.bus.call(*manager, "org.freedesktop.DBus.Mock", "AddSession", "ssusb",
                      self.SESSION, "seat0", 0, "root", "true")
        if by_pid:
            self.bus.call(*manager, "org.freedesktop.DBus.Mock", "AddMethod", "sssss",
                          "org.freedesktop.login1.Manager", "GetSessionByPID", "u", "o",
                          f"ret = '{self.PATH}'")

    def environment(self, with_session_id=True):
        return {"DBUS_SYSTEM_BUS_ADDRESS": self.bus.address,
                "XDG_SESSION_ID": self.SESSION if with_session_id else None}

    def set_locked(self, locked):
        self.bus.call("org.freedesktop.login1", self.PATH, "org.freedesktop.login1.Session",
                      "SetLockedHint", "b", "true" if locked else "false")

    def stop(self):
        if self.process:
            end_process(self.process)
            self.process = None
        self.bus.stop()
