#!/usr/bin/python3
"""check_resources.py EXE VERSION: reads the resource table of a built launcher and
checks it against what the program and the shell expect (types, ids, language,
picture formats and sizes, font format and coverage, icon group, version block,
manifest; the version block names VERSION, the version the exe is built with).
Prints every mismatch and exits 1 if there is any."""
import io
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

import pefile
from fontTools.ttLib import TTFont

RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 10, 14, 16, 24
TYPE_NAMES = {RT_ICON: "ICON", RT_RCDATA: "RCDATA", RT_GROUP_ICON: "GROUP_ICON", RT_VERSION: "VERSION",
              RT_MANIFEST: "MANIFEST"}
EXPECTED = {(RT_RCDATA, i) for i in range(2, 12)} | {(RT_ICON, i) for i in range(1, 5)} | {
    (RT_GROUP_ICON, 1), (RT_VERSION, 1), (RT_MANIFEST, 1)}
LANGUAGE = 1033
ICON_SIZES = [16, 32, 48, 256]
VERSION_STRINGS = {"FileDescription": "Morvel Global Launcher", "ProductName": "Morvel Global",
                   "OriginalFilename": "Morvel-Global-Launcher.exe"}
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
ASM_V1, ASM_V3, COMPAT = ("urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3",
                          "urn:schemas-microsoft-com:compatibility.v1")
