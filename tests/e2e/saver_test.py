"""The saver's picture: a frozen copy of the screen, the hidden cursor, and lines piling up with
the stored pen width and amount."""

import time

from harness import SCREEN_HEIGHT, SCREEN_WIDTH, WineTestCase, poll, stroke_width

SCREEN_PIXELS = SCREEN_WIDTH * SCREEN_HEIGHT


class SaverPictureTest(WineTestCase):
    def first_changed_picture(self, pattern, minimum=1):
        """The first screenshot in which at least `minimum` pixels differ from the pattern."""
        session = self.session

        def changed():
            shot = session.screenshot()
            count = shot.count_changed(pattern)
            return (shot, count) if count >= minimum else None

        return poll(changed, 10, interval=0.02, message=f"{minimum} pixels drawn")

    def test_starts_as_an_exact_copy_of_the_screen_and_piles_up_lines(self):
        process, pattern = self.start_saver((1, 1), pattern=True)
        first = self.session.screenshot()
        self.assertFalse(self.session.cursor.is_visible(), "the cursor is still visible")

        # At level 1 a tick adds two thin lines and one box, so only a few ticks' worth of
        # pixels may differ from the picture that was on screen before.
        changed_at_start = first.count_changed(pattern)
        self.assertLess(changed_at_start, SCREEN_PIXELS * 0.03,
                        "the saver's first picture is not the screen it covered")

        early, _ = self.first_changed_picture(pattern, minimum=changed_at_start + 1)
        time.sleep(0.6)
        later = self.session.screenshot()
        early_mask = early.changed_mask(pattern)
        later_mask = later.changed_mask(pattern)
        self.assertGreater(len(later_mask), len(early_mask), "no lines were added over time")
        self.assertLess(len(later_mask), SCREEN_PIXELS * 0.15, "the covered screen was lost")
        # Nothing is erased: what was drawn early still differs from the pattern later (a later
        # line may repaint a pixel, but never back to the pattern's colour).
        kept = len(early_mask & later_mask) / len(early_mask)
        self.assertGreater(kept, 0.95, "earlier drawing was erased")
        self.assertLess(stroke_width(later.changed_mask(pattern, ignore_black=True)), 2.0)
        self.assertIsNone(process.poll(), "the saver ended without input")
        self.end_saver_with_mouse(process)

    def test_pen_width_comes_from_the_settings_file(self):
        for width, level in ((10, 1), (3, 5)):
            with self.subTest(width=width, level=level):
                process, pattern = self.start_saver((width, level), pattern=True)
                shot, _ = self.first_changed_picture(pattern, minimum=2000)
                # Black boxes are left out: whether they are outlines or filled is open.
                measured = stroke_width(shot.changed_mask(pattern, ignore_black=True))
                self.assertAlmostEqual(measured, width, delta=max(1.5, width * 0.2))
                if width == 3:
                    time.sleep(1.0)  # a picture with some lines for the README
                    self.session.save_png(self.session.raw_screenshot(), "saver.png")
                self.end_saver_with_mouse(process)
                self.session.kill_processes()

    def test_level_20_draws_far_more_per_tick_than_level_1(self):
        counts = {}
        for level in (1, 20):
            process, pattern = self.start_saver((1, level), pattern=True)
            _, counts[level] = self.first_changed_picture(pattern)
            self.end_saver_with_mouse(process)
            self.session.kill_processes()
        # Level 1 draws 3 strokes a tick on this screen, level 20 almost 8000 lines; even if the
        # first level-1 picture caught several ticks, the gap stays wide.
        self.assertGreater(counts[20], 10 * counts[1], counts)
        self.assertGreater(counts[20], SCREEN_PIXELS // 4, counts)

    def test_a_repaint_shows_the_picture_drawn_so_far(self):
        process, pattern = self.start_saver((1, 1), pattern=True)
        area = (200, 150, 500, 400)
        left, top, width, height = area
        before = self.session.screenshot()
        cover = self.session.cursor.show_cover(*area)
        poll(lambda: self.session.screenshot().pixel(left + 10, top + 10) == (255, 255, 255), 5,
             message="the cover window")
        self.session.cursor.remove_cover(cover)

        def repainted():
            shot = self.session.screenshot()
            white = sum(1 for row in shot.crop_rows(*area) for o in range(0, len(row), 3)
                        if row[o : o + 3] == b"\xff\xff\xff")
            return shot if white < 50 else None

        after = poll(repainted, 5, message="the saver to repaint the uncovered area")
        # The uncovered area shows the frozen screen with the lines so far, not a blank window:
        # only the few lines drawn meanwhile differ from before.
        region = width * height
        changed = sum(
            1 for mine, theirs in zip(after.crop_rows(*area), before.crop_rows(*area))
            for o in range(0, len(mine), 3) if mine[o : o + 3] != theirs[o : o + 3]
        )
        self.assertLess(changed, region * 0.1, "the repaint lost the picture")
        self.assertLess(after.count_changed(pattern), SCREEN_PIXELS * 0.15)
        self.end_saver_with_mouse(process)

    def test_short_and_out_of_range_files_still_give_a_working_saver(self):
        # One byte: pen width 5, and the missing amount byte counts as the lowest level.
        process, pattern = self.start_saver((5,), pattern=True)
        shot, _ = self.first_changed_picture(pattern, minimum=1500)
        self.assertAlmostEqual(stroke_width(shot.changed_mask(pattern, ignore_black=True)), 5,
                               delta=1.5)
        self.end_saver_with_mouse(process)
        self.session.kill_processes()
        # Values no dialog writes: the saver neither fails nor changes the file.
        process, pattern = self.start_saver((0xFF, 0xFF, 0x33), pattern=True)
        self.first_changed_picture(pattern, minimum=1000)
        self.end_saver_with_mouse(process)
        self.assertEqual(self.folder.read_settings(), bytes((0xFF, 0xFF, 0x33)))
