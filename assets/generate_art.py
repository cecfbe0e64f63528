#!/usr/bin/python3
"""Draws every picture of kingyo as crisp pixel art.

    generate_art.py                 write the pictures under assets/
    generate_art.py --preview DIR   also write magnified contact sheets to DIR

Every shape is sampled once per pixel centre (no anti-aliasing), so the bowl
frames keep a clean outline: their transparent part is exactly the white of
their top-left pixel, and nothing else in them is white.
"""
import math
import os
import sys

from PIL import Image

ASSETS = os.path.dirname(os.path.abspath(__file__))

WHITE = (255, 255, 255)

# Glass: dark grey-blue outline, a paler inner rim, a glint.
GLASS_OUTLINE = (52, 70, 104)
GLASS_INNER = (138, 170, 204)
GLASS_GLINT = (214, 236, 250)
GLASS_BASE = (96, 124, 160)
GLASS_BASE_LIGHT = (160, 188, 216)

# Frilled rim.
RIM_OUTLINE = (72, 32, 104)
RIM_BACK = (116, 64, 160)
RIM_FRONT = (156, 96, 204)
RIM_LIGHT = (204, 160, 240)

# Water, from the surface down; the lightest is the water box's own back colour.
WATER_SURFACE = (228, 255, 255)
WATER = [(192, 255, 255), (168, 238, 250), (144, 220, 244), (120, 200, 236)]
WATER_RIPPLE = (216, 255, 255)
WATER_EDGE = (104, 176, 216)

# Gravel on the bottom.
GRAVEL = [(210, 188, 140), (180, 156, 112), (150, 144, 150), (196, 120, 96), (236, 214, 168)]

# Water weed.
WEED_DARK = (28, 104, 52)
WEED = (60, 156, 64)
WEED_LIGHT = (132, 208, 96)

# Goldfish.
FISH_OUTLINE = (110, 18, 22)
FISH_DARK = (178, 28, 26)
FISH_RED = (222, 50, 34)
FISH_ORANGE = (244, 108, 44)
FISH_BELLY = (252, 170, 80)
FISH_SHINE = (255, 210, 150)
FIN_EDGE = (170, 34, 34)
FIN = (236, 84, 56)
FIN_RAY = (214, 58, 44)
FIN_TIP = (250, 150, 112)
EYE = (30, 14, 20)
EYE_SHINE = (240, 240, 228)

# Food flakes and bubbles.
FOOD = [(96, 22, 18), (134, 34, 26), (168, 58, 34)]
BUBBLE_RING = (92, 164, 224)
BUBBLE_FILL = (196, 234, 255)
BUBBLE_SHINE = (244, 252, 255)

# The letter that drifts in the water box while mail waits: warm paper and a warm
# brown edge that stand out from the cool water, sealed with the goldfish's red.
LETTER_PAPER = (255, 246, 222)
LETTER_FLAP = (240, 222, 188)
LETTER_FOLD = (196, 164, 128)
LETTER_OUTLINE = (104, 66, 52)
LETTER_SIZE = (18, 13)
LETTER_HEART = ("xx.xx", "xoxxx", ".xxx.", "..x..")

# Geometry of the bowl picture, in pixels of the 100 x 100 frame.
BOWL_CX = 50.0
BOWL_CY = 58.0
BOWL_HALF_WIDTH = 46.0
BOWL_TOP_DEPTH = 42.0
BOWL_BOTTOM_DEPTH = 38.0
BOWL_BOTTOM_ROUNDNESS = 2.6
NECK_Y = 21.0
BASE_Y = 95.0
RIM_CY = 17.0
SURFACE_Y = 47
GRAVEL_Y = 89
# The water box: a window onto the same water, placed at (19, 48) over the bowl.
BOX_X, BOX_Y = 19, 48
BOX_VISIBLE = (63, 39)
WATER_BOX_SIZE = (74, 47)


# ---------------------------------------------------------------- helpers

def hash01(*values):
    """A fixed pseudo-random number in [0, 1) for the given integers."""
    h = 2166136261
    for v in values:
        h = ((h ^ (v & 0xFFFFFFFF)) * 16777619) & 0xFFFFFFFF
    h ^= h >> 13
    h = (h * 1274126177) & 0xFFFFFFFF
    return (h >> 8) / float(1 << 24)


