// Times the utility's start-up: from just before CreateProcess until its dialog
// becomes visible, against two dialog programs started the same way: its floor
// (floor_dialog.exe: the same DirectDraw and Direct3D walk with callbacks that
// keep nothing, then a small dialog) and a minimal dialog program
// (minimal_dialog.exe, the small dialog alone). The programs run in turn, after
// one warm-up run each, so that the utility's measured runs read its settings
// rather than write them. Every dialog is closed with Cancel; settings that only
// the warm-up wrote are removed at the end.
//
//   startup_bench.exe [--runs N] [--timeline] [--setup PATH]
//
// By default the utility is ..\..\TavelkinSetup.exe and the other two are
// beside this program (their places in the build tree). --timeline prints every window that each program creates and
// shows in its first measured run. Exit status 0 when every dialog appeared
// and every program ended; 1 otherwise; 2 for a bad command line.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kShowTimeoutMs = 60000;
const DWORD kExitTimeoutMs = 30000;
const wchar_t kSettingsKey[] = L"Software\\Morvessa Soft\\Tavelkin";
const wchar_t kVendorKey[] = L"Software\\Morvessa Soft";

double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerMs;
}

std::string Narrow(const wchar_t* text)
{
    char buf[512];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr))
        buf[0] = '\0';
    return buf;
}

// What one run has seen of its process's windows, in ms from just before CreateProcess.
struct RunWatch {
    DWORD pid = 0;
    DWORD mainThread = 0;
    const wchar_t* caption = nullptr;
    double start = 0;
    double firstWindow = -1;
    double dialogCreated = -1;
    double shown = -1;
    HWND dialog = nullptr;
    bool recordTimeline = false;
    std::vector<std::string> timeline;
};

RunWatch g_watch;

// Whether the event comes from the watched process. The window may already be
// gone (short-lived helper windows), so the event's thread decides then.
bool FromWatchedProcess(HWND hwnd, DWORD eventThread)
{
    DWORD pid = 0;
    if (::GetWindowThreadProcessId(hwnd, &pid) && pid)
        return pid == g_watch.pid;
    if (eventThread == g_watch.mainThread)
        return true;
    HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, eventThread);
    if (!thread)
        return false;
    pid = ::GetProcessIdOfThread(thread);
    ::CloseHandle(thread);
    return pid == g_watch.pid;
}

bool IsWatchedDialog(HWND hwnd)
{
    wchar_t cls[64], text[128];
    if (::GetAncestor(hwnd, GA_PARENT) != ::GetDesktopWindow())
        return false;
    if (!::GetClassNameW(hwnd, cls, 64) || wcscmp(cls, L"#32770"))
        return false;
    ::GetWindowTextW(hwnd, text, 128);
    return !wcscmp(text, g_watch.caption);
}

void Note(const char* what, HWND hwnd, double at)
{
    if (!g_watch.recordTimeline)
        return;
    wchar_t cls[64] = L"?", text[64] = L"";
    ::GetClassNameW(hwnd, cls, 64);
    ::GetWindowTextW(hwnd, text, 64);
    const char* kind = ::GetAncestor(hwnd, GA_PARENT) == ::GetDesktopWindow() ? ""
                       : ::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD              ? " (child)"
                                                                                   : " (message-only)";
    char line[400];
    snprintf(line, sizeof line, "%9.1f ms  %-7s %-24s \"%s\"%s", at, what, Narrow(cls).c_str(),
             Narrow(text).c_str(), kind);
    g_watch.timeline.push_back(line);
}

void NoteShown(double at)
{
    g_watch.shown = at;
    Note("visible", g_watch.dialog, at);
}

// Out-of-context: the event is queued to this thread, which picks it up at once
// because it waits in MsgWaitForMultipleObjects. Wine 8 reports window creation
// but not showing, so the dialog's visibility is also polled (see RunOnce).
void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject, LONG idChild,
                         DWORD eventThread, DWORD)
{
    const double at = NowMs() - g_watch.start;
    if (!g_watch.pid || !hwnd || idObject != OBJID_WINDOW || idChild != CHILDID_SELF)
        return;
    if (event != EVENT_OBJECT_CREATE && event != EVENT_OBJECT_SHOW)
        return;
    if (!FromWatchedProcess(hwnd, eventThread))
        return;
    if (event == EVENT_OBJECT_CREATE) {
        Note("create", hwnd, at);
        if (g_watch.firstWindow < 0)
            g_watch.firstWindow = at;
        if (!g_watch.dialog && IsWatchedDialog(hwnd)) {
            g_watch.dialog = hwnd;
            g_watch.dialogCreated = at;
        }
    } else if (hwnd == g_watch.dialog && g_watch.shown < 0 && ::IsWindowVisible(hwnd)) {
        NoteShown(at);
    }
}

