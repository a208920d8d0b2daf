#include "test_support.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#else
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

std::string HexBytes(const void* data, std::size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i != 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
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

namespace {

#ifdef _WIN32
void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0)
                continue;
            std::string child = path + "\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}
#else
void RemoveTree(const std::string& path)
{
    chmod(path.c_str(), 0700);
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            std::string child = path + "/" + entry->d_name;
            struct stat info;
            if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                RemoveTree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}
#endif

}  // namespace

ScratchDirectory::ScratchDirectory() : ok_(false)
{
    char cwd[4096];
#ifdef _WIN32
    if (_getcwd(cwd, sizeof cwd) == nullptr)
        return;
    previous_ = cwd;
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp)
        return;
    static unsigned serial;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%smemtrack-%lu-%u", temp, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(name, nullptr))
            path_ = name;
    }
    ok_ = !path_.empty() && _chdir(path_.c_str()) == 0;
#else
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return;
    previous_ = cwd;
    char name[] = "/tmp/memtrack-XXXXXX";
    if (mkdtemp(name) == nullptr)
        return;
    path_ = name;
    ok_ = chdir(path_.c_str()) == 0;
#endif
}

ScratchDirectory::~ScratchDirectory()
{
    if (previous_.empty())
        return;
#ifdef _WIN32
    _chdir(previous_.c_str());
#else
    if (chdir(previous_.c_str()) != 0)
        std::perror("chdir");
#endif
    if (!path_.empty())
        RemoveTree(path_);
}

bool ReadFileBytes(const char* name, std::string* bytes)
{
    bytes->clear();
    if (IsDirectory(name))
        return false;
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr)
        return false;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) != 0)
        bytes->append(buffer, got);
    std::fclose(file);
    return true;
}

bool WriteFileBytes(const char* name, const std::string& bytes)
{
    std::FILE* file = std::fopen(name, "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool IsDirectory(const char* name)
{
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat info;
    return stat(name, &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

bool MakeDirectory(const char* name)
{
#ifdef _WIN32
    return CreateDirectoryA(name, nullptr) != 0;
#else
    return mkdir(name, 0700) == 0;
#endif
}

bool BlockMemoryLog()
{
#ifdef _WIN32
    const char* inner = "memory.log\\keep";
#else
    const char* inner = "memory.log/keep";
#endif
    return MakeDirectory("memory.log") && WriteFileBytes(inner, "keep");
}

int RunLogChild(const std::vector<std::string>& actions, bool asNobody)
{
#ifdef _WIN32
    if (asNobody)
        return -1;
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self)
        return -1;
    std::string program(self);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "memtrack_log_child.exe";
    std::string commandLine = "\"" + program + "\"";
    for (const std::string& action : actions)
        commandLine += " " + action;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0xdeadbeef;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
#else
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return -1;
    self[length] = '\0';
    std::string program(self);
    program = program.substr(0, program.rfind('/') + 1) + "memtrack_log_child";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& action : actions)
        argv.push_back(const_cast<char*>(action.c_str()));
    argv.push_back(nullptr);
    pid_t child;
    if (asNobody) {
        child = fork();
        if (child == 0) {
            if (setgid(65534) == 0 && setuid(65534) == 0)
                execv(program.c_str(), argv.data());
            _exit(127);
        }
        if (child < 0)
            return -1;
    } else if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
#endif
}

void* Opaque(const void* pointer)
{
    static const void* volatile sink;
    sink = pointer;
    return const_cast<void*>(sink);
}
