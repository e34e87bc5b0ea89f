// The field rules of manifest.txt, shared by ParseManifest and the publishing
// tool so that a publisher refuses exactly what the launcher would refuse.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The first line of every manifest, without its line feed.
constexpr std::string_view kManifestHeader = "morvel-launcher\t1";

// Exactly 64 characters from "0123456789abcdef".
bool IsLowerHex64(std::string_view field);

// Base-10 strtoull in the C locale: leading white space, an optional sign (a
// minus negates modulo 2^64), digits up to the first other byte, no digits give
// 0, and a value past 2^64-1 saturates at 2^64-1 like the C library.
uint64_t ReadUnsigned64(std::string_view field);

// A "serial" or "expires" value: 1 to 20 decimal digits and nothing else,
// at most 2^64-1. These decide which manifests a launcher refuses, so unlike
// the sizes they have one spelling only.
bool ReadStrictUnsigned64(std::string_view field, uint64_t& value);

// atoi, except that a value outside the 32-bit range is clamped to it instead
// of being undefined (C) or wrapping (glibc).
int32_t ReadInt32(std::string_view field);

// Whether the launcher fetches its own new executable from a "self" line's
// request path: under "/arquivos/", with no ".." and no backslash. The launcher
// ignores a "self" line with any other path.
bool IsLauncherRequestPath(std::string_view path);

// Why the launcher refuses an "f" path (UTF-8, "/"-separated), or nullptr when
// it accepts it. Besides the format's own rules this refuses what Windows would
// not store under that name inside the client folder: NUL bytes, the characters
// <>"|?* and control characters, invalid UTF-8, pieces ending in "." or " "
// (Windows strips those, so ".. " would act as "..") and reserved device names
// such as "CON" or "nul.txt".
const char* ManifestPathProblem(std::string_view path);
