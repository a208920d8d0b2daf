/* In the Wine desktop DLGPROBE_DESKTOP (FindWindow sees only its own), waits for the setup dialog and prints
 * its (ID 0) and each control's ID LEFT TOP RIGHT BOTTOM TEXT in UTF-8. Exit status 3: no dialog. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static BOOL CALLBACK print_window(HWND window, LPARAM unused)
{
    WCHAR text[256];
    char utf8[1024];
    RECT r;
    GetWindowRect(window, &r);
    GetWindowTextW(window, text, 256);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    printf("%d %ld %ld %ld %ld %s\n", GetDlgCtrlID(window), (long)r.left, (long)r.top, (long)r.right, (long)r.bottom, utf8);
    return unused == 0;
}

int main(void)
{
    HDESK desktop = NULL;
    HWND dialog = NULL;
    for (int waited = 0; waited < 30000 && !(dialog && IsWindowVisible(dialog)); waited += 100) {
        Sleep(100);
        if (!desktop && (desktop = OpenDesktopA(getenv("DLGPROBE_DESKTOP"), 0, FALSE, GENERIC_ALL)) && !SetThreadDesktop(desktop))
            return 4;
        dialog = desktop ? FindWindowA("#32770", "Tavelkin Setup") : NULL; /* visible once initialised */
    }
    if (!dialog || !IsWindowVisible(dialog))
        return 3;
    print_window(dialog, 0);
    EnumChildWindows(dialog, print_window, 0);
    return 0;
}
