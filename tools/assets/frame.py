"""The frame: a gilt moulding in the outer 30 pixels, mitred at the corners,
each corner set with a garnet medallion, around a dark translucent panel. The
window stretches it as nine slices (30-pixel source borders), so the moulding
runs unchanged along each edge and all ornament sits in the corners. The
picture at twice the size is the same supersampled canvas, reduced half as much."""
import numpy as np

from paint import lerp, noise2d, reduce_rgba, rng, smoothstep

W, H, B = 222, 359, 30
SS = 4  # supersampling of the picture at its own size

# Across the moulding, from the outer edge inward: (depth in px, RGB, alpha).
PROFILE = [
    (0.0, (18, 11, 4), 255), (1.2, (18, 11, 4), 255), (1.6, (255, 236, 170), 255),
    (3.0, (236, 188, 96), 255), (6.0, (178, 124, 48), 255), (8.6, (110, 70, 24), 255),
    (9.2, (34, 22, 8), 255), (10.2, (34, 22, 8), 255), (10.8, (214, 164, 80), 255),
    (13.5, (248, 214, 140), 255), (16.4, (150, 100, 38), 255), (17.0, (30, 20, 8), 255),
    (18.0, (30, 20, 8), 255), (18.6, (224, 180, 100), 255), (20.2, (255, 230, 160), 255),
    (21.6, (120, 80, 30), 255), (22.2, (16, 11, 7), 255), (26.2, (22, 16, 10), 255),
    (26.7, (230, 186, 104), 255), (27.8, (150, 104, 44), 255), (28.3, (10, 7, 4), 200),
    (30.0, (0, 0, 0), 0),
]


def _profile(d):
    pos = np.array([p for p, _, _ in PROFILE])
    rgb = np.stack([np.interp(d, pos, [c[k] for _, c, _ in PROFILE]) for k in range(3)], axis=-1)
    return rgb, np.interp(d, pos, [a for _, _, a in PROFILE])


def _medallion(px, py, cx, cy):
    """A garnet boss in a gilt ring, lit from the upper left."""
    d = np.hypot(px - cx, py - cy)
    ang = np.arctan2(py - cy, px - cx)
    light = 0.75 + 0.35 * np.cos(ang + 2.4)  # brighter toward the upper left
    rgb = np.zeros(px.shape + (3,))
    ring = lerp(np.array([120, 78, 28.0]), np.array([255, 228, 150.0]), np.clip(light - 0.3, 0, 1)[..., None])
    rgb[:] = ring
    groove = smoothstep(7.4, 6.8, d) * smoothstep(5.8, 6.4, d)
    rgb = lerp(rgb, np.array([30, 18, 8.0]), groove[..., None])
    gem_t = np.clip(np.hypot(px - cx + 1.6, py - cy + 1.6) / 6.0, 0, 1)[..., None]
    gem = lerp(np.array([230, 70, 70.0]), np.array([70, 6, 14.0]), gem_t)
    spark = np.exp(-np.hypot(px - cx + 2.0, py - cy + 2.2) ** 2 / 1.2)[..., None]
    gem = lerp(gem, np.array([255, 235, 225.0]), spark * 0.9)
    rgb = lerp(rgb, gem, smoothstep(6.0, 5.6, d)[..., None])
    rgb = lerp(rgb, np.array([16, 10, 4.0]), (smoothstep(10.0, 10.6, d) * smoothstep(11.8, 11.0, d))[..., None])
    cover = smoothstep(11.8, 11.2, d)
    return rgb, cover


def make_frame(scale=1):
    """The frame at scale (1 or 2) times its size."""
    w, h = W * SS, H * SS
    py, px = (np.mgrid[0:h, 0:w] + 0.5) / SS
    depth = np.minimum(np.minimum(px, W - px), np.minimum(py, H - py))
    rgb, alpha = _profile(np.minimum(depth, B))
    # Bevel light per side: top and left catch the light, bottom and right fall away.
    side = np.argmin(np.stack([py, px, W - px, H - py]), axis=0)
    shade = np.array([1.10, 1.02, 0.86, 0.78])[side]
    rgb = rgb * shade[..., None]
    # Fine lengthwise grain on the gilt, so it reads as metal, not a flat band.
    grain = noise2d(rng(0xF4A3E), w, h, 6, 6, octaves=3)
    rgb = rgb * (0.94 + 0.12 * grain[..., None])
    # The panel inside: dark, translucent, a little warmer at the top.
    inner = depth >= B
    t = np.clip((py - B) / (H - 2 * B), 0, 1)
    panel = lerp(np.array([30, 24, 18.0]), np.array([11, 10, 10.0]), t[..., None])
    panel *= (0.92 + 0.16 * noise2d(rng(0x9A4E1), w, h, 10, 16, octaves=3))[..., None]  # faint leather
    rgb[inner] = panel[inner]
    alpha = np.where(inner, 226.0, alpha)
    # Corner medallions over the mitres.
    for cx, cy in ((14.0, 14.0), (W - 14.0, 14.0), (14.0, H - 14.0), (W - 14.0, H - 14.0)):
        m_rgb, cover = _medallion(px, py, cx, cy)
        rgb = lerp(rgb, m_rgb, cover[..., None])
        alpha = lerp(alpha, 255.0, cover)
    return reduce_rgba(np.concatenate([np.clip(rgb, 0, 255), alpha[..., None]], axis=-1), SS // scale)
