#!/usr/bin/env python3
"""Draws the launcher's icon images from one description and writes them as Windows
icon resources. Standard library only; the output depends on the description alone.

    make_icon.py DESCRIPTION.json OUT_DIR [--preview PREVIEW.png]

The description names the shapes (in fractions of the image's side) and the images of
the icon group: resource identifier, side in pixels and bits per pixel (4, 8 or 32),
in the order of the group. Written into OUT_DIR:
  icon_<id>.dib   one RT_ICON resource: BITMAPINFOHEADER, palette, colour and mask bits
  group_<id>.bin  the RT_GROUP_ICON resource (GRPICONDIR) naming the images by id
  icons.rc        the resource script lines that bind the files above
  <name>.ico      the same images as an .ico file, for viewers and editors

Each pixel is the average of SUPERSAMPLE x SUPERSAMPLE samples. 32-bit images keep
the soft edges in their alpha channel; 4- and 8-bit images get a palette of 16 or 256
colours (median cut of the image's own colours, entry 0 black for the transparent
pixels) and a pixel is opaque where at least half of it is covered.
"""
import argparse
import json
import pathlib
import struct
import sys
import zlib

SUPERSAMPLE = 6
RT_ICON, RT_GROUP_ICON = 3, 14


def parse_colour(text):
    """'#RRGGBB' or '#RRGGBBAA' as (r, g, b, a) with components in 0..1."""
    digits = text.lstrip("#")
    if len(digits) not in (6, 8):
        raise ValueError(f"colour {text!r}: expected #RRGGBB or #RRGGBBAA")
    values = [int(digits[i:i + 2], 16) / 255 for i in range(0, len(digits), 2)]
    return tuple(values) if len(values) == 4 else (*values, 1.0)