def sample(width, height, inside, scale=1.0):
    """The set of pixels whose centres satisfy inside(x, y) in design units."""
    return {(x, y) for y in range(height) for x in range(width)
            if inside((x + 0.5) / scale, (y + 0.5) / scale)}


NEIGHBOURS4 = ((1, 0), (-1, 0), (0, 1), (0, -1))


def border(pixels):
    """Pixels of the set that touch a pixel outside it (4-neighbourhood)."""
    return {(x, y) for (x, y) in pixels
            if any((x + dx, y + dy) not in pixels for dx, dy in NEIGHBOURS4)}


def prune_spurs(pixels):
    """Drops pixels hanging on by at most one neighbour: they read as noise."""
    pixels = set(pixels)
    for _ in range(2):
        pixels = {(x, y) for (x, y) in pixels
                  if sum((x + dx, y + dy) in pixels for dx, dy in NEIGHBOURS4) >= 2}
    return pixels


def in_polygon(x, y, points):
    inside = False
    n = len(points)
    for i in range(n):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            if x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                inside = not inside
    return inside


def put(image, pixels, colour):
    w, h = image.size
    for (x, y) in pixels:
        if 0 <= x < w and 0 <= y < h:
            image.putpixel((x, y), colour if image.mode == "RGB" else colour + (255,))


# ---------------------------------------------------------------- water

