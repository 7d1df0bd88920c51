"""Start-up: the command line picks saver, preview, password or settings mode, and only one copy
runs at a time."""

import time

from harness import (ALREADY_RUNNING, DIALOG_TITLE, NORMAL_END, WineTestCase, poll)


class StartupTest(WineTestCase):
    def test_saver_mode_needs_only_the_first_two_characters(self):
        for arguments in (("/Scr",), ("/S",), ("/s", "1234")):
            with self.subTest(arguments=arguments):
                try:
                    process, _ = self.start_saver((1, 1), arguments)
                    self.assertFalse(self.session.cursor.is_visible())
                    (window,) = self.saver_windows()
                    self.assertEqual(self.session.xdotool("getwindowname", window).strip(),
                                     "Form1")
                    self.end_saver_with_mouse(process)
                finally:
                    # A saver left running would be taken for the next one.
                    self.session.kill_processes()

    def test_preview_and_password_modes_end_at_once_drawing_nothing(self):
        pattern = self.session.show_pattern()
        for arguments in (("/p", "1234"), ("/P", "99"), ("/a",), ("/A", "1234")):
            with self.subTest(arguments=arguments):
                process = self.session.start_program(self.folder, *arguments)
                self.assertEqual(self.session.wait_exit(process, timeout=10), NORMAL_END)
                self.assertEqual(self.session.screenshot().count_changed(pattern), 0)
                self.assertEqual(self.saver_windows(), [])
        # Nothing read or created the settings file either.
        self.assertFalse(self.folder.settings.exists())

    def test_other_arguments_open_the_settings_dialog(self):
        for arguments in ((), ("/c",), ("/C:1234",), ("-s",)):
            with self.subTest(arguments=arguments):
                process = self.session.start_program(self.folder, *arguments)
                state = self.driver.state()
                self.assertEqual(state["title"], DIALOG_TITLE)
                self.assertEqual(self.saver_windows(), [])
                self.driver.run("click", "cancel")
                self.assertEqual(self.session.wait_exit(process), NORMAL_END)

    def test_a_second_saver_ends_at_once_showing_nothing(self):
        first, _ = self.start_saver((1, 1))
        windows = self.saver_windows()
        second = self.session.start_program(self.folder, "/s")
        self.assertEqual(self.session.wait_exit(second, timeout=10), ALREADY_RUNNING)
        self.assertEqual(self.saver_windows(), windows)
        self.assertIsNone(first.poll(), "the first saver ended")
        self.end_saver_with_mouse(first)

    def test_a_second_copy_refuses_the_dialog_too(self):
        process = self.session.start_program(self.folder)
        self.driver.state()
        second = self.session.start_program(self.folder, "/c")
        self.assertEqual(self.session.wait_exit(second, timeout=10), ALREADY_RUNNING)
        self.driver.run("click", "cancel")
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)

    def test_two_savers_started_together_leave_one(self):
        self.folder.write_settings((1, 1))
        both = [self.session.start_program(self.folder, "/s") for _ in range(2)]
        ended = poll(lambda: [p for p in both if p.poll() is not None], 15,
                     message="one of the two savers to end")
        self.assertEqual(len(ended), 1, "both savers ended")
        self.assertEqual(ended[0].returncode, ALREADY_RUNNING)
        survivor = next(p for p in both if p is not ended[0])
        self.wait_for_saver_window(survivor)
        time.sleep(0.3)
        self.assertEqual(len(self.saver_windows()), 1)
        self.end_saver_with_mouse(survivor)
