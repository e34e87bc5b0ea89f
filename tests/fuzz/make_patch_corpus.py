#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_patch into tests/fuzz/corpus/patch/.

Each seed is a 5-byte header (base size, target size, chunk seed), the base,
then a patch: sound ones and ones that break each rule of the format."""
import os, struct

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "patch")
os.makedirs(out, exist_ok=True)

base = bytes((i * 7 + i // 13) % 251 for i in range(600))


def header(base_size, target_size):
    return b"MGPATCH1" + struct.pack("<QQ", base_size, target_size)


def copy(offset, length):
    return b"\x01" + struct.pack("<QQ", offset, length)


def literal(data, length=None):
    return b"\x02" + struct.pack("<I", len(data) if length is None else length) + data


END = b"\x00"


def seed(name, target_size, patch, b=base, chunk_seed=7):
    with open(os.path.join(out, name), "wb") as f:
        f.write(struct.pack("<HHB", len(b), target_size, chunk_seed) + b + patch)


seed("sound_mixed", 110, header(600, 110) + copy(10, 50) + literal(b"new records!" * 4 + b"xx") + copy(500, 10) + END)
seed("sound_whole_base", 600, header(600, 600) + copy(0, 600) + END)
seed("sound_empty_target", 0, header(600, 0) + END)
seed("sound_empty_base", 5, header(0, 5) + literal(b"hello") + END, b=b"")
seed("copy_past_base", 20, header(600, 20) + copy(590, 20) + END)
seed("copy_offset_wraps", 20, header(600, 20) + copy(2**64 - 5, 20) + END)
seed("copy_empty", 1, header(600, 1) + copy(0, 0) + literal(b"a") + END)
seed("huge_copy_length", 20, header(600, 20) + copy(0, 2**63) + END)
seed("huge_literal_length", 20, header(600, 20) + literal(b"abc", 2**32 - 1))
seed("literal_past_target", 3, header(600, 3) + literal(b"abcd") + END)
seed("end_too_early", 30, header(600, 30) + copy(0, 20) + END)
seed("trailing_bytes", 5, header(600, 5) + copy(0, 5) + END + b"more")
seed("truncated_fields", 30, header(600, 30) + copy(0, 30)[:7])
seed("truncated_literal", 30, header(600, 30) + literal(b"x" * 30)[:12])
seed("bad_magic", 5, b"MGPATCH0" + header(600, 5)[8:] + copy(0, 5) + END)
seed("wrong_sizes", 5, header(601, 6) + copy(0, 5) + END)
seed("unknown_tag", 5, header(600, 5) + b"\x07" + copy(0, 5) + END)
