#!/usr/bin/env python3
"""Makes the pictures and video of page styles 5 to 8 under pages/assets/.

Needs Debian's python3, imagemagick, sox, lame, ffmpeg and fonts-droid-fallback
(the Chinese glyphs of the chat button and the video). Run from anywhere:

    tools/make-assets-fg5to8.py

Every output is drawn or synthesised here from fixed numbers, so running it
again gives the same files; the results are committed and CI never runs this.
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pages", "assets")
CONVERT = "/usr/bin/convert"  # ImageMagick itself, whatever else PATH holds
FONT = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf"
MAX_PICTURE_BYTES = 150 * 1024

# ---------------------------------------------------------------- drawing kit
# Scenes are written as ImageMagick drawing commands (MVG) on a gradient sky.
# Coordinates are in a 1000 x 750 design space and scaled to the picture.

SKIES = {
    "day": ("#8fd3ff", "#e8f7ff"),
    "dawn": ("#ff9a8b", "#ffe29f"),
    "night": ("#0b1a3a", "#2c3e70"),
    "dusk": ("#6b4c8a", "#f6a35b"),
    "winter": ("#b9c6d6", "#f4f7fb"),
    "rain": ("#6f7f8f", "#b8c4cf"),
    "spring": ("#a8e6ff", "#fff5fb"),
    "room": ("#4a3b5c", "#7a6590"),
    "rose": ("#ffb3c6", "#fff0f5"),
}


class Scene:
    def __init__(self, sky, ground="#7cc576"):
        self.sky = sky
        self.cmds = []
        if ground:
            self.hill(ground)

    def add(self, text):
        self.cmds.append(text)

    def fill(self, colour, stroke="none", width=0):
        self.add(f"fill '{colour}' stroke '{stroke}' stroke-width {width}")

    def hill(self, colour):
        self.fill(colour)
        self.add("path 'M 0,560 C 250,500 450,520 600,545 C 780,575 900,540 1000,520 L 1000,750 L 0,750 Z'")

    # -- weather and sky
    def sun(self, x=820, y=150, r=70, colour="#ffd34e"):
        self.fill(colour)
        self.add(f"circle {x},{y} {x + r},{y}")
        self.fill("none", colour, 6)
        for i in range(12):
            a = i * math.pi / 6
            self.add(f"line {x + (r + 15) * math.cos(a):.0f},{y + (r + 15) * math.sin(a):.0f} "
                     f"{x + (r + 40) * math.cos(a):.0f},{y + (r + 40) * math.sin(a):.0f}")

    def rising_sun(self, x=500, y=560, r=120):
        self.fill("#ff8c42")
        self.add(f"circle {x},{y} {x + r},{y}")

    def moon(self, x=820, y=140):
        self.fill("#fff6c8")
        self.add(f"circle {x},{y} {x + 55},{y}")
        self.fill(SKIES["night"][0])
        self.add(f"circle {x + 28},{y - 18} {x + 78},{y - 18}")

    def stars(self, seed=1, count=40):
        rnd = Rand(seed)
        self.fill("#fffbe0")
        for _ in range(count):
            x, y, r = rnd.int(0, 1000), rnd.int(0, 420), rnd.int(2, 5)
            self.add(f"circle {x},{y} {x + r},{y}")

    def clouds(self, seed=2, count=3):
        rnd = Rand(seed)
        self.fill("#ffffff")
        for _ in range(count):
            x, y = rnd.int(60, 900), rnd.int(60, 260)
            for dx, dy, r in ((0, 0, 45), (50, -20, 55), (105, 0, 45), (50, 15, 45)):
                self.add(f"circle {x + dx},{y + dy} {x + dx + r},{y + dy}")

    def rain(self, seed=3):
        rnd = Rand(seed)
        self.fill("none", "#dfe9f3", 3)
        for _ in range(90):
            x, y = rnd.int(0, 1000), rnd.int(0, 720)
            self.add(f"line {x},{y} {x - 10},{y + 35}")

    def snow(self, seed=4):
        rnd = Rand(seed)
        self.fill("#ffffff")
        for _ in range(110):
            x, y, r = rnd.int(0, 1000), rnd.int(0, 740), rnd.int(3, 8)
            self.add(f"circle {x},{y} {x + r},{y}")

    # -- things
    def tree(self, x, y=560, size=1.0, crown="#3f9b4f", blossoms=0, fruit=0, seed=5):
        s = size
        self.fill("#8b5a2b")
        self.add(f"rectangle {x - 18 * s:.0f},{y - 170 * s:.0f} {x + 18 * s:.0f},{y}")
        self.fill(crown)
        for dx, dy, r in ((0, -260, 110), (-85, -200, 85), (85, -200, 85), (0, -170, 90)):
            self.add(f"circle {x + dx * s:.0f},{y + dy * s:.0f} {x + (dx + r) * s:.0f},{y + dy * s:.0f}")
        rnd = Rand(seed)
        for colour, count, r in (("#ffb7d0", blossoms, 9), ("#ff7f6e", fruit, 13)):
            self.fill(colour)
            for _ in range(count):
                a, d = rnd.float() * 2 * math.pi, rnd.float() * 150
                cx, cy = x + d * math.cos(a) * s, y + (-220 + d * 0.7 * math.sin(a)) * s
                self.add(f"circle {cx:.0f},{cy:.0f} {cx + r * s:.0f},{cy:.0f}")

    def sapling(self, x, y=600):
        self.fill("#8b5a2b")
        self.add(f"rectangle {x - 5},{y - 70} {x + 5},{y}")
        self.fill("#5cbf60")
        self.add(f"ellipse {x - 25},{y - 70} 25,12 0,360")
        self.add(f"ellipse {x + 25},{y - 80} 25,12 0,360")
        self.fill("#6b4a2b")
        self.add(f"ellipse {x},{y} 60,14 0,360")

    def flowers(self, seed=6, count=30, top=600):
        rnd = Rand(seed)
        for _ in range(count):
            x, y = rnd.int(10, 990), rnd.int(top, 740)
            colour = ("#ff6f91", "#ffd166", "#ffffff", "#c77dff")[rnd.int(0, 3)]
            self.fill(colour)
            for i in range(5):
                a = i * 2 * math.pi / 5
                px, py = x + 10 * math.cos(a), y + 10 * math.sin(a)
                self.add(f"circle {px:.0f},{py:.0f} {px + 7:.0f},{py:.0f}")
            self.fill("#f4a300")
            self.add(f"circle {x},{y} {x + 5},{y}")

    def heart(self, x, y, size=1.0, colour="#ff4d6d"):
        s = size * 40
        self.fill(colour)
        self.add(f"path 'M {x:.0f},{y + s * 0.9:.0f} "
                 f"C {x - s * 1.6:.0f},{y - s * 0.2:.0f} {x - s * 0.9:.0f},{y - s * 1.4:.0f} {x:.0f},{y - s * 0.5:.0f} "
                 f"C {x + s * 0.9:.0f},{y - s * 1.4:.0f} {x + s * 1.6:.0f},{y - s * 0.2:.0f} {x:.0f},{y + s * 0.9:.0f} Z'")

    def hearts(self, seed=7, count=8, colour="#ff8fab"):
        rnd = Rand(seed)
        for _ in range(count):
            self.heart(rnd.int(60, 940), rnd.int(60, 380), 0.4 + rnd.float() * 0.5, colour)

    def basket(self, x, y, fruit="#d7263d"):
        self.fill("#b5835a")
        self.add(f"path 'M {x - 50},{y} L {x + 50},{y} L {x + 38},{y + 45} L {x - 38},{y + 45} Z'")
        self.fill(fruit)
        for dx in (-30, 0, 30):
            self.add(f"circle {x + dx},{y - 8} {x + dx + 16},{y - 8}")

    def cake(self, x, y, burnt=False):
        self.fill("#6b3e26" if burnt else "#ffe5ec")
        self.add(f"rectangle {x - 70},{y - 60} {x + 70},{y}")
        self.fill("#3b2416" if burnt else "#ff8fab")
        self.add(f"rectangle {x - 70},{y - 70} {x + 70},{y - 50}")
        if burnt:
            self.fill("#9e9e9e")
            for i in range(3):
                self.add(f"circle {x - 30 + i * 30},{y - 110 - i * 15} {x - 12 + i * 30},{y - 110 - i * 15}")
        else:
            self.fill("#ff4d6d")
            self.add(f"circle {x},{y - 85} {x + 14},{y - 85}")

    def letter(self, x, y, size=1.0, with_heart=True):
        w, h = 80 * size, 55 * size
        self.fill("#fffdf5", "#c9b79c", 2)
        self.add(f"rectangle {x - w:.0f},{y - h:.0f} {x + w:.0f},{y + h:.0f}")
        self.add(f"polyline {x - w:.0f},{y - h:.0f} {x:.0f},{y + 5 * size:.0f} {x + w:.0f},{y - h:.0f}")
        if with_heart:
            self.heart(x, y + 15 * size, 0.35 * size)

    def train(self, x, y=560, leaving=False):
        self.fill("#355c7d")
        for car in range(3):
            cx = x + car * 190
            self.add(f"roundrectangle {cx},{y - 140} {cx + 180},{y - 20} 18,18")
        self.fill("#cfe8ff")
        for car in range(3):
            for w in range(3):
                wx = x + car * 190 + 20 + w * 55
                self.add(f"rectangle {wx},{y - 120} {wx + 40},{y - 85}")
        self.fill("#222222")
        for car in range(3):
            for dx in (35, 145):
                cx = x + car * 190 + dx
                self.add(f"circle {cx},{y - 15} {cx + 18},{y - 15}")
        if leaving:
            self.fill("#e0e0e0")
            for i in range(4):
                self.add(f"circle {x + 600 + i * 50},{y - 170 - i * 20} {x + 630 + i * 50},{y - 170 - i * 20}")

    def platform(self):
        self.fill("#9aa5b1")
        self.add("rectangle 0,560 1000,600")
        self.fill("#5b6770")
        self.add("rectangle 0,600 1000,615")

    def desk_lamp(self, x=760, y=560):
        self.fill("#8d6e63")
        self.add(f"rectangle {x - 200},{y - 20} {x + 120},{y}")
        self.fill("#ffd166")
        self.add(f"path 'M {x + 40},{y - 160} L {x + 100},{y - 160} L {x + 120},{y - 110} L {x + 20},{y - 110} Z'")
        self.fill("#fff3b0")
        self.add(f"circle {x + 70},{y - 100} {x + 160},{y - 100}")

    def ring(self, x, y):
        self.fill("#b0413e")
        self.add(f"roundrectangle {x - 55},{y - 20} {x + 55},{y + 50} 10,10")
        self.fill("none", "#ffd700", 8)
        self.add(f"circle {x},{y - 35} {x + 28},{y - 35}")
        self.fill("#bff4ff")
        self.add(f"polygon {x - 12},{y - 72} {x + 12},{y - 72} {x},{y - 55}")

    def path_road(self):
        self.fill("#e9d8a6")
        self.add("polygon 440,750 560,750 515,560 485,560")

    def bench(self, x, y=600):
        self.fill("#8b5a2b")
        self.add(f"rectangle {x - 150},{y - 70} {x + 150},{y - 55}")
        self.add(f"rectangle {x - 150},{y - 120} {x + 150},{y - 105}")
        self.add(f"rectangle {x - 130},{y - 55} {x - 118},{y}")
        self.add(f"rectangle {x + 118},{y - 55} {x + 130},{y}")

    def suitcase(self, x, y):
        self.fill("#e07a5f")
        self.add(f"roundrectangle {x - 35},{y - 60} {x + 35},{y} 8,8")
        self.fill("none", "#3d405b", 5)
        self.add(f"roundrectangle {x - 15},{y - 80} {x + 15},{y - 60} 5,5")

    def tears(self, x, y):
        self.fill("#74c0fc")
        for dx in (-22, 22):
            self.add(f"ellipse {x + dx},{y} 6,11 0,360")

    def sea(self):
        self.fill("#3a86ff")
        self.add("rectangle 0,470 1000,750")
        self.fill("#f1e3c6")
        self.add("path 'M 0,640 C 300,600 700,660 1000,610 L 1000,750 L 0,750 Z'")

    def house(self, x, y=560):
        self.fill("#fff3e0")
        self.add(f"rectangle {x - 120},{y - 160} {x + 120},{y}")
        self.fill("#e76f51")
        self.add(f"polygon {x - 145},{y - 160} {x},{y - 270} {x + 145},{y - 160}")
        self.fill("#8d5524")
        self.add(f"rectangle {x - 25},{y - 90} {x + 25},{y}")
        self.fill("#a8dadc")
        self.add(f"rectangle {x - 95},{y - 130} {x - 50},{y - 85}")
        self.add(f"rectangle {x + 50},{y - 130} {x + 95},{y - 85}")

    # -- the two characters
    def fox(self, x, y=600, size=1.0, face=1, blush=False, mood="smile", hat=False, kneel=False):
        """阿福, the little fox. `face` 1 looks right, -1 looks left."""
        s = size
        def P(dx, dy):
            return f"{x + dx * s * face:.0f},{y + dy * s:.0f}"
        # tail
        self.fill("#e8832a")
        self.add(f"path 'M {P(-40, -40)} C {P(-150, -30)} {P(-160, -160)} {P(-95, -170)} "
                 f"C {P(-110, -110)} {P(-70, -80)} {P(-30, -70)} Z'")
        self.fill("#ffffff")
        self.add(f"circle {P(-100, -160)} {P(-80, -160)}")
        # body
        self.fill("#e8832a")
        body_top = -120 if not kneel else -95
        self.add(f"ellipse {P(0, (body_top - 0) / 2)} {45 * s:.0f},{-body_top / 2 * s:.0f} 0,360")
        self.fill("#fff4e6")
        self.add(f"ellipse {P(5, body_top / 2 + 10)} {25 * s:.0f},{-body_top / 3 * s:.0f} 0,360")
        # head
        hy = body_top - 55
        self.fill("#e8832a")
        self.add(f"polygon {P(-50, hy - 20)} {P(-38, hy - 95)} {P(-5, hy - 45)}")
        self.add(f"polygon {P(50, hy - 20)} {P(38, hy - 95)} {P(5, hy - 45)}")
        self.fill("#3b2416")
        self.add(f"polygon {P(-44, hy - 68)} {P(-38, hy - 95)} {P(-28, hy - 75)}")
        self.add(f"polygon {P(44, hy - 68)} {P(38, hy - 95)} {P(28, hy - 75)}")
        self.fill("#e8832a")
        self.add(f"circle {P(0, hy)} {P(62, hy)}")
        self.fill("#fff4e6")
        self.add(f"path 'M {P(-40, hy + 5)} Q {P(0, hy + 70)} {P(40, hy + 5)} Q {P(0, hy + 25)} {P(-40, hy + 5)} Z'")
        self.fill("#2b2b2b")
        self.add(f"circle {P(18, hy + 22)} {P(26, hy + 22)}")
        if mood == "sad":
            self.fill("none", "#2b2b2b", max(2, 4 * s))
            self.add(f"line {P(-30, hy - 15)} {P(-12, hy - 8)}")
            self.add(f"line {P(30, hy - 15)} {P(12, hy - 8)}")
            self.fill("#2b2b2b")
        for ex in (-22, 22):
            self.add(f"ellipse {P(ex, hy - 5)} {7 * s:.0f},{9 * s:.0f} 0,360")
        if blush:
            self.fill("#ff4d6d")
            for ex in (-38, 38):
                self.add(f"ellipse {P(ex, hy + 12)} {13 * s:.0f},{8 * s:.0f} 0,360")
        if hat:
            self.fill("#ffffff")
            self.add(f"rectangle {P(-35, hy - 95)} {P(35, hy - 55)}")
            self.add(f"circle {P(0, hy - 100)} {P(40, hy - 100)}")

    def girl(self, x, y=600, size=1.0, face=-1, mood="smile", grey=False):
        """桃桃, the girl in the pink dress. `face` -1 looks left, 1 looks right."""
        s = size
        def P(dx, dy):
            return f"{x + dx * s * face:.0f},{y + dy * s:.0f}"
        hair = "#cfcfcf" if grey else "#4a2c2a"
        # legs and dress
        self.fill("#ffe0c8")
        self.add(f"rectangle {P(-18, -40)} {P(-8, 0)}")
        self.add(f"rectangle {P(8, -40)} {P(18, 0)}")
        self.fill("#ff7eb6")
        self.add(f"polygon {P(-55, -35)} {P(55, -35)} {P(20, -140)} {P(-20, -140)}")
        # head
        hy = -190
        self.fill(hair)
        self.add(f"circle {P(0, hy + 5)} {P(62, hy + 5)}")
        self.add(f"rectangle {P(-60, hy)} {P(60, hy + 55)}")
        self.fill("#ffe0c8")
        self.add(f"circle {P(0, hy + 10)} {P(48, hy + 10)}")
        self.fill(hair)
        self.add(f"path 'M {P(-50, hy)} Q {P(0, hy - 60)} {P(50, hy)} Q {P(10, hy - 20)} {P(-50, hy)} Z'")
        self.fill("#ff4d8d")
        self.add(f"polygon {P(30, hy - 45)} {P(70, hy - 65)} {P(70, hy - 25)}")
        self.add(f"polygon {P(30, hy - 45)} {P(0, hy - 70)} {P(0, hy - 25)}")
        self.fill("#2b2b2b")
        for ex in (-17, 17):
            if mood == "happy":
                self.fill("none", "#2b2b2b", max(2, 3 * s))
                self.add(f"path 'M {P(ex - 7, hy + 8)} Q {P(ex, hy)} {P(ex + 7, hy + 8)}'")
                self.fill("#2b2b2b")
            else:
                self.add(f"ellipse {P(ex, hy + 5)} {5 * s:.0f},{7 * s:.0f} 0,360")
        self.fill("#ff9eb5")
        for ex in (-28, 28):
            self.add(f"ellipse {P(ex, hy + 22)} {9 * s:.0f},{5 * s:.0f} 0,360")
        self.fill("none", "#c0392b", max(2, 3 * s))
        if mood == "sad":
            self.add(f"path 'M {P(-10, hy + 35)} Q {P(0, hy + 27)} {P(10, hy + 35)}'")
        else:
            self.add(f"path 'M {P(-10, hy + 28)} Q {P(0, hy + 38)} {P(10, hy + 28)}'")
        if mood == "sad":
            self.tears(x, y + (hy + 30) * s)

    def mvg(self, width, height):
        scale = f"affine {width / 1000:.5f},0,0,{height / 750:.5f},0,0"
        return "\n".join(["push graphic-context", scale] + self.cmds + ["pop graphic-context"]) + "\n"


class Rand:
    """A small linear congruential generator: the same numbers on every machine."""

    def __init__(self, seed):
        self.state = seed * 7919 + 17

    def float(self):
        self.state = (self.state * 1103515245 + 12345) % 2147483648
        return self.state / 2147483648

    def int(self, lo, hi):
        return lo + int(self.float() * (hi - lo + 1))


def render(scene, path, width, height, quality=82, fmt=None):
    top, bottom = SKIES[scene.sky]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    args = [CONVERT, "-size", f"{width}x{height}", f"gradient:{top}-{bottom}",
            "-draw", scene.mvg(width, height), "-strip"]
    if path.endswith((".jpg", ".jpeg")):
        args += ["-sampling-factor", "4:2:0", "-interlace", "JPEG", "-quality", str(quality)]
    run(args + [path])
    size = os.path.getsize(path)
    if size > MAX_PICTURE_BYTES:
        sys.exit(f"{path} has {size} bytes, more than {MAX_PICTURE_BYTES}")


def run(args):
    subprocess.run(args, check=True)


# ------------------------------------------------------ style 7: the story
# One scene per picture, numbered as the page names them (img/1.jpg ...).

def story():
    """The 54 pictures in page order: picture n is img/n.jpg."""
    S = Scene
    seq = []
    add = seq.append
    # Pages 2 to 11: the fox, the hill, the girl, the first gift.
    s = S("day"); s.tree(150, size=0.9); s.tree(850, size=1.1); s.tree(650, size=0.7); s.fox(420, size=0.8); add(s)
    s = S("day"); s.clouds(11, 2); s.fox(500, 660, size=1.6); add(s)
    s = S("day"); s.clouds(12, 4); s.fox(380, size=1.0, face=1); add(s)
    s = S("day"); s.clouds(13, 2); s.fox(250, size=0.9); s.girl(760, size=1.0); add(s)
    s = S("spring"); s.flowers(14, 40); s.girl(500, size=1.4, mood="happy"); add(s)
    s = S("day"); s.tree(280, size=1.0); s.fox(380, size=0.8, face=1); s.girl(760, size=1.0); add(s)
    s = S("day"); s.fox(500, size=1.3, blush=True); s.heart(500, 150, 1.4); add(s)
    s = S("dawn", None); s.rising_sun(700); s.hill("#6fb36a"); s.fox(350, size=1.0); add(s)
    s = S("day"); s.sun(); s.fox(420, size=1.2); s.basket(560, 500); add(s)
    s = S("day"); s.fox(330, size=1.0, blush=True); s.basket(500, 470); s.girl(680, size=1.0, mood="happy"); s.heart(500, 210, 0.7); add(s)
    # Pages 12 to 20: blushing, days together, the cake.
    s = S("day"); s.fox(430, size=1.5, blush=True); s.fill("#d7263d"); s.add("circle 760,420 815,420"); s.fill("#3f9b4f"); s.add("ellipse 775,355 22,10 0,360"); add(s)
    s = S("dawn", None); s.rising_sun(500, 560, 160); s.hill("#5f9f5a"); s.fox(380, size=0.9); s.girl(620, size=0.9, face=-1); add(s)
    s = S("night", "#2f5d3a"); s.stars(15, 60); s.moon(); s.fox(380, size=0.9, face=1); s.girl(620, size=0.9); add(s)
    s = S("rain", "#5c8a55"); s.rain(16); s.tree(800, size=0.9); s.fox(330, size=1.0); s.girl(560, size=1.0, face=1, mood="happy"); add(s)
    s = S("rose", "#f7c6d9"); s.girl(330, size=1.1, face=1, mood="happy"); s.cake(650, 560); s.hearts(17, 5); add(s)
    s = S("room", "#8d6e63"); s.fox(360, size=1.1, hat=True, mood="sad"); s.cake(640, 560, burnt=True); add(s)
    s = S("room", "#8d6e63"); s.cake(500, 560, burnt=True); s.girl(700, size=1.0, mood="happy"); s.fox(300, size=0.9, blush=True); add(s)
    s = S("rose", "#f7c6d9"); s.girl(500, size=1.4, mood="happy"); s.hearts(18, 10); add(s)
    s = S("dawn"); s.fox(500, size=1.4); s.heart(500, 170, 1.8, "#ff2e63"); add(s)
    s = S("spring"); s.fox(420, size=1.0, blush=True); s.girl(580, size=1.0, mood="happy"); s.heart(500, 180, 1.0); add(s)
    # Pages 21 to 28: winter, the station, the letters.
    s = S("winter", "#f4f7fb"); s.snow(19); s.tree(200, size=0.9, crown="#dfe8f0"); s.fox(500, size=1.0, mood="sad"); add(s)
    s = S("winter", "#f4f7fb"); s.snow(20); s.girl(500, size=1.2, mood="sad"); s.suitcase(620, 600); add(s)
    s = S("winter", None); s.platform(); s.train(40); s.fox(640, size=0.8); s.girl(800, size=0.8, mood="sad"); add(s)
    s = S("winter", None); s.platform(); s.train(500, leaving=True); s.fox(250, size=0.9, mood="sad"); add(s)
    s = S("winter", "#f4f7fb"); s.snow(21); s.train(640, 480); s.fox(250, size=1.0, mood="sad"); add(s)
    s = S("room", "#8d6e63")
    for i in range(12):
        s.letter(180 + (i % 4) * 210, 230 + (i // 4) * 150, 0.9, with_heart=i % 3 == 0)
    add(s)
    s = S("rose", None); s.letter(500, 380, 3.0); add(s)
    s = S("night", "#2f5d3a"); s.stars(22, 50); s.moon(500, 160); s.fox(500, size=1.1, mood="sad"); add(s)
    # Pages 29 to 38: spring, waiting, the return.
    s = S("spring"); s.sun(); s.clouds(23, 2); s.flowers(24, 25); add(s)
    s = S("spring", "#8fd694"); s.flowers(25, 90, top=560); s.tree(800, size=1.0, blossoms=40); add(s)
    s = S("spring", "#8fd694"); s.flowers(26, 30); s.fox(500, size=1.0); add(s)
    s = S("day"); s.path_road(); s.fox(330, size=1.0, face=1); s.heart(420, 230, 0.6); add(s)
    s = S("dusk"); s.path_road(); s.fox(300, size=1.0, face=1); add(s)
    s = S("dusk"); s.fox(430, size=1.1, blush=True); s.girl(570, size=1.1); s.hearts(27, 6); add(s)
    s = S("dusk"); s.girl(560, size=1.2, mood="sad"); s.fox(360, size=1.0); add(s)
    s = S("rose", "#f7c6d9"); s.girl(620, size=1.1, mood="happy"); s.fox(380, size=1.0, blush=True); s.heart(500, 150, 1.2); add(s)
    s = S("rose", None); s.heart(400, 360, 3.5, "#ff4d6d"); s.heart(600, 360, 3.5, "#ff8fab"); add(s)
    # Pages 39 to 45: together, the peach tree grows.
    s = S("day"); s.path_road(); s.fox(400, size=0.8); s.girl(600, size=0.8, face=-1); s.clouds(28, 2); add(s)
    s = S("spring"); s.sapling(500); s.fox(330, size=0.9); s.girl(680, size=0.9); add(s)
    s = S("spring"); s.tree(500, size=0.5, crown="#5cbf60"); s.fox(300, size=0.8); s.girl(700, size=0.8); add(s)
    s = S("day"); s.tree(500, size=1.0, crown="#4caf50"); s.fox(250, size=0.8); s.girl(760, size=0.8); add(s)
    s = S("spring"); s.tree(500, size=1.2, blossoms=60, fruit=14); s.fox(250, size=0.8); s.girl(760, size=0.8, mood="happy"); add(s)
    s = S("dusk"); s.fox(380, size=1.1, blush=True); s.girl(640, size=1.1); s.heart(510, 140, 0.9); add(s)
    s = S("rose", "#f7c6d9"); s.girl(560, size=1.3, mood="happy"); s.fox(330, size=1.0); s.hearts(29, 9); add(s)
    s = S("day"); s.path_road(); s.clouds(30, 3); s.fox(460, 590, size=0.5, face=-1); s.girl(540, 590, size=0.5, face=1); add(s)
    # Pages 46 to 50: promises.
    s = S("dawn", None); s.rising_sun(); s.hill("#6fb36a"); s.fox(400, size=1.0); s.girl(600, size=1.0); s.heart(500, 330, 0.6); add(s)
    s = S("spring"); s.sun(); s.fox(380, size=1.1, blush=True); s.girl(620, size=1.1, mood="happy"); add(s)
    s = S("dawn", None); s.rising_sun(500, 560, 90); s.hill("#6fb36a"); s.path_road(); s.fox(420, size=0.7, face=-1); s.girl(580, size=0.7, face=1); add(s)
    s = S("rose", "#f7c6d9"); s.fox(400, size=1.0, blush=True); s.girl(600, size=1.0, mood="happy"); s.flowers(34, 20); add(s)
    s = S("rose", None); s.heart(500, 330, 5.0); s.fox(500, 700, size=0.9); add(s)
    s = S("rose", None); s.heart(500, 330, 5.0, "#ff8fab"); s.girl(500, 700, size=0.9, mood="happy"); add(s)
    # Pages 52 to 55: the question.
    s = S("night", "#2f5d3a"); s.stars(32, 50); s.moon(); s.fox(380, size=1.0, kneel=True, blush=True); s.letter(520, 460, 0.6); s.girl(700, size=1.0); add(s)
    s = S("night", "#2f5d3a"); s.stars(35, 50); s.moon(); s.fox(420, size=1.0, blush=True); s.girl(600, size=1.0); s.hearts(36, 7); add(s)
    s = S("night", "#2f5d3a"); s.stars(33, 60); s.fox(360, size=1.0, kneel=True, blush=True); s.ring(500, 470); s.girl(700, size=1.0, mood="happy"); add(s)
    assert len(seq) == 54, len(seq)
    return seq


def story_pictures():
    for n, scene in enumerate(story(), 1):
        render(scene, os.path.join(ROOT, "fg7", "img", f"{n}.jpg"), 480, 360)


# ------------------------------------------------- style 6: twelve memories

def gallery_pictures():
    S = Scene
    scenes = []
    s = S("dawn", None); s.rising_sun(); s.hill("#6fb36a"); s.fox(400, size=0.9); s.girl(600, size=0.9); scenes.append(s)
    s = S("night", "#2f5d3a"); s.stars(41, 70); s.moon(); s.fox(400, size=0.8); s.girl(600, size=0.8); scenes.append(s)
    s = S("spring", "#8fd694"); s.flowers(42, 80, top=560); s.girl(500, size=1.1, mood="happy"); scenes.append(s)
    s = S("day", None); s.sun(); s.sea(); s.fox(420, 680, size=0.8); s.girl(580, 680, size=0.8); scenes.append(s)
    s = S("rose", "#f7c6d9"); s.cake(500, 560); s.hearts(43, 10); scenes.append(s)
    s = S("rain", "#5c8a55"); s.rain(44); s.fox(420, size=0.9); s.girl(600, size=0.9, mood="happy"); scenes.append(s)
    s = S("winter", "#f4f7fb"); s.snow(45); s.tree(250, size=0.8, crown="#dfe8f0"); s.fox(520, size=0.8); s.girl(680, size=0.8); scenes.append(s)
    s = S("dusk"); s.bench(500); s.fox(430, 545, size=0.7); s.girl(570, 545, size=0.7); scenes.append(s)
    s = S("spring"); s.tree(500, size=1.1, blossoms=70, fruit=10); scenes.append(s)
    s = S("room", "#8d6e63"); s.desk_lamp(); s.letter(420, 360, 1.5); scenes.append(s)
    s = S("day"); s.house(500); s.fox(240, size=0.8); s.girl(760, size=0.8); s.clouds(46, 2); scenes.append(s)
    s = S("rose", None); s.heart(500, 360, 5.5); s.ring(500, 430); scenes.append(s)
    for i, scene in enumerate(scenes, 1):
        render(scene, os.path.join(ROOT, "fg6", f"{i}.jpg"), 640, 386)


# ---------------------------------------------- style 8: six slides, a logo

def slider_pictures():
    S = Scene
    slides = []
    s = S("dawn", None); s.rising_sun(); s.hill("#6fb36a"); s.fox(420, size=0.9, blush=True); s.girl(580, size=0.9); s.heart(500, 200, 1.2); slides.append(("123.jpeg", s))
    s = S("spring", "#8fd694"); s.flowers(51, 50); s.tree(800, size=0.9, blossoms=30); s.fox(330, size=0.9); s.girl(500, size=0.9, mood="happy"); slides.append(("234.jpg", s))
    s = S("day"); s.house(620); s.clouds(52, 3); s.fox(260, size=0.8); s.girl(380, size=0.8, face=1); slides.append(("345.jpg", s))
    s = S("night", "#2f5d3a"); s.stars(53, 60); s.moon(); s.fox(380, size=1.0, kneel=True, blush=True); s.ring(520, 470); s.girl(700, size=1.0, mood="happy"); slides.append(("456.jpg", s))
    s = S("dawn"); s.sun(820, 140); s.bench(500); s.fox(430, 545, size=0.7); s.girl(570, 545, size=0.7, mood="happy"); slides.append(("567.jpg", s))
    s = S("dusk"); s.bench(500); s.fox(430, 545, size=0.7); s.girl(570, 545, size=0.7, grey=True, mood="happy"); s.hearts(54, 6); slides.append(("678.jpg", s))
    for name, scene in slides:
        render(scene, os.path.join(ROOT, "fg8", "images", name), 610, 458)
    logo = Scene("rose", None)
    logo.heart(500, 390, 7.0, "#ff2e63")
    logo.heart(500, 390, 4.0, "#ff8fab")
    # Drawn at twice the 80 px the page shows it at, for phones' dense screens.
    render(logo, os.path.join(ROOT, "fg8", "images", "123.png"), 160, 160)


# ---------------------------------------------- style 5: chat button, video

def chat_button():
    path = os.path.join(ROOT, "fg5", "chat.png")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    # Drawn at twice the 92 x 22 px the page shows it at, for phones' dense
    # screens, where its words would blur at its own size.
    run([CONVERT, "-size", "184x44", "xc:none", "-fill", "#0b3d0b", "-stroke", "#00ff00", "-strokewidth", "2",
         "-draw", "roundrectangle 1,1 182,42 12,12", "-stroke", "none", "-fill", "#ff4d6d",
         "-draw", "path 'M 24,34 C 4,20 12,6 24,16 C 36,6 44,20 24,34 Z'",
         "-font", FONT, "-pointsize", "26", "-fill", "#00ff00", "-annotate", "+52+32", "给我留言",
         "-strip", "PNG8:" + path])


def video(tmp):
    """A few seconds of a beating heart under falling stars, 460 x 372."""
    frames = os.path.join(tmp, "frames")
    os.makedirs(frames)
    count, fps = 72, 18
    for i in range(count):
        t = i / count
        s = Scene("night", None)
        rnd = Rand(61)
        s.fill("#fffbe0")
        for _ in range(45):
            x, y0, r = rnd.int(0, 1000), rnd.int(0, 750), rnd.int(2, 5)
            y = (y0 + t * 750) % 750
            s.add(f"circle {x},{y:.0f} {x + r},{y:.0f}")
        beat = 1.0 + 0.18 * max(0.0, math.sin(t * 2 * math.pi * 3)) ** 4
        s.heart(500, 360, 4.5 * beat, "#ff2e63")
        s.heart(500, 360, 2.6 * beat, "#ff8fab")
        render(s, os.path.join(frames, f"{i:03d}.png"), 460, 372)
        run([CONVERT, os.path.join(frames, f"{i:03d}.png"), "-font", FONT, "-pointsize", "34",
             "-fill", "#ffffff", "-gravity", "south", "-annotate", "+0+28", "我爱你",
             os.path.join(frames, f"{i:03d}.png")])
    tone = os.path.join(tmp, "mv.wav")
    melody(tone, [("C5", 1), ("E5", 1), ("G5", 1), ("E5", 1)] * 2, beat=count / fps / 8, pad=["C4", "G4"])
    path = os.path.join(ROOT, "fg5", "mv.mp4")
    run(["ffmpeg", "-loglevel", "error", "-y", "-framerate", str(fps), "-i", os.path.join(frames, "%03d.png"),
         "-i", tone, "-c:v", "libx264", "-preset", "slow", "-crf", "30", "-pix_fmt", "yuv420p",
         "-threads", "1", "-c:a", "aac", "-b:a", "48k", "-shortest", "-movflags", "+faststart",
         "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact",
         path])


# ------------------------------------------------- the video's soundtrack

def melody(path, notes, beat=0.35, pad=None, voice="pluck", volume=0.5):
    """Writes a WAV of `notes` (name, beats) over a soft held chord `pad`."""
    tmp = tempfile.mkdtemp()
    try:
        parts = []
        for i, (note, beats) in enumerate(notes):
            part = os.path.join(tmp, f"n{i:03d}.wav")
            length = beat * beats
            if note == "r":
                run(["sox", "-D", "-n", "-r", "22050", "-c", "1", part, "trim", "0", f"{length:.3f}"])
            else:
                run(["sox", "-D", "-n", "-r", "22050", "-c", "1", part, "synth", f"{length:.3f}", voice, note,
                     "fade", "0.01", f"{length:.3f}", f"{min(length / 2, 0.2):.3f}", "vol", str(volume)])
            parts.append(part)
        line = os.path.join(tmp, "line.wav")
        run(["sox", "-D"] + parts + [line])
        if pad:
            total = sum(b for _, b in notes) * beat
            chord = os.path.join(tmp, "pad.wav")
            synth = ["sox", "-D", "-n", "-r", "22050", "-c", "1", chord, "synth", f"{total:.3f}"]
            for n in pad:
                synth += ["sine", n]
            run(synth + ["fade", "0.3", f"{total:.3f}", "0.3", "vol", "0.12"])
            run(["sox", "-D", "-m", line, chord, path])
        else:
            shutil.copy(line, path)
    finally:
        shutil.rmtree(tmp)


def main():
    tmp = tempfile.mkdtemp()
    try:
        story_pictures()
        gallery_pictures()
        slider_pictures()
        chat_button()
        video(tmp)
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
