// What the tracker's tests share: a fixture that runs each test in a scratch
// current directory with a scripted heap behind the tracker, byte dumps, and
// the fresh process that the log's once-per-run reset needs.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "memtrack/memtrack.h"

const char kNeverAllocatedLine[] = "Request to deallocate RAM that was never allocated\r\n";
const char kUnitBlockLine[] = "Unable to allocate RAM for internal memory tracking data\r\n";
const char kOutOfMemoryLine[] = "Request for allocation failed. Out of memory.\r\n";

constexpr std::size_t kUnitBlockBytes = sizeof(AllocationUnit) * kUnitsPerBlock;

// The tracker's heap seam during a test. It refuses requests of refuseSize (0
// unless set: only a padded size that wrapped round is that small), serves
// requests of arenaSize from two arena slots 65536 bytes apart (bodies that
// share a hash chain), and copies the block at watch when it is given back.
struct ScriptedHeap {
    unsigned requests, unitBlockRequests, refused, releases;
    std::size_t lastRequestSize, refuseSize, arenaSize, watchLength;
    void* lastUnitBlock;
    void* lastReleased;
    const void* watch;  // null again once the copy is taken
    bool arenaInUse[2];
    unsigned char watched[8192];
};
extern ScriptedHeap heap;
unsigned char* ArenaSlot(int slot);

class MemtrackTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The bytes of "memory.log", or "<none>".
    static std::string Log();
    static void WriteLog(const std::string& bytes);

private:
    std::filesystem::path previous_, scratch_;
    TrackerHeap saved_{};
};

// "CE FA ED FE" style dumps, so that failures show the actual bytes.
std::string HexBytes(const void* data, std::size_t length);
std::string PatternHex(uint32_t pattern, std::size_t length);
// Hides a pointer's origin from the compiler: some tests misuse addresses on purpose.
void* Opaque(const void* pointer);
// Runs this executable again in the current directory as a fresh process doing
// the given child actions (see main); its exit code. asNobody: as user nobody.
int RunLogChild(const std::string& actions, bool asNobody = false);
