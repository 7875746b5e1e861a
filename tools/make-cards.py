#!/usr/bin/env python3
"""Makes the link-card pictures of the eight styles, pages/assets/cards/styleN.jpg.

A chat shows a card picture of 1200 x 630 (1.91:1) sharp, and one under
600 x 315 blurred or not at all. Each is drawn here at that size in its
style's colours, from the same drawings as the style's own pictures (the
kit of tools/make-assets-fg5to8.py) and without any words, sample or other:
the waiting page, the page that asks for a code and the poster show them
too, for pages whose words must not show yet.

Needs Debian's python3 and imagemagick. Run from anywhere:

    tools/make-cards.py

The same numbers give the same files; the results are committed and CI
never runs this.
"""

import importlib.util
import math
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "pages", "assets", "cards")
WIDTH, HEIGHT = 1200, 630
MAX_BYTES = 160 * 1024

_source = importlib.util.spec_from_file_location("kit", os.path.join(HERE, "make-assets-fg5to8.py"))
kit = importlib.util.module_from_spec(_source)
_source.loader.exec_module(kit)
CONVERT = kit.CONVERT
Scene, Rand = kit.Scene, kit.Rand

# A heart as a path around (0,0), 100 units wide, as the other artwork has it.
HEART = "M 0,-20 C -10,-45 -50,-40 -50,-5 C -50,25 -15,40 0,60 C 15,40 50,25 50,-5 C 50,-40 10,-45 0,-20 Z"


def heart(x, y, scale, colour):
    return (f"push graphic-context translate {x:.1f},{y:.1f} scale {scale:.3f},{scale:.3f} "
            f"fill '{colour}' path '{HEART}' pop graphic-context")


def layer(draw, blur=0):
    """An ImageMagick layer of MVG `draw` over nothing, blurred, composited."""
    args = ["(", "-size", f"{WIDTH}x{HEIGHT}", "xc:none", "-draw", draw]
    if blur:
        args += ["-blur", f"0x{blur}"]
    return args + [")", "-composite"]


def sky(top, bottom):
    return ["-size", f"{WIDTH}x{HEIGHT}", f"gradient:{top}-{bottom}"]


def on_heart(t, size):
    """A point of the heart curve at angle t, `size` pixels across, y down."""
    x = 16 * math.sin(t) ** 3
    y = 13 * math.cos(t) - 5 * math.cos(2 * t) - 2 * math.cos(3 * t) - math.cos(4 * t)
    return x * size / 34, -y * size / 34


def inside_heart(x, y):
    """Whether (x, y), in units of the curve above (y up), lies inside it."""
    x, y = x * 1.1, y * 1.1 + 0.3
    return (x * x + y * y - 1) ** 3 - x * x * y ** 3 <= 0


def save(args, style):
    path = os.path.join(OUT, f"style{style}.jpg")
    subprocess.run([CONVERT] + args + ["-strip", "-sampling-factor", "4:2:0", "-interlace", "JPEG",
                                       "-quality", "84", path], check=True)
    size = os.path.getsize(path)
    if size > MAX_BYTES:
        sys.exit(f"{path} has {size} bytes, more than {MAX_BYTES}")
    print(path, size)


def scene_file(scene, width, height, path):
    """A scene of the kit drawn at width x height, its 4:3 design space kept."""
    top, bottom = kit.SKIES[scene.sky]
    tall = round(width * 750 / 1000)
    subprocess.run([CONVERT, "-size", f"{width}x{tall}", f"gradient:{top}-{bottom}",
                    "-draw", scene.mvg(width, tall), "-gravity", "south", "-crop",
                    f"{width}x{height}+0+{round((tall - height) * 0.35)}", "+repage", path], check=True)
    return path


def style1():
    # Night, stars and rainbow sparks around a glowing heart.
    rnd = Rand(101)
    stars = " ".join(f"point {rnd.int(0, WIDTH)},{rnd.int(0, HEIGHT)}" for _ in range(120))
    colours = ["#ff4d4d", "#ffb84d", "#fff64d", "#4dff88", "#4dc3ff", "#b84dff"]
    sparks = " ".join(
        f"fill '{colours[i % 6]}' circle {x},{y} {x + r},{y}"
        for i, (x, y, r) in enumerate((rnd.int(60, 1140), rnd.int(40, 590), rnd.int(2, 5)) for _ in range(36))
        if abs(x - 600) > 260)
    return (sky("#1a0630", "#000000") + layer(f"fill '#ffffff' {stars}", 0.7) + layer(sparks, 1.2)
            + layer(heart(600, 330, 4.6, "#ff3366"), 26) + layer(heart(600, 330, 3.9, "#ff6b8b"))
            + layer(heart(545, 262, 0.9, "#ffd1dc"), 8))


