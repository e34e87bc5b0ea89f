"""The application icon: a gilt heater shield with a dusk field and a gold "M"
in the display font. Each size is painted on its own (not scaled down from the
largest) so the rim and the letter stay crisp at 16 pixels; the file holds the
four sizes as 32-bit PNG images."""
import io
import os
import struct

import numpy as np
from PIL import Image, ImageDraw, ImageFont

from paint import blur, lerp, mask_from

SIZES = (16, 32, 48, 256)
FONT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "display_font.ttf")


def _shield(cx, cy, scale):
    """Outline of the shield as a polygon, in units of the icon's width."""
    pts = [(-0.40, -0.40), (0.40, -0.40), (0.40, -0.06)]
    # Right flank: an arc centred across the middle line, so the flanks meet
    # in a point at the bottom as on a heater shield.
    radius, centre = 0.538, -0.138
    end = np.arccos(-centre / radius)
    for k in range(1, 17):
        a = end * k / 16.0
        pts.append((centre + radius * np.cos(a), -0.06 + radius * np.sin(a)))
    pts += [(-x, y) for x, y in reversed(pts[2:-1])]
    return [(cx + x * scale, cy + y * scale) for x, y in pts]


def _paint(size):
    ss = 8
    n = size * ss
    rim = max(1.0, size * 0.075)  # at least one pixel of gold at 16

    def shape(inset):
        def draw(d, s):
            d.polygon([(x * s, y * s) for x, y in _shield(size / 2, size / 2 + size * 0.02, size - 2 * inset)],
                      fill=255)
        return mask_from(draw, size, size, scale=ss)

    outer, inner = shape(0.0), shape(rim)
    y = np.linspace(0, 1, size)[:, None, None] * np.ones((1, size, 1))
    gold = lerp(np.array([255, 232, 160.0]), np.array([150, 98, 36.0]), y)
    field = lerp(np.array([96, 40, 108.0]), np.array([22, 12, 46.0]), y)
    rgb = lerp(gold, field, inner[..., None])
    small = size < 32  # at 16 a heavy shadow muddies the letter
    font = ImageFont.truetype(FONT, int(n * 0.62))
    big = Image.new("L", (n, n), 0)
    ImageDraw.Draw(big).text((n / 2, n * 0.53), "M", font=font, fill=255, anchor="mm")
    letter = np.asarray(big.resize((size, size), Image.BOX), dtype=np.float64) / 255.0 * inner
    shadow = np.clip(blur(letter, max(1.0, size / 40.0)) * 1.6, 0, 1) * inner
    rgb = lerp(rgb, np.array([10, 4, 16.0]), shadow[..., None] * (0.35 if small else 0.8))
    rgb = lerp(rgb, gold * 1.05, letter[..., None])
    return np.concatenate([np.clip(rgb, 0, 255), outer[..., None] * 255.0], axis=-1)


def write_icon(path):
    images = []
    for size in SIZES:
        buf = io.BytesIO()
        Image.fromarray(np.clip(np.rint(_paint(size)), 0, 255).astype(np.uint8), "RGBA").save(buf, "PNG", optimize=True)
        images.append((size, buf.getvalue()))
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries, blobs = b"", b""
    for size, png in images:
        dim = 0 if size == 256 else size  # 0 stands for 256 in the directory
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset + len(blobs))
        blobs += png
    with open(path, "wb") as f:
        f.write(head + entries + blobs)
