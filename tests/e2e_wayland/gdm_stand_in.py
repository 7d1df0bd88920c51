"""A stand-in for GDM on a private system bus: it answers only org.gnome.DisplayManager.Manager's
Version (and takes RegisterSession), for the real nested GNOME Shell. No GDM can run here, and
without one on the system bus GNOME Shell 43 makes no screen shield: no blank after idle-delay,
no lock, no org.gnome.ScreenSaver. Prints "ready" once it owns the name.

Runs with Debian's python3 (python3-gi).
"""

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = """<node><interface name="org.gnome.DisplayManager.Manager">
<method name="RegisterSession"><arg type="a{sv}" direction="in"/></method>
<property name="Version" type="s" access="read"/></interface></node>"""

# The shell asks for at least 3.5.91; this is the one Debian 12 ships.
VERSION = "43.0"


def main():
    interface = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    loop = GLib.MainLoop()

    def connected(connection, _name):
        connection.register_object(
            "/org/gnome/DisplayManager/Manager", interface,
            lambda _c, _s, _p, _i, _m, _args, invocation: invocation.return_value(None),
            lambda *_: GLib.Variant("s", VERSION), None)

    Gio.bus_own_name(Gio.BusType.SYSTEM, "org.gnome.DisplayManager",
                     Gio.BusNameOwnerFlags.NONE, connected,
                     lambda *_: print("ready", flush=True), lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
