#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

ScriptedHeap heap;

namespace {

constexpr std::size_t kArenaStride = 65536;
alignas(64) unsigned char arena[2 * kArenaStride];

void* ScriptedAllocate(std::size_t size)
{
    ++heap.requests;
    heap.lastRequestSize = size;
    heap.unitBlockRequests += size == kUnitBlockBytes;
    if (size == heap.refuseSize) {
        ++heap.refused;
        return nullptr;
    }
    for (int slot = 0; slot < 2 && size == heap.arenaSize; ++slot) {
        if (!heap.arenaInUse[slot]) {
            heap.arenaInUse[slot] = true;
            return ArenaSlot(slot);
        }
    }
    void* block = DefaultHeapAllocate(size);
    if (size == kUnitBlockBytes)
        heap.lastUnitBlock = block;
    return block;
}

void ScriptedRelease(void* block)
{
    ++heap.releases;
    heap.lastReleased = block;
    if (block == heap.watch) {
        std::memcpy(heap.watched, block, std::min(heap.watchLength, sizeof heap.watched));
        heap.watch = nullptr;
    }
    for (int slot = 0; slot < 2; ++slot) {
        if (block == ArenaSlot(slot)) {
            heap.arenaInUse[slot] = false;
            return;
        }
    }
    DefaultHeapRelease(block);
}

}  // namespace

unsigned char* ArenaSlot(int slot)
{
    return arena + slot * kArenaStride;
}

void MemtrackTest::SetUp()
{
    static unsigned serial;
    previous_ = std::filesystem::current_path();
    scratch_ = std::filesystem::temp_directory_path() /
               ("memtrack-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
    ASSERT_TRUE(std::filesystem::create_directory(scratch_)) << scratch_;
    std::filesystem::current_path(scratch_);
    saved_ = trackerHeap;
    std::memset(&heap, 0, sizeof heap);
    trackerHeap = {&ScriptedAllocate, &ScriptedRelease};
}

void MemtrackTest::TearDown()
{
    if (saved_.allocate != nullptr)
        trackerHeap = saved_;
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

std::string MemtrackTest::Log()
{
    std::ifstream file("memory.log", std::ios::binary);
    if (!file)
        return "<none>";
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void MemtrackTest::WriteLog(const std::string& bytes)
{
    std::ofstream("memory.log", std::ios::binary) << bytes;
}

std::string HexBytes(const void* data, std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i != 0 ? " %02X" : "%02X", static_cast<const unsigned char*>(data)[i]);
        text += byte;
    }
    return text;
}

std::string PatternHex(uint32_t pattern, std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>(pattern >> (8 * (i % 4)));
    return HexBytes(bytes.data(), bytes.size());
}

void* Opaque(const void* pointer)
{
    static const void* volatile sink;
    sink = pointer;
    return const_cast<void*>(sink);
}

int RunLogChild(const std::string& actions, bool asNobody)
{
#ifdef _WIN32
    char self[MAX_PATH];
    if (asNobody || GetModuleFileNameA(nullptr, self, sizeof self) == 0)
        return -1;
    return std::system((std::string(self) + " --log-child " + actions).c_str());
#else
    std::string command = std::filesystem::read_symlink("/proc/self/exe").string() + " --log-child " + actions;
    if (asNobody)
        command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}
