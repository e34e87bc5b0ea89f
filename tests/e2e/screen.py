#!/usr/bin/python3
"""Looks at a screenshot the way the end-to-end suite needs to.

    screen.py hash PNG X Y W H       digest of a region's pixels
    screen.py colours PNG X Y W H    counts of pixels near the launcher's text
                                     colours, as "gold=N error=N muted=N"
"""
import hashlib
import sys

from PIL import Image

COLOURS = {"gold": (0xF2, 0xD3, 0x8A), "error": (0xFF, 0x9C, 0x78), "muted": (0xB8, 0xAD, 0x98)}


def region(path, x, y, w, h):
    return Image.open(path).convert("RGB").crop((x, y, x + w, y + h))


def main():
    command, path = sys.argv[1], sys.argv[2]
    x, y, w, h = (int(v) for v in sys.argv[3:7])
    image = region(path, x, y, w, h)
    if command == "hash":
        print(hashlib.sha256(image.tobytes()).hexdigest())
    elif command == "colours":
        counts = dict.fromkeys(COLOURS, 0)
        for pixel in image.getdata():
            for name, colour in COLOURS.items():
                if sum((a - b) ** 2 for a, b in zip(pixel, colour)) <= 24 ** 2:
                    counts[name] += 1
        print(" ".join(f"{name}={n}" for name, n in counts.items()))
    else:
        sys.exit(f"screen.py: unknown command {command}")


if __name__ == "__main__":
    main()
