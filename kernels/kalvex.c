/*
 * The loops below are the workload the benchmark reports, so each iteration must really run, in
 * order, in scalar double precision. The build flags forbid vectorisation, contraction into fused
 * multiply-adds and the inlining of floor; accumulators stay in registers and the simple and pi
 * loops store each iteration's value once to a volatile sink, which keeps the compiler from
 * dropping or folding the loop without timing a memory round trip.
 */
#define _POSIX_C_SOURCE 200809L
#include "kalvex.h"

#include "buildrecord.h"

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define SIMPLE_LIMIT 250000001.0

KALVEX_API const char *kalvex_build_record(void)
{
    return "compiler=" KALVEX_RECORD_COMPILER "\n"
           "compiler_version=" KALVEX_RECORD_COMPILER_VERSION "\n"
           "flags=" KALVEX_RECORD_FLAGS "\n"
           "version=" KALVEX_RECORD_VERSION "\n";
}

/* Whole milliseconds of a monotonic clock; the difference of two readings is taken in 32 bits. */
static uint32_t clock_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

static double elapsed_seconds(uint32_t start, uint32_t end)
{
    return (double)(int32_t)(end - start) * 0.001;
}

KALVEX_API void addition(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    volatile double sink;
    double a = 0.0, b = 0.0, i = 1.0;
    do {
        b = b + 1.0;
        a = a + 2.0;
        sink = a + b;
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sink;
}

KALVEX_API void subtraction(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    volatile double sink;
    double a = 300000000.0, b = 200000000.0, i = 1.0;
    do {
        b = b - 1.0;
        a = a - 2.0;
        sink = b - a;
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sink;
}

KALVEX_API void multiplication(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    volatile double sink;
    double a = 1.0, b = 1.0, i = 1.0;
    do {
        b = b + 1.0;
        a = a + 2.0;
        sink = a * b;
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sink;
}

KALVEX_API void division(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    volatile double sink;
    double a = 1.0, b = 1.0, i = 1.0;
    do {
        b = b + 2.0;
        a = a + 1.0;
        sink = b / a;
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sink;
}

KALVEX_API void prime(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    /* Read through a volatile so the constants are loaded, and the square root taken, here,
     * after the first clock reading, instead of being folded in by the compiler. */
    volatile double candidate_in = 943253249333191.0;
    const double candidate = candidate_in;
    const double half = 471626624666595.5;
    double d = 3.0;
    /* The candidate is odd and prime, so neither test below ever succeeds; the search always
     * runs to the bound and stops at the first odd number above the square root. */
    if (floor(half) != half) {
        const double bound = sqrt(candidate);
        while (d <= bound) {
            const double q = candidate / d;
            if (floor(q) == q)
                break;
            d = d + 2.0;
        }
    } else {
        d = 2.0;
    }
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = d;
}

KALVEX_API void pi(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    volatile double sink;
    double sum = 0.0, n = 1.0;
    do {
        sum = sum + 1.0 / (n * n);
        sink = sum;
        n = n + 1.0;
    } while (n < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sqrt(6.0 * sink);
}

KALVEX_API void power(double *result, double *seconds)
{
    const uint32_t start = clock_ms();
    double x = 1.0;
    int32_t i = 2;
    do {
        x = x * 1.0000000001;
        i = i + 1;
    } while ((double)i <= 450000000.0);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = x;
}

/*
 * The checked variants: the same loops, each iteration's results folded into a 64-bit check
 * value instead of stored to a sink. A fold step is a bijection of the check for a given value,
 * and different values give different checks, so a single wrong intermediate result anywhere
 * in a loop changes the final check. The expected checks are constants (IEEE double arithmetic
 * without contraction or excess precision is deterministic); the caller compares them. These
 * loops are not the benchmark's workload: their times are never a score.
 */
#define CHECK_SEED UINT64_C(0xcbf29ce484222325)

static inline uint64_t fold(uint64_t check, double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    return (check ^ bits) * UINT64_C(0x100000001b3);
}

#ifdef KALVEX_FAULT_HOOK
/* For tests of the check only: KALVEX_FAULT="kernel:iteration" flips the last bit of that
 * kernel's folded result at that iteration (kernels counted from 0, iterations from 1). */
static int fault_kernel(void)
{
    const char *fault = getenv("KALVEX_FAULT");
    return fault ? atoi(fault) : -1;
}

static double fault_iteration(void)
{
    const char *fault = getenv("KALVEX_FAULT");
    const char *colon = fault ? strchr(fault, ':') : NULL;
    return colon ? strtod(colon + 1, NULL) : -1.0;
}

static double flipped(double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    bits ^= 1u;
    memcpy(&value, &bits, sizeof value);
    return value;
}

#define FAULT_SETUP(kernel)                                                                        \
    const int faulty = fault_kernel() == (kernel);                                                 \
    const double fault_at = fault_iteration()
#define FAULT(iteration, value)                                                                    \
    do {                                                                                           \
        if (faulty && (iteration) == fault_at)                                                     \
            (value) = flipped(value);                                                              \
    } while (0)
#else
#define FAULT_SETUP(kernel) ((void)0)
#define FAULT(iteration, value) ((void)0)
#endif

KALVEX_API void addition_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(0);
    const uint32_t start = clock_ms();
    uint64_t c = CHECK_SEED;
    double a = 0.0, b = 0.0, i = 1.0, sum;
    do {
        b = b + 1.0;
        a = a + 2.0;
        sum = a + b;
        FAULT(i, sum);
        c = fold(c, sum);
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sum;
    *check = c;
}

KALVEX_API void subtraction_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(1);
    const uint32_t start = clock_ms();
    uint64_t c = CHECK_SEED;
    double a = 300000000.0, b = 200000000.0, i = 1.0, difference;
    do {
        b = b - 1.0;
        a = a - 2.0;
        difference = b - a;
        FAULT(i, difference);
        c = fold(c, difference);
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = difference;
    *check = c;
}

KALVEX_API void multiplication_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(2);
    const uint32_t start = clock_ms();
    uint64_t c = CHECK_SEED;
    double a = 1.0, b = 1.0, i = 1.0, product;
    do {
        b = b + 1.0;
        a = a + 2.0;
        product = a * b;
        FAULT(i, product);
        c = fold(c, product);
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = product;
    *check = c;
}

KALVEX_API void division_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(3);
    const uint32_t start = clock_ms();
    uint64_t c = CHECK_SEED;
    double a = 1.0, b = 1.0, i = 1.0, quotient;
    do {
        b = b + 2.0;
        a = a + 1.0;
        quotient = b / a;
        FAULT(i, quotient);
        c = fold(c, quotient);
        i = i + 1.0;
    } while (i < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = quotient;
    *check = c;
}

KALVEX_API void prime_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(4);
    const uint32_t start = clock_ms();
    volatile double candidate_in = 943253249333191.0;
    const double candidate = candidate_in;
    const double half = 471626624666595.5;
    uint64_t c = CHECK_SEED;
    double d = 3.0;
    if (floor(half) != half) {
        const double bound = sqrt(candidate);
        c = fold(c, bound);
        while (d <= bound) {
            double q = candidate / d;
            /* The iteration number is the divisor's place among the odd numbers. */
            FAULT((d - 1.0) / 2.0, q);
            const double whole = floor(q);
            c = fold(fold(c, q), whole);
            if (whole == q)
                break;
            d = d + 2.0;
        }
    } else {
        d = 2.0;
    }
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = d;
    *check = c;
}

KALVEX_API void pi_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(5);
    const uint32_t start = clock_ms();
    uint64_t c = CHECK_SEED;
    double sum = 0.0, n = 1.0;
    do {
        const double square = n * n;
        double term = 1.0 / square;
        FAULT(n, term);
        sum = sum + term;
        c = fold(fold(fold(c, square), term), sum);
        n = n + 1.0;
    } while (n < SIMPLE_LIMIT);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = sqrt(6.0 * sum);
    *check = c;
}

KALVEX_API void power_checked(double *result, double *seconds, uint64_t *check)
{
    FAULT_SETUP(6);
    const uint32_t start = clock_ms();
    uint64_t c = CHECK_SEED;
    double x = 1.0;
    int32_t i = 2;
    do {
        x = x * 1.0000000001;
        FAULT((double)(i - 1), x);
        c = fold(c, x);
        i = i + 1;
    } while ((double)i <= 450000000.0);
    const uint32_t end = clock_ms();
    *seconds = elapsed_seconds(start, end);
    *result = x;
    *check = c;
}
