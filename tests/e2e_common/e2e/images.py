"""Pictures and the checks made on them. Everything here works on decoded pixels, whatever took
the picture (xwd, PPM, or any format ImageMagick reads)."""

import functools
import pathlib
import struct
import subprocess
import zlib


class Screenshot:
    """An RGB picture, 8 bits a channel, rows top to bottom."""

    def __init__(self, rgb, width, height):
        if len(rgb) != width * height * 3:
            raise ValueError(f"{len(rgb)} bytes are no {width} x {height} RGB picture")
        self.rgb = rgb
        self.width = width
        self.height = height

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.rgb[offset : offset + 3])

    def row(self, y):
        stride = self.width * 3
        return self.rgb[y * stride : (y + 1) * stride]

    def _rows_of(self, other):
        """A function giving other's rows, for another Screenshot or RGB bytes of this size. A
        picture of another size is refused: row by row it would seem to differ everywhere, or
        nowhere past its end."""
        rgb = other.rgb if isinstance(other, Screenshot) else other
        if (isinstance(other, Screenshot) and (other.width, other.height) != (self.width,
                                                                              self.height)
                or len(rgb) != len(self.rgb)):
            raise ValueError("pictures of different sizes cannot be compared pixel by pixel")
        stride = self.width * 3
        view = memoryview(rgb)
        return lambda y: view[y * stride : (y + 1) * stride]

    def changed_mask(self, other, ignore_black=False):
        """Set of (x, y) where this picture differs from other (a Screenshot or RGB bytes of the
        same size); optionally leaving out pixels that are black in self (the saver's boxes)."""
        other_row = self._rows_of(other)
        mask = set()
        for y in range(self.height):
            mine, theirs = self.row(y), other_row(y)
            if mine == theirs:
                continue
            for x in range(self.width):
                o = x * 3
                if mine[o : o + 3] != theirs[o : o + 3]:
                    if ignore_black and mine[o : o + 3] == b"\0\0\0":
                        continue
                    mask.add((x, y))
        return mask

    def count_changed(self, other):
        """How many pixels differ from other (a Screenshot or RGB bytes of the same size)."""
        other_row = self._rows_of(other)
        count = 0
        for y in range(self.height):
            mine, theirs = self.row(y), other_row(y)
            if mine == theirs:
                continue
            for o in range(0, len(mine), 3):
                if mine[o : o + 3] != theirs[o : o + 3]:
                    count += 1
        return count

    def ink_in(self, left, top, width, height, dark_below=110):
        """Number of dark pixels (text) inside a rectangle of the picture."""
        count = 0
        for y in range(max(top, 0), min(top + height, self.height)):
            row = self.row(y)
            for x in range(max(left, 0), min(left + width, self.width)):
                o = x * 3
                if max(row[o], row[o + 1], row[o + 2]) < dark_below:
                    count += 1
        return count

    def crop_rows(self, left, top, width, height):
        return [
            bytes(self.row(y)[left * 3 : (left + width) * 3])
            for y in range(top, top + height)
        ]


def parse_ppm(data):
    """A binary PPM (P6, 8 bits a channel) as a Screenshot."""
    fields, position = [], 0
    while len(fields) < 4:
        while position < len(data) and data[position : position + 1].isspace():
            position += 1
        if data[position : position + 1] == b"#":
            position = data.find(b"\n", position)
            if position < 0:
                break
            continue
        start = position
        while position < len(data) and not data[position : position + 1].isspace():
            position += 1
        if start == position:
            break
        fields.append(data[start:position])
    if len(fields) < 4 or fields[0] != b"P6" or not all(f.isdigit() for f in fields[1:]):
        raise ValueError("not a binary PPM picture")
    width, height, maximum = (int(field) for field in fields[1:])
    if maximum != 255:
        raise ValueError(f"a PPM picture with samples up to {maximum}, not 8 bits")
    # One whitespace byte ends the header.
    return Screenshot(data[position + 1 :], width, height)


def decode_image(data, image_format):
    """Decodes a picture in any format ImageMagick reads ("xwd", "png", ...)."""
    ppm = subprocess.run(
        ["convert", f"{image_format}:-", "-depth", "8", "ppm:-"],
        input=data,
        capture_output=True,
        check=True,
    ).stdout
    return parse_ppm(ppm)


