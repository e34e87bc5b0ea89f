#!/usr/bin/python3
"""Makes the launcher's pictures: generate.py OUTDIR writes scene.jpg,
frame.png, button.png, button_hover.png, the same four at twice the size
(NAME_2x), and launcher.ico there. Seeded and free of timestamps, so a run
gives the same bytes as the committed resources/."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from buttons import make_button  # noqa: E402
from frame import make_frame  # noqa: E402
from icon import write_icon  # noqa: E402
from paint import to_image, to_palette  # noqa: E402
from scene import make_scene  # noqa: E402


def main(out):
    os.makedirs(out, exist_ok=True)
    for scale, suffix in ((1, ""), (2, "_2x")):
        path = lambda name, ext: os.path.join(out, name + suffix + ext)
        # Baseline (not progressive), 4:4:4 so the thin gilt rule keeps its colour.
        to_image(make_scene(scale), "RGB").save(path("scene", ".jpg"), "JPEG", quality=92,
                                                subsampling=0, optimize=False, progressive=False)
        to_image(make_frame(scale), "RGBA").save(path("frame", ".png"), "PNG", optimize=True)
        for name, hover in (("button", False), ("button_hover", True)):
            face, alpha = to_palette(make_button(hover, scale))
            face.save(path(name, ".png"), "PNG", transparency=alpha, optimize=False)
    write_icon(os.path.join(out, "launcher.ico"))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: generate.py OUTDIR")
    main(sys.argv[1])
