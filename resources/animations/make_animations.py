#!/usr/bin/env python3
"""Draws the progress animations and writes them as RLE8 AVI files without sound, the only
kind the animation control plays besides uncompressed ones. Reproducible: same output on every
run. Run from anywhere; the files land beside this script."""

import os
import struct

WIDTH, HEIGHT, FRAMES, FPS = 240, 40, 12, 10

# Colour 0 is the dialog face: the control draws it transparently.
PALETTE = [
    (192, 192, 192),  # 0 background
    (0, 0, 0),  # 1 black
    (255, 255, 255),  # 2 white
    (128, 128, 128),  # 3 grey
    (0, 85, 170),  # 4 blue
    (255, 136, 0),  # 5 orange
    (240, 200, 40),  # 6 drawer yellow
    (0, 128, 128),  # 7 teal screen
    (160, 160, 160),  # 8 light grey
    (200, 0, 0),  # 9 red
]


class Frame:
    def __init__(self):
        self.rows = [[0] * WIDTH for _ in range(HEIGHT)]

    def fill(self, x, y, w, h, colour):
        for yy in range(max(y, 0), min(y + h, HEIGHT)):
            row = self.rows[yy]
            for xx in range(max(x, 0), min(x + w, WIDTH)):
                row[xx] = colour

    def box(self, x, y, w, h, face, border=1):
        self.fill(x, y, w, h, border)
        self.fill(x + 1, y + 1, w - 2, h - 2, face)


def amiga(f, x):
    """A desk-top computer with its floppy slot and rainbow check mark."""
    f.box(x, 14, 40, 20, 2)
    f.fill(x + 4, 18, 14, 2, 1)
    f.fill(x + 26, 17, 3, 3, 9)
    f.fill(x + 29, 17, 3, 3, 5)
    f.fill(x + 32, 17, 3, 3, 4)
    f.box(x - 2, 34, 44, 4, 8)


def pc(f, x):
    """A monitor on a stand."""
    f.box(x, 4, 40, 28, 8)
    f.box(x + 4, 8, 32, 20, 7)
    f.fill(x + 16, 32, 8, 3, 3)
    f.box(x + 6, 35, 28, 3, 8)


def drawer(f, x):
    """An open drawer as the Amiga draws one."""
    f.box(x, 12, 36, 24, 6)
    f.fill(x + 2, 14, 32, 4, 4)
    f.fill(x + 14, 24, 8, 2, 1)


def folder(f, x):
    f.box(x, 10, 14, 6, 6)
    f.box(x, 14, 40, 22, 6)


def bin_(f, x, lid_open):
    f.box(x + 2, 16, 28, 22, 3)
    for stripe in range(x + 8, x + 28, 6):
        f.fill(stripe, 19, 2, 16, 8)
    if lid_open:
        f.box(x - 4, 6, 10, 12, 3)
    else:
        f.box(x, 12, 32, 4, 3)
        f.fill(x + 12, 10, 8, 2, 1)


def page(f, x, y):
    f.box(x, y, 11, 14, 2)
    for line in range(y + 3, y + 12, 3):
        f.fill(x + 2, line, 7, 1, 3)


def flight(f, i, start, end, top=2, base=18):
    """The page on a parabola from `start` to `end` at step i of the frames."""
    t = i / (FRAMES - 1)
    x = round(start + (end - start) * t)
    y = round(base - (base - top) * 4 * t * (1 - t))
    page(f, x, y)


def copy_to_pc(i, f):
    amiga(f, 16)
    pc(f, 184)
    flight(f, i, 40, 196)


def copy_to_amiga(i, f):
    pc(f, 16)
    amiga(f, 184)
    flight(f, i, 28, 196)


def delete(i, f):
    folder(f, 16)
    # The lid opens as the page arrives.
    bin_(f, 192, lid_open=i >= FRAMES // 2)
    flight(f, i, 30, 202, base=16)


def copy_on_amiga(i, f):
    drawer(f, 16)
    drawer(f, 188)
    flight(f, i, 28, 200)


def rle8(rows):
    """Encoded runs only, bottom row first, one end of line per row, end of bitmap last."""
    out = bytearray()
    for row in reversed(rows):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and run < 255 and row[x + run] == row[x]:
                run += 1
            out += bytes((run, row[x]))
            x += run
        out += b"\0\0"
    out[-2:] = b"\0\1"
    return bytes(out)


def chunk(tag, data):
    return tag + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def avi(draw):
    frames = []
    for i in range(FRAMES):
        f = Frame()
        draw(i, f)
        frames.append(rle8(f.rows))
    largest = max(len(x) for x in frames)
    us_per_frame = 1000000 // FPS

    bih = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 1, largest, 0, 0,
                      len(PALETTE), len(PALETTE))
    bih += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"\0\0\0\0", 0, 0, 0, 0, 1, FPS, 0,
                       FRAMES, largest, 0xFFFFFFFF, 0, 0, 0, WIDTH, HEIGHT)
    avih = struct.pack("<IIIIIIIIII16x", us_per_frame, largest * FPS, 0, 0x10, FRAMES, 0, 1,
                       largest, WIDTH, HEIGHT)
    hdrl = b"hdrl" + chunk(b"avih", avih) + chunk(
        b"LIST", b"strl" + chunk(b"strh", strh) + chunk(b"strf", bih))

    movi = b"movi"
    index = b""
    for data in frames:
        # Offsets in the index count from the "movi" tag.
        index += struct.pack("<4sIII", b"00dc", 0x10, len(movi), len(data))
        movi += chunk(b"00dc", data)
    body = b"AVI " + chunk(b"LIST", hdrl) + chunk(b"LIST", movi) + chunk(b"idx1", index)
    return chunk(b"RIFF", body)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("copy_to_pc", copy_to_pc), ("copy_to_amiga", copy_to_amiga),
                       ("delete", delete), ("copy_on_amiga", copy_on_amiga)):
        with open(os.path.join(here, name + ".avi"), "wb") as out:
            out.write(avi(draw))


if __name__ == "__main__":
    main()
