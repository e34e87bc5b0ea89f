"""The scene picture: a dusk landscape seen from a lakeside - sky, moon and
stars, lit clouds, three ranges of mountains in haze, a castle on a cliff against
the setting sun, a village on the far shore, the lake mirroring it all, pines in
the foreground. Painted at twice its size: that canvas is the picture at twice
the size, and reduced it is the picture at its own."""
import numpy as np

from paint import blur, lerp, mask_from, noise1d, noise2d, over, ramp, reduce, rng, smoothstep

W, H = 640, 360
S = 2                      # painted at twice the size, then reduced
SUN = (0.585, 0.575)       # sun centre, as fractions of the picture
WATER = 0.80               # the lake's surface line


def _sky(w, h, r):
    y = np.linspace(0.0, 1.0, h)[:, None]
    x = np.linspace(0.0, 1.0, w)[None, :]
    sky = ramp([(0.00, (9, 10, 30)), (0.22, (26, 24, 64)), (0.42, (72, 42, 96)),
                (0.55, (150, 70, 96)), (0.64, (228, 122, 78)), (0.72, (252, 186, 104)),
                (0.80, (255, 214, 150))], np.broadcast_to(y, (h, w)))
    d2 = ((x - SUN[0]) * 1.6) ** 2 + (y - SUN[1]) ** 2
    glow = np.exp(-d2 / 0.012) * 0.9 + np.exp(-d2 / 0.08) * 0.45
    sky = sky + glow[..., None] * np.array([255, 170, 90]) * 0.55
    # Thin clouds lit from below: orange near the sun, violet away from it.
    dens = noise2d(r, w, h, 5, 14, octaves=5)
    band = smoothstep(0.10, 0.25, y) * (1.0 - smoothstep(0.46, 0.60, y))
    c = smoothstep(0.50, 0.78, dens) * band
    lit = np.exp(-d2 / 0.10)
    cloud = lerp(np.array([58, 38, 78.0]), np.array([250, 150, 108.0]), lit[..., None])
    cloud = lerp(cloud, np.array([255, 214, 160.0]), (np.exp(-d2 / 0.02) * 0.6)[..., None])
    over(sky, cloud, c * 0.85)
    return sky, c


def _stars(sky, clouds, r):
    h, w = sky.shape[:2]
    for _ in range(260):
        x, y = r.uniform(0, w), r.uniform(0, h * 0.5) ** 1.15 / (h * 0.5) ** 0.15
        xi, yi = int(x), int(y)
        fade = (1.0 - y / (h * 0.5)) * (1.0 - clouds[yi, xi])
        b = r.uniform(0.25, 1.0) ** 2 * fade
        tint = np.array([255, 244, 222]) if r.uniform() < 0.7 else np.array([200, 215, 255])
        size = 2 if b > 0.5 else 1
        sky[yi:yi + size, xi:xi + size] = lerp(sky[yi:yi + size, xi:xi + size], tint, b)
        if b > 0.75:  # a faint cross on the brightest
            for dx, dy in ((-2, 0), (3, 0), (0, -2), (0, 3)):
                px, py = min(max(xi + dx, 0), w - 1), min(max(yi + dy, 0), h - 1)
                sky[py, px] = lerp(sky[py, px], tint, 0.35 * b)


def _moon(sky):
    h, w = sky.shape[:2]
    cx, cy, rad = 0.17 * w, 0.17 * h, 0.032 * w
    y, x = np.mgrid[0:h, 0:w]
    d = np.hypot(x - cx, y - cy)
    lit = smoothstep(rad + 1.5, rad - 1.5, d) * smoothstep(rad * 0.92 - 1.5, rad * 0.92 + 1.5,
                                                          np.hypot(x - cx - rad * 0.42, y - cy + rad * 0.18))
    halo = np.exp(-((d / (rad * 3.2)) ** 2)) * 0.28
    over(sky, np.array([200, 190, 230]), halo)
    over(sky, np.array([255, 246, 222]), lit)


def _ridge(r, w, base, amp, cells, octaves, sharp=1.0):
    """Crest line: rolling noise plus ridged noise for sharper peaks."""
    n = noise1d(r, w, octaves, cells)
    m = 1.0 - np.abs(noise1d(r, w, octaves, cells * 2))
    return base - amp * (0.55 * n + sharp * (m ** 2 - 0.4))


