/*
 * kalvex: the timed arithmetic kernels of the Orvane benchmark.
 *
 * Each entry point runs one fixed double-precision loop between two readings of a monotonic
 * millisecond clock and writes the elapsed time, then the loop's last value, through the two
 * pointers it is given. The functions take no input and keep no state, so every call does exactly
 * the same work; the program loads this library at its first kernel call and binds the names below.
 */
#ifndef KALVEX_H
#define KALVEX_H

#if defined(KALVEX_BUILDING)
#define KALVEX_API __attribute__((visibility("default")))
#else
#define KALVEX_API
#endif

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 250,000,000 additions; result 750000000. */
KALVEX_API void addition(double *result, double *seconds);
/* 250,000,000 subtractions; result 150000000. */
KALVEX_API void subtraction(double *result, double *seconds);
/* 250,000,000 multiplications; result 500000001 * 250000001 rounded to double. */
KALVEX_API void multiplication(double *result, double *seconds);
/* 250,000,000 divisions; result 500000001 / 250000001. */
KALVEX_API void division(double *result, double *seconds);
/* Trial division of 943253249333191 by the odd numbers up to its square root; result 30712429. */
KALVEX_API void prime(double *result, double *seconds);
/* sqrt(6 * sum of 1/n^2, n = 1 .. 250,000,000); result 3.14159264498239. */
KALVEX_API void pi(double *result, double *seconds);
/* 449,999,999 multiplications by 1.0000000001; result 1.0460278636963902. */
KALVEX_API void power(double *result, double *seconds);

/* How this copy of the library was built, as "key=value" lines: compiler, compiler_version,
 * flags and version. */
KALVEX_API const char *kalvex_build_record(void);

/*
 * The checked variants, for burn-in runs: the same loops and the same result, with every
 * iteration's results folded into a 64-bit check value written through the third pointer. Any
 * wrong intermediate result changes the check, whose exact value is a constant the caller
 * knows. Their times include the folding: they are not the benchmark's times, and no score is
 * formed from them.
 */
KALVEX_API void addition_checked(double *result, double *seconds, uint64_t *check);
KALVEX_API void subtraction_checked(double *result, double *seconds, uint64_t *check);
KALVEX_API void multiplication_checked(double *result, double *seconds, uint64_t *check);
KALVEX_API void division_checked(double *result, double *seconds, uint64_t *check);
KALVEX_API void prime_checked(double *result, double *seconds, uint64_t *check);
KALVEX_API void pi_checked(double *result, double *seconds, uint64_t *check);
KALVEX_API void power_checked(double *result, double *seconds, uint64_t *check);

#ifdef __cplusplus
}
#endif

#endif /* KALVEX_H */
