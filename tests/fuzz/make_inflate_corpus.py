#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz_inflate into tests/fuzz/corpus/inflate/;
the files named by their hash beside them are what fuzzing found, merged in.

Each seed is an 8-byte header (claim mode, chunk seed, disk budget, a claimed
size) and a body as the file host could serve it: good gzip members, truncated
or damaged ones, the wrong wrapper, bombs, trailing bytes, concatenated members."""
import gzip, os, random, struct, sys, zlib

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "inflate")
os.makedirs(out, exist_ok=True)
rng = random.Random(1)


def header(mode, seed=0x1234, size=0, budget=0):
    """budget: the disk budget is the largest one shifted right this many bits."""
    return bytes([mode]) + struct.pack("<HBI", seed, budget, size)


def gz(data, level=9):
    return gzip.compress(data, compresslevel=level, mtime=0)


def raw(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


text = b"Morvel Global client file\n" * 300
binary = bytes(rng.getrandbits(8) for _ in range(20000))
mixed = text + binary + bytes(70000)
seeds = {
    "gzip_text": header(0) + gz(text),
    "gzip_binary_small_chunks": header(0, seed=7) + gz(binary),
    "gzip_mixed": header(0, seed=0xFFFF) + gz(mixed),
    "gzip_empty": header(0) + gz(b""),
    "gzip_stored_level0": header(0) + gz(binary[:5000], level=0),
    "claim_one_less": header(1) + gz(text),
    "claim_one_more": header(2) + gz(text),
    "claim_other_digest": header(3) + gz(text),
    "claim_given_size": header(4, size=len(text)) + gz(text),
    "claim_absurd_size": header(5) + gz(text),
    "truncated_half": header(0) + gz(mixed)[: len(gz(mixed)) // 2],
    "truncated_before_trailer": header(0) + gz(text)[:-8],
    "truncated_header": header(0) + gz(text)[:5],
    "corrupt_crc": header(0) + gz(text)[:-8] + b"\0\0\0\0" + gz(text)[-4:],
    "corrupt_isize": header(0) + gz(text)[:-4] + b"\1\0\0\0",
    "corrupt_data": header(0) + bytes(b ^ (0x55 if i == 40 else 0) for i, b in enumerate(gz(mixed))),
    "zlib_instead_of_gzip": header(0) + zlib.compress(text, 9),
    "raw_deflate_instead_of_gzip": header(0) + raw(text),
    "plain_bytes": header(0) + text[:200],
    "gzip_bomb": header(4, size=4096, budget=6) + gz(bytes(4 << 20)),
    "gzip_bomb_fills_the_disk": header(5, budget=4) + gz(bytes(4 << 20)),
    "claim_digest_in_capitals": header(6) + gz(text),
    "claim_digest_one_short": header(7) + gz(text),
    "claim_true_size_past_4_gib": header(8) + gz(text),
    "claim_small_size_past_4_gib": header(9, size=100) + gz(text),
    "several_pieces_per_chunk": header(0, seed=0xFFFF) + gz(bytes(300000)),
    "trailing_bytes": header(0) + gz(text) + b"garbage after the member\n",
    "concatenated_members": header(0, seed=3) + gz(text) + gz(binary),
    "gzip_with_name_and_comment": header(0)
    + bytes([0x1F, 0x8B, 8, 0x18, 0, 0, 0, 0, 0, 3]) + b"name.dat\0" + b"a comment\0"
    + raw(text) + struct.pack("<II", zlib.crc32(text), len(text)),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {out}", file=sys.stderr)