def _fill_below(img, top, colour, light=None, relief=None):
    """Fills everything under the crest line; light is a rim glow along the
    crest, relief a brightness field that carves gullies into the face."""
    h, w = img.shape[:2]
    y = np.arange(h)[:, None]
    cover = np.clip(y - top[None, :] + 0.5, 0.0, 1.0)
    col = np.broadcast_to(np.asarray(colour, dtype=np.float64), img.shape).copy()
    if relief is not None:
        col *= relief[..., None]
    if light is not None:  # rim light along the crest, strongest toward the sun
        rim = np.exp(-np.clip(y - top[None, :], 0, None) / (3.0 * S)) * light[None, :]
        col = lerp(col, np.array([255, 170, 110.0]), rim[..., None] * 0.55)
    over(img, col, cover)
    return cover


def _relief(r, w, h, depth):
    """Vertical gullies and ledges: noise stretched downward, around 1.0."""
    n = noise2d(r, w, h, 40, 10, octaves=3)
    return 1.0 + depth * (n - 0.5) * 2.0


def _haze(img, y_at, height, colour, strength):
    """A fog bank thickest at row y_at, thinning upward and, faster, downward."""
    h = img.shape[0]
    y = np.arange(h)[:, None]
    a = np.exp(-np.clip(y_at - y, 0, None) / height - np.clip(y - y_at, 0, None) / (0.5 * height)) * strength
    a = a * np.ones((1, img.shape[1]))
    over(img, colour, a)


def _castle(w, h):
    """Silhouette coverage of the castle and its crag, and its lit windows."""
    cx, base = SUN[0] * w + 0.085 * w, 0.555 * h
    u = w / 1280.0

    def body(d, s):
        def rect(x0, y0, x1, y1):
            d.rectangle([(cx + x0 * u) * s, (base - y1 * u) * s, (cx + x1 * u) * s, (base - y0 * u) * s], fill=255)

        def roof(x0, x1, y0, height):
            d.polygon([((cx + x0 * u) * s, (base - y0 * u) * s), ((cx + x1 * u) * s, (base - y0 * u) * s),
                       ((cx + (x0 + x1) / 2 * u) * s, (base - (y0 + height) * u) * s)], fill=255)

        def merlons(x0, x1, y0, step=7.0):
            x = x0
            while x + step * 0.55 <= x1:
                rect(x, y0, x + step * 0.55, y0 + 5)
                x += step
        rect(-92, 0, 92, 38)
        merlons(-92, 92, 38)
        for x0, x1, top, rh in ((-100, -72, 74, 34), (72, 100, 70, 32), (-52, -26, 96, 40), (30, 54, 88, 38)):
            rect(x0, 0, x1, top)
            merlons(x0 - 2, x1 + 2, top, 6.0)
            roof(x0 - 3, x1 + 3, top + 5, rh)
        rect(-18, 0, 18, 150)             # keep
        merlons(-21, 21, 150, 6.5)
        rect(-21, 146, 21, 150)
        roof(-14, 14, 155, 52)
        rect(-1, 207, 1, 222)             # pennant staff
        d.polygon([((cx + 1 * u) * s, (base - 221 * u) * s), ((cx + 17 * u) * s, (base - 217 * u) * s),
                   ((cx + 1 * u) * s, (base - 213 * u) * s)], fill=255)

    def windows(d, s):
        for x, y, ww, hh in ((-6, 112, 5, 9), (2, 112, 5, 9), (-3, 78, 5, 8), (-43, 66, 5, 8), (38, 60, 5, 8),
                             (-90, 50, 4, 7), (82, 48, 4, 7), (-66, 18, 4, 6), (-40, 20, 4, 6), (50, 16, 4, 6),
                             (66, 20, 4, 6), (-4, 30, 8, 12)):
            d.rectangle([(cx + x * u) * s, (base - (y + hh) * u) * s, (cx + (x + ww) * u) * s, (base - y * u) * s],
                        fill=255)
    return mask_from(body, w, h), mask_from(windows, w, h)


def _pines(r, w, h, crest, count, hmin, hmax):
    def draw(d, s):
        for _ in range(count):
            x = r.uniform(0, w)
            top = crest[min(int(x), w - 1)] + 2 * S
            ht = r.uniform(hmin, hmax) * S
            for k in range(5):  # stacked tiers, narrower upward
                y0 = top - ht * (k / 5.0)
                half = ht * 0.24 * (1.0 - k / 6.0)
                d.polygon([((x - half) * s, y0 * s), ((x + half) * s, y0 * s),
                           (x * s, (y0 - ht * 0.34) * s)], fill=255)
            d.rectangle([(x - 0.6 * S) * s, (top - 2 * S) * s, (x + 0.6 * S) * s, (top + 4 * S) * s], fill=255)
    return mask_from(draw, w, h, scale=2)


