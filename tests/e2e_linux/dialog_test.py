"""The real zorblinth's settings dialog on X: the Japanese captions as drawn glyphs, a real click
on "キャンセル", and the status when there is no display. Saves the dialog's screenshot."""

from harness_linux import (DIALOG_TITLE, NORMAL_END, WINDOW_SYSTEM_FAILED, XTestCase,
                           glyphs_in)

# Where each caption sits inside the dialog, in pixels at 96 dpi: left, top, width, height.
CAPTION_LAYOUT = {
    "線の太さ - 5": (8, 8, 81, 17),
    "線の多さ": (8, 40, 73, 17),
    "少ない": (88, 64, 41, 17),
    "多い": (224, 64, 41, 17),
    "設定": (72, 88, 81, 33),
    "キャンセル": (176, 88, 81, 33),
}


class SettingsDialogTest(XTestCase):
    SCREEN = (1024, 768)

    def setUp(self):
        self.addCleanup(self.session.kill_processes)

    def test_japanese_captions_are_drawn_and_cancel_closes_without_writing(self):
        self.session.write_settings((5, 12))
        process = self.session.start_program()
        window = self.session.wait_for_window(f"^{DIALOG_TITLE}$", process)
        left, top, width, height = self.session.window_geometry(window)
        self.assertEqual((width, height), (272, 128))

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
                self.assertGreater(len(set(glyphs)), 1, f"{caption} shows identical boxes")

        x, y, w, h = inside(CAPTION_LAYOUT["キャンセル"])
        self.session.click(x + w // 2, y + h // 2)
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)
        self.assertEqual(self.session.read_settings(), bytes((5, 12)))

    def test_without_a_display_it_ends_with_status_3(self):
        process = self.session.start_program(extra_env={"DISPLAY": None})
        self.assertEqual(self.session.wait_exit(process), WINDOW_SYSTEM_FAILED)
