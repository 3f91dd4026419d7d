// striped_driver.h - SGEMM cut into stripes of C on a team of the BLAS
// domain's thread limit (striped_driver.cpp).
#ifndef ORB_BLAS_GEMM_STRIPED_DRIVER_H
#define ORB_BLAS_GEMM_STRIPED_DRIVER_H

#include "blas/gemm/sgemm_vector_shapes.h"

// The body each thread of the team runs: its stripe of C with the serial GEMM.
void omp_driver_stripes(const SgemmCall &g, int stripes);

// Forks the team and runs the body on every thread.
void run_striped(const SgemmCall &g, int stripes);

#endif