// Dispatches queued messages (and so win events) until done() holds, the
// process ends, or the deadline passes; waits at most pollMs between checks
// while poll() asks for it. True when done() holds.
template <typename Done, typename Poll>
bool PumpUntil(HANDLE process, double deadline, Done done, Poll poll)
{
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        if (done())
            return true;
        const double left = deadline - NowMs();
        if (left <= 0)
            return false;
        const DWORD wait = poll() ? 1 : static_cast<DWORD>(left) + 1;
        const DWORD r = ::MsgWaitForMultipleObjects(1, &process, FALSE, wait, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&msg);
            return done();
        }
        if (r == WAIT_FAILED)
            return false;
    }
}

struct Program {
    const char* label;
    std::wstring path;
    const wchar_t* caption;
    std::vector<double> firstWindow, dialogCreated, shown, shutdown;
};

// One start: CreateProcess, wait for the dialog, Cancel it, wait for the end.
bool RunOnce(Program& program, bool measured, bool timeline)
{
    g_watch = RunWatch();
    g_watch.caption = program.caption;
    g_watch.recordTimeline = timeline;

    std::wstring commandLine = L"\"" + program.path + L"\"";
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    g_watch.start = NowMs();
    if (!::CreateProcessW(program.path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &si, &pi)) {
        fprintf(stderr, "%s: CreateProcess failed, error %lu\n", program.label, ::GetLastError());
        return false;
    }
    g_watch.pid = pi.dwProcessId;
    g_watch.mainThread = pi.dwThreadId;

    // Once the dialog exists, its visibility is checked every millisecond: the
    // shown time is late by at most that (plus one server round trip).
    const auto shown = [] {
        if (g_watch.shown < 0 && g_watch.dialog && ::IsWindowVisible(g_watch.dialog))
            NoteShown(NowMs() - g_watch.start);
        return g_watch.shown >= 0;
    };
    const auto polling = [] { return g_watch.dialog != nullptr; };
    bool ok = PumpUntil(pi.hProcess, g_watch.start + kShowTimeoutMs, shown, polling);
    double closedAt = 0, endedAt = 0;
    if (!ok) {
        DWORD code = 0xdeadbeef;
        ::GetExitCodeProcess(pi.hProcess, &code);
        fprintf(stderr, "%s: no visible dialog \"%s\" (process %s, exit code 0x%lx)\n", program.label,
                Narrow(program.caption).c_str(), code == STILL_ACTIVE ? "still running" : "ended", code);
        if (code == STILL_ACTIVE)
            ::TerminateProcess(pi.hProcess, 1);
    } else {
        closedAt = NowMs();
        ::PostMessageW(g_watch.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        ok = ::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 ||
             PumpUntil(pi.hProcess, closedAt + kExitTimeoutMs,
                       [&] { return ::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; },
                       [] { return false; });
        endedAt = NowMs();
        if (!ok) {
            fprintf(stderr, "%s: still running %lu ms after Cancel\n", program.label, kExitTimeoutMs);
            ::TerminateProcess(pi.hProcess, 1);
        }
    }
    ::WaitForSingleObject(pi.hProcess, kExitTimeoutMs);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    g_watch.pid = 0;

    if (ok && measured) {
        program.firstWindow.push_back(g_watch.firstWindow);
        program.dialogCreated.push_back(g_watch.dialogCreated);
        program.shown.push_back(g_watch.shown);
        program.shutdown.push_back(endedAt - closedAt);
    }
    if (timeline) {
        printf("Timeline of %s (ms from just before CreateProcess):\n", program.label);
        for (const std::string& line : g_watch.timeline)
            printf("  %s\n", line.c_str());
        if (ok)
            printf("  %9.1f ms  ended after Cancel\n", g_watch.shown + (endedAt - closedAt));
    }
    return ok;
}

// Median, min and max of the samples that were seen (an event missed gives -1).
struct Summary {
    double median = -1, min = -1, max = -1;
};

Summary Summarise(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return x < 0; }), v.end());
    Summary s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

