#!/usr/bin/env python3
"""Draws the installer's art: the panel background, the button skin and the
application icon, as 8-bit palettised BMP/ICO files next to this script.

    python3 resources/make_art.py

Standard library only, and deterministic: the same script always gives the
same bytes, so the committed files can be checked against a fresh run.

- background.bmp: 285 x 349. A night sky over a mountain range with a lone
  keep, the name in gold letters, and a dark lower band that the panel's
  button column covers.
- button_skin.bmp: 12 x 36, three 12 x 12 frames stacked top to bottom:
  normal (bronze frame, dark face), focused (bright gold frame, dark face),
  pressed (gold frame, light face, so the panel's dark pressed caption reads).
  The skin code cuts each frame into nine 4 x 4 pieces and tiles the edges
  and the centre, so every edge row (or column) is uniform along the edge.
- app.ico: 32 x 32 and 16 x 16, a gold keep on a dark shield.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# ---- palette ----------------------------------------------------------------
# Ramps of colours; a drawing picks a ramp and a position 0..1 in it, and an
# ordered dither spreads the steps so the dark gradients do not band.

RAMPS = {}
PALETTE = []


def add_ramp(name, stops, count):
    """Adds a ramp of count colours interpolated through the (t, rgb) stops."""
    base = len(PALETTE)
    for i in range(count):
        t = i / (count - 1)
        for k in range(len(stops) - 1):
            t0, c0 = stops[k]
            t1, c1 = stops[k + 1]
            if t0 <= t <= t1:
                f = 0.0 if t1 == t0 else (t - t0) / (t1 - t0)
                PALETTE.append(tuple(int(round(a + (b - a) * f)) for a, b in zip(c0, c1)))
                break
    RAMPS[name] = (base, count)


add_ramp("sky", [(0.0, (6, 6, 14)), (0.55, (22, 20, 52)), (1.0, (70, 44, 78))], 64)
add_ramp("rock", [(0.0, (4, 4, 8)), (1.0, (38, 36, 54))], 32)
add_ramp("gold", [(0.0, (60, 36, 8)), (0.5, (176, 124, 40)), (1.0, (255, 226, 150))], 48)
add_ramp("moon", [(0.0, (120, 120, 140)), (1.0, (246, 242, 220))], 24)
add_ramp("dark", [(0.0, (0, 0, 0)), (1.0, (28, 24, 30))], 24)
add_ramp("ember", [(0.0, (90, 30, 10)), (1.0, (255, 190, 90))], 16)
add_ramp("light", [(0.0, (150, 120, 70)), (1.0, (250, 238, 200))], 16)
while len(PALETTE) < 256:
    PALETTE.append((0, 0, 0))
assert len(PALETTE) == 256

BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def colour(ramp, t, x=0, y=0, dither=True):
    base, count = RAMPS[ramp]
    t = min(1.0, max(0.0, t))
    v = t * (count - 1)
    if dither:
        v += (BAYER[y & 3][x & 3] + 0.5) / 16.0 - 0.5
    i = int(round(v))
    return base + min(count - 1, max(0, i))


# ---- files ------------------------------------------------------------------

def dib(width, height, pixels):
    """BITMAPINFOHEADER, palette and bottom-up rows of an 8-bit DIB."""
    stride = (width + 3) & ~3
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, stride * height,
                         2835, 2835, 256, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    rows = bytearray()
    for y in range(height - 1, -1, -1):
        rows += bytes(pixels[y]) + b"\0" * (stride - width)
    return header, palette, bytes(rows)


def write_bmp(name, width, height, pixels):
    header, palette, rows = dib(width, height, pixels)
    offset = 14 + len(header) + len(palette)
    data = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + header + palette + rows
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def write_ico(name, images):
    """images: list of (size, pixels, mask) with mask[y][x] True = transparent."""
    entries = b""
    blobs = []
    offset = 6 + 16 * len(images)
    for size, pixels, mask in images:
        header, palette, rows = dib(size, size, pixels)
        # An icon's header counts the XOR and AND images together.
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
        mask_stride = ((size + 31) // 32) * 4
        and_rows = bytearray()
        for y in range(size - 1, -1, -1):
            row = bytearray(mask_stride)
            for x in range(size):
                if mask[y][x]:
                    row[x // 8] |= 0x80 >> (x % 8)
            and_rows += row
        blob = header + palette + rows + bytes(and_rows)
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(blobs))


# ---- a small pixel font for the title ---------------------------------------

GLYPHS = {
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    " ": ["00000"] * 7,
}


def text_mask(text, scale, gap):
    """Set of (x, y) pixels of text in the pixel font, and its width."""
    points = set()
    x0 = 0
    for ch in text:
        glyph = GLYPHS[ch]
        for gy, row in enumerate(glyph):
            for gx, bit in enumerate(row):
                if bit == "1":
                    for sy in range(scale):
                        for sx in range(scale):
                            points.add((x0 + gx * scale + sx, gy * scale + sy))
        x0 += 5 * scale + gap
    return points, x0 - gap


# ---- background -------------------------------------------------------------

def rng(seed):
    state = seed & 0xFFFFFFFF
    while True:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        yield state


def ridge(x, seed, base, amplitude):
    """A mountain line: sum of a few sines, height above the bottom."""
    v = base
    for k, (f, p) in enumerate([(0.013, 1.1), (0.031, 2.7), (0.071, 0.4), (0.17, 5.0)]):
        v += amplitude / (k + 1) * math.sin(x * f + p + seed)
    return v


def background():
    W, H = 285, 349
    HORIZON = 205            # below: the dark band behind the button column
    px = [[0] * W for _ in range(H)]
    moon_x, moon_y, moon_r = 214, 58, 17

    for y in range(H):
        for x in range(W):
            if y < HORIZON:
                t = y / HORIZON
                # glow low on the horizon and around the moon
                d = math.hypot(x - moon_x, y - moon_y)
                glow = max(0.0, 1.0 - d / 90.0) * 0.35
                px[y][x] = colour("sky", t * 0.8 + glow, x, y)
            else:
                t = 1.0 - (y - HORIZON) / (H - HORIZON)
                px[y][x] = colour("dark", 0.25 + 0.45 * t, x, y)

    # stars
    r = rng(1104)
    for _ in range(140):
        x = next(r) % W
        y = next(r) % 150
        if math.hypot(x - moon_x, y - moon_y) < moon_r + 6:
            continue
        bright = (next(r) % 100) / 100.0
        px[y][x] = colour("moon", 0.3 + 0.7 * bright, dither=False)
        if bright > 0.9 and 1 <= x < W - 1 and y >= 1:
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                px[y + dy][x + dx] = colour("moon", 0.2, dither=False)

    # moon with a soft terminator
    for y in range(moon_y - moon_r, moon_y + moon_r + 1):
        for x in range(moon_x - moon_r, moon_x + moon_r + 1):
            d = math.hypot(x - moon_x, y - moon_y)
            if d <= moon_r:
                shade = 1.0 - max(0.0, (x - moon_x + 6) / (moon_r * 2.2))
                crater = 0.15 if math.hypot(x - moon_x + 5, y - moon_y - 4) < 4 else 0.0
                px[y][x] = colour("moon", shade - crater, x, y)

    # far and near mountain ranges
    for x in range(W):
        far = int(HORIZON - ridge(x, 0.0, 62, 20))
        near = int(HORIZON - ridge(x, 3.3, 30, 14))
        for y in range(max(0, far), HORIZON):
            px[y][x] = colour("rock", 0.55 - 0.35 * (y - far) / max(1, HORIZON - far), x, y)
        for y in range(max(0, near), HORIZON):
            px[y][x] = colour("rock", 0.22 - 0.2 * (y - near) / max(1, HORIZON - near), x, y)

    # the keep on its crag, a silhouette with two lit windows
    def fill(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(H, y1)):
            for x in range(max(0, x0), min(W, x1)):
                px[y][x] = c
    black = colour("rock", 0.0, dither=False)
    crag_top = 150
    for x in range(40, 112):
        top = crag_top + int(abs(x - 76) ** 1.35 / 3.2)
        fill(x, top, x + 1, HORIZON, black)
    fill(58, 92, 94, 152, black)                      # hall
    fill(64, 60, 80, 94, black)                       # tower
    for bx in range(64, 80, 4):                       # battlements
        fill(bx, 55, bx + 2, 60, black)
    for bx in range(58, 94, 5):
        fill(bx, 88, bx + 3, 92, black)
    for i in range(12):                               # spire
        fill(72 - i // 3, 44 + i, 73 + i // 3, 45 + i, black)
    fill(70, 70, 73, 76, colour("ember", 0.9, dither=False))
    fill(66, 110, 69, 116, colour("ember", 0.6, dither=False))
    fill(84, 118, 87, 124, colour("ember", 0.75, dither=False))

    # the name, gold with a dark outline
    def title(text, scale, y0):
        points, width = text_mask(text, scale, scale)
        x0 = (W - width) // 2
        hgt = 7 * scale
        outline = set()
        for (x, y) in points:
            for dx in (-1, 0, 1):
                for dy in (-1, 0, 1):
                    outline.add((x + dx, y + dy))
        for (x, y) in outline - points:
            if 0 <= x0 + x < W and 0 <= y0 + y < H:
                px[y0 + y][x0 + x] = colour("dark", 0.0, dither=False)
        for (x, y) in points:
            px[y0 + y][x0 + x] = colour("gold", 1.0 - 0.75 * y / hgt, x, y)
    title("TARNHOLM", 3, 14)
    title("VESK", 2, 40)

    # a thin gold rule between the picture and the button band
    for x in range(12, W - 12):
        fade = 1.0 - abs(x - W / 2) / (W / 2 - 12)
        px[HORIZON][x] = colour("gold", 0.25 + 0.5 * fade, x, HORIZON)
        px[HORIZON + 1][x] = colour("gold", 0.1 + 0.2 * fade, x, HORIZON + 1)
    return W, H, px


# ---- button skin ------------------------------------------------------------

def skin_frame(outer, inner, face, light_face):
    """One 12 x 12 frame: a 4-pixel border (outer line, bevel, inner line)
    around a plain face. Edge rows depend only on the distance to the edge, so
    the tiled edges join seamlessly; corners are cut at 45 degrees."""
    S = 12
    frame = [[0] * S for _ in range(S)]
    ramp_face = "light" if light_face else "dark"
    for y in range(S):
        for x in range(S):
            d = min(x, y, S - 1 - x, S - 1 - y)   # distance to the outside
            corner = min(x, S - 1 - x) + min(y, S - 1 - y)
            if corner < 2:
                frame[y][x] = colour("dark", 0.0, dither=False)
            elif d == 0:
                frame[y][x] = colour("gold", outer * 0.55, dither=False)
            elif d == 1:
                frame[y][x] = colour("gold", outer, dither=False)
            elif d == 2:
                frame[y][x] = colour("gold", inner, dither=False)
            elif d == 3:
                frame[y][x] = colour("gold", inner * 0.45, dither=False)
            else:
                frame[y][x] = colour(ramp_face, face, dither=False)
    return frame


def button_skin():
    frames = [
        skin_frame(0.45, 0.30, 0.45, False),   # normal: bronze
        skin_frame(0.95, 0.80, 0.75, False),   # focused: bright gold
        skin_frame(0.75, 0.60, 0.85, True),    # pressed: light face
    ]
    px = [row for frame in frames for row in frame]
    return 12, 36, px


# ---- icon -------------------------------------------------------------------

def icon(size):
    px = [[0] * size for _ in range(size)]
    mask = [[True] * size for _ in range(size)]
    s = size / 32.0
    for y in range(size):
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            # shield: flat top, sides curving to a point
            half = 14.0 if fy < 16 else 14.0 * math.sqrt(max(0.0, 1 - ((fy - 16) / 15.5) ** 2))
            if 1 <= fy <= 31 and abs(fx - 16) <= half:
                mask[y][x] = False
                edge = half - abs(fx - 16) < 2.0 / s or fy < 1 + 2.0 / s
                px[y][x] = colour("gold", 0.7) if edge else colour("sky", 0.2 + fy / 60.0, x, y)
                keep = (9 <= fx < 23 and 17 <= fy < 26) or (13 <= fx < 19 and 8 <= fy < 17) \
                    or (fy >= 6 and fy < 8 and (13 <= fx < 14.5 or 15.3 <= fx < 16.7 or 17.5 <= fx < 19)) \
                    or (fy >= 15 and fy < 17 and (9 <= fx < 10.5 or 21.5 <= fx < 23))
                if keep:
                    px[y][x] = colour("gold", 0.45 + 0.4 * (1 - fy / 32.0), dither=False)
                if 15 <= fx < 17 and 11 <= fy < 14:
                    px[y][x] = colour("ember", 0.9, dither=False)
    return size, px, mask


def main():
    w, h, px = background()
    write_bmp("background.bmp", w, h, px)
    w, h, px = button_skin()
    write_bmp("button_skin.bmp", w, h, px)
    write_ico("app.ico", [icon(32), icon(16)])


if __name__ == "__main__":
    main()
