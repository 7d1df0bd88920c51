"""The standalone saver on the compositors of KDE Plasma and GNOME, nested in an Xvfb, and the
screenshot portal GNOME's picture comes from.

On KWin 5.27: its first picture from KWin's screenshot interface (given here by a stand-in, as
KWin offers it only with a GPU), who may have it, the black start where there is none or where
the service never answers, and the input that ends it. On mutter 43: a black start (without a
portal) that a key, a click or a move ends. The portal (a stand-in, on two outputs of a headless
sway with screencopy off, as on GNOME): its picture of the whole desktop cut to each output, only
where its permission store already allows this program, and a black start in time otherwise,
also where the portal never answers. The real portal on a real GNOME Shell:
gnome_shell_test_wayland.py."""

import os
import pathlib
import subprocess
import tempfile
import time
import unittest

from e2e.images import Screenshot, write_png
from harness_wayland import (NORMAL_END, NestedSession, ProcessGroup, SessionBus,
                             SessionTestCase, SwaySession, install_program, most_pixels_drawn,
                             poll, read_log, required_path, start_portal_stand_in,
                             still_running_after, wait_exit)

# The share of the screen the frozen pattern must fill before the saver counts as showing it.
MOSTLY = 0.8


class SaverOnKWin(SessionTestCase):
    @classmethod
    def make_session(cls):
        return NestedSession("kwin", 640, 480)

    @classmethod
    def prepare_session(cls):
        cls.prefix = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-prefix-")
        cls.installed = install_program(cls.prefix.name)
        # What KWin would give: its output as it shows it now, the desktop's pattern.
        cls.desktop = cls.session.save_ppm(cls.session.screenshot(), "desktop.ppm")

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.prefix.cleanup()

    def setUp(self):
        self.session.write_settings(1, 1)
        self.session.x.move_mouse(300, 200)
        self.log = self.session.folder / f"{self.id().rsplit('.', 1)[-1]}.log"

    def tearDown(self):
        self.session.kill_processes()
        poll(self.session.shows_pattern, 10, interval=0.1, message="the bare desktop")

    def start_with_stand_in(self, *stand_in_arguments, program=None):
        self.session.start_stand_in(*stand_in_arguments, "--log", self.log,
                                    data_dirs=[pathlib.Path(self.prefix.name) / "share"])
        started = time.monotonic()
        saver = self.session.start_saver("--verbose", program=program)
        return saver, started

    def covered(self, saver, seconds=5):
        """The first screenshot in which KWin's output no longer shows the bare pattern, and
        when it was taken."""
        def shown():
            if saver.poll() is not None:
                raise AssertionError(f"the saver ended with {saver.returncode}: "
                                     f"{saver.stderr.read().decode(errors='replace')}")
            taken = time.monotonic()
            shot = self.session.screenshot()
            return (shot, taken) if shot.rgb != self.session.pattern.rgb else None
        return poll(shown, seconds, interval=0.02, message="the saver's surface")

    def assert_black_start(self, shot, started):
        elapsed = time.monotonic() - started
        black = sum(shot.rgb[i:i + 3] == b"\0\0\0" for i in range(0, len(shot.rgb), 3))
        drawn = shot.width * shot.height - black
        self.assertLessEqual(drawn, most_pixels_drawn(shot.width, shot.height, elapsed),
                             "not a black start")

    def assert_ends_on(self, saver, act, why):
        act()
        self.assertFalse(still_running_after(saver, 3), f"still running after {why}")
        self.assertEqual(saver.returncode, NORMAL_END)

    def test_the_first_picture_is_kwins_and_a_key_or_a_move_ends_it(self):
        session = self.session
        for ending in ("key", "move"):
            with self.subTest(ending=ending):
                self.log.unlink(missing_ok=True)
                saver, started = self.start_with_stand_in(
                    "--picture", self.desktop, "--screen", session.OUTPUT,
                    program=self.installed)
                shot, _ = self.covered(saver)
                # Lines on the frozen pattern, 1:1 and upright: most of it is still there.
                time.sleep(0.3)
                shot = session.screenshot()
                elapsed = time.monotonic() - started
                drawn = shot.changed_mask(session.pattern)
                self.assertGreater(len(drawn), 0, "no lines drawn")
                self.assertLessEqual(len(drawn),
                                     most_pixels_drawn(shot.width, shot.height, elapsed),
                                     "the saver's picture is not the desktop KWin gave")
                calls = read_log(self.log)
                self.assertEqual([call["screen"] for call in calls], [session.OUTPUT])
                self.assertEqual(calls[0]["options"],
                                 {"include-cursor": False, "native-resolution": True})
                self.assertEqual(calls[0]["executable"], str(self.installed.resolve()))
                if ending == "key":
                    self.assert_ends_on(saver, lambda: session.x.xdotool("key", "a"), "a key")
                else:
                    self.assert_ends_on(saver, lambda: session.x.move_mouse(310, 200),
                                        "a move")
            # The next round's stand-in takes the same name on the bus.
            self.tearDown()

    def test_a_program_without_its_desktop_entry_is_refused_and_starts_from_black(self):
        # The build tree's program: no installed entry names it, so KWin refuses it.
        saver, started = self.start_with_stand_in(
            "--picture", self.desktop, "--screen", self.session.OUTPUT)
        shot, _ = self.covered(saver)
        time.sleep(0.2)
        self.assert_black_start(self.session.screenshot(), started)
        self.assert_ends_on(saver, lambda: self.session.x.xdotool("key", "a"), "a key")
        said = saver.stderr.read().decode(errors="replace")
        self.assertIn("org.kde.KWin.ScreenShot2.Error.NoAuthorized", said)
        self.assertEqual(len(said.splitlines()), 4, said)  # screencopy, KWin, the portal, black

    def test_a_service_that_never_answers_leaves_a_black_start_within_a_second(self):
        saver, started = self.start_with_stand_in("--silent", program=self.installed)
        shot, taken = self.covered(saver)
        self.assertLess(taken - started, 1.0, "the screen was not covered within a second")
        time.sleep(0.2)
        self.assert_black_start(self.session.screenshot(), started)
        self.assertEqual(len(read_log(self.log)), 1, "the saver did not ask")
        self.assert_ends_on(saver, lambda: self.session.x.move_mouse(310, 200), "a move")

    def test_without_a_screenshot_service_it_starts_from_black_quietly(self):
        # This KWin composites without OpenGL and so offers no screenshots at all.
        started = time.monotonic()
        saver = self.session.start_saver(program=self.installed)
        shot, _ = self.covered(saver)
        time.sleep(0.2)
        self.assert_black_start(self.session.screenshot(), started)
        self.assert_ends_on(saver, lambda: self.session.x.xdotool("click", "1"), "a click")
        self.assertEqual(saver.stderr.read(), b"", "said something without --verbose")


