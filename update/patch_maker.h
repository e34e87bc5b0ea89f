// Makes a patch (update/patch.h) from an old file's content to a new one's by
// block matching: every aligned block of the old file goes into a table under a
// rolling hash, the new file is scanned byte by byte with the same hash, and a
// hit whose bytes really are equal becomes a copy, stretched both ways as far
// as the bytes agree. Whatever matches nothing goes in as literal bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Small enough that a change costs little more than its own bytes, large
// enough that the table of a 200 MiB file stays a few megabytes.
constexpr uint32_t kPatchBlock = 512;

// The patch, or false once it would grow past `limit` bytes (no use publishing
// a patch nearly as large as the file).
bool MakePatch(const uint8_t* base, size_t base_size, const uint8_t* target, size_t target_size, size_t limit,
               std::string& patch, uint32_t block = kPatchBlock);
