/* Prints when HKCU\Software\Morvessa Soft\Tavelkin was last written (as "written FILETIME"), then each of its values
 * as NAME TYPE HEX-BYTES, exactly as stored (the size of a text included, which `reg query` does not show).
 * Exit status 1: no key. */
#include <windows.h>
#include <stdio.h>

int main(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Morvessa Soft\\Tavelkin", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 1;
    FILETIME written;
    RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &written);
    printf("written %08lx%08lx\n", (unsigned long)written.dwHighDateTime, (unsigned long)written.dwLowDateTime);
    char name[256];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        DWORD size = sizeof data;
        DWORD type;
        if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, data, &size) != ERROR_SUCCESS)
            break;
        printf("%s %lu ", name, (unsigned long)type);
        for (DWORD b = 0; b < size; ++b)
            printf("%02x", data[b]);
        printf("\n");
    }
    RegCloseKey(key);
    return 0;
}