class SaverOnMutter(SessionTestCase):
    @classmethod
    def make_session(cls):
        return NestedSession("mutter")

    def setUp(self):
        self.session.write_settings(1, 1)
        self.session.x.move_mouse(300, 200)

    def tearDown(self):
        self.session.kill_processes()
        poll(self.session.shows_pattern, 10, interval=0.1, message="the bare desktop")

    def test_a_black_start_that_a_key_a_click_or_a_move_ends(self):
        session = self.session
        # Nested mutter turns xdotool's jumps to a point into no motion for its clients, only
        # relative moves: the move is one of those.
        for ending in ("key", "click", "move"):
            with self.subTest(ending=ending):
                started = time.monotonic()
                saver = session.start_saver("--verbose")
                # mutter may show the window before it is full-screen: wait for the black.
                def black_start():
                    try:
                        SaverOnKWin.assert_black_start(self, session.screenshot(), started)
                        return True
                    except AssertionError:
                        return False
                poll(black_start, 5, interval=0.05, message="a black start")
                act = {"key": lambda: session.x.xdotool("key", "a"),
                       "click": lambda: session.x.xdotool("click", "1"),
                       "move": lambda: session.x.xdotool("mousemove_relative", "5", "5")}[ending]
                SaverOnKWin.assert_ends_on(self, saver, act, f"a {ending}")
                said = saver.stderr.read().decode(errors="replace")
                self.assertIn("starting from black", said)
            self.tearDown()


def black_start(test, shot, started, name):
    black = sum(shot.rgb[i:i + 3] == b"\0\0\0" for i in range(0, len(shot.rgb), 3))
    test.assertLessEqual(shot.width * shot.height - black,
                         most_pixels_drawn(shot.width, shot.height, time.monotonic() - started),
                         f"no black start on {name}")


