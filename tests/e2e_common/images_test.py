"""The image checks the end-to-end tests rely on, on pictures made here."""

import math
import pathlib
import subprocess
import tempfile
import unittest

from e2e.images import (Screenshot, count_colour, crop, decode_image, ink_clusters,
                        parse_ppm, stroke_width, write_png)

WHITE, BLACK, RED = (255, 255, 255), (0, 0, 0), (200, 30, 40)


def picture(width, height, colour_at):
    return Screenshot(
        b"".join(bytes(colour_at(x, y)) for y in range(height) for x in range(width)),
        width, height)


def ppm(shot):
    return f"P6\n{shot.width} {shot.height}\n255\n".encode() + shot.rgb


class Decoding(unittest.TestCase):
    def test_ppm_header_forms(self):
        shot = parse_ppm(b"P6 # made by hand\n2\t1 # two by one\n255\n" + bytes([1, 2, 3, 4, 5, 6]))
        self.assertEqual((shot.width, shot.height), (2, 1))
        self.assertEqual(shot.pixel(1, 0), (4, 5, 6))

    def test_malformed_pictures_are_refused(self):
        for name, data in (("plain text PPM", b"P3\n1 1\n255\n1 2 3"),
                           ("16-bit samples", b"P6\n1 1\n65535\n" + bytes(6)),
                           ("short of pixels", b"P6\n2 2\n255\n" + bytes(11)),
                           ("no header", b"P6\n2"),
                           ("nothing", b"")):
            with self.subTest(name), self.assertRaises(ValueError):
                parse_ppm(data)

    def test_png_and_xwd_decode_to_the_same_pixels(self):
        # Screenshots arrive as xwd from X and as PNG from other tools.
        original = picture(7, 5, lambda x, y: (x * 30, y * 50, (x ^ y) * 20))
        for image_format in ("png", "xwd"):
            with self.subTest(image_format):
                encoded = subprocess.run(["convert", "ppm:-", f"{image_format}:-"],
                                         input=ppm(original), capture_output=True,
                                         check=True).stdout
                decoded = decode_image(encoded, image_format)
                self.assertEqual((decoded.width, decoded.height), (7, 5))
                self.assertEqual(decoded.rgb, original.rgb)

    def test_a_written_png_decodes_to_the_same_pixels(self):
        # Odd sizes and every byte value, so a wrong row length, filter byte or channel order
        # shows.
        original = picture(13, 6, lambda x, y: ((x * 20 + y) % 256, 255 - x * 19, y * 51))
        with tempfile.TemporaryDirectory() as folder:
            path = write_png(original, pathlib.Path(folder) / "made" / "here.png")
            decoded = decode_image(path.read_bytes(), "png")
        self.assertEqual((decoded.width, decoded.height), (13, 6))
        self.assertEqual(decoded.rgb, original.rgb)


class Comparing(unittest.TestCase):
    def test_crop_and_colour_count(self):
        shot = picture(10, 8, lambda x, y: RED if 3 <= x < 6 and 2 <= y < 4 else WHITE)
        part = crop(shot, 2, 1, 5, 4)
        self.assertEqual((part.width, part.height), (5, 4))
        self.assertEqual(part.pixel(1, 1), RED)
        self.assertEqual(part.pixel(0, 1), WHITE)
        self.assertEqual(count_colour(shot, RED), 6)
        self.assertEqual(count_colour(part, RED), 6)

    def test_changes_with_and_without_black(self):
        before = picture(6, 4, lambda x, y: WHITE)
        after = picture(6, 4, lambda x, y: {(1, 1): RED, (4, 2): BLACK}.get((x, y), WHITE))
        self.assertEqual(after.changed_mask(before), {(1, 1), (4, 2)})
        self.assertEqual(after.changed_mask(before, ignore_black=True), {(1, 1)})
        self.assertEqual(after.count_changed(before), 2)
        self.assertEqual(before.count_changed(before), 0)
        # An expected picture may be bare RGB bytes, as a computed pattern is.
        self.assertEqual(after.changed_mask(before.rgb), {(1, 1), (4, 2)})
        self.assertEqual(after.count_changed(bytes(before.rgb)), 2)

    def test_pictures_of_different_sizes_are_not_compared(self):
        shot = picture(6, 4, lambda x, y: WHITE)
        # Same number of pixels, other shape: row by row they would seem alike.
        turned = picture(4, 6, lambda x, y: WHITE)
        for other in (turned, picture(6, 3, lambda x, y: WHITE), shot.rgb[:-3], shot.rgb + b"x"):
            with self.subTest(other=other if isinstance(other, bytes) else "picture"):
                with self.assertRaises(ValueError):
                    shot.changed_mask(other)
                with self.assertRaises(ValueError):
                    shot.count_changed(other)

    def test_stroke_width_whatever_the_angle(self):
        for width in (1, 3, 7):
            for degrees in (0, 20, 45, 70, 90):
                with self.subTest(width=width, degrees=degrees):
                    angle = math.radians(degrees)
                    normal = (-math.sin(angle), math.cos(angle))
                    # A band of this width through the middle of a 120 x 120 picture, long
                    # enough that its ends do not count.
                    mask = {(x, y) for x in range(20, 100) for y in range(20, 100)
                            if -width / 2 <= (x - 60) * normal[0] + (y - 60) * normal[1]
                            < width / 2}
                    # Runs are whole pixels, so slanted bands come out up to half a pixel off
                    # either way along each axis.
                    self.assertAlmostEqual(stroke_width(mask), width, delta=max(0.6, width * 0.15))
        with self.assertRaises(AssertionError):
            stroke_width(set())

    def test_glyphs_are_told_apart_from_boxes(self):
        shapes = {0: {(0, 0), (1, 1), (0, 2)}, 4: {(0, 0), (0, 1), (0, 2), (1, 0)},
                  8: {(0, 0), (0, 1), (0, 2), (1, 0)}}

        def colour(x, y):
            start = x - x % 4
            return BLACK if (x - start, y) in shapes.get(start, ()) else WHITE

        clusters = ink_clusters(picture(12, 3, colour).crop_rows(0, 0, 12, 3))
        self.assertEqual(len(clusters), 3)
        self.assertNotEqual(clusters[0], clusters[1])
        self.assertEqual(clusters[1], clusters[2])


if __name__ == "__main__":
    unittest.main()
