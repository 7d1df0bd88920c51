"""The real zorblinth's settings dialog on X: the Japanese captions as drawn glyphs, a real click
on "キャンセル", and the status when there is no display. Saves the dialog's screenshot."""

from harness_linux import (DIALOG_TITLE, NORMAL_END, WINDOW_SYSTEM_FAILED, LinuxTestCase,
                           screenshots_folder)

# Where each caption sits inside the dialog, in pixels at 96 dpi: left, top, width, height.
CAPTION_LAYOUT = {
    "線の太さ - 5": (8, 8, 81, 17),
    "線の多さ": (8, 40, 73, 17),
    "少ない": (88, 64, 41, 17),
    "多い": (224, 64, 41, 17),
    "設定": (72, 88, 81, 33),
    "キャンセル": (176, 88, 81, 33),
}


class SettingsDialogTest(LinuxTestCase):
    def test_japanese_captions_are_drawn_and_cancel_closes_without_writing(self):
        self.folders.write_settings((5, 12))
        process = self.start_program()
        window = self.display.wait_for_window(f"^{DIALOG_TITLE}$", process)
        left, top, width, height = self.display.window_geometry(window)
        self.assertEqual((width, height), (272, 128))

        def inside(rect):
            x, y, w, h = rect
            return left + x, top + y, w, h

        raw = self.display.settled_raw_screenshot()
        self.display.save_png(raw, screenshots_folder() / "dialog-linux.png",
                              (left, top, width, height))
        shot = self.display.convert(raw)
        for caption, rect in CAPTION_LAYOUT.items():
            with self.subTest(caption=caption):
                glyphs = shot.glyphs_in(*inside(rect))
                # Each character is one group of ink, "-" and "5" too; a box for a missing glyph
                # would repeat the same bitmap.
                self.assertGreaterEqual(len(glyphs), len(caption.replace(" ", "")) - 1,
                                        f"{caption} is not drawn in full")
                self.assertGreater(len(set(glyphs)), 1, f"{caption} shows identical boxes")

        x, y, w, h = inside(CAPTION_LAYOUT["キャンセル"])
        self.display.click(x + w // 2, y + h // 2)
        self.assertEqual(self.wait_exit(process), NORMAL_END)
        self.assertEqual(self.folders.read_settings(), bytes((5, 12)))

    def test_without_a_display_it_ends_with_status_3(self):
        process = self.start_program(display=False)
        self.assertEqual(self.wait_exit(process), WINDOW_SYSTEM_FAILED)
