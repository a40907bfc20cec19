#!/usr/bin/env python3
"""Writes the program's icon: one 32x32 image in the 16 standard colours.

The picture is drawn below as text, one character per pixel, so it can be
read and changed in a review; '.' is transparent.
"""
import struct
import sys

SIZE = 32

# The standard 16-colour palette, as (red, green, blue), with the letter that
# stands for each colour in the drawing.
PALETTE = [
    ("k", (0x00, 0x00, 0x00)),  # black
    ("m", (0x80, 0x00, 0x00)),  # maroon
    ("g", (0x00, 0x80, 0x00)),  # green
    ("o", (0x80, 0x80, 0x00)),  # olive
    ("n", (0x00, 0x00, 0x80)),  # navy
    ("p", (0x80, 0x00, 0x80)),  # purple
    ("t", (0x00, 0x80, 0x80)),  # teal
    ("s", (0xC0, 0xC0, 0xC0)),  # silver
    ("d", (0x80, 0x80, 0x80)),  # grey
    ("r", (0xFF, 0x00, 0x00)),  # red
    ("l", (0x00, 0xFF, 0x00)),  # lime
    ("y", (0xFF, 0xFF, 0x00)),  # yellow
    ("b", (0x00, 0x00, 0xFF)),  # blue
    ("f", (0xFF, 0x00, 0xFF)),  # fuchsia
    ("a", (0x00, 0xFF, 0xFF)),  # aqua
    ("w", (0xFF, 0xFF, 0xFF)),  # white
]

# A handset whose call is passed on along the arrow.
PICTURE = """
................................
................................
................................
......................gg........
......................glg.......
......................gllg......
......................glllg.....
....ggggggggggggggggggglllg.....
....glllllllllllllllllllllllg...
....glllllllllllllllllllllllg...
....gllggggggggggggggglllllg....
....gllg..............gllg......
....gllg..............glg.......
....gllg..............gg........
....gllg........................
....gggg........................
................................
......kkkkkkkkkkkkkkkkkkkk......
....kkknnnnnnnnnnnnnnnnnnkkk....
...kknnbbbbbbbbbbbbbbbbbbnnkk...
..kknbbkkkkkkkkkkkkkkkkkkbbnkk..
..knbbkk................kkbbnk..
.kknbkk..................kkbnkk.
.knbbk....................kbbnk.
.knbbk....................kbbnk.
.knbbbk..................kbbbnk.
.kknbbk..................kbbnkk.
..kkkkk..................kkkkk..
................................
................................
................................
................................
"""


def rows():
    lines = PICTURE.strip("\n").split("\n")
    if len(lines) != SIZE or any(len(line) != SIZE for line in lines):
        sys.exit("make_icon: the picture must be %d lines of %d characters" % (SIZE, SIZE))
    return lines


def icon_bytes():
    index = {letter: i for i, (letter, _) in enumerate(PALETTE)}
    picture = rows()
    # Bitmaps run bottom-up; an icon's header counts the colour and the mask
    # halves together, hence twice the height.
    colour_rows = []
    mask_rows = []
    for line in reversed(picture):
        nibbles = []
        mask = 0
        for x, ch in enumerate(line):
            if ch == ".":
                nibbles.append(0)
                mask |= 1 << (SIZE - 1 - x)
            elif ch in index:
                nibbles.append(index[ch])
            else:
                sys.exit("make_icon: unknown colour %r" % ch)
        colour_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask_rows.append(struct.pack(">I", mask))  # 32 pixels: already a 4-byte row
    colours = b"".join(colour_rows)
    masks = b"".join(mask_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for _, (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colours) + len(masks), 0, 0, 16, 0)
    image = header + palette + colours + masks
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())


if __name__ == "__main__":
    main()
