"""The idle watcher (zorblinth --idle) and the desktop's own rules, on Xvfb, one case a row of
CASES: logind on a private system bus (python-dbusmock's template) whose LockedHint keeps the
saver away until it turns false, found through $XDG_SESSION_ID or GetSessionByPID; no logind,
told only under --verbose."""

import re
import socket
import tempfile
import time
import typing

from e2e.buses import LogindMock
from harness_linux import NORMAL_END, XTestCase, poll

TIMEOUT = 2  # the watcher's --idle seconds
SAVER = "^Form1$"
# Every line the watcher says about the desktop's rules; the saver's own go to the same pipe.
DESKTOP_LINES = re.compile(r"^zorblinth: (not asking logind|GNOME|KDE)")


class Case(typing.NamedTuple):
    name: str
    # "locked" or "unlocked": dbusmock's logind with our session; "locked by pid": found by
    # GetSessionByPID; "mute": a system bus that takes the connection and never answers; None:
    # no system bus.
    logind: typing.Optional[str] = None
    verbose: bool = False
    said: typing.Optional[str] = None  # the one desktop line expected (a regex), if any


CASES = [
    Case("a locked session holds the saver back until it is unlocked", logind="locked"),
    Case("the session found by pid, locked", logind="locked by pid"),
    Case("an unlocked session", logind="unlocked"),
    Case("no logind, quiet", logind=None),
    Case("no logind, verbose", logind=None, verbose=True,
         said=r"not asking logind whether the session is locked: .+"),
    Case("a system bus that never answers", logind="mute", verbose=True,
         said=r"not asking logind whether the session is locked: the system bus did not answer"),
]


class DesktopRules(XTestCase):
    def run_case(self, case):
        env = {}
        folder = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-desktop-")
        self.addCleanup(folder.cleanup)
        logind = None
        if case.logind and case.logind != "mute":
            logind = LogindMock(folder.name)
            self.addCleanup(logind.stop)
            logind.start(by_pid="by pid" in case.logind)
            logind.set_locked(case.logind.startswith("locked"))
            env.update(logind.environment(with_session_id="by pid" not in case.logind))
        else:
            if case.logind == "mute":
                mute = socket.socket(socket.AF_UNIX)
                self.addCleanup(mute.close)
                mute.bind(f"{folder.name}/nothing")
                mute.listen(4)
            env.update(DBUS_SYSTEM_BUS_ADDRESS=f"unix:path={folder.name}/nothing",
                       XDG_SESSION_ID="c1")

        self.session.xdotool("mousemove", 10, 10)  # the idle time counts from here
        watcher = self.session.start_program(
            "--idle", str(TIMEOUT), *(["--verbose"] if case.verbose else []), extra_env=env)
        if logind and case.logind.startswith("locked"):
            time.sleep(TIMEOUT + 1.5)
            self.assertEqual(self.session.visible_windows(SAVER), [], "a saver while locked")
            self.assertIsNone(watcher.poll())
            logind.set_locked(False)
        self.session.wait_for_window(SAVER, watcher, timeout=2 * TIMEOUT + 5)
        self.session.xdotool("key", "a")
        poll(lambda: not self.session.visible_windows(SAVER), 5, message="the saver to end")
        watcher.terminate()
        self.assertEqual(self.session.wait_exit(watcher, 5), NORMAL_END)
        said = [line for line in watcher.stderr.read().decode().splitlines()
                if DESKTOP_LINES.match(line)]
        if case.said:
            self.assertEqual(len(said), 1, said)
            self.assertRegex(said[0], "^zorblinth: " + case.said)
        else:
            self.assertEqual(said, [])

    def test_the_desktops_rules(self):
        self.session.write_settings((1, 1))
        for case in CASES:
            with self.subTest(case.name):
                try:
                    self.run_case(case)
                finally:
                    self.session.kill_processes()
                    self.doCleanups()


if __name__ == "__main__":
    import unittest

    unittest.main()
