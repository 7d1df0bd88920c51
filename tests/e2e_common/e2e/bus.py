"""Private D-Bus buses, and python-dbusmock's logind on one of them as the programs' system bus.
The test talks to the mock with gdbus, so the test's own python needs no D-Bus module; the mock
itself runs with Debian's python3, whose python3-dbusmock and python3-dbus it uses."""

import pathlib
import re
import signal
import subprocess

from e2e.processes import end_process, poll, require_programs

# python3-dbus, python3-gi and python3-dbusmock are Debian's: what uses them runs with Debian's
# own python3.
SYSTEM_PYTHON = "/usr/bin/python3"

LOGIND = "org.freedesktop.login1"
LOGIND_PATH = "/org/freedesktop/login1"
MOCK = "org.freedesktop.DBus.Mock"


class PrivateBus:
    """A private dbus-daemon in a folder of the session's, for a compositor and the programs
    under test to share (as their session bus, or as their system bus)."""

    def __init__(self, folder):
        require_programs("dbus-daemon")
        self.folder = pathlib.Path(folder)
        self.process = None
        self.address = None

    def start(self):
        self.process = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
             f"--address=unix:path={self.folder / 'bus'}"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.address = self.process.stdout.readline().decode().strip()
        assert self.address, "dbus-daemon gave no address"
        return self.address

    def stop(self):
        if self.process:
            end_process(self.process)
            self.process.stdout.close()
            self.process = None


class MockLogind:
    """logind as python-dbusmock's template gives it, on a private bus that programs started
    with environment() take for the system bus. Sessions are added with add_session(); what was
    called on an object is read back with calls(). stop() ends the mock and its bus."""

    def __init__(self, folder, running=True):
        require_programs("gdbus", SYSTEM_PYTHON)
        self.bus = PrivateBus(folder)
        self.mock = None
        self.bus.start()
        if running:
            self.mock = subprocess.Popen(
                [SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", "logind"],
                env=self.environment(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            poll(lambda: self._owned(), 10, message="dbusmock's logind on the bus")

    def environment(self):
        return {"DBUS_SYSTEM_BUS_ADDRESS": self.bus.address}

    def _owned(self):
        if self.mock.poll() is not None:
            raise AssertionError(f"dbusmock ended: {self.mock.stderr.read().decode()}")
        out = self.gdbus("/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                         f"'{LOGIND}'", dest="org.freedesktop.DBus", check=False)
        return "true" in out

    def gdbus(self, path, method, *arguments, dest=LOGIND, check=True):
        """One call; its reply as gdbus prints it (GVariant text)."""
        done = subprocess.run(
            ["gdbus", "call", "--system", "--dest", dest, "--object-path", path,
             "--method", method, "--timeout", "5", *arguments],
            env=self.environment() | {"PATH": "/usr/bin:/bin"}, capture_output=True, text=True,
            timeout=10)
        if check and done.returncode != 0:
            raise AssertionError(f"gdbus {method}: {done.stderr.strip()}")
        return done.stdout

    def add_session(self, session_id, uid, user):
        """A session on seat0; its object path."""
        self.gdbus(LOGIND_PATH, f"{MOCK}.AddSession", f"'{session_id}'", "'seat0'",
                   f"uint32 {uid}", f"'{user}'", "true")
        return f"{LOGIND_PATH}/session/{session_id}"

    def add_method(self, path, interface, name, in_signature, out_signature, code):
        """A method on an existing object (or one that replaces the template's), its body Python
        run by the mock."""
        self.gdbus(path, f"{MOCK}.AddMethod", f"'{interface}'", f"'{name}'",
                   f"'{in_signature}'", f"'{out_signature}'", '"' + code + '"')

    def calls(self, path):
        """The names of the methods called on the object, in order."""
        out = self.gdbus(path, f"{MOCK}.GetCalls")
        return re.findall(r"\(uint64 \d+, '(\w+)'", out)

    def set_locked_hint(self, path, locked):
        """As the session's locker does once it shows."""
        self.gdbus(path, "org.freedesktop.login1.Session.SetLockedHint",
                   "true" if locked else "false")

    def freeze(self):
        """Stops the mock: its names stay on the bus, and nothing answers."""
        self.mock.send_signal(signal.SIGSTOP)

    def freeze_bus(self):
        """Stops the bus itself: a connection is accepted by the kernel, and nothing more."""
        self.bus.process.send_signal(signal.SIGSTOP)

    def stop(self):
        if self.bus.process:
            self.bus.process.send_signal(signal.SIGCONT)
        if self.mock:
            self.mock.send_signal(signal.SIGCONT)
            end_process(self.mock)
            self.mock.stderr.close()
            self.mock = None
        self.bus.stop()
