"""Private D-Bus buses for the programs under test, and the services put on them: a session
bus (which starts the real dconf or the portals on demand), a bus of the system's kind, services
played by python-dbusmock (a desktop's ScreenSaver), and logind through dbusmock's template. The
test talks to them with dbus-send and gdbus, so the test's own python needs no D-Bus module;
dbusmock runs with Debian's python3, whose python3-dbusmock and python3-dbus it uses."""

import pathlib
import re
import signal
import subprocess

from .processes import end_process, end_with_parent, poll, require_programs

# python3-dbus, python3-gi and python3-dbusmock are Debian's: what uses them runs with Debian's
# own python3.
SYSTEM_PYTHON = "/usr/bin/python3"

LOGIND = "org.freedesktop.login1"
LOGIND_PATH = "/org/freedesktop/login1"
MOCK = "org.freedesktop.DBus.Mock"


class SessionBus:
    """A private bus (a session bus's configuration) listening at folder/name. A session bus at
    $XDG_RUNTIME_DIR/bus is the one sd-bus and GLib find without being told. env, when given, is
    the daemon's whole environment, and so that of the services it starts on demand (dconf
    writes the settings of the XDG_CONFIG_HOME it has, the portals see the desktop's)."""

    def __init__(self, folder, name="bus", env=None):
        require_programs("dbus-daemon", "dbus-send")
        self.folder = pathlib.Path(folder)
        self.name = name
        self.env = env
        self.process = None
        self.address = None

    def daemon_options(self):
        return ["--session", f"--address=unix:path={self.folder / self.name}"]

    def start(self, env=None):
        self.process = subprocess.Popen(
            ["dbus-daemon", *self.daemon_options(), "--nofork", "--nopidfile",
             "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env or self.env,
            preexec_fn=end_with_parent)
        self.address = self.process.stdout.readline().decode().strip()
        assert self.address, "dbus-daemon gave no address"
        return self.address

    def stop(self):
        if self.process:
            self.process.send_signal(signal.SIGCONT)  # a test may have stopped it
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


class SystemBus(SessionBus):
    """A private bus of the system's kind (DBUS_SYSTEM_BUS_ADDRESS), on which anyone may own
    any name: for desktops that need a system bus and the stand-ins of its services."""

    CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
"""

    def __init__(self, folder, name="system_bus", env=None):
        super().__init__(folder, name, env)

    def daemon_options(self):
        config = self.folder / "system-bus.conf"
        config.write_text(self.CONFIG.format(socket=self.folder / self.name))
        return [f"--config-file={config}"]


class MockService:
    """A service python-dbusmock plays on a bus: one object of a template's, or a bare one whose
    methods add_method() gives."""

    def __init__(self, bus, name, path, interface, template=None, system=False):
        self.bus, self.name, self.path, self.interface = bus, name, path, interface
        self.template, self.system = template, system
        self.process = None

    def start(self):
        what = [*(["--system"] if self.system else [])]
        what += ["--template", self.template] if self.template else [
            self.name, self.path, self.interface]
        variable = "DBUS_SYSTEM_BUS_ADDRESS" if self.system else "DBUS_SESSION_BUS_ADDRESS"
        self.process = subprocess.Popen(
            [SYSTEM_PYTHON, "-m", "dbusmock", *what],
            env={variable: self.bus.address, "PATH": "/usr/bin:/bin"},
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        poll(lambda: self._owned(), 10, message=f"dbusmock's {self.name}")
        return self

    def _owned(self):
        if self.process.poll() is not None:
            raise AssertionError(f"dbusmock ended: {self.process.stderr.read().decode()}")
        return self.bus.has_owner(self.name)

    def mock(self, method, signature, *arguments, path=None):
        """Calls one of dbusmock's own methods (AddMethod, AddSession...) on an object."""
        return self.bus.call(self.name, path or self.path, MOCK, method, signature, *arguments)

    def add_method(self, name, in_signature, out_signature, code, interface="", path=None):
        """Gives the object a method, or new code for one it has; interface "": its own."""
        self.mock("AddMethod", "sssss", interface, name, in_signature, out_signature, code,
                  path=path)

    def emit_signal(self, name, signature, arguments, path=None):
        """Sends one of the object's own signals; arguments in GVariant text ("[<true>]")."""
        done = subprocess.run(
            ["gdbus", "call", "--address", self.bus.address, "--dest", self.name,
             "--object-path", path or self.path, "--method", f"{MOCK}.EmitSignal", "--timeout",
             "5", "", name, signature, arguments],
            capture_output=True, text=True, timeout=10)
        if done.returncode != 0:
            raise AssertionError(f"EmitSignal {name}: {done.stderr.strip()}")

    def calls(self, path=None):
        """The names of the methods called on the object, in order."""
        done = subprocess.run(
            ["gdbus", "call", "--address", self.bus.address, "--dest", self.name,
             "--object-path", path or self.path, "--method", f"{MOCK}.GetCalls", "--timeout", "5"],
            capture_output=True, text=True, timeout=10)
        if done.returncode != 0:
            raise AssertionError(f"GetCalls: {done.stderr.strip()}")
        return re.findall(r"\(uint64 \d+, '(\w+)'", done.stdout)

    def freeze(self):
        """Stops the service: its names stay on the bus, and nothing answers."""
        self.process.send_signal(signal.SIGSTOP)

    def stop(self):
        if self.process:
            self.process.send_signal(signal.SIGCONT)
            end_process(self.process)
            self.process.stderr.close()
            self.process = None


class MockLogind:
    """logind as python-dbusmock's template gives it, on a private system bus of its own that
    programs started with environment() take for theirs (running=False: the bus alone).
    Sessions are added with add_session(); set_locked_hint() sets one's LockedHint as the
    desktop's lock screen does; what was called on an object is read back with calls()."""

    def __init__(self, folder, running=True):
        require_programs("gdbus", SYSTEM_PYTHON)
        self.bus = SystemBus(folder)
        self.bus.start()
        self.service = MockService(self.bus, LOGIND, LOGIND_PATH, "org.freedesktop.login1.Manager",
                                   template="logind", system=True)
        if running:
            self.service.start()

    def environment(self):
        return {"DBUS_SYSTEM_BUS_ADDRESS": self.bus.address}

    def add_session(self, session_id, uid, user):
        """A session on seat0; its object path."""
        self.service.mock("AddSession", "ssusb", session_id, "seat0", uid, user, "true")
        return f"{LOGIND_PATH}/session/{session_id}"

    def answer_session_by_pid(self, path):
        """GetSessionByPID (which the template lacks) answers that session, for a program
        started without $XDG_SESSION_ID."""
        self.add_method(LOGIND_PATH, "org.freedesktop.login1.Manager", "GetSessionByPID", "u",
                        "o", f"ret = '{path}'")

    def add_method(self, path, interface, name, in_signature, out_signature, code):
        """A method on an existing object (or one that replaces the template's), its body Python
        run by the mock."""
        self.service.add_method(name, in_signature, out_signature, code, interface=interface,
                                path=path)

    def calls(self, path):
        return self.service.calls(path)

    def set_locked_hint(self, path, locked):
        self.bus.call(LOGIND, path, "org.freedesktop.login1.Session", "SetLockedHint", "b",
                      "true" if locked else "false")

    def freeze(self):
        """Stops the mock: its names stay on the bus, and nothing answers."""
        self.service.freeze()

    def freeze_bus(self):
        """Stops the bus itself: a connection is accepted by the kernel, and nothing more."""
        self.bus.process.send_signal(signal.SIGSTOP)

    def stop(self):
        self.service.stop()
        self.bus.stop()
