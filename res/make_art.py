#!/usr/bin/env python3
"""Draws Lumo2's icon and About picture with nothing but the standard library.

lumo2.ico: one 256x256 32-bpp image, PNG-compressed inside the .ico so the
program stays small. lumo2_icon.png and lumo2_icon.grp: the same image and
its icon group directory, which lumo2.rc embeds as raw resources so that the
three icon groups share one copy of the picture. about.bmp: 151x32, 24 bpp. Run from anywhere; writes
beside this script.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def lens_pixel(x, y, size):
    """A camera lens: teal disc, white ring, dark pupil, one highlight."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    r = math.hypot(dx, dy) / (size / 2.0)
    if r > 0.98:
        return (0, 0, 0, 0)
    edge = max(0.0, min(1.0, (0.98 - r) * size / 2.0))  # anti-aliased rim
    if r > 0.86:
        rgb = (255, 255, 255)
    elif r > 0.40:
        t = (r - 0.40) / 0.46
        rgb = (int(20 + 20 * t), int(150 - 50 * t), int(170 - 30 * t))
    elif r > 0.33:
        rgb = (235, 245, 245)
    else:
        rgb = (15, 35, 50)
    hx, hy = dx + size * 0.12, dy + size * 0.12
    if math.hypot(hx, hy) < size * 0.07:
        rgb = (250, 250, 250)
    return rgb + (int(255 * edge),)


def png(width, height, rgba_rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rgba_rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


# The icon resource that lumo2.rc gives the image; the group directory names it.
ICON_IMAGE_ID = 1


def write_icon(ico_path, image_path, group_path):
    size = 256
    rows = [[lens_pixel(x, y, size) for x in range(size)] for y in range(size)]
    image = png(size, size, rows)
    header = struct.pack("<HHH", 0, 1, 1)
    # Width and height 0 mean 256.
    details = struct.pack("<BBBBHHI", 0, 0, 0, 0, 1, 32, len(image))
    with open(ico_path, "wb") as f:
        f.write(header + details + struct.pack("<I", 6 + 16) + image)
    # The same picture as raw resources: the image once, and an icon group
    # directory (the .ico's entry with a resource ID in place of the file
    # offset) that the three icon groups of lumo2.rc share.
    with open(image_path, "wb") as f:
        f.write(image)
    with open(group_path, "wb") as f:
        f.write(header + details + struct.pack("<H", ICON_IMAGE_ID))


GLYPHS = {
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "2": ["01110", "10001", "00001", "00110", "01000", "10000", "11111"],
}


def write_about(path):
    width, height = 151, 32
    pixels = [[(0, 0, 0)] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            t = x / (width - 1)
            pixels[y][x] = (int(20 + 10 * t), int(120 + 40 * t), int(150 + 30 * t))
    for y in range(height):
        for x in range(32):
            r, g, b, a = lens_pixel(x, y, 32)
            if a:
                base = pixels[y][x + 2]
                pixels[y][x + 2] = tuple(int((c * a + d * (255 - a)) / 255) for c, d in zip((r, g, b), base))
    x0, scale = 44, 3
    for ch in "LUMO2":
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for sy in range(scale):
                        for sx in range(scale):
                            pixels[5 + gy * scale + sy][x0 + gx * scale + sx] = (255, 255, 255)
        x0 += 6 * scale
    stride = (width * 3 + 3) & ~3
    data = b""
    for row in reversed(pixels):  # bottom-up
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        data += line + b"\x00" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(header + info + data)


if __name__ == "__main__":
    write_icon(os.path.join(HERE, "lumo2.ico"), os.path.join(HERE, "lumo2_icon.png"),
               os.path.join(HERE, "lumo2_icon.grp"))
    write_about(os.path.join(HERE, "about.bmp"))
