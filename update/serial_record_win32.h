// The highest manifest serial this player's launcher has accepted, kept in the
// install folder (per user) so that it outlives the process: a file host that
// later serves an older signed manifest is refused even after a restart.
#pragma once
#include <cstdint>

#include "app/text.h"

WideString SerialRecordPath();

// 0 when there is no record or it cannot be read as one.
uint64_t ReadSerialRecord();

// Made whole under a temporary name, flushed and moved over the old record in
// one step, so a crash leaves either record, never half of one.
bool WriteSerialRecord(uint64_t serial);

// Seconds since 1970-01-01 by the player's clock.
uint64_t UnixTimeNow();
