#!/usr/bin/python3
"""check_resources_test.py GOOD_EXE BROKEN_EXE VERSION: shows that the resource
checker passes the launcher's table (built as VERSION), refuses it as another
version, and names each fault of a broken one, and that each
content check rejects a picture, font or manifest spoiled in one way."""
import io
import logging
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_resources as cr  # noqa: E402
from fontTools import subset  # noqa: E402

logging.getLogger("fontTools").setLevel(logging.ERROR)  # the subsetter chats about dropped tables

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
failures = []


def read(name):
    with open(os.path.join(RES, name), "rb") as f:
        return f.read()


def expect(what, errors, needle):
    """needle None: no error wanted; else some error must contain it."""
    ok = not errors if needle is None else any(needle in e for e in errors)
    if not ok:
        failures.append(f"{what}: wanted {needle or 'no error'}, got {errors}")


def with_chunk(png, kind, body):
    """The PNG with the first chunk of this kind replaced (CRC redone)."""
    pos = 8
    while True:
        length, k = struct.unpack(">I4s", png[pos:pos + 8])
        if k == kind:
            new = struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
            return png[:pos] + new + png[pos + 12 + length:]
        pos += 12 + length


def font_without(chars):
    font = cr.TTFont(io.BytesIO(read("display_font.ttf")))
    opts = subset.Options()
    opts.notdef_outline = True
    sub = subset.Subsetter(opts)
    keep = sorted(set(cr.FONT_TEXT) - set(chars))
    sub.populate(unicodes=[ord(c) for c in keep])
    sub.subset(font)
    out = io.BytesIO()
    font.save(out)
    return out.getvalue()


def main(good, broken, version):
    version = int(version)
    expect("launcher table", cr.check(good, version), None)
    expect("version block of another build", cr.check(good, version + 1), "FileVersionMS")
    expect("version string of another build", cr.check(good, version + 1), f"'FileVersion': '{version + 1}.0.0'")
    broken_errors = cr.check(broken, 1)
    for needle in ("RCDATA 7 missing", "MANIFEST 1 missing", "RCDATA 12 not expected",
                   "RCDATA 6: languages [1031]", "RCDATA 2: not a JPEG", "RCDATA 3: not a PNG",
                   "same picture", "FileVersionLS", "FileFlags", "FileType", "string tables ['040904B0']",
                   "translation"):
        expect("broken table", broken_errors, needle)
    expect("missing exe", cr.check(broken + ".absent", 1), "cannot read")

    jpeg, frame, face = read("scene.jpg"), read("frame.png"), read("button.png")
    sof = jpeg.index(b"\xff\xc0")
    ihdr = lambda w, h, depth, colour: struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, 0)
    spoiled = [
        ("progressive scene", cr.check_jpeg(jpeg[:sof] + b"\xff\xc2" + jpeg[sof + 2:], (640, 360)), "baseline"),
        ("scene cut in its frame header", cr.check_jpeg(jpeg[:sof + 6], (640, 360)), "without a frame header"),
        ("scene of another size", cr.check_jpeg(jpeg, (640, 361)), "640x360, expected 640x361"),
        ("frame without alpha", cr.check_png(with_chunk(frame, b"IHDR", ihdr(222, 359, 8, 2)), (222, 359), 6),
         "colour type 2"),
        ("frame of another size", cr.check_png(with_chunk(frame, b"IHDR", ihdr(222, 360, 8, 6)), (222, 359), 6),
         "222x360"),
        ("face with opaque entry 0", cr.check_png(with_chunk(face, b"tRNS", b"\xff\x00"), (150, 37), 3),
         "entry 0"),
        ("face with a bad CRC", cr.check_png(face[:40] + bytes([face[40] ^ 1]) + face[41:], (150, 37), 3),
         "corrupt"),
        ("face cut short", cr.check_png(face[:-30], (150, 37), 3), "cut short"),
        ("face without palette", cr.check_png(with_chunk(face, b"PLTE", b""), (150, 37), 3), "palette"),
        ("frame with image data cut", cr.check_png(with_chunk(frame, b"IDAT", zlib.compress(b"\0" * 999)),
                                                   (222, 359), 6), "needs"),
        ("shipped font", cr.check_font(read("display_font.ttf")), None),
        ("CFF font", cr.check_font(b"OTTO" + read("display_font.ttf")[4:]), "sfnt version"),
        ("font without cedilla", cr.check_font(font_without("çÇ")), "no glyph for Çç"),
        ("licence in Latin-1", cr.check_licence("Licença".encode("latin-1")), "not UTF-8"),
    ]
    for what, errors, needle in spoiled:
        expect(what, errors, needle)

    manifest = read("launcher.manifest").decode()
    gdi_scaling = '<gdiScaling xmlns="http://schemas.microsoft.com/SMI/2017/WindowsSettings">true</gdiScaling>'
    start, end = manifest.index("  <application"), manifest.index("</application>") + len("</application>\n")
    controls = ('<dependency><dependentAssembly><assemblyIdentity type="win32" '
                'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"/></dependentAssembly></dependency>')
    edits = [
        ("shipped manifest", manifest, None),
        ("system-aware only", manifest.replace("true/pm", "true"), "dpiAware ['true']"),
        ("no per-monitor v2", manifest.replace("PerMonitorV2, ", ""), "dpiAwareness ['PerMonitor']"),
        ("no DPI settings", manifest[:start] + manifest[end:], "dpiAware []"),
        ("GDI scaling", manifest.replace("</windowsSettings>", gdi_scaling + "</windowsSettings>"), "not expected"),
        ("common controls", manifest.replace("</assembly>", controls + "</assembly>"), "dependency"),
        ("elevation", manifest.replace("asInvoker", "requireAdministrator"), "execution level"),
        ("uiAccess", manifest.replace('uiAccess="false"', 'uiAccess="true"'), "execution level"),
        ("Windows 7 dropped", manifest.replace("35138b9a", "00000000"), "supported OS"),
        ("other identity", manifest.replace("MorvelGlobal.Launcher", "Morvel"), "assembly identity"),
        ("not XML", manifest[:-20], "not UTF-8 XML"),
    ]
    for what, text, needle in edits:
        expect(what, cr.check_manifest(text.encode()), needle)

    for f in failures:
        print(f)
    print(f"check_resources: {len(failures)} of the checker's cases failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
