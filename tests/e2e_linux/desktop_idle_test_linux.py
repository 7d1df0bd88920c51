"""The idle watcher (zorblinth --idle) and the desktop's own rules, on Xvfb, one case a row of
CASES:
- the one line said when the desktop would blank, dim or lock first: GNOME's settings written
  with gsettings into the real dconf on the session's private bus, KDE's files in its
  XDG_CONFIG_HOME; nothing when the saver comes first, without GNOME's schemas, when reading
  them never ends (given up after its deadline), or with a KDE file that cannot be read; the saver still comes in every case (no desktop runs here);
- logind on a private system bus (python-dbusmock's template) whose LockedHint keeps the saver
  away until it turns false, found through $XDG_SESSION_ID or GetSessionByPID; no logind, or a
  system bus that never answers, told only under --verbose;
- the desktop's blank up (GetActive true, on GNOME's and on another owner's freedesktop
  ScreenSaver, played by dbusmock) keeps the saver away until it ends;
- the desktop's shield coming up over a running saver (logind's LockedHint turning true,
  GNOME's ActiveChanged(true), or the lock that the saver's own --lock asked for) ends the saver,
  the watcher going on: no saver while the shield stays, nor a second lock, and after it has
  gone and input came, the saver again."""

import os
import pathlib
import re
import shutil
import socket
import subprocess
import tempfile
import time
import typing

from e2e.buses import MockLogind, MockService, SessionBus
from harness_linux import NORMAL_END, XTestCase, poll

TIMEOUT = 2  # the watcher's --idle seconds
SAVER = "^Form1$"
# Every line the watcher says about the desktop's rules; the saver's own go to the same pipe.
DESKTOP_LINES = re.compile(r"^zorblinth: (not asking logind|GNOME|KDE)")
PROFILES = "[AC][DimDisplay]\nidleTime=600000\n[AC][DPMSControl]\nidleTime=1\n"


class Case(typing.NamedTuple):
    name: str
    desktop: typing.Optional[str] = None  # XDG_CURRENT_DESKTOP
    gsettings: tuple = ()  # (schema, key, value) written before the watcher starts
    no_schemas: bool = False  # GSettings finds no schema at all
    stuck_profile: bool = False  # dconf's profile a FIFO nobody writes: reading never ends
    kde_files: dict = {}  # file in XDG_CONFIG_HOME: its text, or None for a folder there
    # "locked" or "unlocked": dbusmock's logind with our session; "locked by pid": found by
    # GetSessionByPID; "mute": a system bus that takes the connection and never answers; None:
    # no system bus.
    logind: typing.Optional[str] = None
    blank: typing.Optional[str] = None  # the ScreenSaver service whose GetActive is true first
    # What comes up over the running saver: "lock" (LockedHint true), "blank" (GNOME's
    # ActiveChanged(true), GetActive true), "key lock" (a key with --lock, logind's Lock then
    # setting LockedHint).
    shield: typing.Optional[str] = None
    verbose: bool = False
    autostart: bool = False  # through --autostart, which says the line for its watcher
    said: typing.Optional[str] = None  # the one desktop line expected (a regex), if any


