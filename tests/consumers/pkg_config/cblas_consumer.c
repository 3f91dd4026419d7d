/* A plain C program built with the flags of `pkg-config --cflags --libs
 * vorte_blas`: a row-major cblas_sgemm with A transposed and a column-major
 * sgemv_ in the reference form, each compared with a double-precision loop.
 * Exit status 0 when both agree. */
#include <math.h>
#include <orb_blas.h>
#include <stdio.h>

enum { M = 23, N = 31, K = 45 };

static float a[K * M], b[K * N], c[M * N], x[N], y[M];

static void fill(float *v, int count, unsigned seed) {
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = (float)((seed >> 8) & 0xFFFF) / 32768.0f - 1.0f;
    }
}

static int wrong(float value, double expected) { return fabs(value - expected) > 1e-5 * (1 + fabs(expected)); }

int main(void) {
    int bad = 0;
    fill(a, K * M, 1);
    fill(b, K * N, 2);
    fill(x, N, 3);
    /* C (M x N, row-major) := A' B with A stored K x M and B stored K x N. */
    cblas_sgemm(CblasRowMajor, CblasTrans, CblasNoTrans, M, N, K, 1.0f, a, M, b, N, 0.0f, c, N);
    for (int i = 0; i < M; ++i)
        for (int j = 0; j < N; ++j) {
            double sum = 0;
            for (int l = 0; l < K; ++l) sum += (double)a[l * M + i] * b[l * N + j];
            bad += wrong(c[i * N + j], sum);
        }
    /* y := A x, A being C's storage read column-major as an M x N matrix (lda = M). */
    const int m = M, n = N, one = 1;
    const float alpha = 1.0f, beta = 0.0f;
    sgemv_("N", &m, &n, &alpha, c, &m, x, &one, &beta, y, &one, 1);
    for (int i = 0; i < M; ++i) {
        double sum = 0;
        for (int j = 0; j < N; ++j) sum += (double)c[j * M + i] * x[j];
        bad += wrong(y[i], sum);
    }
    printf("pkg-config consumer: %d wrong elements\n", bad);
    return bad == 0 ? 0 : 1;
}
