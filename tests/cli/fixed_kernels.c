/* A stand-in for libkalvex.so with fixed times, for the orvane-bench tests. Each kernel's time
 * is a whole number of milliseconds that changes from call to call (cycle 1, 2, 3, ... differ),
 * and its result is the exact right one, except:
 *   WRONG_KERNEL=k  kernel k's result is one unit in the last place too large;
 *   BAD_TIME=k      kernel k reports a negative time;
 *   SLOW_KERNEL=k   kernel k's second call writes the file named by ORVANE_TEST_STARTED and
 *                   waits, at most 30 s, until the file named by ORVANE_TEST_RELEASE exists. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

static int calls[7];
static const int milliseconds[7] = {251, 249, 186, 295, 57, 298, 400};

#ifdef SLOW_KERNEL
static void wait_for_release(void)
{
    const char *started = getenv("ORVANE_TEST_STARTED");
    const char *release = getenv("ORVANE_TEST_RELEASE");
    if (!started || !release)
        return;
    FILE *marker = fopen(started, "w");
    if (marker)
        fclose(marker);
    for (int wait = 0; wait < 30000 && access(release, F_OK) != 0; ++wait)
        usleep(1000);
}
#endif

static void give(int kernel, double *result, double *seconds)
{
    static const double results[7] = {
        750000000.0, 150000000.0,        500000001.0 * 250000001.0, 500000001.0 / 250000001.0,
        30712429.0,  3.1415926449823899, 1.0460278636963902};
    const int call = calls[kernel]++;
#ifdef SLOW_KERNEL
    if (kernel == SLOW_KERNEL && call == 1)
        wait_for_release();
#endif
    *seconds = (milliseconds[kernel] + call % 3 * 7 + call % 2 * 3) * 0.001;
    *result = results[kernel];
#ifdef WRONG_KERNEL
    if (kernel == WRONG_KERNEL)
        *result = nextafter(results[kernel], INFINITY);
#endif
#ifdef BAD_TIME
    if (kernel == BAD_TIME)
        *seconds = -0.001;
#endif
}

EXPORT void addition(double *r, double *s)
{
    give(0, r, s);
}
EXPORT void subtraction(double *r, double *s)
{
    give(1, r, s);
}
EXPORT void multiplication(double *r, double *s)
{
    give(2, r, s);
}
EXPORT void division(double *r, double *s)
{
    give(3, r, s);
}
EXPORT void prime(double *r, double *s)
{
    give(4, r, s);
}
EXPORT void pi(double *r, double *s)
{
    give(5, r, s);
}
EXPORT void power(double *r, double *s)
{
    give(6, r, s);
}
