"""A stand-in for the desktop's screenshot portal (org.freedesktop.portal.Screenshot) and the
portal's permission store on a private session bus, for the end-to-end tests: GNOME's own need
a whole GNOME session.

The permission store answers Lookup("screenshot", "screenshot") with the entries given
(--entry APP=PERMISSION, "" for programs outside a sandbox), or with the store's NotFound error
when there are none. The portal answers Screenshot as xdg-desktop-portal does: the request's
object path at once, then a Response signal on it with a fresh copy of --picture and its file:
URI, as if the screen had been taken.

    portal_stand_in.py --picture FILE.png --folder DIR --log FILE [--entry =yes]
    portal_stand_in.py ... --silent      (takes Screenshot calls and never answers)
    portal_stand_in.py ... --response 2  (answers with that code and no picture: 1 cancelled,
                                          2 refused, as when the user clicks Deny)

Each call is logged as one JSON line. Runs with Debian's python3 (python3-dbus, python3-gi).
"""

import argparse
import pathlib
import shutil
import sys
import urllib.parse

import dbus
import dbus.service
from gi.repository import GLib

from kwin_stand_in import log_call, serve

STORE = "org.freedesktop.impl.portal.PermissionStore"
PORTAL = "org.freedesktop.portal.Desktop"
REQUESTS = "/org/freedesktop/portal/desktop/request"


class PermissionStore(dbus.service.Object):
    def __init__(self, bus, arguments):
        super().__init__(bus, "/org/freedesktop/impl/portal/PermissionStore")
        self.arguments = arguments
        self.entries = {}
        for entry in arguments.entry:
            app, permission = entry.split("=", 1)
            self.entries.setdefault(app, []).append(permission)

    @dbus.service.method(STORE, in_signature="ss", out_signature="a{sas}v")
    def Lookup(self, table, key):
        log_call(self.arguments.log, {"call": "Lookup", "table": str(table), "id": str(key)})
        if (table, key) != ("screenshot", "screenshot") or not self.entries:
            raise dbus.DBusException(f"No entry for {key}",
                                     name="org.freedesktop.portal.Error.NotFound")
        return (dbus.Dictionary(self.entries, signature="sas"),
                dbus.Byte(0, variant_level=1))


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


class Screenshot(dbus.service.Object):
    def __init__(self, bus, arguments):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus = bus
        self.arguments = arguments
        self.taken = 0

    @dbus.service.method("org.freedesktop.portal.Screenshot", in_signature="sa{sv}",
                         out_signature="o", sender_keyword="sender")
    def Screenshot(self, parent_window, options, sender):
        token = str(options.get("handle_token", f"t{self.taken}"))
        path = f"{REQUESTS}/{sender[1:].replace('.', '_')}/{token}"
        log_call(self.arguments.log, {
            "call": "Screenshot", "parent_window": str(parent_window), "path": path,
            "options": {str(k): (bool(v) if isinstance(v, dbus.Boolean) else str(v))
                        for k, v in options.items()}})
        if not self.arguments.silent:
            GLib.idle_add(self.answer, path)
        return dbus.ObjectPath(path)

    def answer(self, path):
        request = Request(self.bus, path)
        if self.arguments.response:
            request.Response(dbus.UInt32(self.arguments.response), {})
            request.remove_from_connection()
            return False
        self.taken += 1
        picture = pathlib.Path(self.arguments.folder) / f"Screenshot {self.taken}.png"
        shutil.copyfile(self.arguments.picture, picture)
        request.Response(dbus.UInt32(0), {"uri": "file://" + urllib.parse.quote(str(picture))})
        request.remove_from_connection()
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--picture", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--log")
    parser.add_argument("--entry", action="append", default=[])
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--response", type=int, default=0)
    arguments = parser.parse_args()
    serve([STORE, PORTAL], lambda bus: [PermissionStore(bus, arguments),
                                       Screenshot(bus, arguments)])


if __name__ == "__main__":
    sys.exit(main())