def style2():
    # A heart of petals on blush pink, as the letter's heart is drawn.
    rnd = Rand(202)
    shades = ["#f7a1ba", "#ef7fa0", "#fbc4d3", "#e86a8f", "#f9b3c6", "#ffd6e1"]
    petals = []
    for i in range(420):
        t = 2 * math.pi * i / 420
        x, y = on_heart(t, 520)
        x += 600 + (rnd.float() - 0.5) * 46
        y += 300 + (rnd.float() - 0.5) * 46
        r = 5 + rnd.int(0, 9)
        petals.append(f"fill '{shades[rnd.int(0, 5)]}' ellipse {x:.0f},{y:.0f} {r},{r * 0.62:.1f} 0,360")
    loose = [f"fill '{shades[rnd.int(0, 5)]}' ellipse {rnd.int(0, WIDTH)},{rnd.int(0, HEIGHT)} 6,4 0,360"
             for _ in range(40)]
    return (sky("#fff7f9", "#fde1e9") + layer(" ".join(loose), 1.5) + layer(" ".join(petals))
            + layer(heart(600, 300, 1.2, "#e05d86"), 0.5))


def style3():
    # The tree whose crown is a heart of small hearts, petals falling.
    rnd = Rand(303)
    shades = ["#e75480", "#f07aa0", "#f9a8c0", "#d63d6c", "#fbc5d5"]
    trunk = ("fill '#8a5a3c' path 'M 580,610 C 590,520 600,470 580,400 C 560,350 530,320 500,290 "
             "L 515,280 C 550,305 580,335 600,370 C 610,330 640,290 690,260 L 700,272 "
             "C 660,305 632,345 625,400 C 615,470 625,540 640,610 Z'")
    crown = []
    for _ in range(900):
        ux, uy = rnd.float() * 2.4 - 1.2, rnd.float() * 2.4 - 1.2
        if not inside_heart(ux, uy):
            continue
        x, y = 600 + ux * 230, 230 - uy * 200
        crown.append(heart(x, y, 0.14 + rnd.float() * 0.16, shades[rnd.int(0, 4)]))
    falling = [heart(rnd.int(80, 1150), rnd.int(60, 600), 0.12 + rnd.float() * 0.1, shades[rnd.int(0, 4)])
               for _ in range(26)]
    ground = "fill '#f3e3d3' ellipse 610,612 260,22 0,360"
    return (sky("#fffdf4", "#fbeadb") + layer(ground, 4) + layer(trunk) + layer(" ".join(crown))
            + layer(" ".join(falling), 0.6))


def style4():
    # Style 4's two hearts, large, on its orange, a few more drifting.
    rnd = Rand(404)
    places = [(rnd.int(40, 1160), rnd.int(40, 590), 0.25 + rnd.float() * 0.35) for _ in range(30)]
    drift = " ".join(heart(x, y, size, "#ffffff") for x, y, size in places if abs(x - 600) > 300)
    return (sky("#f9b040", "#ee8216") + layer(drift, 1)
            + layer(heart(560, 300, 4.0, "#00000030"), 18)
            + layer(heart(530, 300, 3.6, "#ff4d6d") + " " + heart(720, 340, 2.6, "#ffb3c1")
                    + " " + heart(470, 225, 0.75, "#ffffff")))


def style5():
    # The terminal's green: a heart of lit cells over falling streaks.
    rnd = Rand(505)
    streaks = []
    for column in range(0, WIDTH, 24):
        top = rnd.int(-300, 600)
        for k in range(rnd.int(4, 14)):
            y = top + k * 22
            alpha = int(40 + 200 * k / 14)
            streaks.append(f"fill '#00ff00{alpha:02x}' rectangle {column + 6},{y} {column + 14},{y + 12}")
    cells = []
    for gy in range(-12, 13):
        for gx in range(-14, 15):
            if inside_heart(gx / 12.5, -gy / 11.5):
                x, y = 600 + gx * 17, 300 + gy * 17
                cells.append(f"rectangle {x - 7},{y - 7} {x + 7},{y + 7}")
    lit = "fill '#39ff39' " + " ".join(cells)
    return (sky("#031203", "#000000") + layer(" ".join(streaks), 0.6) + layer(lit, 10) + layer(lit)
            + layer("fill '#00000040' " + " ".join(f"rectangle 0,{y} {WIDTH},{y + 1}" for y in range(0, HEIGHT, 4))))