SETTINGS_2005, SETTINGS_2016 = ("http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                "http://schemas.microsoft.com/SMI/2016/WindowsSettings")
MANIFEST_TAGS = {f"{{{ASM_V1}}}assembly", f"{{{ASM_V1}}}assemblyIdentity", f"{{{ASM_V3}}}trustInfo",
                 f"{{{ASM_V3}}}security", f"{{{ASM_V3}}}requestedPrivileges",
                 f"{{{ASM_V3}}}requestedExecutionLevel", f"{{{COMPAT}}}compatibility",
                 f"{{{COMPAT}}}application", f"{{{COMPAT}}}supportedOS", f"{{{ASM_V3}}}application",
                 f"{{{ASM_V3}}}windowsSettings", f"{{{SETTINGS_2005}}}dpiAware",
                 f"{{{SETTINGS_2016}}}dpiAwareness"}
# Per-monitor v2 where Windows 10 has it, then per-monitor (8.1 reads only
# dpiAware: "true/pm"), and Windows 7 reads "true/pm" as system-aware.
DPI_SETTINGS = {f"{{{SETTINGS_2005}}}dpiAware": "true/pm",
                f"{{{SETTINGS_2016}}}dpiAwareness": "PerMonitorV2, PerMonitor"}
# Every character of the window's texts must have a glyph in the display font.
FONT_TEXT = ("OTClient Tibia 8.60 Jogar Instalar e jogar Verificar arquivos Sair Cancelar Arquivo Total "
             "áâãàéêíóôõúçÁÂÃÀÉÊÍÓÔÕÚÇ!?.,:;-()0123456789"
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")


def read_table(pe):
    """{(type, id): [(language, bytes), ...]} for every numbered resource."""
    table = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for rtype in root.entries if root else []:
        for res in rtype.directory.entries:
            for lang in res.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                key = (rtype.id if rtype.id is not None else str(rtype.name),
                       res.id if res.id is not None else str(res.name))
                table.setdefault(key, []).append((lang.id, data))
    return table


def png_info(data):
    """(width, height, bit depth, colour type, {chunk type: data}) or an error text."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return "not a PNG"
    chunks, pos = {}, 8
    while pos + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if pos + 12 + length > len(data):
            return f"PNG chunk {kind!r} is cut short"
        body = data[pos + 8:pos + 8 + length]
        if zlib.crc32(kind + body) != struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]:
            return f"PNG chunk {kind!r} is corrupt"
        chunks[kind.decode("latin-1")] = chunks.get(kind.decode("latin-1"), b"") + body  # IDATs join
        pos += 12 + length
        if kind == b"IEND":
            break
    if "IHDR" not in chunks or "IEND" not in chunks:
        return "PNG without IHDR or IEND"
    w, h, depth, colour = struct.unpack(">IIBB", chunks["IHDR"][:10])
    return w, h, depth, colour, chunks


def check_png(data, size, colour_type):
    info = png_info(data)
    if isinstance(info, str):
        return [info]
    w, h, depth, colour, chunks = info
    errors = []
    if (w, h) != size:
        errors.append(f"{w}x{h}, expected {size[0]}x{size[1]}")
    if (depth, colour) != (8, colour_type):
        errors.append(f"bit depth {depth} colour type {colour}, expected 8-bit type {colour_type}")
    if colour_type == 3 and (not chunks.get("PLTE") or len(chunks["PLTE"]) % 3):
        errors.append("palette PNG without a proper palette")
    if colour_type == 3 and chunks.get("tRNS", b"\xff")[:1] != b"\x00":
        errors.append("palette entry 0 is not transparent")
    if not errors and chunks["IHDR"][12] == 0:  # non-interlaced: rows of a filter byte and the pixels
        want = h * (1 + w * (4 if colour_type == 6 else 1))
        try:
            got = len(zlib.decompress(chunks.get("IDAT", b"")))
        except zlib.error:
            got = "undecodable"
        if got != want:
            errors.append(f"image data holds {got} bytes, {w}x{h} needs {want}")
    return errors


def check_jpeg(data, size):
    if data[:2] != b"\xff\xd8":
        return ["not a JPEG"]
    pos = 2
    while pos + 4 <= len(data) and data[pos] == 0xFF:
        marker, length = data[pos + 1], struct.unpack(">H", data[pos + 2:pos + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            if pos + 10 > len(data):
                break
            h, w, comps = struct.unpack(">HHB", data[pos + 5:pos + 10])
            errors = [] if marker == 0xC0 else [f"JPEG frame type SOF{marker - 0xC0}, expected baseline"]
            if (w, h) != size:
                errors.append(f"{w}x{h}, expected {size[0]}x{size[1]}")
            if comps != 3:
                errors.append(f"{comps} components, expected 3")
            return errors
        pos += 2 + length
    return ["JPEG without a frame header"]


def check_font(data):
    if data[:4] != b"\x00\x01\x00\x00":
        return [f"sfnt version {data[:4].hex()}, expected 00010000 (TrueType)"]
    try:
        font = TTFont(io.BytesIO(data))
        cmap = font.getBestCmap() or {}
    except Exception as e:  # a font the tools cannot read is a mismatch, not a crash
        return [f"unreadable font: {e}"]
    errors = [] if "glyf" in font and "CFF " not in font else ["no glyf outlines"]
    missing = sorted({c for c in FONT_TEXT if ord(c) not in cmap})
    if missing:
        errors.append("no glyph for " + "".join(missing))
    return errors


def check_licence(data):
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        return ["licence is not UTF-8 text"]
    return [] if re.search(r"licen[cs]e", text, re.I) else ["licence text names no licence"]


def check_icons(group, icons):
    if len(group) < 6:
        return ["icon group too short"]
    reserved, kind, count = struct.unpack("<HHH", group[:6])
    if (reserved, kind) != (0, 1) or len(group) != 6 + 14 * count:
        return ["malformed icon group header"]
    errors, sizes = [], []
    for k in range(count):
        w, h, _, _, _, bits, length, rid = struct.unpack("<BBBBHHIH", group[6 + 14 * k:20 + 14 * k])
        side = w or 256
        sizes.append(side)
        if (w, bits) != (h, 32):
            errors.append(f"icon {rid}: {w}x{h} at {bits} bits, expected square 32-bit")
        data = icons.get(rid)
        if data is None:
            errors.append(f"icon {rid} of the group is missing")
            continue
        if len(data) != length:
            errors.append(f"icon {rid}: {len(data)} bytes, the group says {length}")
        errors += [f"icon {rid}: {e}" for e in check_png(data, (side, side), 6)]
    if sorted(sizes) != ICON_SIZES:
        errors.append(f"icon sizes {sorted(sizes)}, expected {ICON_SIZES}")
    return errors


def check_version(pe, version):
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return ["no version block"]
    fixed, errors = pe.VS_FIXEDFILEINFO[0], []
    for name, want in (("FileVersionMS", version << 16), ("FileVersionLS", 0), ("ProductVersionMS", version << 16),
                       ("ProductVersionLS", 0), ("FileFlags", 0), ("FileOS", 0x4), ("FileType", 0x1)):
        if getattr(fixed, name) != want:
            errors.append(f"version {name} is {getattr(fixed, name):#x}, expected {want:#x}")
    tables, translations = [], []
    for info in (i for group in pe.FileInfo for i in group):
        for table in getattr(info, "StringTable", []):
            tables.append((table.LangID.decode().upper(),
                           {k.decode(): v.decode() for k, v in table.entries.items()}))
        for var in getattr(info, "Var", []):
            translations += list(var.entry.values())
    if [t[0] for t in tables] != ["041604B0"]:
        errors.append(f"string tables {[t[0] for t in tables]}, expected one 041604B0")
    elif tables[0][1] != dict(VERSION_STRINGS, FileVersion=f"{version}.0.0"):
        errors.append(f"version strings {tables[0][1]}, expected {dict(VERSION_STRINGS, FileVersion=f'{version}.0.0')}")
    if [t.lower() for t in translations] != ["0x0416 0x04b0"]:
        errors.append(f"translation {translations}, expected 0x0416 0x04b0")
    return errors


def check_manifest(data):
    try:
        root = ET.fromstring(data.decode("utf-8"))
    except (UnicodeDecodeError, ET.ParseError) as e:
        return [f"manifest is not UTF-8 XML: {e}"]
    errors = [f"manifest element {e.tag} not expected" for e in root.iter() if e.tag not in MANIFEST_TAGS]
    ident = root.find(f"{{{ASM_V1}}}assemblyIdentity")
    want = {"type": "win32", "name": "MorvelGlobal.Launcher", "version": "1.0.0.0"}
    if ident is None or dict(ident.attrib) != want:
        errors.append(f"assembly identity {None if ident is None else dict(ident.attrib)}, expected {want}")
    levels = [dict(e.attrib) for e in root.iter(f"{{{ASM_V3}}}requestedExecutionLevel")]
    if levels != [{"level": "asInvoker", "uiAccess": "false"}]:
        errors.append(f"execution level {levels}, expected asInvoker without uiAccess")
    ids = [e.get("Id") for e in root.iter(f"{{{COMPAT}}}supportedOS")]
    if sorted(ids) != sorted(SUPPORTED_OS):
        errors.append(f"supported OS ids {ids}, expected {sorted(SUPPORTED_OS)}")
    for tag, want in DPI_SETTINGS.items():
        found = [(e.text or "").strip() for e in root.iter(f"{{{ASM_V3}}}windowsSettings") for e in e.iter(tag)]
        if found != [want]:
            errors.append(f"{tag.split('}')[1]} {found}, expected [{want!r}] in the windows settings")
    return errors


def check(path, version):
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as e:
        return [f"cannot read the executable: {e}"]
    table = read_table(pe)
    name = lambda key: f"{TYPE_NAMES.get(key[0], key[0])} {key[1]}"
    errors = [f"{name(k)} missing" for k in sorted(EXPECTED - table.keys())]
    errors += [f"{name(k)} not expected" for k in sorted(table.keys() - EXPECTED, key=str)]
    data = {}
    for key in sorted(EXPECTED & table.keys()):
        langs = [lang for lang, _ in table[key]]
        if langs != [LANGUAGE]:
            errors.append(f"{name(key)}: languages {langs}, expected [{LANGUAGE}]")
        data[key] = table[key][0][1]
    content_checks = [
        ((RT_RCDATA, 2), lambda d: check_jpeg(d, (640, 360))),
        ((RT_RCDATA, 3), lambda d: check_png(d, (222, 359), 6)),
        ((RT_RCDATA, 4), lambda d: check_png(d, (150, 37), 3)),
        ((RT_RCDATA, 5), lambda d: check_png(d, (150, 37), 3)),
        ((RT_RCDATA, 6), check_font),
        ((RT_RCDATA, 7), check_licence),
        ((RT_RCDATA, 8), lambda d: check_jpeg(d, (1280, 720))),
        ((RT_RCDATA, 9), lambda d: check_png(d, (444, 718), 6)),
        ((RT_RCDATA, 10), lambda d: check_png(d, (300, 74), 3)),
        ((RT_RCDATA, 11), lambda d: check_png(d, (300, 74), 3)),
        ((RT_GROUP_ICON, 1), lambda d: check_icons(d, {i: data.get((RT_ICON, i)) for i in range(1, 5)
                                                       if (RT_ICON, i) in data})),
        ((RT_MANIFEST, 1), check_manifest),
    ]
    for key, fn in content_checks:
        if key in data:
            errors += [f"{name(key)}: {e}" for e in fn(data[key])]
    for face, hover in ((4, 5), (10, 11)):
        if (RT_RCDATA, face) in data and data[(RT_RCDATA, face)] == data.get((RT_RCDATA, hover)):
            errors.append(f"RCDATA {hover}: the hover face is the same picture as the normal face")
    if (RT_VERSION, 1) in data:
        errors += check_version(pe, version)
    return errors


def main(argv):
    if len(argv) != 3 or not argv[2].isdigit():
        print("usage: check_resources.py EXE VERSION", file=sys.stderr)
        return 2
    errors = check(argv[1], int(argv[2]))
    for e in errors:
        print(f"{argv[1]}: {e}")
    if not errors:
        print(f"{argv[1]}: resource table as expected")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
