/* A stand-in for libkalvex.so with fixed times, for the orvane-bench tests. Each kernel's time
 * is a whole number of milliseconds that changes from call to call (cycle 1, 2, 3, ... differ),
 * and its result (and, for the checked variants, its check value) is the exact right one,
 * except:
 *   WRONG_KERNEL=k   kernel k's result is one unit in the last place too large;
 *   WRONG_CHECK=k    kernel k's checked variant gives the right result but a wrong check;
 *   WRONG_ON_CPU=c   every result is wrong when the kernel runs on processor c;
 *   BAD_TIME=k       kernel k reports the time in ORVANE_TEST_BAD_SECONDS (else -0.001);
 *   SLOW_KERNEL=k    kernel k's second call writes the file named by ORVANE_TEST_STARTED and
 *                    waits, at most 60 s, until the file named by ORVANE_TEST_RELEASE exists. */
#define _GNU_SOURCE
#include <math.h>
#include <sched.h>
#include <stdint.h>
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
    for (int wait = 0; wait < 60000 && access(release, F_OK) != 0; ++wait)
        usleep(1000);
}
#endif

static void give(int kernel, double *result, double *seconds, uint64_t *check)
{
    static const double results[7] = {
        750000000.0, 150000000.0,        500000001.0 * 250000001.0, 500000001.0 / 250000001.0,
        30712429.0,  3.1415926449823899, 1.0460278636963902};
    static const uint64_t checks[7] = {UINT64_C(0xaf0fcc5c58bdd525), UINT64_C(0x7341adeceb3dd525),
                                       UINT64_C(0x9135fba9fc770245), UINT64_C(0x833a92fc36d0ebb7),
                                       UINT64_C(0xcb2a5551009410dd), UINT64_C(0xacf387ae5a2754ae),
                                       UINT64_C(0x47c275c1869eda59)};
    const int call = __atomic_fetch_add(&calls[kernel], 1, __ATOMIC_RELAXED);
#ifdef SLOW_KERNEL
    if (kernel == SLOW_KERNEL && call == 1)
        wait_for_release();
#endif
    *seconds = (milliseconds[kernel] + call % 3 * 7 + call % 2 * 3) * 0.001;
    *result = results[kernel];
    if (check)
        *check = checks[kernel];
#ifdef WRONG_KERNEL
    if (kernel == WRONG_KERNEL)
        *result = nextafter(results[kernel], INFINITY);
#endif
#ifdef WRONG_CHECK
    if (kernel == WRONG_CHECK && check)
        *check ^= 1u;
#endif
#ifdef WRONG_ON_CPU
    if (sched_getcpu() == WRONG_ON_CPU) {
        *result = nextafter(results[kernel], INFINITY);
        if (check)
            *check ^= 1u;
    }
#endif
#ifdef BAD_TIME
    if (kernel == BAD_TIME) {
        const char *bad = getenv("ORVANE_TEST_BAD_SECONDS");
        *seconds = bad ? strtod(bad, NULL) : -0.001;
    }
#endif
}

#define KERNEL(name, index)                                                                        \
    EXPORT void name(double *r, double *s)                                                         \
    {                                                                                              \
        give(index, r, s, NULL);                                                                   \
    }                                                                                              \
    EXPORT void name##_checked(double *r, double *s, uint64_t *c)                                  \
    {                                                                                              \
        give(index, r, s, c);                                                                      \
    }

KERNEL(addition, 0)
KERNEL(subtraction, 1)
KERNEL(multiplication, 2)
KERNEL(division, 3)
KERNEL(prime, 4)
KERNEL(pi, 5)
KERNEL(power, 6)
