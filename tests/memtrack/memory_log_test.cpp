// "memory.log": the exact bytes of its lines, the once-per-run reset (in this
// process through the flag, and in fresh processes), and files it cannot write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "memtrack/memory_log.h"
#include "memtrack/memtrack.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

class MemoryLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch_.ok()) << "no scratch directory";
        savedResetPending_ = memoryLogResetPending;
        memoryLogResetPending = false;
    }
    void TearDown() override { memoryLogResetPending = savedResetPending_; }

    std::string Log()
    {
        std::string bytes = "<no file>";
        if (!ReadFileBytes("memory.log", &bytes))
            return "<no file>";
        return bytes;
    }

    ScratchDirectory scratch_;
    bool savedResetPending_ = false;
};

TEST_F(MemoryLogTest, EachWriteAppendsOneFormattedLineEndedByCrLf)
{
    WriteMemoryLog("%s %d %c %u", "block", -12, 'z', 0xdeadbeefu);
    EXPECT_EQ("block -12 z 3735928559\r\n", Log());
    EXPECT_STREQ("block -12 z 3735928559", memoryLogLine);
    WriteMemoryLog("second");
    EXPECT_EQ("block -12 z 3735928559\r\nsecond\r\n", Log());
}

TEST_F(MemoryLogTest, TextIsWrittenUntranslated)
{
    WriteMemoryLog("a\nb\r%s", "\x1a" "c");
    EXPECT_EQ("61 0A 62 0D 1A 63 0D 0A", HexBytes(Log().data(), Log().size()));
}

TEST_F(MemoryLogTest, LongestTrackerMessageAddsFiftyEightBytes)
{
    const char message[] = "Unable to allocate RAM for internal memory tracking data";
    ASSERT_EQ(56u, std::strlen(message));
    ASSERT_TRUE(WriteFileBytes("memory.log", "earlier\r\n"));
    WriteMemoryLog("%s", message);
    EXPECT_EQ(9u + 58u, Log().size());
    EXPECT_EQ(std::string("earlier\r\n") + message + "\r\n", Log());
}

TEST_F(MemoryLogTest, TextLongerThanTheLineBufferIsCut)
{
    std::string longText(3000, 'x');
    longText[2046] = 'L';
    longText[2047] = 'C';
    WriteMemoryLog("%s", longText.c_str());
    EXPECT_EQ(2047u, std::strlen(memoryLogLine));
    EXPECT_EQ(longText.substr(0, 2047) + "\r\n", Log());
    WriteMemoryLog("%s", std::string(2047, 'y').c_str());
    EXPECT_EQ(2047u + 2 + 2047 + 2, Log().size());
}

TEST_F(MemoryLogTest, FirstWriteOfARunReplacesAnEarlierFile)
{
    ASSERT_TRUE(WriteFileBytes("memory.log", "from an earlier run\r\n"));
    memoryLogResetPending = true;
    WriteMemoryLog("first");
    EXPECT_FALSE(memoryLogResetPending);
    EXPECT_EQ("first\r\n", Log());
    WriteMemoryLog("second");
    EXPECT_EQ("first\r\nsecond\r\n", Log());
}

TEST_F(MemoryLogTest, ResetMemoryLogActsOnlyWhilePending)
{
    ASSERT_TRUE(WriteFileBytes("memory.log", "kept"));
    ResetMemoryLog();
    EXPECT_EQ("kept", Log());
    memoryLogResetPending = true;
    ResetMemoryLog();
    EXPECT_FALSE(memoryLogResetPending);
    EXPECT_EQ("<no file>", Log());
    // Nothing to delete is not a failure either.
    memoryLogResetPending = true;
    ResetMemoryLog();
    EXPECT_FALSE(memoryLogResetPending);
}

