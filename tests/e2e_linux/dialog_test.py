"""The real zorblinth's settings dialog on X: the Japanese captions as drawn glyphs, a real click
on "キャンセル", the idle group driven as a user does (the login entry and the running watcher
it leaves, or the message where the entry cannot be written), and the status when there is no
display. Saves the dialog's screenshot."""

import os
import shutil
import signal

from harness_linux import (DIALOG_TITLE, NORMAL_END, SETTINGS_NOT_SAVED, WINDOW_SYSTEM_FAILED,
                           XTestCase, glyphs_in, poll)

# Where each caption sits inside the dialog, in pixels at 96 dpi: left, top, width, height.
CAPTION_LAYOUT = {
    "線の太さ - 5": (8, 8, 81, 17),
    "線の多さ": (8, 40, 73, 17),
    "少ない": (88, 64, 41, 17),
    "多い": (224, 64, 41, 17),
    "設定": (72, 88, 81, 33),
    "キャンセル": (176, 88, 81, 33),
    # The idle group below (Linux only); the check boxes' captions start past their boxes.
    "パソコンを使っていないときに開始する": (28, 136, 237, 17),
    "待ち時間": (28, 163, 57, 17),
    "分": (160, 163, 25, 17),
    "再開時にロック画面を表示する": (28, 192, 237, 17),
}
START_WHEN_IDLE = (16, 144)
WAIT_MINUTES = (110, 171)
LOCK_ON_RESUME = (16, 200)
SET = (112, 104)


class SettingsDialogTest(XTestCase):
    SCREEN = (1024, 768)

    def setUp(self):
        self.addCleanup(self.session.kill_processes)

    def test_japanese_captions_are_drawn_and_cancel_closes_without_writing(self):
        self.session.write_settings((5, 12))
        # The group shows the entry in force: on, ten minutes, the lock.
        entry = self.session.autostart_entry
        entry.parent.mkdir(exist_ok=True)
        entry.write_text("[Desktop Entry]\nType=Application\nExec=zorblinth --idle 600 --lock\n")
        self.addCleanup(entry.unlink)
        process = self.session.start_program()
        window = self.session.wait_for_window(f"^{DIALOG_TITLE}$", process)
        left, top, width, height = self.session.window_geometry(window)
        self.assertEqual((width, height), (272, 216))

        def inside(rect):
            x, y, w, h = rect
            return left + x, top + y, w, h

        raw = self.session.settled_raw_screenshot()
        self.session.save_png(raw, "dialog-linux.png", (left, top, width, height))
        shot = self.session.convert(raw)
        for caption, rect in CAPTION_LAYOUT.items():
            with self.subTest(caption=caption):
                glyphs = glyphs_in(shot, *inside(rect))
                # Each character is one group of ink, "-" and "5" too; a box for a missing glyph
                # would repeat the same bitmap.
                self.assertGreaterEqual(len(glyphs), len(caption.replace(" ", "")) - 1,
                                        f"{caption} is not drawn in full")
                if len(caption) > 1:
                    self.assertGreater(len(set(glyphs)), 1, f"{caption} shows identical boxes")

        x, y, w, h = inside(CAPTION_LAYOUT["キャンセル"])
        self.session.click(x + w // 2, y + h // 2)
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)
        self.assertEqual(self.session.read_settings(), bytes((5, 12)))

    def test_the_idle_group_sets_the_login_entry_and_the_watcher(self):
        entry = self.session.autostart_entry
        for name, entry_folder_usable, lock in (("the watcher with --lock", True, True),
                                                ("an entry that cannot be written", False, False)):
            with self.subTest(name):
                folder = entry.parent
                if folder.is_dir():
                    shutil.rmtree(folder)
                if not entry_folder_usable:
                    folder.write_text("a file where the folder belongs")
                self.addCleanup(self.end_watcher)
                watcher_before = self.session.running_watcher()
                process = self.session.start_program(extra_env={"XDG_CURRENT_DESKTOP": None})
                window = self.session.wait_for_window(f"^{DIALOG_TITLE}$", process)
                left, top, _, _ = self.session.window_geometry(window)

                def click(spot):
                    self.session.click(left + spot[0], top + spot[1])

                click(START_WHEN_IDLE)
                click(WAIT_MINUTES)
                self.session.xdotool("key", "ctrl+a", "type", "7")
                if lock:
                    click(LOCK_ON_RESUME)
                click(SET)
                if entry_folder_usable:
                    self.assertEqual(self.session.wait_exit(process), NORMAL_END)
                    exec_line = [line for line in entry.read_text().splitlines()
                                 if line.startswith("Exec=")]
                    self.assertEqual(len(exec_line), 1)
                    self.assertTrue(exec_line[0].endswith(" --idle 420 --lock"), exec_line)
                    watcher = self.session.running_watcher()
                    self.assertIsNotNone(watcher, "no watcher runs")
                    with open(f"/proc/{watcher}/cmdline", "rb") as command:
                        self.assertEqual(command.read().split(b"\0")[1:4],
                                         [b"--idle", b"420", b"--lock"])
                else:
                    # The message, as for the settings file; nothing half-written, and the
                    # watcher that ran (the case before's) runs on.
                    message = self.session.wait_for_window("^Zorblinth$", process)
                    self.session.xdotool("windowfocus", "--sync", message)
                    self.session.xdotool("key", "Return")
                    self.assertEqual(self.session.wait_exit(process), SETTINGS_NOT_SAVED)
                    self.assertTrue(folder.is_file())
                    self.assertEqual(list(folder.parent.glob("autostart*")), [folder])
                    self.assertIsNotNone(watcher_before)
                    self.assertEqual(self.session.running_watcher(), watcher_before)
                    folder.unlink()

    def end_watcher(self):
        pid = self.session.running_watcher()
        if pid:
            os.kill(pid, signal.SIGTERM)
            poll(lambda: self.session.running_watcher() is None, 5, message="the watcher to end")

    def test_without_a_display_it_ends_with_status_3(self):
        process = self.session.start_program(extra_env={"DISPLAY": None})
        self.assertEqual(self.session.wait_exit(process), WINDOW_SYSTEM_FAILED)
