/* Joins the Wine virtual desktop named by DLGPROBE_DESKTOP (FindWindow sees only the windows of its
 * own desktop), waits until the setup dialog shows, and prints the dialog's and each control's
 * screen rectangle and text in UTF-8: ID LEFT TOP RIGHT BOTTOM TEXT, the dialog as ID 0.
 * Exit status 3 when no dialog appears. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static BOOL CALLBACK print_window(HWND window, LPARAM unused)
{
    WCHAR text[256];
    char utf8[1024];
    RECT r;
    (void)unused;
    GetWindowRect(window, &r);
    GetWindowTextW(window, text, 256);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    printf("%d %ld %ld %ld %ld %s\n", GetDlgCtrlID(window), (long)r.left, (long)r.top, (long)r.right, (long)r.bottom, utf8);
    return TRUE;
}

int main(void)
{
    HDESK desktop = NULL;
    HWND dialog = NULL;
    int waited;
    for (waited = 0; !desktop && waited < 30000; waited += 100) {
        if (!(desktop = OpenDesktopA(getenv("DLGPROBE_DESKTOP"), 0, FALSE, GENERIC_ALL)))
            Sleep(100);
    }
    if (!desktop || !SetThreadDesktop(desktop))
        return 4;
    /* Visible only once its initialisation is over. */
    for (waited = 0; waited < 30000 && !(dialog && IsWindowVisible(dialog)); waited += 100) {
        Sleep(100);
        dialog = FindWindowA("#32770", "Tavelkin Setup");
    }
    if (!dialog || !IsWindowVisible(dialog))
        return 3;
    print_window(dialog, 0);
    EnumChildWindows(dialog, print_window, 0);
    return 0;
}
