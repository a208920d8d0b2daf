/* dlgprobe PROGRAM.exe: in the Wine desktop DLGPROBE_DESKTOP (FindWindow sees only its own), waits for the setup
 * dialog and prints, in UTF-8:
 *   screen DPI WORK_LEFT WORK_TOP WORK_RIGHT WORK_BOTTOM CHECK_BOX_WIDTH
 *   client LEFT TOP RIGHT BOTTOM              the dialog's client area, in screen coordinates
 *   ID LEFT TOP RIGHT BOTTOM TEXT_WIDTH TEXT  the dialog (ID 0), then each control, with its text's width
 * Exit status 3: no dialog; 5: no template font. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static HFONT dialog_font;

/* The font the dialog manager makes from the program's template 102 at this DPI (a font handle cannot cross
 * processes). Run in the program's locale, the probe finds the template of the same language. */
static HFONT template_font(const char* program, int dpi)
{
    HMODULE module = LoadLibraryExA(program, NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(102), (LPCSTR)RT_DIALOG) : NULL;
    const WORD* p = found ? LockResource(LoadResource(module, found)) : NULL;
    if (!p || p[1] != 0xFFFF) /* a DLGTEMPLATEEX */
        return NULL;
    p += 13;                                  /* its fixed header */
    for (int field = 0; field < 3; ++field) { /* menu, class, caption: an ordinal or a string */
        if (*p == 0xFFFF)
            p += 2;
        else
            while (*p++)
                ;
    }
    return CreateFontW(-MulDiv(p[0], dpi, 72), 0, 0, 0, p[1], LOBYTE(p[2]), FALSE, FALSE, HIBYTE(p[2]),
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, (const WCHAR*)(p + 3));
}

static BOOL CALLBACK print_window(HWND window, LPARAM unused)
{
    WCHAR text[256];
    char utf8[1024];
    RECT r;
    SIZE extent = {0, 0};
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, dialog_font);
    int length = GetWindowTextW(window, text, 256);
    GetTextExtentPoint32W(dc, text, length, &extent);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    GetWindowRect(window, &r);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    printf("%d %ld %ld %ld %ld %ld %s\n", GetDlgCtrlID(window), (long)r.left, (long)r.top, (long)r.right,
           (long)r.bottom, (long)extent.cx, utf8);
    return unused == 0;
}

int main(int argc, char** argv)
{
    HDESK desktop = NULL;
    HWND dialog = NULL;
    for (int waited = 0; waited < 30000 && !(dialog && IsWindowVisible(dialog)); waited += 100) {
        Sleep(100);
        if (!desktop) {
            desktop = OpenDesktopA(getenv("DLGPROBE_DESKTOP"), 0, FALSE, GENERIC_ALL);
            if (desktop && !SetThreadDesktop(desktop))
                return 4;
        }
        if (desktop)
            dialog = FindWindowA("#32770", "Tavelkin Setup"); /* visible once initialised */
    }
    if (!dialog || !IsWindowVisible(dialog))
        return 3;

    RECT work, client;
    HDC screen = GetDC(NULL);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    dialog_font = template_font(argc > 1 ? argv[1] : "", dpi);
    if (!dialog_font)
        return 5;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    printf("screen %d %ld %ld %ld %ld %d\n", dpi, (long)work.left, (long)work.top, (long)work.right, (long)work.bottom,
           GetSystemMetrics(SM_CXMENUCHECK));
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, NULL, (POINT*)&client, 2);
    printf("client %ld %ld %ld %ld\n", (long)client.left, (long)client.top, (long)client.right, (long)client.bottom);
    print_window(dialog, 0);
    EnumChildWindows(dialog, print_window, 0);
    return 0;
}
