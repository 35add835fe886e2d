#!/usr/bin/env python3
"""Draws the program's pictures and icon: 32-bit images with straight alpha.

    make_art.py OUTPUT_DIR

Everything is drawn here from simple shapes, four by four samples a pixel,
so the script, not any image file, is the source of the art.
"""
import math
import struct
import sys
from pathlib import Path

SAMPLES = 4


class Canvas:
    def __init__(self, size, background=(0, 0, 0, 0)):
        self.w, self.h = size
        self.px = [list(background) for _ in range(self.w * self.h)]

    def fill(self, inside, colour):
        """Blends `colour` over every pixel in proportion to the share of
        samples for which inside(x, y) holds (coordinates in pixels)."""
        r, g, b, a = colour
        for y in range(self.h):
            for x in range(self.w):
                hits = sum(
                    inside(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES)
                    for i in range(SAMPLES) for j in range(SAMPLES))
                if not hits:
                    continue
                self.over(x, y, (r, g, b, a * hits / (SAMPLES * SAMPLES)))

    def over(self, x, y, colour):
        dst = self.px[y * self.w + x]
        sr, sg, sb, sa = colour
        da = dst[3] / 255
        sa = sa / 255
        oa = sa + da * (1 - sa)
        if oa == 0:
            return
        for c, s in enumerate((sr, sg, sb)):
            dst[c] = (s * sa + dst[c] * da * (1 - sa)) / oa
        dst[3] = oa * 255

    def bgra_bottom_up(self):
        rows = []
        for y in reversed(range(self.h)):
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                rows.append(struct.pack('<4B', round(b), round(g), round(r), round(a)))
        return b''.join(rows)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def ring(cx, cy, r0, r1, a0=0, a1=360):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return r0 <= d <= r1 and (a0 <= angle <= a1 if a0 <= a1 else angle >= a0 or angle <= a1)
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                hit = not hit
        return hit
    return inside


def program_window():  # Image1: a generic program window with a blue panel
    c = Canvas((32, 32))
    c.fill(rect(2, 4, 30, 28), (90, 90, 90, 255))
    c.fill(rect(3, 5, 29, 9), (40, 80, 170, 255))
    c.fill(rect(3, 9, 29, 27), (250, 250, 250, 255))
    c.fill(rect(6, 12, 26, 24), (60, 130, 220, 255))
    c.fill(rect(25, 6, 28, 8), (235, 235, 235, 255))
    return c


def question_mark():  # Image5: a light grey question mark on white, opaque
    c = Canvas((32, 32), (255, 255, 255, 255))
    grey = (200, 200, 200, 255)
    c.fill(ring(16, 11, 4, 7.5, 300, 200), grey)
    c.fill(rect(14, 15, 18, 21), grey)
    c.fill(circle(16, 25.5, 2.3), grey)
    return c


def folder_with_arrow():  # Image2: a yellow folder, a green arrow pointing right
    c = Canvas((16, 16))
    c.fill(polygon([(1, 3), (6, 3), (7, 5), (14, 5), (14, 13), (1, 13)]), (190, 140, 20, 255))
    c.fill(rect(2, 6, 14, 13), (250, 205, 60, 255))
    c.fill(polygon([(5, 8), (9, 8), (9, 6), (13, 9.5), (9, 13), (9, 11), (5, 11)]), (40, 160, 60, 255))
    return c


def window_with_list():  # Image3: a window with a list in its left pane
    c = Canvas((16, 16))
    c.fill(rect(1, 2, 15, 14), (80, 80, 80, 255))
    c.fill(rect(2, 3, 14, 5), (40, 80, 170, 255))
    c.fill(rect(2, 5, 14, 13), (255, 255, 255, 255))
    c.fill(rect(7, 5, 8, 13), (150, 150, 150, 255))
    for row in (6.5, 8.5, 10.5):
        c.fill(rect(3, row, 6, row + 1), (40, 80, 170, 255))
    return c


def information_sign():  # Image4: a round blue sign with a white letter i
    c = Canvas((16, 16))
    c.fill(circle(8, 8, 7.3), (30, 90, 200, 255))
    c.fill(circle(8, 4.6, 1.2), (255, 255, 255, 255))
    c.fill(rect(7, 6.8, 9, 12.5), (255, 255, 255, 255))
    return c


def program_icon(size):  # a blue shield with a white key: the program guards autostart keys
    c = Canvas((size, size))
    s = size / 32
    shield = polygon([(16 * s, 2 * s), (28 * s, 6 * s), (27 * s, 18 * s), (16 * s, 30 * s),
                      (5 * s, 18 * s), (4 * s, 6 * s)])
    c.fill(shield, (25, 70, 160, 255))
    c.fill(polygon([(16 * s, 4 * s), (26 * s, 7.5 * s), (25 * s, 17.5 * s), (16 * s, 27.5 * s)]),
           (50, 110, 210, 255))
    white = (255, 255, 255, 255)
    c.fill(ring(16 * s, 11 * s, 2 * s, 4.2 * s), white)
    c.fill(rect(15 * s, 15 * s, 17 * s, 24 * s), white)
    c.fill(rect(17 * s, 19 * s, 20 * s, 20.8 * s), white)
    c.fill(rect(17 * s, 22 * s, 19.5 * s, 23.8 * s), white)
    return c


def bmp_file(canvas):
    pixels = canvas.bgra_bottom_up()
    header = struct.pack('<IiiHHIIiiII', 40, canvas.w, canvas.h, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    return struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset) + header + pixels


def ico_file(canvases):
    entries, images = [], []
    offset = 6 + 16 * len(canvases)
    for c in canvases:
        pixels = c.bgra_bottom_up()
        mask_row = ((c.w + 31) // 32) * 4
        header = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 32, 0, len(pixels), 0, 0, 0, 0)
        image = header + pixels + bytes(mask_row * c.h)
        entries.append(struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(image), offset))
        images.append(image)
        offset += len(image)
    return struct.pack('<HHH', 0, 1, len(canvases)) + b''.join(entries) + b''.join(images)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    pictures = {'image1': program_window, 'image2': folder_with_arrow, 'image3': window_with_list,
                'image4': information_sign, 'image5': question_mark}
    for name, draw in pictures.items():
        (out / f'{name}.bmp').write_bytes(bmp_file(draw()))
    (out / 'keywarden.ico').write_bytes(ico_file([program_icon(n) for n in (16, 32, 48, 64, 128)]))


if __name__ == '__main__':
    main()
