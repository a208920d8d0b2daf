// The allocation tracker's error log: one line per failure in "memory.log" of the
// current directory. Allocates nothing through the global operators, so the
// tracker can call it from inside its own operations.
#pragma once

#include <cstddef>

#if defined(__MINGW_PRINTF_FORMAT)
#define MEMORY_LOG_PRINTF_FORMAT __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
#define MEMORY_LOG_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define MEMORY_LOG_PRINTF_FORMAT
#endif

constexpr std::size_t kMemoryLogLineSize = 2048;
extern const char kMemoryLogFileName[];  // "memory.log"

// Set at process start; the first write of a run clears it after deleting the
// file an earlier run left.
extern bool memoryLogResetPending;
// The formatted line of the last write: at most 2047 characters and a zero.
extern char memoryLogLine[kMemoryLogLineSize];

// Formats one line (printf conventions), cut at 2047 characters, and appends it
// with CR LF. Never reports failure: an unopenable file drops the line.
void WriteMemoryLog(const char* format, ...) MEMORY_LOG_PRINTF_FORMAT;
// Deletes "memory.log" and clears the pending flag, once per run.
void ResetMemoryLog();