TEST_F(MemoryLogTest, UnopenableFileDropsTheLineAndStillEndsTheReset)
{
    ASSERT_TRUE(BlockMemoryLog());
    memoryLogResetPending = true;
    WriteMemoryLog("dropped %d", 1);
    WriteMemoryLog("dropped %d", 2);
    EXPECT_FALSE(memoryLogResetPending);
    EXPECT_TRUE(IsDirectory("memory.log"));
    std::string kept;
    EXPECT_TRUE(ReadFileBytes("memory.log/keep", &kept) || ReadFileBytes("memory.log\\keep", &kept));
    EXPECT_EQ("keep", kept);
    EXPECT_STREQ("dropped 2", memoryLogLine);
}

TEST_F(MemoryLogTest, WritingAllocatesNothingThroughTheGlobalOperators)
{
    uint32_t before = allocationCounter;
    uint32_t inUse = CountTrackedBlocks();
    memoryLogResetPending = true;
    WriteMemoryLog("%s %d", "counted", 3);
    WriteMemoryLog("again");
    EXPECT_EQ(before, allocationCounter);
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ("counted 3\r\nagain\r\n", Log());
}

// Fresh processes: the reset flag starts set in each run.
TEST_F(MemoryLogTest, TwoFailuresInARunLeaveExactlyTheirTwoLines)
{
    ASSERT_TRUE(WriteFileBytes("memory.log", "Request to deallocate RAM that was never allocated\r\nstale\r\n"));
    ASSERT_EQ(0, RunLogChild({"alloc", "double-delete", "alloc", "refuse-padded"}));
    EXPECT_EQ("Request to deallocate RAM that was never allocated\r\n"
              "Request for allocation failed. Out of memory.\r\n",
              Log());
    // The next run starts afresh again.
    ASSERT_EQ(0, RunLogChild({"refuse-padded"}));
    EXPECT_EQ("Request for allocation failed. Out of memory.\r\n", Log());
}

TEST_F(MemoryLogTest, RunWithoutFailuresLeavesAnEarlierFileUntouched)
{
    const std::string earlier = "Request to deallocate RAM that was never allocated\r\npartial line";
    ASSERT_TRUE(WriteFileBytes("memory.log", earlier));
    ASSERT_EQ(0, RunLogChild({"alloc", "alloc"}));
    EXPECT_EQ(earlier, Log());
}

TEST_F(MemoryLogTest, RunWithoutFailuresCreatesNoFile)
{
    ASSERT_EQ(0, RunLogChild({"alloc"}));
    EXPECT_EQ("<no file>", Log());
}

TEST_F(MemoryLogTest, RunInAnUnwritableDirectoryGoesOnWithoutItsLines)
{
    ASSERT_TRUE(BlockMemoryLog());
    EXPECT_EQ(0, RunLogChild({"double-delete", "refuse-padded", "alloc"}));
    EXPECT_TRUE(IsDirectory("memory.log"));
}

TEST_F(MemoryLogTest, RunInADirectoryItMayNotWriteGoesOnWithoutItsLines)
{
#ifdef _WIN32
    GTEST_SKIP() << "no permissions to take away under Wine; a blocked memory.log stands in";
#else
    ASSERT_EQ(0, chmod(".", 0755));  // the child may come in as another user
    ASSERT_TRUE(MakeDirectory("locked"));
    ASSERT_EQ(0, chmod("locked", 0555));
    ASSERT_EQ(0, chdir("locked"));
    int code = RunLogChild({"double-delete", "refuse-padded", "alloc"}, geteuid() == 0);
    bool written = access("memory.log", F_OK) == 0;
    ASSERT_EQ(0, chdir(".."));
    EXPECT_EQ(0, code);
    EXPECT_FALSE(written);
#endif
}

TEST_F(MemoryLogTest, TheTwoHundredFiftySeventhRecordNeedsASecondUnitBlock)
{
    EXPECT_EQ(0, RunLogChild({"unit-blocks"}));
    EXPECT_EQ("<no file>", Log());
}

}  // namespace
