// The Windows tests run in a working directory of their own, where memory.log lands; removed afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const std::filesystem::path previous = std::filesystem::current_path(),
                                scratch = std::filesystem::temp_directory_path() / ("tavelkin-tests-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);
    const int result = RUN_ALL_TESTS();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(scratch);
    return result;
}