def _village(r, w, h):
    """Houses along the far shore, a chapel among them; body and window masks."""
    houses = []
    x = 0.295 * w
    while x < 0.455 * w:
        ww, hh = r.uniform(5, 10) * S, r.uniform(4, 8) * S
        houses.append((x, ww, hh, r.uniform() < 0.75))
        x += ww + r.uniform(1, 6) * S
    base = WATER * h + 0.5 * S

    def body(d, s):
        for x0, ww, hh, _ in houses:
            d.rectangle([x0 * s, (base - hh) * s, (x0 + ww) * s, base * s], fill=255)
            d.polygon([((x0 - S) * s, (base - hh) * s), ((x0 + ww + S) * s, (base - hh) * s),
                       ((x0 + ww / 2) * s, (base - hh - ww * 0.45) * s)], fill=255)
        cx = 0.385 * w  # the chapel and its spire
        d.rectangle([(cx - 4 * S) * s, (base - 17 * S) * s, (cx + 4 * S) * s, base * s], fill=255)
        d.polygon([((cx - 5 * S) * s, (base - 17 * S) * s), ((cx + 5 * S) * s, (base - 17 * S) * s),
                   (cx * s, (base - 33 * S) * s)], fill=255)

    def lights(d, s):
        for x0, ww, hh, lit in houses:
            if lit:
                wx = x0 + ww * r.uniform(0.25, 0.6)
                d.rectangle([wx * s, (base - hh * 0.6) * s, (wx + 1.5 * S) * s, (base - hh * 0.6 + 2 * S) * s],
                            fill=255)
        cx = 0.385 * w
        d.rectangle([(cx - 1 * S) * s, (base - 13 * S) * s, (cx + 1 * S) * s, (base - 9 * S) * s], fill=255)
    return mask_from(body, w, h), mask_from(lights, w, h)


def _birds(w, h):
    flock = ((0.50, 0.25, 1.0), (0.535, 0.22, 0.8), (0.52, 0.285, 0.7), (0.555, 0.26, 0.6), (0.57, 0.235, 0.5))

    def draw(d, s):
        for fx, fy, k in flock:
            x, y, span = fx * w, fy * h, 7 * S * k
            d.line([((x - span) * s, (y - span * 0.5) * s), (x * s, y * s),
                    ((x + span) * s, (y - span * 0.6) * s)], fill=255, width=max(1, int(1.3 * S * s * k)))
    return mask_from(draw, w, h)


