#!/usr/bin/python3
"""Draws the installer dialog's product pictures into resources/pictures/.

Each product gets a 100 % picture of 750 x 380 pixels and a "_200" one of
1500 x 760: a mountain lake at dusk with the product name and year, and a
quiet light band at y 205-245 (at 100 %) where the status line and the
progress bar sit. Everything is drawn here from code, so anyone can make the
pictures again: scripts/make-pictures.py (needs Debian's python3-pil and
fonts-dejavu-core).
"""

import math
import os
import random

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources", "pictures")
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

WIDTH, HEIGHT = 750, 380
BAND_TOP, BAND_BOTTOM = 205, 245

# Each product: file stem, the name line, the line under it, and its colours
# (sky top, sky at the horizon, far ridge, near ridge, accent).
PRODUCTS = [
    ("background", "Tarn Gridwell", "2023",
     ((22, 52, 92), (150, 186, 214), (78, 110, 146), (36, 62, 96), (242, 178, 72))),
    ("background_app", "Tarn Gridwell", "2023 App",
     ((20, 70, 74), (156, 204, 196), (74, 128, 122), (32, 78, 76), (236, 196, 92))),
    ("background_corvin", "Tarn Corvin", "2023 App",
     ((58, 34, 78), (214, 170, 160), (122, 86, 122), (66, 42, 80), (250, 206, 120))),
]


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def ridge(rng, width, base, amplitude, roughness):
    """Heights of a calm ridge line: a few slow waves and a little noise."""
    waves = [(rng.uniform(0.6, 2.2), rng.uniform(0, math.tau), rng.uniform(0.3, 1.0)) for _ in range(4)]
    points = []
    wander = 0.0
    for x in range(0, width + 1, 4):
        t = x / width
        y = sum(a * math.sin(f * math.tau * t + p) for f, p, a in waves)
        wander = 0.85 * wander + rng.uniform(-roughness, roughness)
        points.append((x, base - amplitude * y / 2.5 + wander))
    return points


def draw(stem, name, year, colours, scale):
    sky_top, sky_low, far, near, accent = colours
    w, h = WIDTH * scale, HEIGHT * scale
    horizon = int(300 * scale)
    image = Image.new("RGB", (w, h))
    pixels = ImageDraw.Draw(image)
    for y in range(horizon):
        pixels.line([(0, y), (w, y)], fill=lerp(sky_top, sky_low, (y / horizon) ** 1.4))

    # A low sun behind the ridges, softened.
    glow = Image.new("L", (w, h), 0)
    ImageDraw.Draw(glow).ellipse([int(560 * scale), int(150 * scale), int(660 * scale), int(250 * scale)], fill=150)
    glow = glow.filter(ImageFilter.GaussianBlur(30 * scale))
    image.paste(Image.new("RGB", (w, h), accent), (0, 0), glow)

    rng = random.Random(stem)
    for base, amplitude, colour in ((215, 70, far), (270, 55, near)):
        line = [(x * scale, y * scale) for x, y in ridge(rng, WIDTH, base, amplitude, 2.0)]
        pixels.polygon(line + [(w, horizon), (0, horizon)], fill=colour)

    # The lake: the sky mirrored and darkened, with a few calm streaks.
    mirror = image.crop((0, horizon - (h - horizon), w, horizon)).transpose(Image.FLIP_TOP_BOTTOM)
    mirror = Image.blend(mirror, Image.new("RGB", mirror.size, near), 0.45)
    image.paste(mirror, (0, horizon))
    for _ in range(18):
        y = rng.uniform(horizon + 6 * scale, h - 4 * scale)
        x = rng.uniform(0, w * 0.8)
        length = rng.uniform(60, 220) * scale
        pixels.line([(x, y), (x + length, y)], fill=lerp(near, sky_low, 0.35), width=max(1, scale))

    # The quiet band under the status line and the progress bar.
    band = Image.new("RGB", (w, (BAND_BOTTOM - BAND_TOP) * scale), (244, 246, 248))
    mask = Image.new("L", band.size, 215)
    image.paste(band, (0, BAND_TOP * scale), mask)
    pixels.line([(0, BAND_TOP * scale), (w, BAND_TOP * scale)], fill=accent, width=max(1, scale))

    # Name and year, top left.
    title = ImageFont.truetype(FONT_BOLD, 44 * scale)
    sub = ImageFont.truetype(FONT, 26 * scale)
    small = ImageFont.truetype(FONT, 13 * scale)
    shadow = (0, 0, 0)
    for font, text, y, fill in ((title, name, 38, (255, 255, 255)), (sub, year, 94, accent)):
        pixels.text((40 * scale + scale, y * scale + scale), text, font=font, fill=shadow)
        pixels.text((40 * scale, y * scale), text, font=font, fill=fill)
    pixels.text((42 * scale, 140 * scale), "Installation", font=small, fill=(230, 236, 242))

    suffix = "" if scale == 1 else "_200"
    image.save(os.path.join(OUT, f"{stem}{suffix}.png"), optimize=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    for stem, name, year, colours in PRODUCTS:
        for scale in (1, 2):
            draw(stem, name, year, colours, scale)


if __name__ == "__main__":
    main()
