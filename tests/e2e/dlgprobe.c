/* Looks at the running setup dialog from inside the same Wine desktop and prints
 * what an end-to-end script needs to drive and check it:
 *   dlgprobe rects      screen rectangle of every child control: ID L T R B
 *   dlgprobe state      selections, check states and trackbar positions: ID VALUE
 *   dlgprobe texts      control and caption texts in UTF-8: ID TEXT
 *   dlgprobe items ID   the items of a combo box in UTF-8, one per line
 *   dlgprobe item N     screen rectangle of item N of the dropped-down combo box
 *   dlgprobe thumb ID   screen rectangle of a trackbar's thumb
 *   dlgprobe channel ID screen rectangle of a trackbar's channel
 *   dlgprobe focus      the identifier of the control that has the keyboard focus
 *   dlgprobe gone       waits until the dialog has closed
 * With DLGPROBE_DESKTOP=NAME it joins that Wine virtual desktop first, since
 * FindWindow sees only the windows of its own desktop. Output goes to the file
 * named by DLGPROBE_OUT when set. Exit status 3 when no dialog appears. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static FILE *out;

static HWND find_dialog(int wait_ms)
{
    int waited = 0;
    for (;;) {
        /* Visible only once its initialisation is over. */
        HWND h = FindWindowA("#32770", "Tavelkin Setup");
        if ((h && IsWindowVisible(h)) || waited >= wait_ms)
            return h;
        Sleep(100);
        waited += 100;
    }
}

static void print_utf8(const WCHAR *text)
{
    char buf[1024];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof(buf), NULL, NULL);
    fprintf(out, "%s", buf);
}

static BOOL CALLBACK each_child(HWND child, LPARAM what)
{
    char cls[64];
    int id = GetDlgCtrlID(child);
    GetClassNameA(child, cls, sizeof(cls));
    if (what == 'r') {
        RECT r;
        GetWindowRect(child, &r);
        fprintf(out, "%d %ld %ld %ld %ld\n", id, (long)r.left, (long)r.top, (long)r.right, (long)r.bottom);
    } else if (what == 's') {
        long v;
        if (!lstrcmpiA(cls, "ComboBox"))
            v = (long)SendMessageA(child, CB_GETCURSEL, 0, 0);
        else if (!lstrcmpiA(cls, TRACKBAR_CLASSA))
            v = (long)SendMessageA(child, TBM_GETPOS, 0, 0);
        else if (!lstrcmpiA(cls, "Button") && (GetWindowLongA(child, GWL_STYLE) & 0xF) == BS_AUTOCHECKBOX)
            v = (long)SendMessageA(child, BM_GETCHECK, 0, 0);
        else
            return TRUE;
        fprintf(out, "%d %ld\n", id, v);
    } else if (what == 't') {
        WCHAR text[512];
        GetWindowTextW(child, text, 512);
        fprintf(out, "%d ", id);
        print_utf8(text);
        fprintf(out, "\n");
    }
    return TRUE;
}

/* Sends a message whose lParam points to a structure the window fills in.
 * Such messages are not marshalled between processes, so the structure lives
 * in the window's own process and is copied in and out. */
static LRESULT remote_send(HWND window, UINT message, WPARAM wparam, void *data, SIZE_T size)
{
    DWORD pid;
    HANDLE process;
    void *remote;
    LRESULT result;
    GetWindowThreadProcessId(window, &pid);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    remote = process ? VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE) : NULL;
    if (!remote)
        return 0;
    WriteProcessMemory(process, remote, data, size, NULL);
    result = SendMessageA(window, message, wparam, (LPARAM)remote);
    ReadProcessMemory(process, remote, data, size, NULL);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return result;
}

/* A client rectangle of a window, in screen coordinates. */
static void print_rect(HWND owner, RECT *r)
{
    MapWindowPoints(owner, NULL, (POINT *)r, 2);
    fprintf(out, "%ld %ld %ld %ld\n", (long)r->left, (long)r->top, (long)r->right, (long)r->bottom);
}

int main(int argc, char **argv)
{
    HWND dlg;
    const char *path = getenv("DLGPROBE_OUT");
    const char *desktop = getenv("DLGPROBE_DESKTOP");
    if (desktop) {
        /* The desktop appears with the program that is being started. */
        HDESK d = NULL;
        int waited;
        for (waited = 0; !d && waited < 30000; waited += 100) {
            d = OpenDesktopA(desktop, 0, FALSE, GENERIC_ALL);
            if (!d)
                Sleep(100);
        }
        if (!d || !SetThreadDesktop(d))
            return 4;
    }
    out = path ? fopen(path, "w") : stdout;
    if (!out)
        return 2;
    if (argc < 2)
        return 2;
    if (!strcmp(argv[1], "gone")) {
        int waited = 0;
        while (FindWindowA("#32770", "Tavelkin Setup") && waited < 30000) {
            Sleep(100);
            waited += 100;
        }
        fprintf(out, "%s\n", waited < 30000 ? "gone" : "still open");
        return waited < 30000 ? 0 : 1;
    }
    dlg = find_dialog(30000);
    if (!dlg) {
        fprintf(out, "no dialog\n");
        return 3;
    }
    if (!strcmp(argv[1], "rects")) {
        RECT r;
        GetWindowRect(dlg, &r);
        fprintf(out, "0 %ld %ld %ld %ld\n", (long)r.left, (long)r.top, (long)r.right, (long)r.bottom);
        EnumChildWindows(dlg, each_child, 'r');
    } else if (!strcmp(argv[1], "state")) {
        EnumChildWindows(dlg, each_child, 's');
    } else if (!strcmp(argv[1], "texts")) {
        WCHAR text[512];
        GetWindowTextW(dlg, text, 512);
        fprintf(out, "0 ");
        print_utf8(text);
        fprintf(out, "\n");
        EnumChildWindows(dlg, each_child, 't');
    } else if (!strcmp(argv[1], "items") && argc > 2) {
        HWND combo = GetDlgItem(dlg, atoi(argv[2]));
        int i, n = (int)SendMessageW(combo, CB_GETCOUNT, 0, 0);
        for (i = 0; i < n; ++i) {
            WCHAR text[512];
            SendMessageW(combo, CB_GETLBTEXT, i, (LPARAM)text);
            print_utf8(text);
            fprintf(out, "\n");
        }
    } else if (!strcmp(argv[1], "item") && argc > 2) {
        /* The dropped-down list of a combo box is a top-level "ComboLBox" window. */
        HWND list = NULL;
        RECT r;
        while ((list = FindWindowExA(NULL, list, "ComboLBox", NULL)) && !IsWindowVisible(list))
            ;
        if (!list)
            return 6;
        /* A standard list box message: Wine marshals it between processes. */
        if (SendMessageA(list, LB_GETITEMRECT, atoi(argv[2]), (LPARAM)&r) == LB_ERR)
            return 5;
        print_rect(list, &r);
    } else if ((!strcmp(argv[1], "thumb") || !strcmp(argv[1], "channel")) && argc > 2) {
        HWND bar = GetDlgItem(dlg, atoi(argv[2]));
        RECT r;
        remote_send(bar, argv[1][0] == 't' ? TBM_GETTHUMBRECT : TBM_GETCHANNELRECT, 0, &r, sizeof(r));
        print_rect(bar, &r);
    } else if (!strcmp(argv[1], "focus")) {
        GUITHREADINFO info;
        info.cbSize = sizeof(info);
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(dlg, NULL), &info))
            return 5;
        fprintf(out, "%d\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
    } else {
        return 2;
    }
    if (out != stdout)
        fclose(out);
    return 0;
}
