"""The idle watcher's peers on a private session bus, for the end-to-end tests.

    idle_stand_ins.py inhibitor PATH
        a video player: calls org.freedesktop.ScreenSaver.Inhibit at PATH, prints the cookie;
        then "uninhibit" on stdin calls UnInhibit and prints "done"; at the end of stdin it
        leaves the bus with the inhibit still held.
    idle_stand_ins.py session-manager
        GNOME's org.gnome.SessionManager as a video that plays makes it: IsInhibited(flags)
        is true for the idle flag (8); prints "ready" once it owns the name.

Runs with Debian's python3 (python3-dbus, python3-gi).
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

IDLE_FLAG = 8


class SessionManager(dbus.service.Object):
    @dbus.service.method("org.gnome.SessionManager", in_signature="u", out_signature="b")
    def IsInhibited(self, flags):
        return bool(flags & IDLE_FLAG)


def inhibitor(path):
    bus = dbus.SessionBus()
    saver = dbus.Interface(bus.get_object("org.freedesktop.ScreenSaver", path),
                           "org.freedesktop.ScreenSaver")
    cookie = saver.Inhibit("test-player", "a video plays", timeout=5)
    print(int(cookie), flush=True)
    for line in sys.stdin:
        if line.strip() == "uninhibit":
            saver.UnInhibit(cookie, timeout=5)
            print("done", flush=True)


def session_manager():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName("org.gnome.SessionManager", bus)  # noqa: F841 (held)
    SessionManager(bus, "/org/gnome/SessionManager")
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    if sys.argv[1] == "inhibitor":
        inhibitor(sys.argv[2])
    else:
        session_manager()
