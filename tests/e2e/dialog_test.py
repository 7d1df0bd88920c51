"""The settings dialog as a user meets it: opening values, the scroll bars and their readout,
saving, cancelling, the keyboard, a file that cannot be written, and the Japanese captions."""

import time

from harness import (ALREADY_RUNNING, DIALOG_TITLE, LINE_WIDTH_PREFIX, NORMAL_END,
                     SETTINGS_NOT_SAVED, WineTestCase, ink_clusters, poll, stroke_width)

# Where each caption sits inside the dialog, in pixels at 96 dpi: left, top, width, height.
CAPTION_LAYOUT = {
    "label1": (8, 8, 81, 17),
    "label2": (8, 40, 73, 17),
    "label3": (88, 64, 41, 17),
    "label4": (224, 64, 41, 17),
    "command1": (72, 88, 81, 33),
    "command2": (176, 88, 81, 33),
}
SCROLL_BAR_LAYOUT = {"hscroll1": (88, 8, 177, 17), "hscroll2": (88, 40, 177, 17)}

WS_THICKFRAME = 0x00040000
WS_SYSMENU = 0x00080000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000


def label1_for(width):
    return f"{LINE_WIDTH_PREFIX}{width}"


def as_int(text):
    return int(text, 0)


class SettingsDialogTest(WineTestCase):
    def open_dialog(self, settings=None, folder=None):
        folder = folder or self.folder
        if settings is not None:
            folder.write_settings(settings)
        process = self.session.start_program(folder)
        try:
            return process, self.driver.state()
        except AssertionError:
            # The copy closed just before may not yet have let go of the one-copy mutex in the
            # wineserver, and this one then ends as a second copy (2): started once more. Any
            # other way of showing no dialog fails, with the program's status.
            if process.poll() != ALREADY_RUNNING:
                raise AssertionError(f"no dialog; the program's status: {process.poll()}")
            process = self.session.start_program(folder)
            return process, self.driver.state()

    def close_with_cancel(self, process):
        self.driver.run("click", "cancel")
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)

    def assert_values(self, state, width, amount):
        self.assertEqual((as_int(state["hscroll1"]), as_int(state["hscroll2"])), (width, amount))
        self.assertEqual(state["label1"], label1_for(width))

    def dialog_window(self):
        return poll(lambda: self.session.visible_windows(f"^{DIALOG_TITLE}$"), 10,
                    message="the dialog's X window")[0]

    def press_key_in_dialog(self, key):
        """A real key press, typed with the dialog focused and the pointer over it."""
        window = self.dialog_window()
        x, y, width, height = self.session.window_geometry(window)
        self.session.move_mouse(x + width // 2, y + height // 2)
        self.session.xdotool("windowfocus", "--sync", window, check=False)
        self.session.xdotool("key", key)

    def click_close_box(self):
        """A real click on the close box at the right end of the title bar."""
        x, y, width, _ = self.session.window_geometry(self.dialog_window())
        self.session.move_mouse(x + width - 12, y + 11)
        self.session.xdotool("click", "1")

    # --- opening ---------------------------------------------------------------------------

    def test_opens_with_the_stored_values_ranges_and_focus(self):
        process, state = self.open_dialog((5, 12))
        self.assertEqual(state["title"], DIALOG_TITLE)
        self.assert_values(state, 5, 12)
        self.assertEqual((as_int(state["hscroll1_min"]), as_int(state["hscroll1_max"])), (1, 10))
        self.assertEqual((as_int(state["hscroll2_min"]), as_int(state["hscroll2_max"])), (1, 20))
        self.assertEqual(state["label2"], "線の多さ")
        self.assertEqual(state["label3"], "少ない")
        self.assertEqual(state["label4"], "多い")
        self.assertEqual(state["command1"], "設定")
        self.assertEqual(state["command2"], "キャンセル")
        self.assertEqual(state["focus"].lower(), "hscroll1")
        self.close_with_cancel(process)
        self.assertEqual(self.folder.read_settings(), bytes((5, 12)))

    def test_window_frame_and_layout(self):
        process, state = self.open_dialog((1, 1))
        self.assertEqual(tuple(int(v) for v in state["client"].split(","))[2:], (272, 128))
        for name, expected in {**CAPTION_LAYOUT, **SCROLL_BAR_LAYOUT}.items():
            with self.subTest(control=name):
                self.assertEqual(self.driver.rect(state, name), expected)
        style = as_int(state["style"])
        self.assertTrue(style & WS_SYSMENU, "no close box")
        self.assertFalse(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
                         f"style {style:#x} is resizable or has minimise/maximise")
        self.close_with_cancel(process)

    def test_missing_and_out_of_range_files_open_within_the_ranges(self):
        for stored, width, amount in ((None, 1, 1), ((0xFF, 0xFF), 10, 20), ((0, 0), 1, 1)):
            with self.subTest(stored=stored):
                if stored is None and self.folder.settings.exists():
                    self.folder.settings.unlink()
                process, state = self.open_dialog(stored)
                self.assert_values(state, width, amount)
                self.close_with_cancel(process)

    def test_japanese_captions_are_drawn_as_glyphs(self):
        process, state = self.open_dialog((5, 12))
        self.session.move_mouse(0, 0)
        time.sleep(0.3)  # let the dialog finish painting
        raw = self.session.raw_screenshot()
        self.session.save_png(raw, "dialog.png",
                              self.session.window_geometry(self.dialog_window()))
        shot = self.session.convert(raw)
        for name in CAPTION_LAYOUT:
            with self.subTest(control=name):
                x, y, w, h = self.driver.screen_rect(state, name)
                self.assertGreater(shot.ink_in(x, y, w, h, dark_below=160), 15,
                                   f"{name} shows no text")
        # Missing glyphs come out as identical boxes; real ones differ from each other.
        x, y, w, h = self.driver.screen_rect(state, "label2")
        rows = shot.crop_rows(x, y, w, h)
        glyphs = ink_clusters(rows)
        self.assertGreaterEqual(len(glyphs), 3, "線の多さ does not show as separate characters")
        self.assertGreater(len(set(glyphs)), 1, "線の多さ shows as identical boxes")
        self.close_with_cancel(process)

    # --- the scroll bars -------------------------------------------------------------------

    def test_the_pen_width_readout_follows_every_step_and_drag(self):
        process, state = self.open_dialog((1, 1))
        self.assertEqual(state["label1"], label1_for(1))
        state = self.driver.run("scroll", 1, "lineright")
        self.assert_values(state, 2, 1)
        state = self.driver.run("scroll", 1, "pageright")
        self.assert_values(state, 3, 1)
        state = self.driver.run("scroll", 1, "lineleft")
        self.assert_values(state, 2, 1)
        # Dragging the thumb: the readout changes before the button is released.
        for position in range(1, 11):
            state = self.driver.run("scroll", 1, "thumbtrack", position)
            self.assertEqual(state["label1"], label1_for(position))
        state = self.driver.run("scroll", 1, "thumbposition", 10)
        state = self.driver.run("scroll", 1, "endscroll")
        self.assert_values(state, 10, 1)
        state = self.driver.run("scroll", 1, "lineright")
        self.assert_values(state, 10, 1)  # stays within its range
        state = self.driver.run("scroll", 1, "left")
        self.assert_values(state, 1, 1)
        state = self.driver.run("scroll", 1, "lineleft")
        self.assert_values(state, 1, 1)
        self.close_with_cancel(process)
        self.assertEqual(self.folder.read_settings(), bytes((1, 1)))

    def test_the_line_amount_bar_changes_no_label(self):
        process, before = self.open_dialog((4, 10))
        labels = {name: before[name] for name in ("label1", "label2", "label3", "label4")}
        for action in (("lineright",), ("pageleft",), ("thumbtrack", 17), ("right",)):
            state = self.driver.run("scroll", 2, *action)
            self.assertEqual({name: state[name] for name in labels}, labels)
        self.assertEqual(as_int(state["hscroll2"]), 20)
        self.close_with_cancel(process)

    # --- saving and not saving -------------------------------------------------------------

    def test_set_writes_both_values_keeps_later_bytes_and_the_saver_uses_them(self):
        process, _ = self.open_dialog((1, 1, 0xAA, 0xBB))
        self.driver.run("scroll", 1, "thumbtrack", 7)
        self.driver.run("scroll", 1, "thumbposition", 7)
        self.driver.run("scroll", 1, "endscroll")
        state = self.driver.run("scroll", 2, "right")
        self.assert_values(state, 7, 20)
        self.driver.run("click", "set")
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)
        self.assertEqual(self.folder.read_settings(), bytes((7, 20, 0xAA, 0xBB)))

        # The saver draws with the saved pen width. Level 20 would cover the screen in one tick
        # and hide the strokes, so only the amount byte is turned down for this look.
        self.folder.write_settings((7, 1, 0xAA, 0xBB))
        saver, pattern = self.start_saver(None, pattern=True)
        shot = poll(lambda: (lambda s: s if s.count_changed(pattern) > 2000 else None)(
            self.session.screenshot()), 10, interval=0.02, message="lines")
        self.assertAlmostEqual(stroke_width(shot.changed_mask(pattern, ignore_black=True)), 7,
                               delta=1.5)
        self.end_saver_with_mouse(saver)

    def test_cancel_close_box_and_escape_change_nothing(self):
        stored = bytes((3, 9, 0x42))

        def move_both_bars():
            self.driver.run("scroll", 1, "lineright")
            self.driver.run("scroll", 2, "pageleft")

        for how in ("cancel", "close", "close box", "escape"):
            with self.subTest(closing=how):
                process, _ = self.open_dialog(stored)
                move_both_bars()
                if how == "cancel":
                    self.driver.run("click", "cancel")
                elif how == "close":
                    self.driver.run("close")
                elif how == "close box":
                    self.click_close_box()
                else:
                    # No button answers Escape, so the dialog stays open, unchanged.
                    self.press_key_in_dialog("Escape")
                    self.assertTrue(self.session.still_running_after(process, 0.5),
                                    "Escape closed the dialog")
                    self.assertEqual(self.folder.read_settings(), stored)
                    self.driver.run("click", "cancel")
                self.assertEqual(self.session.wait_exit(process), NORMAL_END)
                self.assertEqual(self.folder.read_settings(), stored)

    def test_enter_does_not_close_or_save(self):
        process, _ = self.open_dialog((2, 2))
        # The focused pen-width bar takes the arrow keys, which shows real keys arrive.
        self.press_key_in_dialog("Right")
        self.assert_values(self.driver.state(), 3, 2)
        self.press_key_in_dialog("Return")
        self.assertTrue(self.session.still_running_after(process, 0.5), "Enter closed the dialog")
        self.assertEqual(self.folder.read_settings(), bytes((2, 2)))
        self.assert_values(self.driver.state(), 3, 2)
        self.close_with_cancel(process)
        self.assertEqual(self.folder.read_settings(), bytes((2, 2)))

    def test_a_file_that_cannot_be_written_is_reported_with_status_1(self):
        # A folder in the file's place, and a link to one: never written through, as on Linux.
        for blocker, reason in (("a folder", None), ("a link to a folder", "symbolic link")):
            with self.subTest(blocker):
                folder = self.new_folder("saver")
                if blocker == "a folder":
                    folder.block_settings_with_folder()
                    kept = folder.settings
                else:
                    kept = folder.block_settings_with_link_to_folder()
                process, _ = self.open_dialog(folder=folder)
                self.driver.run("scroll", 1, "lineright")
                # "click" returns once the button is pressed; the message box then holds the
                # dialog.
                self.driver.run("click", "set")
                text = self.driver.run("messagebox").get("text", "")
                self.assertIn("Qelvanor.txt", text, "the message names no file")
                if reason:
                    self.assertIn(reason, text)
                self.assertEqual(self.session.wait_exit(process), SETTINGS_NOT_SAVED)
                self.assertEqual(folder.settings.is_symlink(), blocker != "a folder")
                self.assertEqual([p.name for p in kept.iterdir()], ["keep"])


class SettingsDialogDpiTest(WineTestCase):
    def test_layout_and_font_scale_with_the_dpi_also_when_it_changes(self):
        # settings_dialog_dpi_tests opens the dialog in its own process and checks it at the DPI
        # set here, then sends it WM_DPICHANGED for others, which Wine never sends itself.
        for dpi in (96, 144, 192):
            with self.subTest(dpi=dpi), self.session.dpi(dpi):
                status, output = self.session.run_wine(
                    [self.session.dialog_dpi_tests], timeout=60,
                    extra_env={"ZORBLINTH_EXPECTED_DPI": str(dpi)})
                self.assertEqual(status, 0, output)
