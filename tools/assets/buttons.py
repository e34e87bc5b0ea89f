"""The two faces of a text button: a rounded dark plate in a gilt rim, lit from
above. The hover face is the same plate warmed and lightened. Both are
stretched onto buttons of 114 x 46 and 114 x 34, so the rim stays thin. The
faces at twice the size are the same supersampled canvas, reduced half as much."""
import numpy as np

from paint import lerp, reduce_rgba, smoothstep

W, H, RADIUS = 150, 37, 7.0
SS = 4


def _inside_depth(px, py):
    """Distance inside the rounded rectangle's edge (negative outside)."""
    qx = np.abs(px - W / 2) - (W / 2 - RADIUS)
    qy = np.abs(py - H / 2) - (H / 2 - RADIUS)
    outside = np.hypot(np.maximum(qx, 0), np.maximum(qy, 0)) + np.minimum(np.maximum(qx, qy), 0)
    return RADIUS - outside


def make_button(hover, scale=1):
    w, h = W * SS, H * SS
    py, px = (np.mgrid[0:h, 0:w] + 0.5) / SS
    d = _inside_depth(px, py)
    v = (py / H)[..., None]  # 0 at the top, 1 at the bottom
    if hover:
        top, bottom, rim_hi, rim_lo = (134, 92, 44), (62, 40, 20), (255, 240, 178), (196, 142, 60)
    else:
        top, bottom, rim_hi, rim_lo = (70, 49, 28), (26, 18, 12), (240, 206, 130), (130, 88, 34)
    face = lerp(np.array(top, float), np.array(bottom, float), v ** 0.8)
    # A soft sheen across the upper half, and on hover a glow from the middle.
    sheen = smoothstep(0.55, 0.05, py / H) * 0.22
    face = lerp(face, np.array([255, 226, 160.0]), sheen[..., None] * (1.3 if hover else 1.0))
    if hover:
        glow = np.exp(-(((px - W / 2) / (W * 0.35)) ** 2 + ((py - H * 0.55) / (H * 0.5)) ** 2))
        face = lerp(face, np.array([255, 190, 100.0]), glow[..., None] * 0.22)
    rim = lerp(np.array(rim_hi, float), np.array(rim_lo, float), v)
    rgb = face
    rgb = lerp(rgb, np.array([255, 232, 170.0]), (smoothstep(3.2, 3.6, d) * smoothstep(4.8, 4.0, d)
                                                  * smoothstep(0.5, 0.2, py / H))[..., None] * 0.5)
    rgb = lerp(rgb, np.array([16, 10, 5.0]), smoothstep(3.6, 3.0, d)[..., None])
    rgb = lerp(rgb, rim, smoothstep(2.8, 2.4, d)[..., None])
    rgb = lerp(rgb, np.array([12, 8, 4.0]), smoothstep(1.2, 0.8, d)[..., None])
    alpha = smoothstep(0.0, 0.6, d) * 255.0
    return reduce_rgba(np.concatenate([rgb, alpha[..., None]], axis=-1), SS // scale)