def layout_picture(session):
    """The whole desktop as a portal pictures it: each output's picture at its place in the
    layout's bounding box, black where no output is."""
    width = max(output.x + output.picture.width for output in session.outputs)
    height = max(output.y + output.picture.height for output in session.outputs)
    rows = [bytearray(width * 3) for _ in range(height)]
    for output in session.outputs:
        for y in range(output.picture.height):
            rows[output.y + y][output.x * 3:(output.x + output.picture.width) * 3] = \
                output.picture.row(y)
    return Screenshot(b"".join(rows), width, height)


class PicturesFromThePortal(SessionTestCase):
    """Two outputs side by side, 640 x 480 and 800 x 600 (tops level, so the portal's picture
    has black below the first); neither wlr screencopy (turned off) nor KWin on the bus."""

    @classmethod
    def make_session(cls):
        return SwaySession(640, 480, more_outputs=[(800, 600)])

    @classmethod
    def prepare_session(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="zorblinth-e2e-portal-")
        folder = pathlib.Path(cls.folder.name)
        cls.bus = SessionBus(folder)
        cls.env = {"DBUS_SESSION_BUS_ADDRESS": cls.bus.start(),
                   "ZORBLINTH_WAYLAND_SCREENCOPY": "off"}
        cls.desktop = write_png(layout_picture(cls.session), folder / "desktop.png")
        cls.shots = folder / "Pictures"
        cls.shots.mkdir()
        cls.log = folder / "portal.log"

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.bus.stop()
        cls.folder.cleanup()

    def setUp(self):
        self.stand_in = ProcessGroup()

    def tearDown(self):
        self.session.kill_processes()
        self.stand_in.kill_all()

    def run_case(self, entries, silent=False):
        """Starts the stand-in and the saver; returns the saver, when it started, when the
        screen was seen covered, the outputs then and the calls logged."""
        session = self.session
        self.log.unlink(missing_ok=True)
        start_portal_stand_in(self.stand_in, dict(session.env, **self.env), "--picture", self.desktop,
                              "--folder", self.shots, "--log", self.log,
                              *(f"--entry={entry}" for entry in entries),
                              *(["--silent"] if silent else []))
        names = [output.name for output in session.outputs]
        before = session.screenshots(names)
        started = time.monotonic()
        saver = session.start_saver("--verbose", extra_env=self.env)
        covered = session.wait_for_saver(saver, before)
        return saver, started, covered, session.screenshots(names), read_log(self.log)

    def test_the_portals_picture_only_where_the_permission_store_allows_it(self):
        session = self.session
        session.write_settings(1, 1)
        session.pointer_to(300, 200)
        cases = {"allowed": (["=yes"], False), "no entry": ([], False),
                 "said no": (["=no"], False), "another program's": (["org.example.App=yes"], False),
                 "a portal that never answers": (["=yes"], True)}
        for case, (entries, silent) in cases.items():
            with self.subTest(case=case):
                saver, started, covered, shots, calls = self.run_case(entries, silent)
                self.assertLess(covered - started, 1.0, "not covered within a second")
                allowed = case == "allowed"
                for name, shot in shots.items():
                    if allowed:
                        # Cut at the wrong place or size, it would differ almost everywhere.
                        drawn = shot.changed_mask(session.output(name).picture)
                        self.assertLessEqual(len(drawn), most_pixels_drawn(
                            shot.width, shot.height, time.monotonic() - started),
                            f"{name} does not show its part of the portal's picture")
                    else:
                        black_start(self, shot, started, name)
                folder = os.environ.get("ZORBLINTH_SCREENSHOTS")
                if allowed and folder:
                    write_png(session.screenshot(), os.path.join(folder, "saver_portal_wayland.png"))
                session.type("a")
                self.assertEqual(wait_exit(saver, 3), NORMAL_END)
                said = saver.stderr.read().decode(errors="replace")
                self.assertEqual(calls[0], {"call": "Lookup", "table": "screenshot",
                                            "id": "screenshot"})
                asked = [call for call in calls if call["call"] == "Screenshot"]
                if entries == ["=yes"]:
                    self.assertEqual(len(asked), 1, calls)
                    self.assertEqual(asked[0]["parent_window"], "")
                    self.assertIs(asked[0]["options"]["interactive"], False)
                    self.assertIn("handle_token", asked[0]["options"])
                else:
                    self.assertEqual(asked, [], "asked the portal without the permission")
                    self.assertIn("permission store", said)
                if silent:
                    self.assertIn("the portal did not answer within", said)
                self.assertEqual("starting from black" in said, not allowed, said)
                # The portal's file is gone at once.
                self.assertEqual(list(self.shots.iterdir()), [])
            self.tearDown()  # the next case's stand-in takes the same names


