/* A plain C caller: the header must compile as C and the library must be callable from it. */
#include "kalvex.h"

#include <stdio.h>

int main(void)
{
    double result = -1.0;
    double seconds = -1.0;
    prime(&result, &seconds);
    if (result != 30712429.0 || seconds < 0.0) {
        fprintf(stderr, "prime gave %.17g after %.3f s\n", result, seconds);
        return 1;
    }
    printf("prime: %.0f in %.3f s\n", result, seconds);
    return 0;
}