bool KeyExists(const wchar_t* path)
{
    HKEY key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::wstring BesideThisProgram(const wchar_t* relative)
{
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    dir.erase(dir.find_last_of(L"\\/") + 1);
    wchar_t full[MAX_PATH];
    if (!::GetFullPathNameW((dir + relative).c_str(), MAX_PATH, full, nullptr))
        return dir + relative;
    return full;
}

std::wstring Widen(const char* text)
{
    wchar_t buf[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, buf, MAX_PATH))
        buf[0] = L'\0';
    return buf;
}

int Usage()
{
    fprintf(stderr, "usage: startup_bench [--runs N] [--timeline] [--setup PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 15;
    bool timeline = false;
    Program setup{"TavelkinSetup", BesideThisProgram(L"..\\..\\TavelkinSetup.exe"), L"Tavelkin Setup", {}, {}, {}, {}};
    Program floor{"floor_dialog", BesideThisProgram(L"floor_dialog.exe"), L"Startup Baseline", {}, {}, {}, {}};
    Program baseline{"minimal_dialog", BesideThisProgram(L"minimal_dialog.exe"), L"Startup Baseline", {}, {}, {}, {}};
    Program* const programs[] = {&setup, &floor, &baseline};
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--timeline")) {
            timeline = true;
        } else if (i + 1 < argc && !strcmp(argv[i], "--runs")) {
            runs = atoi(argv[++i]);
            if (runs < 1)
                return Usage();
        } else if (i + 1 < argc && !strcmp(argv[i], "--setup")) {
            setup.path = Widen(argv[++i]);
        } else {
            return Usage();
        }
    }

    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, OnWinEvent, 0, 0,
                                           WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (!hook) {
        fprintf(stderr, "SetWinEventHook failed, error %lu\n", ::GetLastError());
        return 1;
    }

    for (const Program* p : programs)
        printf("%-15s %s\n", p->label, Narrow(p->path.c_str()).c_str());
    const bool vendorBefore = KeyExists(kVendorKey);
    const bool keyBefore = KeyExists(kSettingsKey);
    bool ok = true;
    for (Program* p : programs)
        ok = ok && RunOnce(*p, false, false);
    const bool keyAfter = KeyExists(kSettingsKey);
    if (ok)
        printf("Settings key HKCU\\%s: %s; the measured runs are %s.\n", Narrow(kSettingsKey).c_str(),
               keyBefore ? "present before the warm-up runs" : keyAfter ? "written by the warm-up run" : "missing",
               keyAfter ? "later runs that read it" : "first runs");
    fflush(stdout);

    for (int i = 0; ok && i < runs; ++i) {
        for (Program* p : programs)
            ok = ok && RunOnce(*p, true, timeline && i == 0);
        fflush(stdout);
    }
    ::UnhookWinEvent(hook);
    // Leave the prefix as it was found: only Cancel was pressed, so the first
    // run's values are all that was written.
    if (!keyBefore) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
        if (!vendorBefore)
            ::RegDeleteKeyW(HKEY_CURRENT_USER, kVendorKey);
    }
    if (!ok) {
        fprintf(stderr, "stopped: a run failed\n");
        return 1;
    }

    printf("\n%d runs of each, in turn, after one warm-up run each; ms from just before CreateProcess.\n", runs);
    printf("%-15s %13s %15s %33s %10s\n", "", "first window", "dialog created", "dialog shown", "shutdown");
    printf("%-15s %13s %15s %11s %10s %10s %10s\n", "program", "median", "median", "median", "min", "max", "median");
    for (const Program* p : programs) {
        const Summary first = Summarise(p->firstWindow), created = Summarise(p->dialogCreated),
                      shown = Summarise(p->shown), down = Summarise(p->shutdown);
        printf("%-15s %13.1f %15.1f %11.1f %10.1f %10.1f %10.1f\n", p->label, first.median, created.median,
               shown.median, shown.min, shown.max, down.median);
    }
    const double shown = Summarise(setup.shown).median;
    printf("\nratio of median start-up (dialog shown), TavelkinSetup / floor_dialog: %.2f\n",
           shown / Summarise(floor.shown).median);
    printf("ratio of median start-up (dialog shown), TavelkinSetup / minimal_dialog: %.2f\n",
           shown / Summarise(baseline.shown).median);
    return 0;
}