class Shape:
    def __init__(self, entry):
        self.kind = entry["kind"]
        fill = entry["fill"]
        if isinstance(fill, str):
            self.top = self.bottom = parse_colour(fill)
        else:
            self.top, self.bottom = parse_colour(fill["top"]), parse_colour(fill["bottom"])
        if self.kind == "rounded_rect":
            self.x0, self.y0, self.x1, self.y1 = entry["box"]
            self.radius = entry["radius"]
        elif self.kind == "polygon":
            self.points = [tuple(p) for p in entry["points"]]
            ys = [p[1] for p in self.points]
            self.y0, self.y1 = min(ys), max(ys)
        else:
            raise ValueError(f"unknown shape kind {self.kind!r}")

    def covers(self, x, y):
        if self.kind == "rounded_rect":
            if not (self.x0 <= x <= self.x1 and self.y0 <= y <= self.y1):
                return False
            r = self.radius
            cx = min(max(x, self.x0 + r), self.x1 - r)
            cy = min(max(y, self.y0 + r), self.y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        inside = False  # even-odd rule
        pts = self.points
        for (ax, ay), (bx, by) in zip(pts, pts[1:] + pts[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return inside

    def colour_at(self, y):
        """The vertical gradient from top to bottom of the shape's extent."""
        span = self.y1 - self.y0
        t = 0.0 if span <= 0 else min(max((y - self.y0) / span, 0.0), 1.0)
        return tuple(a + (b - a) * t for a, b in zip(self.top, self.bottom))


def render(shapes, size):
    """Rows of straight-alpha (r, g, b, a) pixels, components 0..255, top row first."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied sum over the samples
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    r = g = b = a = 0.0
                    for shape in shapes:
                        if shape.covers(x, y):
                            cr, cg, cb, ca = shape.colour_at(y)
                            r, g, b = cr * ca + r * (1 - ca), cg * ca + g * (1 - ca), cb * ca + b * (1 - ca)
                            a = ca + a * (1 - ca)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if alpha <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(min(c / acc[3], 1.0) * 255) for c in acc[:3]) + (round(alpha * 255),))
        rows.append(row)
    return rows


def median_cut(counts, wanted):
    """Up to `wanted` colours that stand for the weighted colour set `counts`
    ({(r, g, b): pixels}): boxes split at the weighted median of their widest channel."""
    boxes = [sorted(counts.items())]
    while len(boxes) < wanted:
        best, best_range, best_channel = None, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                values = [c[ch] for c, _ in box]
                if max(values) - min(values) > best_range:
                    best, best_range, best_channel = i, max(values) - min(values), ch
        if best is None:
            break
        box = sorted(boxes[best], key=lambda item: (item[0][best_channel], item[0]))
        total, running, cut = sum(w for _, w in box), 0, 1
        for i, (_, w) in enumerate(box[:-1]):
            running += w
            cut = i + 1
            if running * 2 >= total:
                break
        boxes[best:best + 1] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(w for _, w in box)
        palette.append(tuple(round(sum(c[ch] * w for c, w in box) / total) for ch in range(3)))
    return palette


def row_bytes(bits, width):
    return ((bits * width + 31) // 32) * 4


def encode_dib(pixels, bits):
    """One icon image in the RT_ICON layout: a BITMAPINFOHEADER of twice the height
    (colour and mask bitmaps stacked), the palette, colour rows and mask rows, both
    bottom-up and padded to 4 bytes."""
    size = len(pixels)
    opaque = [[p[3] >= (1 if bits == 32 else 128) for p in row] for row in pixels]
    palette = []
    if bits in (4, 8):
        counts = {}
        for row, row_opaque in zip(pixels, opaque):
            for p, o in zip(row, row_opaque):
                if o:
                    counts[p[:3]] = counts.get(p[:3], 0) + 1
        palette = [(0, 0, 0)] + median_cut(counts, (1 << bits) - 1)
        palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
        nearest = {}
        for colour in counts:
            nearest[colour] = min(range(1, len(palette)),
                                  key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, palette[i])))
    elif bits != 32:
        raise ValueError(f"unsupported depth {bits}")

    colour_data = bytearray()
    for row, row_opaque in zip(reversed(pixels), reversed(opaque)):
        line = bytearray()
        if bits == 32:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        else:
            indices = [nearest[p[:3]] if o else 0 for p, o in zip(row, row_opaque)]
            if bits == 8:
                line += bytes(indices)
            else:
                for i in range(0, size, 2):
                    low = indices[i + 1] if i + 1 < size else 0
                    line.append(indices[i] << 4 | low)
        line += bytes(row_bytes(bits, size) - len(line))
        colour_data += line
    mask_data = bytearray()
    for row_opaque in reversed(opaque):
        line = bytearray(row_bytes(1, size))
        for x, o in enumerate(row_opaque):
            if not o:
                line[x // 8] |= 0x80 >> (x % 8)
        mask_data += line

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(colour_data) + len(mask_data), 0, 0, 0, 0)
    palette_data = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + palette_data + bytes(colour_data) + bytes(mask_data)


def directory_entry(image, data):
    """The fields that GRPICONDIRENTRY and ICONDIRENTRY share, up to dwBytesInRes."""
    side = image["size"] if image["size"] < 256 else 0
    colour_count = 1 << image["bits"] if image["bits"] < 8 else 0
    return struct.pack("<BBBBHHI", side, side, colour_count, 0, 1, image["bits"], len(data))


def write_png(path, rows):
    """A straight-alpha RGBA PNG, for looking at the images."""
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    pathlib.Path(path).write_bytes(png)


def decode_for_preview(data):
    """The straight-alpha pixels of an encoded image, as Windows would draw them."""
    size, bits = struct.unpack_from("<i", data, 4)[0], struct.unpack_from("<H", data, 14)[0]
    colours = 1 << bits if bits <= 8 else 0
    palette = [tuple(data[40 + 4 * i:43 + 4 * i][::-1]) for i in range(colours)]
    colour_at = 40 + 4 * colours
    mask_at = colour_at + row_bytes(bits, size) * size
    rows = []
    for y in range(size - 1, -1, -1):
        line = data[colour_at + y * row_bytes(bits, size):]
        mask = data[mask_at + y * row_bytes(1, size):]
        row = []
        for x in range(size):
            if bits == 32:
                b, g, r, a = line[4 * x:4 * x + 4]
                row.append((r, g, b, a))
            else:
                index = line[x] if bits == 8 else (line[x // 2] >> (4 if x % 2 == 0 else 0)) & 15
                transparent = mask[x // 8] & (0x80 >> (x % 8))
                row.append(palette[index] + ((0,) if transparent else (255,)))
        rows.append(row)
    return rows


def preview(images, encoded):
    """All images side by side at 4 times their size, on a light grey background."""
    scale, gap = 4, 8
    width = sum(img["size"] * scale + gap for img in images) + gap
    height = max(img["size"] for img in images) * scale + 2 * gap
    canvas = [[(224, 224, 224, 255)] * width for _ in range(height)]
    x0 = gap
    for img, data in zip(images, encoded):
        for y, row in enumerate(decode_for_preview(data)):
            for x, (r, g, b, a) in enumerate(row):
                bg = canvas[gap + y * scale][x0 + x * scale]
                mixed = tuple(round(c * a / 255 + k * (255 - a) / 255) for c, k in zip((r, g, b), bg[:3])) + (255,)
                for dy in range(scale):
                    canvas[gap + y * scale + dy][x0 + x * scale:x0 + (x + 1) * scale] = [mixed] * scale
        x0 += img["size"] * scale + gap
    return canvas


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("description")
    parser.add_argument("out_dir")
    parser.add_argument("--ico-name", default="orvel6.ico")
    parser.add_argument("--preview")
    args = parser.parse_args(argv)

    description = json.loads(pathlib.Path(args.description).read_text())
    shapes = [Shape(s) for s in description["shapes"]]
    images = description["images"]
    ids = [img["id"] for img in images]
    if len(set(ids)) != len(ids) or not all(0 < i < 0x10000 for i in ids):
        raise ValueError("image ids must be distinct 16-bit numbers")
    out = pathlib.Path(args.out_dir).resolve()
    out.mkdir(parents=True, exist_ok=True)

    rendered = {}
    encoded = []
    for img in images:
        if img["size"] not in rendered:
            rendered[img["size"]] = render(shapes, img["size"])
        encoded.append(encode_dib(rendered[img["size"]], img["bits"]))

    group = struct.pack("<HHH", 0, 1, len(images))
    ico = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    script = [f"// Written by make_icon.py from {pathlib.Path(args.description).name}: do not edit."]
    for img, data in zip(images, encoded):
        image_file = out / f"icon_{img['id']}.dib"
        image_file.write_bytes(data)
        group += directory_entry(img, data) + struct.pack("<H", img["id"])
        ico += directory_entry(img, data) + struct.pack("<I", offset)
        offset += len(data)
        script.append(f'{img["id"]} {RT_ICON} "{image_file.as_posix()}"')
    group_id = description["group_id"]
    group_file = out / f"group_{group_id}.bin"
    group_file.write_bytes(group)
    (out / args.ico_name).write_bytes(ico + b"".join(encoded))
    script.append(f'{group_id} {RT_GROUP_ICON} "{group_file.as_posix()}"')
    (out / "icons.rc").write_text("\n".join(script) + "\n")
    if args.preview:
        write_png(args.preview, preview(images, encoded))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
