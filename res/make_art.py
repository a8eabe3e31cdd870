#!/usr/bin/env python3
"""Draws Lumo2's icon and About picture with nothing but the standard library.

lumo2.ico: the picture at the sizes the shell asks for at each display scale
(16, 20, 24, 28, 32 and 40 pixels as 32-bpp bitmaps) and at 48 and 256
pixels, PNG-compressed so the program stays small. lumo2_icon_<size>.dib,
lumo2_icon_48.png, lumo2_icon.png and lumo2_icon.grp: the same images and their icon group
directory, which lumo2.rc embeds as raw resources so that the three icon
groups share one copy of each image. about.bmp: 151x32, 8 bpp. Run from
anywhere; writes beside this script.
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


# The bitmap sizes, smallest first, each with the icon resource ID that
# lumo2.rc gives its image; the PNG sizes follow. The notification area's
# sizes (16 to 40 pixels, 100 to 250 %, 28 for 175 %) stay bitmaps; the 48-pixel image,
# which only windows and Explorer show, is PNG-compressed like the 256 one,
# at a sixth of the bytes.
BITMAP_SIZES = (16, 20, 24, 28, 32, 40)
PNG_SIZES = (48, 256)
PNG_SIZE = 256


def lens_rows(size):
    """The lens at one size, each pixel the mean of 4x4 samples, so the small
    sizes are drawn for their grid rather than shrunk from the large one."""
    if size >= 64:
        return [[lens_pixel(x, y, size) for x in range(size)] for y in range(size)]
    n, big = 4, size * 4
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            samples = [lens_pixel(x * n + i, y * n + j, big) for j in range(n) for i in range(n)]
            alpha = sum(p[3] for p in samples)
            if alpha == 0:
                row.append((0, 0, 0, 0))
                continue
            rgb = tuple(int(round(sum(p[c] * p[3] for p in samples) / alpha)) for c in range(3))
            row.append(rgb + (int(round(alpha / len(samples))),))
        rows.append(row)
    return rows


def dib(size, rows):
    """An icon image as a device-independent bitmap: header (twice the height,
    for the colour and the mask), BGRA rows bottom-up, then a 1-bpp AND mask
    (set where fully transparent), rows padded to 32 bits."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def write_icon(ico_path, image_path, group_path, dib_path):
    images = [(size, dib(size, lens_rows(size))) for size in BITMAP_SIZES]
    images += [(size, png(size, size, lens_rows(size))) for size in PNG_SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))

    def entry(size, image):
        # Width and height 0 mean 256.
        side = size % 256
        return struct.pack("<BBBBHHI", side, side, 0, 0, 1, 32, len(image))

    offset = 6 + 16 * len(images)
    directory, data = b"", b""
    for size, image in images:
        directory += entry(size, image) + struct.pack("<I", offset + len(data))
        data += image
    with open(ico_path, "wb") as f:
        f.write(header + directory + data)
    # The same images as raw resources, and an icon group directory (the
    # .ico's entries with a resource ID in place of the file offset) that the
    # three icon groups of lumo2.rc share.
    group = header
    for image_id, (size, image) in enumerate(images, start=1):
        group += entry(size, image) + struct.pack("<H", image_id)
        if size == PNG_SIZE:
            path = image_path
        elif size in PNG_SIZES:
            path = os.path.splitext(dib_path % size)[0] + ".png"
        else:
            path = dib_path % size
        with open(path, "wb") as f:
            f.write(image)
    with open(group_path, "wb") as f:
        f.write(group)


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
    # 8 bpp with its own palette: the picture has fewer than 256 colours, so
    # it shows exactly as at 24 bpp at a third of the size.
    palette = sorted({c for row in pixels for c in row})
    assert len(palette) <= 256
    index = {c: i for i, c in enumerate(palette)}
    stride = (width + 3) & ~3
    data = b""
    for row in reversed(pixels):  # bottom-up
        line = bytes(index[c] for c in row)
        data += line + b"\x00" * (stride - len(line))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(data), 2835, 2835, len(palette), 0)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + colours + data)


if __name__ == "__main__":
    write_icon(os.path.join(HERE, "lumo2.ico"), os.path.join(HERE, "lumo2_icon.png"),
               os.path.join(HERE, "lumo2_icon.grp"), os.path.join(HERE, "lumo2_icon_%d.dib"))
    write_about(os.path.join(HERE, "about.bmp"))
