"""cmake --install into a temporary prefix: every file the hosts and desktops look for, and each
one in a form they accept. Needs the native build, xmllint, desktop-file-validate and
ImageMagick.

    ZORBLINTH_BUILD_DIR=build/native python3 -m unittest -v install_test
"""
import os
import shlex
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

BUILD_DIR = Path(os.environ.get("ZORBLINTH_BUILD_DIR", "build/native")).resolve()
SOURCE_DIR = Path(__file__).resolve().parents[2]
CMAKE = os.environ.get("ZORBLINTH_CMAKE", "cmake")

NO_DISPLAY = 3
BAD_COMMAND_LINE = 64


def run(*command, **options):
    options.setdefault("text", True)
    return subprocess.run(command, capture_output=True, timeout=60, **options)


def desktop_entry(path):
    """The [Desktop Entry] group's keys and values."""
    entry, group = {}, None
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("["):
            group = line
        elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            entry[key] = value
    return entry


def rgb_pixels(image):
    return run("convert", str(image), "rgb:-", text=False).stdout


class InstalledFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="zorblinth-install-")
        # A prefix no host knows, so every path below must come from the install step itself.
        cls.prefix = Path(cls.folder.name) / "prefix"
        installed = run(CMAKE, "--install", str(BUILD_DIR), "--prefix", str(cls.prefix))
        if installed.returncode != 0:
            cls.folder.cleanup()
            raise AssertionError("cmake --install failed:\n" + installed.stdout + installed.stderr)
        cls.program = cls.prefix / "bin/zorblinth"
        cls.hack = cls.prefix / "libexec/xscreensaver/zorblinth"
        cls.hack_xml = cls.prefix / "share/xscreensaver/config/zorblinth.xml"
        cls.saver_entry = cls.prefix / "share/applications/screensavers/zorblinth.desktop"
        cls.settings_entry = cls.prefix / "share/applications/zorblinth-settings.desktop"
        cls.program_entry = cls.prefix / "share/applications/zorblinth.desktop"
        cls.icon = cls.prefix / "share/icons/hicolor/48x48/apps/zorblinth.png"

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def run_without_display(self, program, arguments):
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("DISPLAY", "XSCREENSAVER_WINDOW")}
        return run(str(program), *arguments, env=environment)

    def test_program_and_hack(self):
        for path in (self.program, self.hack):
            with self.subTest(path=path):
                self.assertTrue(path.is_file(), path)
                self.assertTrue(os.access(path, os.X_OK), path)
        # Hosts start the hack by this path; it must be the very program in bin.
        self.assertTrue(self.hack.resolve().samefile(self.program))
        if self.hack.is_symlink():
            self.assertFalse(os.path.isabs(os.readlink(self.hack)),
                             "an absolute link breaks under DESTDIR and in the package")
        helped = run(str(self.hack), "--help")
        self.assertEqual(helped.returncode, 0, helped.stderr)
        self.assertIn("--root", helped.stdout)
        self.assertIn("--line-width", helped.stdout)

    def test_hack_settings_xml(self):
        checked = run("xmllint", "--noout", str(self.hack_xml))
        self.assertEqual(checked.returncode, 0, checked.stderr)
        root = ElementTree.parse(self.hack_xml).getroot()
        self.assertEqual(root.tag, "screensaver")
        # xscreensaver-settings finds the file by the command's program name.
        self.assertEqual(root.get("name"), "zorblinth")
        self.assertTrue(root.get("_label"))
        self.assertEqual([c.get("arg") for c in root.iter("command")], ["--root"])
        self.assertTrue((root.findtext("_description") or "").strip())

        sliders = {n.get("arg"): n for n in root.iter("number")}
        self.assertEqual(sorted(sliders), ["--line-amount %", "--line-width %"])
        for arg, low, high, label in (("--line-width %", 1, 10, "線の太さ"),
                                      ("--line-amount %", 1, 20, "線の多さ")):
            with self.subTest(slider=arg):
                slider = sliders[arg]
                self.assertEqual(slider.get("type"), "slider")
                self.assertEqual((int(slider.get("low")), int(slider.get("high"))), (low, high))
                self.assertTrue(low <= int(slider.get("default")) <= high)
                self.assertEqual(slider.get("_label"), label)
                self.assertTrue(slider.get("_low-label") and slider.get("_high-label"))
        self.assertEqual(sliders["--line-amount %"].get("_low-label"), "少ない")
        self.assertEqual(sliders["--line-amount %"].get("_high-label"), "多い")

        # Every command line the settings can build (sliders at either end, and the preview's
        # added --window-id) is one the program accepts: without a display it gets as far as
        # opening it, never stopping at the command line.
        command = [c.get("arg") for c in root.iter("command")]
        for end in ("low", "high"):
            options = []
            for arg, slider in sliders.items():
                options += arg.replace("%", slider.get(end)).split()
            for preview in ([], ["--window-id", "0x2c00001"]):
                arguments = command + options + preview
                with self.subTest(arguments=arguments):
                    ran = self.run_without_display(self.hack, arguments)
                    self.assertEqual(ran.returncode, NO_DISPLAY, ran.stderr)
        # ...and a mistyped one is still refused, so the check above means something.
        ran = self.run_without_display(self.hack, command + ["--line-width", "%"])
        self.assertEqual(ran.returncode, BAD_COMMAND_LINE)

    def test_desktop_entries(self):
        for path in (self.saver_entry, self.settings_entry, self.program_entry):
            with self.subTest(path=path):
                checked = run("desktop-file-validate", str(path))
                self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                self.assertNotIn("error", checked.stdout.lower())

        saver = desktop_entry(self.saver_entry)
        self.assertEqual(saver["Type"], "Application")
        self.assertIn("Screensaver", saver["Categories"].split(";"))
        self.assertTrue(saver.get("Comment[ja]"))
        # MATE and Xfce run only an absolute path inside a hack folder they know.
        exec_line = shlex.split(saver["Exec"])
        self.assertEqual(Path(exec_line[0]), self.hack)
        self.assertEqual(exec_line[1:], ["--root"])
        self.assertEqual(Path(saver["TryExec"]), self.hack)

        # KWin gives its screenshots to the program whose entry lists the interface and whose
        # Exec starts with the program's own absolute path (through links: the hack's).
        program = desktop_entry(self.program_entry)
        self.assertEqual(shlex.split(program["Exec"]), [str(self.program), "--saver"])
        self.assertEqual(program["NoDisplay"], "true")
        for entry in (program, saver):
            self.assertEqual(entry["X-KDE-DBUS-Restricted-Interfaces"].split(","),
                             ["org.kde.KWin.ScreenShot2"])
            self.assertEqual(Path(shlex.split(entry["Exec"])[0]).resolve(), self.program.resolve())

        settings = desktop_entry(self.settings_entry)
        self.assertEqual(shlex.split(settings["Exec"]), ["zorblinth", "--settings"])
        self.assertEqual(settings["Icon"], "zorblinth")
        self.assertEqual(settings["Categories"].split(";")[:2], ["Settings", "DesktopSettings"])

    def test_icon_png(self):
        with self.icon.open("rb") as png:
            self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")
        identified = run("identify", "-format", "%m %w %h", str(self.icon))
        self.assertEqual(identified.returncode, 0, identified.stderr)
        self.assertEqual(identified.stdout, "PNG 48 48")
        # The same picture as the committed Windows icon, pixel for pixel: a picture changed in
        # make_icon.py without regenerating zorblinth.ico shows up here.
        png_pixels = rgb_pixels(self.icon)
        self.assertEqual(len(png_pixels), 48 * 48 * 3)
        self.assertEqual(png_pixels, rgb_pixels(SOURCE_DIR / "resources/zorblinth.ico"))


if __name__ == "__main__":
    unittest.main()