def framed(files, tmp, places, frame="#ffffff", shadow="#00000040"):
    """The pictures in white frames, turned a little, at (x, y, degrees)."""
    args = []
    for i, (path, (x, y, turn)) in enumerate(zip(files, places)):
        photo = os.path.join(tmp, f"framed{i}.png")
        subprocess.run([CONVERT, path, "-bordercolor", frame, "-border", "14x14", "-gravity", "south",
                        "-splice", "0x26", "(", "+clone", "-background", shadow, "-shadow", "60x10+0+8", ")",
                        "+swap", "-background", "none", "-layers", "merge", "+repage",
                        "-rotate", str(turn), photo], check=True)
        args += [photo, "-gravity", "northwest", "-geometry", f"+{x}+{y}", "-composite"]
    return args


def style6(tmp):
    # Three of its memories on the wall, in its peach.
    S = Scene
    scenes = []
    s = S("dawn", None); s.rising_sun(); s.hill("#6fb36a"); s.fox(400, size=0.9); s.girl(600, size=0.9); scenes.append(s)
    s = S("night", "#2f5d3a"); s.stars(41, 70); s.moon(); s.fox(400, size=0.8); s.girl(600, size=0.8); scenes.append(s)
    s = S("spring", "#8fd694"); s.flowers(42, 80, top=560); s.girl(500, size=1.1, mood="happy"); scenes.append(s)
    files = [scene_file(sc, 330, 248, os.path.join(tmp, f"s6-{i}.png")) for i, sc in enumerate(scenes)]
    rnd = Rand(606)
    drift = " ".join(heart(rnd.int(40, 1160), rnd.int(30, 600), 0.2 + rnd.float() * 0.3, "#ffffffb0")
                     for _ in range(14))
    return (sky("#ffc8aa", "#ffe7d8") + layer(drift, 1)
            + framed(files, tmp, [(36, 150, -5), (420, 118, 2), (790, 150, 5)])
            + layer(heart(600, 78, 0.7, "#e8603c")))


def style7(tmp):
    # A picture of its story in the middle of its pink, hearts about it.
    s = Scene("day"); s.fox(430, size=1.3, blush=True); s.girl(640, size=1.2, mood="happy"); s.heart(535, 190, 1.1)
    photo = scene_file(s, 640, 440, os.path.join(tmp, "s7.png"))
    rnd = Rand(707)
    drift = " ".join(heart(rnd.int(30, 1170), rnd.int(30, 600), 0.2 + rnd.float() * 0.45,
                           ["#f48fb1", "#ec407a", "#f8bbd0"][rnd.int(0, 2)]) for _ in range(30))
    return sky("#ffc1d9", "#ffeaf3") + layer(drift, 0.8) + framed([photo], tmp, [(266, 72, -2)])


def style8(tmp):
    # Its dark screen with the panel of its slides: the fox, the girl, a heart.
    s = Scene("dawn", None); s.rising_sun(); s.hill("#6fb36a"); s.fox(420, size=0.9, blush=True)
    s.girl(580, size=0.9); s.heart(500, 200, 1.2)
    photo = scene_file(s, 820, 520, os.path.join(tmp, "s8.png"))
    rounded = os.path.join(tmp, "s8r.png")
    subprocess.run([CONVERT, photo, "(", "+clone", "-alpha", "extract", "-draw",
                    "fill black polygon 0,0 0,24 24,0 fill white circle 24,24 24,0", "(", "+clone", "-flip", ")",
                    "-compose", "Multiply", "-composite", "(", "+clone", "-flop", ")", "-compose", "Multiply",
                    "-composite", ")", "-alpha", "off", "-compose", "CopyOpacity", "-composite", rounded],
                   check=True)
    logo = (f"fill '#ffffff' roundrectangle 60,245 200,385 28,28 "
            + heart(130, 312, 0.95, "#ff6f61"))
    dots = " ".join(f"fill '{'#ff6f61' if i == 0 else '#6b6270'}' circle {640 + i * 28},{600} {646 + i * 28},600"
                    for i in range(5))
    return (sky("#2b2430", "#17161a") + layer(logo) + layer(dots)
            + [rounded, "-gravity", "northwest", "-geometry", "+290+55", "-composite"])


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        save(style1(), 1)
        save(style2(), 2)
        save(style3(), 3)
        save(style4(), 4)
        save(style5(), 5)
        save(style6(tmp), 6)
        save(style7(tmp), 7)
        save(style8(tmp), 8)


if __name__ == "__main__":
    main()
