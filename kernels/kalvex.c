/*
 * The loops below are the workload the benchmark reports, so each iteration must really run, in
 * order, in scalar double precision. The build flags forbid vectorisation, contraction into fused
 * multiply-adds and the inlining of floor; accumulators stay in registers and the simple and pi
 * loops store each iteration's value once to a volatile sink, which keeps the compiler from
 * dropping or folding the loop without timing a memory round trip.
 */
#define _POSIX_C_SOURCE 200809L
#include "kalvex.h"

#include <math.h>
#include <stdint.h>
#include <time.h>

#define SIMPLE_LIMIT 250000001.0

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