def make_scene(scale=1):
    """The picture at scale (1 or 2) times 640 x 360."""
    r = rng(0x5CE4E)
    w, h = W * S, H * S
    img, clouds = _sky(w, h, r)
    _stars(img, clouds, r)
    _moon(img)
    sun_light = lambda k: np.exp(-((np.arange(w) / w - SUN[0]) / k) ** 2)
    horizon = np.array([246, 160, 118.0])
    # Far to near: each range darker, less hazed, with more detail.
    ranges = [
        (0.60, 0.11, 3, 6, 0.9, (176, 104, 122), 0.55, 0.30),
        (0.66, 0.10, 4, 6, 0.8, (112, 64, 98), 0.40, 0.22),
    ]
    for base, amp, cells, octs, sharp, col, haze, rim in ranges:
        top = _ridge(r, w, base * h, amp * h, cells, octs, sharp)
        _fill_below(img, top, col, sun_light(0.25) * rim, _relief(r, w, h, 0.05))
        _haze(img, base * h + amp * h * 0.6, 0.035 * h, horizon, haze)
    # The crag: a flat-topped rock under the walls, lit on the sun's side.
    cx = (SUN[0] + 0.085) * w
    xn = (np.arange(w) - cx) / w
    ax = np.abs(xn) + noise1d(r, w, 4, 30) * 0.006
    crag = (0.555 * h - 2 * S + 0.11 * h * smoothstep(0.074, 0.092, ax)
            + 0.16 * h * smoothstep(0.09, 0.30, ax) ** 0.7)
    crag += noise1d(r, w, 6, 24) * 0.02 * h * smoothstep(0.07, 0.09, ax)
    sunward = 1.0 + 0.7 * np.exp(-((xn + 0.075) / 0.03) ** 2)[None, :]  # the face turned to the sun
    land = _fill_below(img, crag, (40, 26, 48), np.exp(-((xn + 0.08) / 0.02) ** 2) * 0.8,
                       _relief(r, w, h, 0.4) * sunward)
    castle, windows = _castle(w, h)
    over(img, np.array([30, 20, 40]), castle)
    land = np.maximum(land, castle)
    top = _ridge(r, w, 0.72 * h, 0.07 * h, 3, 6, 1.0)
    land = np.maximum(land, _fill_below(img, top, (42, 28, 52), sun_light(0.3) * 0.25, _relief(r, w, h, 0.18)))
    _haze(img, 0.76 * h, 0.02 * h, np.array([200, 120, 110.0]), 0.35)
    houses, lights = _village(r, w, h)
    over(img, np.array([24, 16, 30]), houses)
    windows = np.maximum(windows, lights)
    over(img, np.array([26, 16, 34]), _birds(w, h))
    # Lit windows with a warm bloom.
    bloom = blur(windows, 6.0 * S)
    over(img, np.array([255, 170, 80]), np.clip(bloom * 2.2, 0, 0.55))
    over(img, np.array([255, 226, 150]), windows)
    water = int(WATER * h)
    top = np.minimum(top, water - 1)
    img[water:] = np.clip(img[water:], 0, 255)
    # The lake mirrors what stands above it, rippled and darkened.
    rows = np.arange(water, h)
    src = np.clip(2 * water - rows - 1, 0, h - 1)
    ripple = np.sin(rows * 0.9) * 1.5 * S * ((rows - water) / (h - water) + 0.3)
    xs = np.clip(np.arange(w)[None, :] + ripple[:, None], 0, w - 1).astype(int)
    refl = img[src[:, None], xs] * 0.58 + np.array([6, 8, 22.0]) * 0.42
    streak = np.exp(-((np.arange(w) / w - SUN[0] - 0.005) / 0.03) ** 2)[None, :]
    glint = streak * (np.sin(rows[:, None] * 1.7 + np.arange(w)[None, :] * 0.013) > 0.2) * 0.5
    refl = lerp(refl, np.array([255, 200, 130.0]), (glint * np.exp(-(rows - water)[:, None] / (0.08 * h)))[..., None])
    img[water:] = refl
    img[water:water + S] = lerp(img[water:water + S], horizon, 0.35)
    # Foreground shores with pines, framing the lake from both sides.
    x = np.arange(w) / w
    shore = (0.98 - 0.26 * np.exp(-((x - 0.02) / 0.22) ** 2) - 0.22 * np.exp(-((x - 1.0) / 0.2) ** 2)) * h
    shore += noise1d(r, w, 5, 6) * 0.018 * h
    _fill_below(img, shore, (14, 11, 22))
    over(img, np.array([12, 10, 20]), _pines(r, w, h, shore, 70, 22, 60) * (np.abs(x - 0.5) > 0.28)[None, :])
    near = (1.03 - 0.18 * np.exp(-((x + 0.02) / 0.12) ** 2)) * h + noise1d(r, w, 4, 4) * 0.01 * h
    _fill_below(img, near, (8, 7, 14))
    # Soft rays from the sun and a vignette to hold the eye in the middle.
    y, xx = np.mgrid[0:h, 0:w] / np.array([h, w])[:, None, None]
    ang = np.arctan2(y - SUN[1], (xx - SUN[0]) * 1.78)
    # Indexed by the unsigned angle, so the pattern has no seam on the left.
    rays = (noise1d(r, 720, 3, 12)[(np.abs(ang) / np.pi * 719).astype(int)] * 0.5 + 0.5) ** 3
    rays *= np.exp(-np.hypot(xx - SUN[0], y - SUN[1]) / 0.35) * (y < WATER) * (1.0 - 0.85 * land)
    img += rays[..., None] * np.array([255, 180, 110]) * 0.24
    vign = 1.0 - 0.55 * smoothstep(0.35, 0.95, np.hypot((xx - 0.5) * 1.1, (y - 0.48) * 1.2))
    img *= vign[..., None]
    img = reduce(np.clip(img, 0, 255), S // scale)
    # A gilt rule along the bottom edge, where the picture meets the panel.
    k = scale
    img[-4 * k:-3 * k] = img[-4 * k:-3 * k] * 0.45
    img[-3 * k:-2 * k] = (236, 196, 118)
    img[-2 * k:-k] = (168, 122, 58)
    img[-k:] = (52, 36, 18)
    return img
