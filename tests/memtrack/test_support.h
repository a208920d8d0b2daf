// Helpers shared by the tracker's tests: byte dumps, a scratch current
// directory per test, file access, and the fresh-process log helper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "CE FA ED FE" style dump, for failure messages that show the actual bytes.
std::string HexBytes(const void* data, std::size_t length);
// The dump of a 32-bit pattern laid out little-endian over length bytes.
std::string PatternHex(uint32_t pattern, std::size_t length);

// Creates a fresh directory under the temporary directory and makes it current;
// on destruction returns to the previous directory and removes it whole.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

private:
    std::string previous_;
    std::string path_;
    bool ok_;
};

// False when the file cannot be read (missing, or a directory).
bool ReadFileBytes(const char* name, std::string* bytes);
bool WriteFileBytes(const char* name, const std::string& bytes);
bool IsDirectory(const char* name);
bool MakeDirectory(const char* name);
// Makes "memory.log" a directory holding a file, so that it can be neither
// deleted nor opened for appending, whoever runs the test.
bool BlockMemoryLog();

// Runs memtrack_log_child (beside this executable) in the current directory
// with the given actions; its exit code, or -1 when it could not be run.
// asNobody (POSIX, when running as root): the child runs as user "nobody",
// so that directory permissions apply to it.
int RunLogChild(const std::vector<std::string>& actions, bool asNobody = false);

// Returns the pointer through a volatile store, hiding its origin from the
// compiler: the tests misuse some addresses on purpose (double release, an
// address inside a body), which it would otherwise warn about.
void* Opaque(const void* pointer);
