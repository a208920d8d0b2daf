#!/usr/bin/env python3
"""Draws the setup tool's icon: a monitor showing a mountain dusk with a speaker
in front, 32 x 32 at 8 bits per pixel, and writes it as a Windows .ico file."""
import struct
import sys

W = H = 32
TRANSPARENT = None
pixels = [[TRANSPARENT] * W for _ in range(H)]


def put(x, y, c):
    if 0 <= x < W and 0 <= y < H:
        pixels[y][x] = c


def rect(x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            put(x, y, c)


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


# Monitor bezel with a highlight on top and a shadow at the bottom.
rect(1, 2, 30, 22, (64, 68, 78))
rect(2, 2, 29, 2, (120, 126, 140))
rect(1, 22, 30, 22, (36, 38, 46))
for y in (2, 22):
    put(1, y, TRANSPARENT)
    put(30, y, TRANSPARENT)
# Screen: dusk sky from deep blue to orange.
sx0, sy0, sx1, sy1 = 3, 4, 28, 19
for y in range(sy0, sy1 + 1):
    t = (y - sy0) / (sy1 - sy0)
    c = lerp((24, 36, 110), (250, 150, 60), t)
    rect(sx0, y, sx1, y, c)
# Sun.
for y in range(9, 16):
    for x in range(17, 25):
        if (x - 20.5) ** 2 + (y - 12.5) ** 2 <= 9.5:
            put(x, y, (255, 220, 90))
# Mountains in two shades.
for x in range(sx0, sx1 + 1):
    h1 = max(0, 9 - abs(x - 10))
    h2 = max(0, 7 - abs(x - 22))
    for y in range(sy1 - h1 + 1, sy1 + 1):
        put(x, y, (70, 40, 90))
    for y in range(sy1 - h2 + 1, sy1 + 1):
        if pixels[y][x] != (70, 40, 90):
            put(x, y, (110, 60, 110))
# Snow cap.
for x, y in ((10, 11), (9, 12), (10, 12), (11, 12)):
    put(x, y, (240, 240, 250))
# Stand and base.
rect(13, 23, 18, 25, (90, 94, 104))
rect(8, 26, 23, 27, (64, 68, 78))
rect(8, 26, 23, 26, (120, 126, 140))
# Speaker with two sound waves at the lower right.
spk = (30, 30, 34)
rect(20, 24, 22, 28, spk)
for i, x in enumerate(range(23, 26)):
    rect(x, 24 - i - 1, x, 28 + i + 1, spk)
wave = (80, 200, 240)
for x, y in ((26, 24), (27, 25), (27, 26), (27, 27), (26, 28)):
    put(x, y, wave)
for x, y in ((28, 22), (29, 23), (30, 24), (30, 25), (30, 26), (30, 27), (30, 28), (29, 29), (28, 30)):
    put(x, y, wave)

# Palette: index 0 is black for transparent pixels (masked out by the AND mask).
palette = [(0, 0, 0)]
for row in pixels:
    for c in row:
        if c is not TRANSPARENT and c not in palette:
            palette.append(c)
assert len(palette) <= 256, len(palette)
palette += [(0, 0, 0)] * (256 - len(palette))

xor = bytearray()
andmask = bytearray()
for y in reversed(range(H)):  # bottom-up rows
    row = pixels[y]
    xor += bytes(0 if c is TRANSPARENT else palette.index(c) for c in row)
    bits = 0
    for x, c in enumerate(row):
        if c is TRANSPARENT:
            bits |= 1 << (31 - x)
    andmask += struct.pack(">I", bits)

header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 8, 0, len(xor) + len(andmask), 0, 0, 256, 0)
pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
image = header + pal + xor + andmask
icondir = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", W, H, 0, 0, 1, 8, len(image), 6 + 16)
with open(sys.argv[1] if len(sys.argv) > 1 else "setup.ico", "wb") as f:
    f.write(icondir + entry + image)