def write_png(shot, path):
    """Writes a picture as an 8-bit RGB PNG, without ImageMagick; returns the path."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    # Each row starts with filter type 0 (none).
    rows = b"".join(b"\0" + bytes(shot.row(y)) for y in range(shot.height))
    header = struct.pack(">IIBBBBB", shot.width, shot.height, 8, 2, 0, 0, 0)
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                     + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))
    return path


def save_image(data, image_format, path, area=None):
    """Saves a picture, or the area left, top, width, height of it, in the format the path's
    suffix names."""
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    crop_area = ["-crop", "{2}x{3}+{0}+{1}".format(*area), "+repage"] if area else []
    subprocess.run(
        ["convert", f"{image_format}:-", *crop_area, str(path)], input=data, check=True
    )
    return path


@functools.lru_cache(maxsize=4)
def screen_pattern(width, height):
    """A full-screen test picture in which any shift, flip, swapped channel or scaling shows:
    colour bands, a gradient, fine checks crossed by red columns every 10 pixels, and a lattice
    crossed by yellow diagonals."""
    bands = ((230, 60, 60), (240, 160, 40), (235, 230, 70), (90, 200, 90),
             (60, 200, 210), (70, 100, 230), (170, 90, 220), (200, 200, 200))
    out = bytearray()
    for y in range(height):
        section = y * 4 // height
        for x in range(width):
            if section == 0:
                colour = bands[x * 8 // width]
            elif section == 1:
                red = x * 255 // (width - 1)
                colour = (red, (y * 5) & 255, 255 - red // 2)
            elif section == 2:
                if x % 10 == 0:
                    colour = (255, 0, 0)
                else:
                    colour = (250, 250, 250) if (x + y) % 2 else (20, 20, 60)
            elif x % 32 == y % 32:
                colour = (255, 255, 0)
            else:
                colour = (70, 100, 230) if (x // 16 + y // 16) % 2 else (200, 200, 200)
            out += bytes(colour)
    return Screenshot(bytes(out), width, height)


def crop(shot, left, top, width, height):
    """The part of a picture inside a rectangle, as a Screenshot of its own."""
    return Screenshot(b"".join(shot.crop_rows(left, top, width, height)), width, height)


def count_colour(shot, rgb):
    """How many pixels of the picture have exactly this colour."""
    colour = bytes(rgb)
    data = shot.rgb
    return sum(1 for o in range(0, len(data), 3) if data[o : o + 3] == colour)


def ink_clusters(rows, dark_below=110):
    """Bitmaps of the groups of ink columns separated by blank columns, left to right, in rows
    of RGB bytes (a picture's crop_rows). Missing glyphs come out as identical boxes; real
    ones differ from each other."""
    width = len(rows[0]) // 3
    inked = [[max(row[x * 3 : x * 3 + 3]) < dark_below for x in range(width)] for row in rows]
    columns = [any(line[x] for line in inked) for x in range(width)]
    clusters, start = [], None
    for x in range(width + 1):
        if x < width and columns[x]:
            start = x if start is None else start
        elif start is not None:
            clusters.append(tuple(tuple(line[start:x]) for line in inked))
            start = None
    return clusters


def glyphs_in(shot, left, top, width, height, dark_below=110):
    """The glyphs drawn in a rectangle of a picture: ink_clusters of that rectangle."""
    return ink_clusters(shot.crop_rows(left, top, width, height), dark_below)


def stroke_width(mask):
    """Median stroke width of the drawn pixels in mask.

    For a straight stroke of width w at angle t, the horizontal run through a pixel is w/|sin t|
    and the vertical run w/|cos t|, so h*v/sqrt(h*h + v*v) gives w whatever the angle.
    """
    horizontal = {}
    vertical = {}
    for pixels, key, other in ((horizontal, 0, 1), (vertical, 1, 0)):
        lines = {}
        for point in mask:
            lines.setdefault(point[other], []).append(point[key])
        for fixed, positions in lines.items():
            positions.sort()
            start = 0
            for i in range(1, len(positions) + 1):
                if i == len(positions) or positions[i] != positions[i - 1] + 1:
                    run = i - start
                    for p in positions[start:i]:
                        pixels[(p, fixed) if key == 0 else (fixed, p)] = run
                    start = i
    estimates = sorted(
        h * v / (h * h + v * v) ** 0.5
        for point, h in horizontal.items()
        for v in (vertical[point],)
    )
    if not estimates:
        raise AssertionError("nothing was drawn")
    return estimates[len(estimates) // 2]


def changed_outside(shot, expected, monitors):
    """Where `shot` differs from `expected` outside the monitors' areas (anything with left,
    top, width and height): the first row and span of it, or None."""
    for y in range(shot.height):
        row, wanted = shot.row(y), expected.row(y)
        if row == wanted:
            continue
        x = 0
        for start, end in sorted((m.left, m.left + m.width) for m in monitors
                                 if m.top <= y < m.top + m.height) + [(shot.width,) * 2]:
            if start > x and row[x * 3 : start * 3] != wanted[x * 3 : start * 3]:
                return f"row {y} between x = {x} and {start}"
            x = max(x, end)
    return None
