/*
 * kalvex-bench: runs every kernel of libkalvex.so N times (default 5) and prints, per kernel and
 * for the whole cycle, the minimum, median and maximum seconds and the spread (max - min) / median.
 * Usage: kalvex-bench [N]
 */
#include "kalvex.h"

#include <stdio.h>
#include <stdlib.h>

#define KERNELS 7
#define MAX_RUNS 100

static int compare(const void *a, const void *b)
{
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static void report(const char *name, double *values, int n)
{
    qsort(values, (size_t)n, sizeof *values, compare);
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    const double spread = median > 0.0 ? (values[n - 1] - values[0]) / median : 0.0;
    printf("%-15s %8.3f %8.3f %8.3f %7.2f%%\n", name, values[0], median, values[n - 1],
           spread * 100.0);
}

int main(int argc, char **argv)
{
    static void (*const kernels[KERNELS])(double *, double *) = {
        addition, subtraction, multiplication, division, prime, pi, power};
    static const char *const names[KERNELS] = {
        "addition", "subtraction", "multiplication", "division", "prime", "pi", "power"};
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    if (runs < 1 || runs > MAX_RUNS) {
        fprintf(stderr, "usage: kalvex-bench [runs, 1 to %d]\n", MAX_RUNS);
        return 2;
    }

    double seconds[KERNELS][MAX_RUNS];
    double cycles[MAX_RUNS];
    for (int r = 0; r < runs; ++r) {
        cycles[r] = 0.0;
        for (int k = 0; k < KERNELS; ++k) {
            double result = 0.0;
            kernels[k](&result, &seconds[k][r]);
            cycles[r] += seconds[k][r];
        }
    }

    printf("%d runs\n%-15s %8s %8s %8s %8s\n", runs, "kernel", "min", "median", "max", "spread");
    for (int k = 0; k < KERNELS; ++k)
        report(names[k], seconds[k], runs);
    report("cycle", cycles, runs);
    return 0;
}
