#!/usr/bin/python3
"""Finds the two buttons of a Yes/No message box in a screenshot.

    find_buttons.py PNG X Y W H   (the box's screen rectangle)

Prints "YES_X YES_Y NO_X NO_Y", the buttons' centres relative to the box. A
button's lower edge is a long run of dark pixels; the lowest row of the box with
two such runs holds both edges, Yes on the left.
"""
import sys

from PIL import Image


def runs(pixels, width, y, long_enough=30):
    found, start = [], None
    for x in range(width + 1):
        dark = x < width and sum(pixels[x, y]) < 600
        if dark and start is None:
            start = x
        elif not dark and start is not None:
            if x - start >= long_enough:
                found.append((start, x - 1))
            start = None
    return found


def main():
    path = sys.argv[1]
    x, y, w, h = (int(v) for v in sys.argv[2:6])
    box = Image.open(path).convert("RGB").crop((x, y, x + w, y + h))
    pixels = box.load()
    for row in range(h - 1, h // 3, -1):
        edges = runs(pixels, w, row)
        if len(edges) == 2:
            (yes0, yes1), (no0, no1) = edges
            print((yes0 + yes1) // 2, row - 12, (no0 + no1) // 2, row - 12)
            return
    sys.exit("find_buttons.py: no two buttons found")


if __name__ == "__main__":
    main()
