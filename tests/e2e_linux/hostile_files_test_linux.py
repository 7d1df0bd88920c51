"""The real zorblinth with something other than a regular file where its settings file belongs:
a FIFO nobody writes to, a link to /dev/zero and a folder. No mode may wait on it: the dialog
opens and "設定" reports the failure, the standalone saver and a host's hack start, draw and end
as ever. The thing at the settings path is left as it was."""

import os
import pathlib
import shutil
import stat

from harness_linux import (
    DIALOG_TITLE,
    NORMAL_END,
    SETTINGS_NOT_SAVED,
    ScreenSaverHost,
    XTestCase,
    crop,
    poll,
)

KINDS = ("fifo", "device", "folder")
SET_BUTTON = (72, 88, 81, 33)  # left, top, width, height inside the dialog


def plant(path: pathlib.Path, kind):
    """Puts a FIFO, a link to /dev/zero or a folder where the settings file belongs; returns
    what lstat says of it, to compare with afterwards."""
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path)
    elif path.exists() or path.is_symlink():
        path.unlink()
    if kind == "fifo":
        os.mkfifo(path, 0o600)
    elif kind == "device":
        path.symlink_to("/dev/zero")
    else:
        path.mkdir()
    return stat.S_IFMT(path.lstat().st_mode)


def restore(path: pathlib.Path):
    """A regular settings file again, for the next test."""
    plant(path, "folder")
    path.rmdir()
    path.write_bytes(bytes((1, 1)))


class HostileFilesTest(XTestCase):
    """Each test plants each kind in turn and ends the program it started."""

    def setUp(self):
        self.addCleanup(restore, self.session.settings_file)
        self.addCleanup(self.session.kill_processes)

    def for_each_kind(self, check):
        """check(kind, planted) for each kind planted in turn, each a subtest; what it started
        is ended before the next."""
        for kind in KINDS:
            with self.subTest(kind=kind):
                try:
                    check(kind, plant(self.session.settings_file, kind))
                finally:
                    self.session.kill_processes()

    def wait_for_lines(self, process, picture):
        """Waits until picture() changes twice while the process runs: it shows its picture
        and then adds lines to it, tick after tick, as with a regular settings file."""
        def changed_from(previous):
            def changed():
                if process.poll() is not None:
                    raise AssertionError(f"it ended with {process.returncode}: "
                                         f"{process.stderr.read().decode()}")
                shot = picture()
                return shot if shot.count_changed(previous) > 0 else None
            return changed

        shown = poll(changed_from(picture()), 10, interval=0.05, message="its picture")
        poll(changed_from(shown), 5, interval=0.05, message="lines added to its picture")

    def assert_left_as_it_was(self, kind, planted):
        path = self.session.settings_file
        self.assertEqual(stat.S_IFMT(path.lstat().st_mode), planted, f"the {kind} was replaced")
        if kind == "folder":
            self.assertEqual(list(path.iterdir()), [])


class HostileFilesDialog(HostileFilesTest):
    SCREEN = (1024, 768)

    def test_the_dialog_opens_and_set_reports_the_failure(self):
        self.for_each_kind(self.check_dialog)

    def check_dialog(self, kind, planted):
        process = self.session.start_program()
        window = self.session.wait_for_window(f"^{DIALOG_TITLE}$", process)
        left, top, _, _ = self.session.window_geometry(window)
        x, y, width, height = SET_BUTTON
        self.session.click(left + x + width // 2, top + y + height // 2)

        message = self.session.wait_for_window("^Zorblinth$", process, timeout=10)
        self.session.xdotool("windowfocus", "--sync", message)
        self.session.xdotool("key", "Return")
        self.assertEqual(self.session.wait_exit(process), SETTINGS_NOT_SAVED)
        self.assert_left_as_it_was(kind, planted)


class HostileFilesStandalone(HostileFilesTest):
    """--saver under openbox, over the test pattern."""

    WINDOW_MANAGER = True
    PATTERN = True

    def test_the_saver_starts_draws_and_ends_on_a_move(self):
        self.for_each_kind(self.check_saver)

    def check_saver(self, kind, planted):
        # A saver that just ended leaves its lines until the pattern repaints.
        poll(lambda: self.session.screenshot().rgb == self.pattern.rgb, 5,
             message="the pattern alone on the screen")
        self.session.move_mouse(400, 300)
        process = self.session.start_program("--saver")
        self.wait_for_lines(process, self.session.screenshot)
        self.session.xdotool("mousemove_relative", "--", 1, 0)
        self.assertEqual(self.session.wait_exit(process, timeout=5), NORMAL_END)
        self.assert_left_as_it_was(kind, planted)


class HostileFilesHosted(HostileFilesTest):
    """--root in a host's window, ended by the host's SIGTERM."""

    AREA = (100, 80, 400, 300)

    def test_the_hack_starts_draws_and_ends_on_sigterm(self):
        self.for_each_kind(self.check_hack)

    def check_hack(self, kind, planted):
        left, top, width, height = self.AREA
        host = ScreenSaverHost(self.session, "--at", f"{left},{top}", "--size",
                               f"{width}x{height}")
        process = self.session.start_program(
            "--root", extra_env={"XSCREENSAVER_WINDOW": str(host.window)})
        self.wait_for_lines(process, lambda: crop(self.session.screenshot(), *self.AREA))
        status, _ = self.session.stop_with_signal(process, timeout=5)
        self.assertEqual(status, NORMAL_END)
        self.assert_left_as_it_was(kind, planted)
