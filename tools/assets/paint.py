"""Small raster helpers shared by the picture makers: float RGBA canvases in
numpy, seeded noise, gradients and the final conversions. Everything is seeded
so that a run gives the same bytes every time."""
import numpy as np
from PIL import Image


def rng(seed):
    return np.random.default_rng(seed)


def lerp(a, b, t):
    return a + (b - a) * t


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def ramp(stops, t):
    """Colour ramp: stops is [(position, (r, g, b)), ...]; t any array shape."""
    pos = np.array([p for p, _ in stops], dtype=np.float64)
    cols = np.array([c for _, c in stops], dtype=np.float64)
    t = np.asarray(t, dtype=np.float64)
    return np.stack([np.interp(t, pos, cols[:, k]) for k in range(3)], axis=-1)


def noise1d(r, n, octaves, base_cells):
    """Fractal value noise over n samples in [-1, 1], cosine-interpolated."""
    out = np.zeros(n)
    amp, total = 1.0, 0.0
    for o in range(octaves):
        cells = base_cells * 2 ** o
        knots = r.uniform(-1.0, 1.0, cells + 2)
        x = np.linspace(0.0, cells, n, endpoint=False)
        i = x.astype(int)
        f = (1.0 - np.cos((x - i) * np.pi)) * 0.5
        out += amp * lerp(knots[i], knots[i + 1], f)
        total += amp
        amp *= 0.5
    return out / total


def noise2d(r, w, h, cells_x, cells_y, octaves=4):
    """Fractal value noise in [0, 1] from bicubically enlarged random grids."""
    out = np.zeros((h, w))
    amp, total = 1.0, 0.0
    for o in range(octaves):
        gx, gy = cells_x * 2 ** o, cells_y * 2 ** o
        grid = r.uniform(0.0, 1.0, (gy, gx)).astype(np.float32)
        layer = Image.fromarray(grid, mode="F").resize((w, h), Image.BICUBIC)
        out += amp * np.asarray(layer, dtype=np.float64)
        total += amp
        amp *= 0.5
    return np.clip(out / total, 0.0, 1.0)


def over(dst, rgb, alpha):
    """Composites colour rgb (h, w, 3 or 3) with coverage alpha (h, w) onto dst RGB."""
    a = np.asarray(alpha, dtype=np.float64)[..., None]
    dst[...] = dst * (1.0 - a) + np.asarray(rgb, dtype=np.float64) * a


def over_rgba(dst, src):
    """Source-over of two float RGBA canvases (straight alpha, 0..255 colour)."""
    sa = src[..., 3:4] / 255.0
    da = dst[..., 3:4] / 255.0
    oa = sa + da * (1.0 - sa)
    safe = np.where(oa > 0, oa, 1.0)
    dst[..., :3] = (src[..., :3] * sa + dst[..., :3] * da * (1.0 - sa)) / safe
    dst[..., 3:4] = oa * 255.0


def mask_from(draw_fn, w, h, scale=4):
    """Anti-aliased coverage in [0, 1]: draw_fn(ImageDraw, scale) paints white
    shapes on a canvas `scale` times larger, which is then reduced."""
    from PIL import ImageDraw
    big = Image.new("L", (w * scale, h * scale), 0)
    draw_fn(ImageDraw.Draw(big), scale)
    small = big.resize((w, h), Image.BOX)
    return np.asarray(small, dtype=np.float64) / 255.0


def _box(a, r, axis):
    """Running mean of width 2r+1 along one axis, edges clamped."""
    pad = [(0, 0)] * a.ndim
    pad[axis] = (r + 1, r)
    c = np.cumsum(np.pad(a, pad, mode="edge"), axis=axis)
    n = a.shape[axis]
    hi = np.take(c, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
    lo = np.take(c, np.arange(0, n), axis=axis)
    return (hi - lo) / (2 * r + 1)


def blur(a, radius):
    """Near-Gaussian blur (three box passes each way) of an (h, w[, c]) array."""
    r = max(1, int(round(radius * 0.8)))
    out = np.asarray(a, dtype=np.float64)
    for _ in range(3):
        out = _box(_box(out, r, 0), r, 1)
    return out


def to_image(a, mode):
    return Image.fromarray(np.clip(np.rint(a), 0, 255).astype(np.uint8), mode)


def reduce(a, factor):
    """Box-filters a float canvas (h, w, c) by an integer factor (anti-aliasing)."""
    h, w = a.shape[0] // factor, a.shape[1] // factor
    return a[:h * factor, :w * factor].reshape(h, factor, w, factor, -1).mean(axis=(1, 3))


def reduce_rgba(a, factor):
    """Reduces a straight-alpha RGBA canvas through premultiplied colour, so
    translucent edges keep their tint instead of darkening."""
    pre = a.copy()
    pre[..., :3] *= a[..., 3:4] / 255.0
    small = reduce(pre, factor)
    alpha = small[..., 3:4]
    small[..., :3] = np.where(alpha > 0, small[..., :3] * 255.0 / np.maximum(alpha, 1e-6), 0)
    return small


def to_palette(rgba, opaque_colours=240):
    """8-bit palette picture from a float RGBA canvas. Entry 0 is fully
    transparent; the opaque pixels get a median-cut palette with error
    diffusion (no contour bands in the gradients); the anti-aliased edge gets
    the remaining entries, one per alpha step. Returns (image, tRNS bytes)."""
    a = np.clip(np.rint(rgba[..., 3]), 0, 255)
    rgb = to_image(rgba[..., :3], "RGB")
    pal = rgb.quantize(colors=opaque_colours, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    idx = np.asarray(rgb.quantize(palette=pal, dither=Image.Dither.FLOYDSTEINBERG), dtype=np.int64) + 1
    colours = np.array(pal.getpalette()[:3 * opaque_colours]).reshape(-1, 3)
    alphas = [0] + [255] * opaque_colours
    steps = 255 - opaque_colours
    level = np.clip(np.rint(a / 255.0 * (steps + 1)), 0, steps + 1).astype(np.int64)
    edge_colours = []
    for k in range(1, steps + 1):  # mean colour of the edge pixels at each alpha step
        sel = level == k
        mean = np.asarray(rgba[..., :3])[sel].mean(axis=0) if sel.any() else np.zeros(3)
        edge_colours.append(np.rint(mean))
        alphas.append(int(round(255.0 * k / (steps + 1))))
    edge = (level >= 1) & (level <= steps)
    idx[edge] = opaque_colours + level[edge]
    idx[level == 0] = 0
    entries = np.concatenate([np.zeros((1, 3)), colours, np.array(edge_colours)]).astype(np.uint8)
    out = Image.fromarray(idx.astype(np.uint8), "P")
    out.putpalette(entries.flatten().tolist())
    return out, bytes(alphas)
