// "memory.log": the exact bytes of its lines, and in fresh processes its
// once-per-run reset and a directory it cannot write. The executable's main
// runs those fresh processes' actions.
#include <cstring>
#include <filesystem>
#include <new>
#include <unistd.h>

#include "memtrack/memory_log.h"
#include "support.h"

namespace {

using MemoryLogTest = MemtrackTest;

TEST_F(MemoryLogTest, EachWriteAppendsItsTextUntranslatedAndCrLf)
{
    WriteMemoryLog("%s %d\n%u\r\x1a", "block", -12, 0xdeadbeefu);
    WriteMemoryLog("second");
    EXPECT_EQ("block -12\n3735928559\r\x1a\r\nsecond\r\n", Log());
}

TEST_F(MemoryLogTest, TextLongerThan2047CharactersIsCut)
{
    std::string text(3000, 'x');
    text[2046] = 'L';
    WriteMemoryLog("%s", text.c_str());
    EXPECT_EQ(text.substr(0, 2047) + "\r\n", Log());
}

TEST_F(MemoryLogTest, EachRunWithFailuresStartsAFreshFile)
{
    WriteLog(std::string(kNeverAllocatedLine) + "stale\r\n");
    ASSERT_EQ(0, RunLogChild("double-delete alloc too-big"));
    EXPECT_EQ(std::string(kNeverAllocatedLine) + kOutOfMemoryLine, Log());
    ASSERT_EQ(0, RunLogChild("too-big"));
    EXPECT_EQ(kOutOfMemoryLine, Log());
}

TEST_F(MemoryLogTest, RunWithoutFailuresLeavesTheFileAsItWas)
{
    ASSERT_EQ(0, RunLogChild("alloc"));
    EXPECT_EQ("<none>", Log());
    WriteLog("earlier\r\npartial");
    ASSERT_EQ(0, RunLogChild("alloc"));
    EXPECT_EQ("earlier\r\npartial", Log());
}

TEST_F(MemoryLogTest, RunInADirectoryItCannotWriteGoesOnWithoutItsLines)
{
#ifdef _WIN32
    GTEST_SKIP() << "no permissions to take away under Wine";
#else
    using std::filesystem::perms;
    std::filesystem::permissions(".", perms(0755));  // the child may run as nobody
    std::filesystem::create_directory("locked");
    std::filesystem::permissions("locked", perms(0555));
    std::filesystem::current_path("locked");
    int code = RunLogChild("double-delete too-big alloc", geteuid() == 0);
    bool written = std::filesystem::exists("memory.log");
    std::filesystem::current_path("..");
    EXPECT_EQ(0, code);
    EXPECT_FALSE(written);
#endif
}

// A fresh process: each action must behave as promised; else 10 + its index.
int RunLogChildActions(int count, char** actions)
{
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        if (std::strcmp(actions[i], "alloc") == 0) {
            int* number = new int(7);
            ok = FindAllocationUnit(number) != nullptr;
            delete number;
        } else if (std::strcmp(actions[i], "double-delete") == 0) {
            void* block = ::operator new(16);
            void* again = Opaque(block);
            ::operator delete(block);
            uint32_t inUse = CountTrackedBlocks();
            ::operator delete(again);
            ok = CountTrackedBlocks() == inUse;
        } else if (std::strcmp(actions[i], "too-big") == 0) {
            static volatile std::size_t size = 0xFFFFFFF0u;  // + 32 does not fit 32 bits
            try {
                ::operator delete(::operator new(size));
            } catch (const std::bad_alloc&) {
                ok = true;
            }
        }
        if (!ok)
            return 10 + i;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--log-child") == 0)
        return RunLogChildActions(argc - 2, argv + 2);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
