/* Prints every value of a registry key under HKEY_CURRENT_USER exactly as stored:
 * one line per value in enumeration order: NAME TYPE SIZE HEXBYTES, then a line
 * LASTWRITE with the key's last write time (it changes with every value written).
 * Exit status 3 when the key does not exist. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    HKEY key;
    DWORD index;
    if (argc != 2) {
        fprintf(stderr, "usage: regdump SUBKEY\n");
        return 2;
    }
    if (RegOpenKeyExA(HKEY_CURRENT_USER, argv[1], 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        printf("NO KEY\n");
        return 3;
    }
    for (index = 0;; ++index) {
        char name[256];
        static BYTE data[65536];
        DWORD nameLen = sizeof(name), type = 0, size = sizeof(data), i;
        LONG rc = RegEnumValueA(key, index, name, &nameLen, NULL, &type, data, &size);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS) {
            printf("ERROR %ld at %lu\n", (long)rc, (unsigned long)index);
            break;
        }
        printf("%s %lu %lu ", name, (unsigned long)type, (unsigned long)size);
        for (i = 0; i < size; ++i)
            printf("%02X", data[i]);
        printf("\n");
    }
    {
        FILETIME written;
        RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &written);
        printf("LASTWRITE %08lX%08lX\n", (unsigned long)written.dwHighDateTime, (unsigned long)written.dwLowDateTime);
    }
    RegCloseKey(key);
    return 0;
}