class AskingForThePermission(unittest.TestCase):
    """What `zorblinth --autostart` asks the portal (through zorblinth_portal_ask_wayland), on a
    bus of its own with the stand-in."""

    def ask(self, folder, stand_in_arguments, command, **environment):
        """Runs `command` on a bus of its own with the stand-in (none for None); gives what it
        said on standard output and standard error, how long it took, the portal's Screenshot
        calls and the pictures left in the portal's folder."""
        bus = SessionBus(folder)
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus.start(), **environment)
        group = ProcessGroup()
        try:
            shots = folder / "Pictures"
            shots.mkdir()
            picture = write_png(Screenshot(b"\x80" * 48, 4, 4), folder / "desktop.png")
            if stand_in_arguments is not None:
                start_portal_stand_in(group, env, "--picture", picture, "--folder",
                                      shots, "--log", folder / "log", *stand_in_arguments)
            started = time.monotonic()
            said = subprocess.run(command, env=env, capture_output=True, text=True, timeout=20)
            took = time.monotonic() - started
        finally:
            group.kill_all()
            bus.stop()
        asked = [call for call in read_log(folder / "log") if call["call"] == "Screenshot"]
        return said, took, asked, list(shots.iterdir())

    def test_the_answer_and_no_picture_left(self):
        program = required_path("ZORBLINTH_PORTAL_ASK")
        cases = {"already allowed": (["--entry==yes"], "allowed", False),
                 "allowed in the dialog": ([], "allowed", True),
                 "denied": (["--response=2"], "denied", True),
                 "nobody answers": (["--silent"], "noAnswer", True),
                 "no portal": (None, "unavailable", False)}
        for case, (arguments, answer, asks) in cases.items():
            with self.subTest(case=case), \
                    tempfile.TemporaryDirectory(prefix="zorblinth-e2e-ask-") as name:
                result, took, asked, left = self.ask(pathlib.Path(name), arguments, [program, "1"])
                self.assertEqual(result.returncode, 0, result.stderr)
                said = result.stdout
                self.assertEqual(said.split(":")[0], answer, said)
                self.assertEqual(len(said.splitlines()), 1, said)
                self.assertEqual(len(asked), 1 if asks else 0, asked)
                if asks:
                    self.assertIs(asked[0]["options"]["interactive"], False)
                self.assertEqual(left, [], "a picture left behind")
                if answer == "noAnswer":
                    self.assertGreater(took, 0.9, "gave up before its patience")
                self.assertLess(took, 3, "waited past its patience")

    def test_autostart_asks_on_gnome_alone(self):
        # No window system here, so the watcher it starts ends at once: only the question counts.
        program = required_path("ZORBLINTH_LINUX_PROGRAM")
        for desktop, asks in {"ubuntu:GNOME": True, "KDE": False, "": False}.items():
            with self.subTest(desktop=desktop), \
                    tempfile.TemporaryDirectory(prefix="zorblinth-e2e-autostart-") as name:
                folder = pathlib.Path(name)
                result, _, asked, left = self.ask(
                    folder, [], [program, "--autostart", "600"], XDG_CURRENT_DESKTOP=desktop,
                    XDG_CONFIG_HOME=str(folder / "config"), WAYLAND_DISPLAY="", DISPLAY="")
                self.assertTrue((folder / "config/autostart/zorblinth-idle.desktop").exists())
                self.assertEqual(len(asked), 1 if asks else 0, result.stderr)
                told = [line for line in result.stderr.splitlines() if "desktop picture" in line]
                self.assertEqual(told, ["zorblinth: the desktop picture on GNOME: "
                                        "the screenshot portal allows it"] if asks else [],
                                 result.stderr)
                self.assertEqual(left, [], "a picture left behind")

if __name__ == "__main__":
    unittest.main()
