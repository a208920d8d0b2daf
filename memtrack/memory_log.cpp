#include "memtrack/memory_log.h"

#include <cstdarg>
#include <cstdio>

static_assert(sizeof(bool) == 1, "the reset flag is one byte");

const char kMemoryLogFileName[] = "memory.log";

bool memoryLogResetPending = true;
char memoryLogLine[kMemoryLogLineSize];

void ResetMemoryLog()
{
    if (!memoryLogResetPending)
        return;
    // No file to delete is the usual case; any failure is ignored.
    std::remove(kMemoryLogFileName);
    memoryLogResetPending = false;
}

void WriteMemoryLog(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    int written = std::vsnprintf(memoryLogLine, sizeof memoryLogLine, format, args);
    va_end(args);
    if (written < 0)
        memoryLogLine[0] = '\0';
    // Some run-times leave a cut text unterminated.
    memoryLogLine[sizeof memoryLogLine - 1] = '\0';

    ResetMemoryLog();

    // Binary: the line goes out exactly as formatted, ended by CR LF.
    std::FILE* file = std::fopen(kMemoryLogFileName, "ab");
    if (file == nullptr)
        return;
    std::fprintf(file, "%s\r\n", memoryLogLine);
    std::fclose(file);
}
