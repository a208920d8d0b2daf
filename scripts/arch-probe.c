#include <stdio.h>

int main(void)
{
    printf("ok %u\n", (unsigned)(sizeof(void *) * 8));
    return 0;
}
