// A replacement of BLAS's matrix-vector product dgemv_ for the whole process, linked into the
// programs, the benchmarks and the tests, never into a module's library.
//
// Why it exists: ARPACK spends most of its own time in dgemv, orthogonalising every Lanczos
// vector against all earlier ones (V^T w, then w - V h) and applying the shifts, and the
// reference BLAS that Debian's ARPACK brings forms it one element at a time on one thread. The
// replacement forms every element of the result with the same operations in the same order as
// the reference BLAS (y(i) = y(i) + (alpha x(j)) A(i, j) over j ascending; y(j) = alpha (sum
// over i ascending of A(i, j) x(i), from +0) + y(j)), so its results are bit for bit the
// library's; it only works on several elements at once and, for large products, on the worker
// threads.
//
// Why only the executables link it: the dynamic linker gives every caller of dgemv_ in the
// process (ARPACK, LAPACK, anything else) the first definition it finds, so a definition inside
// a module's library would silently replace the BLAS of any program that links the library. A
// program links this object library on purpose, and then every product of the process goes
// through it.
#pragma once

#include <cstddef>

extern "C" void dgemv_(const char* trans, const int* m, const int* n, const double* alpha,
                       const double* a, const int* lda, const double* x, const int* incx,
                       const double* beta, double* y, const int* incy, size_t transLength);