SESSION_KEY = ("org.gnome.desktop.session", "idle-delay")
CASES = [
    Case("GNOME blanks first", desktop="ubuntu:GNOME", gsettings=((*SESSION_KEY, "1"),),
         said=re.escape("GNOME blanks and locks the screen after 1 s without input, before the "
                        "saver's 2 s (org.gnome.desktop.session idle-delay): set Settings → "
                        "Power → Screen Blank to more than 2 s, or use a timeout under 1 s")),
    Case("GNOME blanks first, locks later", desktop="GNOME",
         gsettings=((*SESSION_KEY, "2"), ("org.gnome.desktop.screensaver", "lock-delay", "30")),
         said=r"GNOME blanks the screen after 2 s without input and locks it 30 s later, "),
    Case("GNOME's defaults: the saver first", desktop="GNOME"),
    Case("GNOME, never blanks", desktop="GNOME", gsettings=((*SESSION_KEY, "0"),)),
    Case("GNOME without schemas", desktop="GNOME", no_schemas=True),
    Case("GNOME's settings never come", desktop="GNOME", stuck_profile=True),
    Case("GNOME's settings on another desktop", desktop="sway",
         gsettings=((*SESSION_KEY, "1"),)),
    Case("KDE turns the screen off first", desktop="KDE",
         kde_files={"powermanagementprofilesrc": PROFILES},
         said=r"KDE turns the screen off after 1 s without input, .*\[AC\]\[DPMSControl\] "
              r"idleTime.*Screen Energy Saving"),
    Case("KDE turns the screen off first, with --autostart", desktop="KDE",
         kde_files={"powermanagementprofilesrc": PROFILES}, autostart=True,
         said=r"KDE turns the screen off after 1 s without input"),
    Case("KDE's default lock after the saver", desktop="KDE"),
    Case("KDE, an unreadable file", desktop="KDE",
         kde_files={"kscreenlockerrc": None, "powermanagementprofilesrc": PROFILES}),
    Case("a locked session holds the saver back until it is unlocked", logind="locked"),
    Case("the session found by pid, locked", logind="locked by pid"),
    Case("an unlocked session", logind="unlocked"),
    Case("no logind, quiet", logind=None),
    Case("no logind, verbose", logind=None, verbose=True,
         said=r"not asking logind whether the session is locked: .+"),
    Case("a system bus that never answers", logind="mute", verbose=True,
         said=r"not asking logind whether the session is locked: .*did not answer"),
    Case("GNOME's blank", blank="org.gnome.ScreenSaver"),
    Case("another owner's ScreenSaver active", blank="org.freedesktop.ScreenSaver"),
    Case("the session locked over the saver", logind="unlocked", shield="lock"),
    Case("GNOME's blank over the saver", blank="org.gnome.ScreenSaver", shield="blank"),
    Case("the saver's own --lock, told by LockedHint", logind="unlocked", shield="key lock"),
]
# The watcher's line for a saver that ended failing or by a signal of someone else's.
SAVER_FAILED = re.compile(r"^zorblinth: the saver (ended with status|could not cover)")


