// The arithmetic and texts of the file check and download: progress in
// thousandths, amounts in megabytes, the check pass title. Sums saturate, since
// the sizes come from the manifest and are not bounded by anything real.
#pragma once
#include <cstddef>
#include <cstdint>

#include "app/text.h"

// Space kept free beyond the files themselves.
constexpr uint64_t kFreeSpaceMargin = 52428800;

uint64_t SaturatingAdd(uint64_t a, uint64_t b);

// part / whole in thousandths, truncated and capped at 1000; 1000 for an empty whole.
uint32_t Permille(uint64_t part, uint64_t whole);

// The file bar: received compressed bytes of the body's download size.
uint32_t FilePermille(uint64_t received, uint64_t download_size);
// Bytes counted towards the whole transfer: the files already done plus this
// one's received bytes, never more than its download size.
uint64_t TransferCurrent(uint64_t done, uint64_t received, uint64_t download_size);

// Bytes as megabytes with one decimal and a decimal comma: "1,5 MB".
WideString FormatMegabytes(uint64_t bytes);

// The amount so far of the whole, under the bars (TextAmountOfTotal).
WideString TransferDetail(uint64_t current, uint64_t total_transfer);

// The check pass shows its title (TextCheckingFiles, index + 1 of count) for
// every 8th file only; empty for the files in between.
WideString CheckPassTitle(size_t index, size_t count);

// Whether free_bytes hold total_size plus the margin.
bool EnoughFreeSpace(uint64_t free_bytes, uint64_t total_size);
