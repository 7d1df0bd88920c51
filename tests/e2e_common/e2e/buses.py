"""Private D-Bus buses for the programs under test, and the services put on them: a session
bus (which starts the real dconf when GSettings is written), services played by python-dbusmock
(a desktop's ScreenSaver), and logind on a private system bus through dbusmock's template."""

import pathlib
import subprocess

from .processes import end_process, end_with_parent, poll, require_programs

# python3-dbusmock is Debian's: it runs with Debian's own python3.
SYSTEM_PYTHON = "/usr/bin/python3"


class SessionBus:
    """A private bus (a session bus's configuration) listening at folder/name. A session bus at
    $XDG_RUNTIME_DIR/bus is the one sd-bus and GLib find without being told."""

    def __init__(self, folder, name="bus"):
        require_programs("dbus-daemon", "dbus-send")
        self.folder = pathlib.Path(folder)
        self.name = name
        self.process = None
        self.address = None

    def start(self, env=None):
        """env: the environment of the services the bus starts (dconf writes the settings of
        the XDG_CONFIG_HOME it has); by default this process's."""
        self.process = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
             f"--address=unix:path={self.folder / self.name}"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
            preexec_fn=end_with_parent)
        self.address = self.process.stdout.readline().decode().strip()
        assert self.address, "dbus-daemon gave no address"
        return self.address

    def stop(self):
        if self.process:
            end_process(self.process)
            self.process.stdout.close()
            self.process = None

    def call(self, service, path, interface, method, signature="", *arguments):
        """dbus-send's answer to a method call on this bus, as text ("boolean true"). signature
        gives each argument's type, of s, u, b and o."""
        types = {"s": "string", "u": "uint32", "b": "boolean", "o": "objpath"}
        result = subprocess.run(
            ["dbus-send", f"--bus={self.address}", "--print-reply=literal", f"--dest={service}",
             path, f"{interface}.{method}",
             *(f"{types[kind]}:{argument}" for kind, argument in zip(signature, arguments))],
            capture_output=True, text=True, check=False, timeout=10)
        if result.returncode != 0:
            raise AssertionError(f"dbus-send {method} failed: {result.stderr.strip()}")
        return result.stdout.strip()

    def has_owner(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", "s", name) == "boolean true"


class MockService:
    """A service python-dbusmock plays on a bus: one object of a template's, or a bare one whose
    methods add_method() gives."""

    def __init__(self, bus, name, path, interface, template=None, system=False):
        self.bus, self.name, self.path, self.interface = bus, name, path, interface
        self.template, self.system = template, system
        self.process = None

    def start(self):
        what = ["--template", self.template] if self.template else [
            *(["--system"] if self.system else []), self.name, self.path, self.interface]
        variable = "DBUS_SYSTEM_BUS_ADDRESS" if self.system else "DBUS_SESSION_BUS_ADDRESS"
        self.process = subprocess.Popen(
            [SYSTEM_PYTHON, "-m", "dbusmock", *what],
            env={variable: self.bus.address, "PATH": "/usr/bin:/bin"},
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        poll(lambda: self.bus.has_owner(self.name), 10, message=f"dbusmock's {self.name}")
        return self

    def mock(self, method, signature, *arguments, path=None):
        """Calls one of dbusmock's own methods (AddMethod, AddSession...) on an object."""
        return self.bus.call(self.name, path or self.path, "org.freedesktop.DBus.Mock", method,
                             signature, *arguments)

    def add_method(self, name, in_signature, out_signature, code, interface=""):
        """Gives the object a method, or new code for one it has; interface "": its own."""
        self.mock("AddMethod", "sssss", interface, name, in_signature, out_signature, code)

    def stop(self):
        if self.process:
            end_process(self.process)
            self.process = None


class LogindMock:
    """logind as python-dbusmock's template gives it, on a private system bus of its own, with
    one session. environment() points a program at that bus and session; set_locked() sets the
    session's LockedHint as the desktop's lock screen does."""

    SESSION = "c1"
    PATH = f"/org/freedesktop/login1/session/{SESSION}"

    def __init__(self, folder):
        self.bus = SessionBus(folder, "system_bus")
        self.service = MockService(self.bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                   "org.freedesktop.login1.Manager", template="logind",
                                   system=True)

    def start(self, by_pid=False):
        """by_pid: logind also answers GetSessionByPID (the template does not), with this
        session, for a program started without $XDG_SESSION_ID."""
        self.bus.start()
        self.service.start()
        self.service.mock("AddSession", "ssusb", self.SESSION, "seat0", 0, "root", "true")
        if by_pid:
            self.service.add_method("GetSessionByPID", "u", "o", f"ret = '{self.PATH}'",
                                    interface="org.freedesktop.login1.Manager")

    def environment(self, with_session_id=True):
        return {"DBUS_SYSTEM_BUS_ADDRESS": self.bus.address,
                "XDG_SESSION_ID": self.SESSION if with_session_id else None}

    def set_locked(self, locked):
        self.bus.call("org.freedesktop.login1", self.PATH, "org.freedesktop.login1.Session",
                      "SetLockedHint", "b", "true" if locked else "false")

    def stop(self):
        self.service.stop()
        self.bus.stop()