class DesktopRules(XTestCase):
    @classmethod
    def prepare_session(cls):
        # The session's own bus, where the programs find it unasked; the dconf it starts keeps
        # the session's settings in its XDG_CONFIG_HOME.
        cls.bus = SessionBus(cls.session._runtime, "bus")
        try:
            cls.session.env["DBUS_SESSION_BUS_ADDRESS"] = cls.bus.start(env=cls.session.env)
        except BaseException:
            cls.bus.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.bus.stop()
        super().tearDownClass()

    def gsettings(self, *arguments):
        subprocess.run(["gsettings", *arguments], env=self.session.env, check=True, timeout=10)

    def prepare_desktop(self, case, folder, env):
        """The desktop's settings and services for the case; returns what ends its hold on the
        saver, or None when nothing holds it."""
        if case.desktop:
            env["XDG_CURRENT_DESKTOP"] = case.desktop
        for schema, key, value in case.gsettings:
            self.gsettings("set", schema, key, value)
            self.addCleanup(self.gsettings, "reset", schema, key)
        if case.no_schemas:
            env.update(XDG_DATA_DIRS=folder, GSETTINGS_SCHEMA_DIR=None)
        if case.stuck_profile:
            os.mkfifo(f"{folder}/profile")
            env["DCONF_PROFILE"] = f"{folder}/profile"
        for name, text in case.kde_files.items():
            path = self.session._config / name
            if text is None:
                path.mkdir()
                self.addCleanup(path.rmdir)
            else:
                path.write_text(text)
                self.addCleanup(path.unlink)

        release = None
        if case.logind in ("mute", None):
            if case.logind == "mute":
                mute = socket.socket(socket.AF_UNIX)
                self.addCleanup(mute.close)
                mute.bind(f"{folder}/nothing")
                mute.listen(4)
            env.update(DBUS_SYSTEM_BUS_ADDRESS=f"unix:path={folder}/nothing", XDG_SESSION_ID="c1")
        else:
            logind = MockLogind(folder)
            self.addCleanup(logind.stop)
            session = logind.add_session("c1", 0, "root")
            by_pid = "by pid" in case.logind
            if by_pid:
                logind.answer_session_by_pid(session)
            env.update(logind.environment(), XDG_SESSION_ID=None if by_pid else "c1")
            if case.logind.startswith("locked"):
                logind.set_locked_hint(session, True)
                release = lambda: logind.set_locked_hint(session, False)  # noqa: E731
            if case.shield == "key lock":
                # A locker that says at once that it has locked.
                logind.add_method(session, "org.freedesktop.login1.Session", "Lock", "", "",
                                  'self.UpdateProperties("", {"LockedHint": True})')
            self.logind, self.logind_session = logind, session
        if case.blank:
            screen_saver = MockService(self.bus, case.blank, "/" + case.blank.replace(".", "/"),
                                       case.blank).start()
            self.addCleanup(screen_saver.stop)
            self.screen_saver = screen_saver
            screen_saver.add_method("GetActive", "", "b", f"ret = {not case.shield}")
            release = lambda: screen_saver.add_method("GetActive", "", "b", "ret = False")  # noqa
        return None if case.shield else release

    def set_blank(self, active):
        """GNOME's shield up or down, as the shell tells it."""
        self.screen_saver.add_method("GetActive", "", "b", f"ret = {active}")
        self.screen_saver.emit_signal("ActiveChanged", "b", f"[<{str(active).lower()}>]")

    def shield_over_saver(self, case, watcher):
        """The case's shield comes up over the running saver, which ends, and stays while input
        comes; then it goes."""
        self.session.wait_for_window(SAVER, watcher, timeout=TIMEOUT + 5)
        if case.shield == "blank":
            self.set_blank(True)
        elif case.shield == "lock":
            self.logind.set_locked_hint(self.logind_session, True)
        else:
            self.session.xdotool("key", "a")
        poll(lambda: not self.session.visible_windows(SAVER), 5,
             message="the saver to end under the shield")
        self.session.xdotool("mousemove", 30, 30)  # the password typed, say
        time.sleep(TIMEOUT + 1.5)
        self.assertEqual(self.session.visible_windows(SAVER), [], "a saver behind the shield")
        self.assertIsNone(watcher.poll())
        if case.shield == "blank":
            self.set_blank(False)
        else:
            locks = self.logind.calls(self.logind_session).count("Lock")
            self.assertEqual(locks, 1 if case.shield == "key lock" else 0)
            self.logind.set_locked_hint(self.logind_session, False)
        self.session.xdotool("mousemove", 10, 10)

    def run_case(self, case):
        folder = tempfile.mkdtemp(prefix="zorblinth-e2e-desktop-")
        self.addCleanup(shutil.rmtree, folder)
        env = {}
        release = self.prepare_desktop(case, folder, env)

        self.session.xdotool("mousemove", 10, 10)  # the idle time counts from here
        if case.autostart:
            said = self.autostart(case, env, folder)
        else:
            said = self.watch(case, env, release)
        if case.said:
            self.assertEqual(len(said), 1, said)
            self.assertRegex(said[0], "^zorblinth: " + case.said)
        else:
            self.assertEqual(said, [])

    def end_saver(self):
        self.session.xdotool("key", "a")
        poll(lambda: not self.session.visible_windows(SAVER), 5, message="the saver to end")

    def watch(self, case, env, release):
        """zorblinth --idle through the case; the desktop lines it said."""
        watcher = self.session.start_program(
            "--idle", str(TIMEOUT), *(["--verbose"] if case.verbose else []),
            *(["--lock"] if case.shield == "key lock" else []), extra_env=env)
        if case.shield:
            self.shield_over_saver(case, watcher)
        if release:
            time.sleep(TIMEOUT + 1.5)
            self.assertEqual(self.session.visible_windows(SAVER), [], "a saver held back")
            self.assertIsNone(watcher.poll())
            release()
        self.session.wait_for_window(SAVER, watcher, timeout=2 * TIMEOUT + 5)
        self.end_saver()
        watcher.terminate()
        self.assertEqual(self.session.wait_exit(watcher, 5), NORMAL_END)
        lines = watcher.stderr.read().decode().splitlines()
        self.assertEqual([line for line in lines if SAVER_FAILED.match(line)], [])
        return [line for line in lines if DESKTOP_LINES.match(line)]

    def autostart(self, case, env, folder):
        """zorblinth --autostart, then the saver from its watcher, then --autostart off; the
        desktop lines both said (the watcher writes where the command did)."""
        told = pathlib.Path(folder) / "stderr"

        def command(*arguments, stderr=subprocess.DEVNULL):
            process = self.session.start_process(
                [self.session.program, "--autostart", *arguments], env, stderr=stderr)
            self.assertEqual(self.session.wait_exit(process, 10), NORMAL_END)

        with open(told, "wb") as stderr:
            command(str(TIMEOUT), stderr=stderr)
        self.addCleanup(command, "off")
        poll(lambda: self.session.visible_windows(SAVER), 2 * TIMEOUT + 5,
             message="the saver from the autostarted watcher")
        self.end_saver()
        return [line for line in told.read_text().splitlines() if DESKTOP_LINES.match(line)]

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