def water_colour(x, y):
    """The water at frame pixel (x, y): bands that deepen downwards, with a
    checkered seam between bands and a few light ripples near the surface."""
    if y <= SURFACE_Y:
        return WATER_SURFACE
    depth = y - SURFACE_Y - 1
    band_height = 11
    band = min(depth // band_height, len(WATER) - 1)
    into = depth % band_height
    if band + 1 < len(WATER) and into == band_height - 1 and (x + y) % 2 == 0:
        band += 1
    colour = WATER[band]
    if y in (50, 54, 59) and (x * 7 + y * 3) % 23 < {50: 5, 54: 4, 59: 3}[y]:
        colour = WATER_RIPPLE
    return colour


WEED_STALKS = [
    # base x, base y, height, sway, phase
    (15, 92, 22, 1.2, 0.4),
    (20, 92, 40, 2.0, 0.0),
    (25, 92, 30, 1.8, 1.9),
    (30, 92, 35, 1.6, 3.6),
    (35, 92, 16, 1.0, 2.6),
]


def weed_pixels(scale=1.0):
    """Water weed on the left: wavy stalks with leaves pointing upwards,
    alternating sides every other row."""
    dark, mid, light = set(), set(), set()
    for (bx, by, height, sway, phase) in WEED_STALKS:
        bx, by, height = round(bx * scale), round(by * scale), round(height * scale)
        top = by - height
        for y in range(top, by + 1):
            t = (by - y) / height
            x = round(bx + sway * math.sin(phase + (by - y) / 5.0) * t)
            dark.add((x, y))
            rise = by - y
            if 3 <= rise and rise % 2 == 0:
                side = 1 if (rise // 2) % 2 else -1
                length = 3 if y > top + 4 else 2
                leaf = [(x + side * i, y - (i + 1) // 2) for i in range(1, length + 1)]
                mid.update(leaf[:-1])
                light.add(leaf[-1])
        light.add((x, top - 1))
    mid -= dark
    light -= dark | mid
    return dark, mid, light


def gravel_colour(x, y):
    r = hash01(x // 2, y // 2, 7)
    r2 = hash01(x, y, 11)
    if r < 0.08:
        return GRAVEL[3]
    if r < 0.30:
        return GRAVEL[2]
    if r2 < 0.12:
        return GRAVEL[4]
    return GRAVEL[0] if r2 < 0.62 else GRAVEL[1]


def water_layer(width, height, offset=(0, 0), weed=True):
    """Water, weed and gravel with no bowl around them."""
    ox, oy = offset
    image = Image.new("RGB", (width, height))
    for y in range(height):
        for x in range(width):
            fy = y + oy
            colour = gravel_colour(x + ox, fy) if fy >= GRAVEL_Y else water_colour(x + ox, fy)
            image.putpixel((x, y), colour)
    if weed:
        draw_weed(image, weed_pixels(), offset)
    return image


def draw_weed(image, weed, offset=(0, 0)):
    ox, oy = offset
    for pixels, colour in zip(weed, (WEED_DARK, WEED, WEED_LIGHT)):
        put(image, {(x - ox, y - oy) for (x, y) in pixels}, colour)


# ---------------------------------------------------------------- bowl

def bowl_half_width(y):
    if y < NECK_Y or y > BASE_Y:
        return -1.0
    if y < BOWL_CY:
        d, n = (BOWL_CY - y) / BOWL_TOP_DEPTH, 2.0
    else:
        d, n = (y - BOWL_CY) / BOWL_BOTTOM_DEPTH, BOWL_BOTTOM_ROUNDNESS
    if d >= 1.0:
        return -1.0
    return BOWL_HALF_WIDTH * (1.0 - d ** n) ** (1.0 / n)


def in_bowl(x, y):
    return abs(x - BOWL_CX) < bowl_half_width(y)


def in_foot(x, y):
    return BASE_Y - 1.0 <= y <= BASE_Y + 3.0 and abs(x - BOWL_CX) < 21.0 - max(0.0, y - BASE_Y - 1.0)


# The mouth's frilled rim: a ring seen a little from above whose edge waves
# up and down, drawn with a round brush along that curve.
RIM_RX, RIM_RY = 24.5, 5.6
RIM_WAVES = 9
RIM_WAVE = 1.3
RIM_BRUSH_BACK = 2.0
RIM_BRUSH_FRONT = 2.9


def rim_curve():
    points = []
    for i in range(720):
        a = 2 * math.pi * i / 720
        wave = math.cos(RIM_WAVES * a)
        # The near side looks thicker than the far side.
        brush = RIM_BRUSH_BACK + (RIM_BRUSH_FRONT - RIM_BRUSH_BACK) * max(0.0, math.sin(a))
        points.append((BOWL_CX + RIM_RX * math.cos(a),
                       RIM_CY + RIM_RY * math.sin(a) - RIM_WAVE * wave, a, wave, brush))
    return points


RIM_POINTS = rim_curve()


def rim_hit(x, y):
    """The rim point nearest to (x, y) within the brush, front arc first."""
    if not (BOWL_CX - RIM_RX - 4 <= x <= BOWL_CX + RIM_RX + 4 and
            RIM_CY - RIM_RY - 5 <= y <= RIM_CY + RIM_RY + 5):
        return None
    best = None
    for (px, py, a, wave, brush) in RIM_POINTS:
        d = (x - px) ** 2 + (y - py) ** 2
        if d <= brush ** 2:
            front = math.sin(a) > 0
            key = (not front, d)
            if best is None or key < best[0]:
                best = (key, front, wave, y - py, abs(math.cos(a)))
    return best


def in_rim(x, y):
    return rim_hit(x, y) is not None


def rim_colour(x, y):
    _, front, wave, above, sideways = rim_hit(x, y)
    if front and wave > 0.2 and above < -0.6 and sideways < 0.8:
        return RIM_LIGHT
    return RIM_FRONT if front else RIM_BACK


def glint(inner, outer, start_deg, end_deg):
    """A streak of light following the curve of the glass, between two radii
    and two angles (degrees, clockwise from the right)."""
    def inside(x, y):
        d = math.hypot(x - 52.0, (y - 56.0) / 1.05)
        angle = math.degrees(math.atan2(y - 56.0, x - 52.0))
        return inner <= d <= outer and start_deg <= angle <= end_deg
    return inside


GLASS_GLINTS = (glint(36.0, 38.6, -150.0, -118.0), glint(36.2, 37.8, -162.0, -156.0))
WATER_GLINT = glint(36.4, 38.0, 4.0, 24.0)


def draw_bowl(size=100, glass_fill=None):
    """The empty bowl on white. With glass_fill, the air inside the glass gets
    that colour instead of staying white (used for the icon)."""
    scale = size / 100.0
    image = Image.new("RGB", (size, size), WHITE)
    body = sample(size, size, in_bowl, scale)
    foot = sample(size, size, in_foot, scale) - body
    rim = prune_spurs(sample(size, size, in_rim, scale))
    outer, inner = glass_rings(body)
    interior = body - outer - inner
    surface_row = round((SURFACE_Y + 0.5) * scale - 0.5)

    # Other sizes take the water's colours from the full-size picture but draw
    # the weed anew, so that its leaves stay whole.
    water = water_layer(100, 100, weed=size == 100)
    for (x, y) in interior:
        if y >= surface_row:
            image.putpixel((x, y), water.getpixel((int((x + 0.5) / scale), int((y + 0.5) / scale))))
        elif glass_fill is not None:
            image.putpixel((x, y), glass_fill)
    if size != 100:
        draw_weed(image, [pixels & interior for pixels in weed_pixels(scale)])
    for (x, y) in inner:
        image.putpixel((x, y), WATER_EDGE if y >= surface_row else GLASS_INNER)
    for streak in GLASS_GLINTS:
        put(image, sample(size, size, streak, scale) & interior, GLASS_GLINT)
    put(image, sample(size, size, WATER_GLINT, scale) & interior, WATER_SURFACE)
    put(image, outer, GLASS_OUTLINE)
    put(image, foot, GLASS_BASE)
    put(image, {(x, y) for (x, y) in foot if y == max(fy for _, fy in foot)}, GLASS_OUTLINE)
    put(image, border(foot) & {(x, y) for (x, y) in foot if x < size / 2}, GLASS_BASE_LIGHT)

    rim_edge = border(rim)
    for (x, y) in rim - rim_edge:
        image.putpixel((x, y), rim_colour((x + 0.5) / scale, (y + 0.5) / scale))
    put(image, rim_edge, RIM_OUTLINE)
    return image


def glass_rings(body):
    """The outer and inner ring of the glass wall. The mouth is open: the top
    row of the body is no wall."""
    top = min(y for _, y in body)
    open_mouth = body | {(x, above) for (x, y) in body if y == top for above in range(top - 3, top)}
    outer = border(open_mouth) & body
    inner = border(open_mouth - outer) & body
    return outer, inner


def bowl_interior_water():
    """Pixels of frame 0 that show plain water (no glass, rim or weed matters)."""
    body = sample(100, 100, in_bowl)
    outer, inner = glass_rings(body)
    return {(x, y) for (x, y) in body - outer - inner if y >= SURFACE_Y}


# ---------------------------------------------------------------- goldfish

# The goldfish in its own frame: head towards +x, belly towards +y, one unit
# per pixel of the small sprite. A short, deep body and a big double tail.
BODY_CX = 0.5
BODY_FRONT, BODY_BACK, BODY_TOP, BODY_BOTTOM = 7.5, 7.5, 6.4, 5.8
TAIL_PIVOT = -8.0
TAIL_SPREAD = 1.2


def tail_reach(phi, phase):
    """Length of the tail fan along angle phi (0 = straight back): two lobes,
    the upper and lower taking turns to stretch."""
    s = abs(phi) / TAIL_SPREAD
    lobe = math.sin(math.pi * s) ** 0.6
    longer = 1.0 + 0.12 * phase * (1 if phi > 0 else -1)
    return (6.2 + 4.6 * lobe) * longer


def dorsal_fin(phase):
    lean = 0.5 * phase
    return [(2.5, -5.6), (0.5 + lean, -10.2), (-2.5 + lean, -9.8), (-6.5, -4.6), (-4.0, -4.0)]


def pectoral_fin(phase):
    swing = 0.8 * phase
    return [(3.5, 3.2), (-0.5 - swing, 7.0), (-2.2 - swing, 6.4), (0.5, 3.6)]


ANAL_FIN = [(-3.0, 4.4), (-6.2, 7.8), (-8.0, 6.6), (-6.5, 3.4)]


def fish_part(lx, ly, phase):
    """What the goldfish shows at a point of its own frame: ('body', shade),
    ('fin', shade) or None."""
    rx = BODY_FRONT if lx > BODY_CX else BODY_BACK
    ry = BODY_TOP if ly < 0 else BODY_BOTTOM
    if ((lx - BODY_CX) / rx) ** 2 + (ly / ry) ** 2 <= 1.0:
        return "body", body_shade(lx, ly)
    if -9.5 <= lx <= -5.0 and abs(ly) <= 1.9 + (lx + 9.5) * 0.45:
        return "body", body_shade(lx, ly)
    # Tail fan around a pivot behind the body, swaying with the phase.
    sway = 0.16 * phase
    dx, dy = lx - TAIL_PIVOT, ly
    bx = -(dx * math.cos(sway) - dy * math.sin(sway))
    by = dx * math.sin(sway) + dy * math.cos(sway)
    r = math.hypot(bx, by)
    phi = math.atan2(by, bx)
    if bx > -1.0 and abs(phi) <= TAIL_SPREAD and r <= tail_reach(phi, phase):
        if r > tail_reach(phi, phase) - 1.6:
            return "fin", FIN_TIP
        ray = int((phi + TAIL_SPREAD) / 0.22)
        return "fin", FIN_RAY if ray % 2 else FIN
    if in_polygon(lx, ly, dorsal_fin(phase)):
        return "fin", FIN
    for fin in (pectoral_fin(phase), ANAL_FIN):
        if in_polygon(lx, ly, fin):
            return "fin", FIN_TIP
    return None


def body_shade(lx, ly):
    if ((lx - 2.0) / 3.0) ** 2 + ((ly + 3.3) / 1.2) ** 2 <= 1.0:
        return FISH_SHINE
    gill = math.hypot(lx - 9.5, ly * 0.9)
    if 6.0 <= gill <= 6.8 and abs(ly) < 4.2:
        return FISH_DARK
    t = ly / 6.5
    if t < -0.5:
        return FISH_DARK
    if t < 0.25:
        return FISH_RED
    if t < 0.62:
        return FISH_ORANGE
    return FISH_BELLY


EYE_POS = (4.6, -1.4)


def eye_pixels(x, y, scale, facing, part):
    """A 2 x 2 eye for the small fish, 3 x 3 for the large one, with a glint
    in its upper front corner."""
    size = 3 if scale >= 1.3 else 2
    x, y = x - (size - 2), y - (size - 2)
    dark = {(x + i, y + j) for i in range(size) for j in range(size)}
    shine = {(x + size - 1, y) if facing > 0 else (x, y)}
    return shine if part == EYE_SHINE else dark - shine


def draw_fish(image, centre, scale, facing, tilt_deg=0.0, phase=1):
    """Draws the goldfish with its body centre at `centre` (pixels), facing
    +1 (right) or -1 (left), its head raised by tilt_deg, at the given scale.
    Returns the set of pixels drawn."""
    cx, cy = centre
    tilt = math.radians(tilt_deg)
    # Local (lx, ly) -> image: mirror by facing, then turn the head upwards.
    turn = -facing * tilt
    cos_t, sin_t = math.cos(turn), math.sin(turn)
    w, h = image.size
    parts = {}
    for py in range(h):
        for px in range(w):
            dx = (px + 0.5 - cx) / scale
            dy = (py + 0.5 - cy) / scale
            ux = dx * cos_t + dy * sin_t
            uy = -dx * sin_t + dy * cos_t
            hit = fish_part(facing * ux, uy, phase)
            if hit:
                parts[(px, py)] = hit
    pixels = prune_spurs(parts.keys())
    body = {p for p in pixels if parts[p][0] == "body"}
    edge = border(pixels)
    for p in pixels:
        kind, shade = parts[p]
        if p in edge:
            colour = FISH_OUTLINE if kind == "body" else FIN_EDGE
        elif kind == "body" and any((p[0] + dx, p[1] + dy) in pixels - body
                                    for dx, dy in NEIGHBOURS4):
            colour = FISH_OUTLINE
        else:
            colour = shade
        put(image, {p}, colour)
    # The eye: a fixed little pattern, so it stays crisp at every angle.
    ex, ey = EYE_POS
    ix = cx + scale * (cos_t * facing * ex - sin_t * ey)
    iy = cy + scale * (sin_t * facing * ex + cos_t * ey)
    put(image, eye_pixels(round(ix - 0.5), round(iy - 0.5), scale, facing, EYE) & pixels, EYE)
    put(image, eye_pixels(round(ix - 0.5), round(iy - 0.5), scale, facing, EYE_SHINE) & pixels,
        EYE_SHINE)
    return pixels


# Poses of the large fish in the bowl frames: centre, facing, tilt, tail phase.
BIG_FISH_SCALE = 1.7
BIG_FISH_POSES = {
    1: ((40.0, 64.0), -1, 28.0, 1),
    3: ((38.0, 70.0), -1, 0.0, -1),
    4: ((60.0, 70.0), 1, 0.0, 1),
    5: ((52.0, 69.0), 1, 0.0, -1),
    6: ((63.0, 66.0), 1, 30.0, 1),
    7: ((64.0, 64.0), 1, 52.0, -1),
}


def bowl_frame(index):
    image = draw_bowl()
    if index == 0:
        return image
    centre, facing, tilt, phase = BIG_FISH_POSES[1 if index == 2 else index]
    allowed = bowl_interior_water()
    drawn = draw_fish(image, centre, BIG_FISH_SCALE, facing, tilt, phase)
    stray = drawn - allowed
    if stray:
        raise SystemExit(f"frame {index}: the fish leaves the water at {sorted(stray)[:5]}")
    return image


# ---------------------------------------------------------------- sprites

def sprite(size):
    return Image.new("RGBA", size, (0, 0, 0, 0))


def small_fish(facing, phase):
    image = sprite((29, 25))
    # Tail at the far side, head near the edge it faces.
    cx = 14.5 + 5.0 * facing
    draw_fish(image, (cx, 13.5), 1.0, facing, 0.0, phase)
    return image


def feeding_fish():
    image = sprite((26, 32))
    draw_fish(image, (12.0, 12.0), 1.0, -1, 65.0, 1)
    return image


def food():
    image = sprite((14, 20))
    # Most flakes float at the surface; a few sink.
    flakes = [
        ((0, 1), [(0, 0), (1, 0), (1, 1)], 1),
        ((3, 1), [(0, 0), (1, 0), (2, 0), (1, 1)], 0),
        ((7, 0), [(0, 0), (1, 0), (1, 1)], 2),
        ((10, 1), [(0, 0), (1, 0), (2, 0), (1, 1)], 1),
        ((1, 3), [(0, 0), (1, 0)], 2),
        ((6, 3), [(0, 0), (1, 0), (2, 1)], 0),
        ((11, 4), [(0, 0), (0, 1)], 0),
        ((4, 7), [(0, 0), (1, 0), (1, 1)], 1),
        ((9, 9), [(0, 0), (1, 0)], 2),
        ((2, 12), [(0, 0), (0, 1), (1, 1)], 0),
        ((8, 15), [(0, 0), (1, 0)], 1),
        ((5, 18), [(0, 0)], 2),
    ]
    for (ox, oy), cells, tone in flakes:
        put(image, {(ox + x, oy + y) for x, y in cells}, FOOD[tone])
        put(image, {(ox + cells[0][0], oy + cells[0][1])}, FOOD[min(2, tone + 1)])
    return image


def bubble():
    image = sprite((14, 20))
    for cx, cy, r in ((6.5, 15.5, 3.6), (9.5, 8.0, 2.4), (5.0, 2.5, 1.6)):
        disc = {(x, y) for y in range(20) for x in range(14)
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r}
        ring = border(disc)
        put(image, disc - ring, BUBBLE_FILL)
        put(image, ring, BUBBLE_RING)
        put(image, {(int(cx - r * 0.45), int(cy - r * 0.45))} & (disc - ring), BUBBLE_SHINE)
    return image


def letter():
    """A closed envelope seen from the front: the flap folds down to a little red
    heart that seals it."""
    width, height = LETTER_SIZE
    image = sprite(LETTER_SIZE)
    # Paper with its corners rounded off by one pixel.
    paper = sample(width, height, lambda x, y: min(x, width - x) >= 1 or min(y, height - y) >= 1)
    tip = (width / 2, round(height * 0.55))
    flap = sample(width, height, lambda x, y: in_polygon(x, y, [(0, 0), (width, 0), tip])) & paper
    outline = border(paper)
    put(image, paper, LETTER_PAPER)
    put(image, {(x, y) for (x, y) in paper if y == height - 2}, LETTER_FLAP)
    put(image, flap, LETTER_FLAP)
    put(image, border(flap) - outline, LETTER_FOLD)
    put(image, outline, LETTER_OUTLINE)
    # The heart is a fixed little pattern, so it stays crisp.
    hx, hy = round(tip[0]) - 2, tip[1] - 2
    heart = {(hx + x, hy + y): c for y, row in enumerate(LETTER_HEART) for x, c in enumerate(row) if c != "."}
    put(image, set(heart), FISH_RED)
    put(image, {p for p, c in heart.items() if c == "o"}, FISH_SHINE)
    return image


def water_box():
    return water_layer(*WATER_BOX_SIZE, offset=(BOX_X, BOX_Y))


def icon():
    size = 64
    bowl = draw_bowl(size, glass_fill=(236, 246, 252))
    draw_fish(bowl, (36.0, 45.0), 1.1, 1, 8.0, 1)
    image = sprite((size, size))
    for y in range(size):
        for x in range(size):
            colour = bowl.getpixel((x, y))
            if colour == WHITE:
                continue
            alpha = 110 if colour == (236, 246, 252) else 255
            image.putpixel((x, y), colour + (alpha,))
    return image


# ---------------------------------------------------------------- output

def pictures():
    frames = {f"bowl/frame{i}.png": bowl_frame(i) for i in range(8)}
    out = dict(frames)
    out["water.png"] = water_box()
    for facing, name in ((-1, "left"), (1, "right")):
        for frame, phase in ((0, 1), (1, -1)):
            out[f"fish/{name}{frame}.png"] = small_fish(facing, phase)
    out["food.png"] = food()
    out["feeding_fish.png"] = feeding_fish()
    out["bubble.png"] = bubble()
    out["letter.png"] = letter()
    out["icon/kingyo.png"] = icon()
    return out


def check_frames(frames):
    """Every frame keeps the bowl's outline: white exactly where frame 0 is."""
    white0 = {(x, y) for y in range(100) for x in range(100)
              if frames[0].getpixel((x, y)) == WHITE}
    for i, frame in enumerate(frames):
        white = {(x, y) for y in range(100) for x in range(100) if frame.getpixel((x, y)) == WHITE}
        if white != white0:
            raise SystemExit(f"frame {i} changes the bowl's outline")
    water = water_box()
    for y in range(BOX_VISIBLE[1]):
        for x in range(BOX_VISIBLE[0]):
            if frames[0].getpixel((BOX_X + x, BOX_Y + y)) != water.getpixel((x, y)):
                raise SystemExit(f"the water box differs from the bowl at {(BOX_X + x, BOX_Y + y)}")


def luma(colour):
    r, g, b = colour[:3]
    return 0.299 * r + 0.587 * g + 0.114 * b


def check_letter(image):
    """The letter leaves the water box room to drift in (a third of it at most each
    way), is crisp (every pixel wholly clear or wholly drawn), and its edge stands
    out from every colour of the water it drifts through."""
    width, height = image.size
    if width * 3 > BOX_VISIBLE[0] or height * 3 > BOX_VISIBLE[1]:
        raise SystemExit(f"the letter ({width} x {height}) crowds the water box")
    drawn = {(x, y) for y in range(height) for x in range(width) if image.getpixel((x, y))[3]}
    if any(image.getpixel(p)[3] != 255 for p in drawn):
        raise SystemExit("the letter has half-clear pixels")
    water = WATER + [WATER_SURFACE, WATER_RIPPLE]
    for p in border(drawn) | {(x, y) for (x, y) in drawn if x in (0, width - 1) or y in (0, height - 1)}:
        if min(abs(luma(image.getpixel(p)) - luma(w)) for w in water) < 60:
            raise SystemExit(f"the letter's edge at {p} fades into the water")


def write_all():
    images = pictures()
    check_frames([images[f"bowl/frame{i}.png"] for i in range(8)])
    check_letter(images["letter.png"])
    for name, image in images.items():
        path = os.path.join(ASSETS, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        image.save(path, optimize=True)
    return images


# ---------------------------------------------------------------- preview

DESKTOP = (58, 110, 165)
ZOOM = 6


def as_seen(frame0):
    """Frame 0 over the desktop, white showing the desktop through."""
    scene = Image.new("RGBA", frame0.size, DESKTOP + (255,))
    for y in range(frame0.height):
        for x in range(frame0.width):
            if frame0.getpixel((x, y)) != WHITE:
                scene.putpixel((x, y), frame0.getpixel((x, y)) + (255,))
    return scene


def swimming_scene(images, fish_at, facing_name, letter_at=None):
    """The bowl as the program shows it: water box, the letter when mail waits,
    small fish, bubble."""
    scene = as_seen(images["bowl/frame0.png"])
    box = images["water.png"].convert("RGBA").crop((0, 0) + BOX_VISIBLE)
    if letter_at:
        box.alpha_composite(images["letter.png"], letter_at)
    fish = images[f"fish/{facing_name}0.png"]
    fx, fy = fish_at
    box.alpha_composite(fish, (fx, fy))
    bx = fx + 29 if facing_name == "right" else fx - 14
    box.alpha_composite(images["bubble.png"], (bx, fy + 6 - 8))
    mask = images["bowl/frame0.png"]
    for y in range(BOX_VISIBLE[1]):
        for x in range(BOX_VISIBLE[0]):
            if mask.getpixel((BOX_X + x, BOX_Y + y)) != WHITE:
                scene.putpixel((BOX_X + x, BOX_Y + y), box.getpixel((x, y)))
    return scene


def feeding_scene(images, fish_left):
    scene = as_seen(images["bowl/frame0.png"])
    scene.alpha_composite(images["feeding_fish.png"], (fish_left, 48))
    scene.alpha_composite(images["food.png"], (40, 48))
    return scene


def sheet(tiles, path):
    gap = 4
    zoomed = []
    for tile in tiles:
        rgba = tile.convert("RGBA")
        back = Image.new("RGBA", rgba.size, (200, 200, 200, 255))
        for y in range(rgba.height):
            for x in range(rgba.width):
                if (x // 4 + y // 4) % 2:
                    back.putpixel((x, y), (176, 176, 176, 255))
        back.alpha_composite(rgba)
        zoomed.append(back.resize((rgba.width * ZOOM, rgba.height * ZOOM), Image.NEAREST))
    width = sum(z.width for z in zoomed) + gap * (len(zoomed) + 1)
    height = max(z.height for z in zoomed) + 2 * gap
    out = Image.new("RGB", (width, height), (40, 40, 48))
    x = gap
    for z in zoomed:
        out.paste(z, (x, gap), z)
        x += z.width + gap
    out.save(path)


def write_preview(images, folder):
    os.makedirs(folder, exist_ok=True)
    frames = [images[f"bowl/frame{i}.png"] for i in range(8)]
    sheet(frames[:4], os.path.join(folder, "frames_a.png"))
    sheet(frames[4:], os.path.join(folder, "frames_b.png"))
    sheet([images["water.png"], images["fish/left0.png"], images["fish/left1.png"],
           images["fish/right0.png"], images["fish/right1.png"]],
          os.path.join(folder, "sprites_a.png"))
    sheet([images["food.png"], images["feeding_fish.png"], images["bubble.png"],
           images["letter.png"], images["icon/kingyo.png"]], os.path.join(folder, "sprites_b.png"))
    sheet([swimming_scene(images, (24, 16), "left"), swimming_scene(images, (8, 4), "right"),
           feeding_scene(images, 56), feeding_scene(images, 50)],
          os.path.join(folder, "scenes.png"))
    sheet([swimming_scene(images, (24, 16), "left", (36, 14)),
           swimming_scene(images, (20, 12), "right", (6, 18))],
          os.path.join(folder, "mail_scenes.png"))


def main(argv):
    images = write_all()
    if len(argv) >= 3 and argv[1] == "--preview":
        write_preview(images, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
