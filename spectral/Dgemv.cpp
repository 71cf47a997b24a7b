#include "spectral/Dgemv.h"

#ifdef _OPENMP
#include <omp.h>
#endif

#include <dlfcn.h>

#include <algorithm>

#include "foundation/Lanes.h"

namespace {

// Products of at least this many matrix elements (a millisecond or more of work) are shared
// among the worker threads; smaller ones would mostly wait for the threads to meet, above all
// on a busy machine.
constexpr long long kParallelElements = 1 << 20;
// Columns whose contributions are added to a row block in one pass (their order kept).
constexpr int kColumnBlock = 4;

// y(i) += (alpha x(j)) A(i, j) for rows aRow0 ... aRow1 - 1, columns in order.
void addColumns(int aRow0, int aRow1, int n, double alpha, const double* a, long long lda,
                const double* x, double* y) {
  for (int j0 = 0; j0 < n; j0 += kColumnBlock) {
    const int aCount = std::min(kColumnBlock, n - j0);
    double t[kColumnBlock];
    const double* col[kColumnBlock];
    for (int k = 0; k < aCount; k++) {
      t[k] = alpha * x[j0 + k];
      col[k] = a + (j0 + k) * lda;
    }
    int i = aRow0;
    if (aCount == kColumnBlock) {
      const lanes::D2 t0 = lanes::splatDouble(t[0]), t1 = lanes::splatDouble(t[1]);
      const lanes::D2 t2 = lanes::splatDouble(t[2]), t3 = lanes::splatDouble(t[3]);
      for (; i + 2 <= aRow1; i += 2) {
        lanes::D2 yi = lanes::loadDouble(y + i);
        yi = lanes::loadDouble(col[0] + i) * t0 + yi;
        yi = lanes::loadDouble(col[1] + i) * t1 + yi;
        yi = lanes::loadDouble(col[2] + i) * t2 + yi;
        yi = lanes::loadDouble(col[3] + i) * t3 + yi;
        lanes::store(y + i, yi);
      }
    }
    for (; i < aRow1; i++) {
      double yi = y[i];
      for (int k = 0; k < aCount; k++) yi = col[k][i] * t[k] + yi;
      y[i] = yi;
    }
  }
}

// The calling thread's share [aBegin, aEnd) of 0 ... aCount - 1, cut on multiples of aGranule
// (the lanes a block of the kernels takes at once); empty for threads beyond the work.
void threadRange(int aCount, int aGranule, int& aBegin, int& aEnd) {
  int aThreads = 1, aThread = 0;
#ifdef _OPENMP
  aThreads = omp_get_num_threads();
  aThread = omp_get_thread_num();
#endif
  const int aShare = ((aCount + aGranule - 1) / aGranule + aThreads - 1) / aThreads * aGranule;
  aBegin = std::min(aCount, aThread * aShare);
  aEnd = std::min(aCount, aBegin + aShare);
}

// y(j) += alpha (A(., j) . x) for columns aCol0 ... aCol1 - 1, each sum over the rows in order.
void dotColumns(int aCol0, int aCol1, int m, double alpha, const double* a, long long lda,
                const double* x, double* y) {
  int j = aCol0;
  // Four columns at once, two per register; each lane keeps its own sum in row order.
  for (; j + 4 <= aCol1; j += 4) {
    const double* c0 = a + j * lda;
    const double* c1 = c0 + lda;
    const double* c2 = c1 + lda;
    const double* c3 = c2 + lda;
    lanes::D2 s01 = lanes::splatDouble(0.0), s23 = lanes::splatDouble(0.0);
    for (int i = 0; i < m; i++) {
      const lanes::D2 xi = lanes::splatDouble(x[i]);
      s01 = s01 + lanes::doubles(c0[i], c1[i]) * xi;
      s23 = s23 + lanes::doubles(c2[i], c3[i]) * xi;
    }
    const lanes::D2 aAlpha = lanes::splatDouble(alpha);
    lanes::store(y + j, s01 * aAlpha + lanes::loadDouble(y + j));
    lanes::store(y + j + 2, s23 * aAlpha + lanes::loadDouble(y + j + 2));
  }
  for (; j < aCol1; j++) {
    const double* c = a + j * lda;
    double aSum = 0.0;
    for (int i = 0; i < m; i++) aSum = aSum + c[i] * x[i];
    y[j] = aSum * alpha + y[j];
  }
}

// The BLAS error handler (xerbla, found at run time: it comes with the BLAS and LAPACK that
// ARPACK brings) for an argument the reference would refuse.
void reportBadArgument(int info) {
  using CXerbla = void (*)(const char*, const int*, size_t);
  const auto aHandler = reinterpret_cast<CXerbla>(dlsym(RTLD_DEFAULT, "xerbla_"));
  if (aHandler != nullptr) aHandler("DGEMV ", &info, 6);
}

}  // namespace

extern "C" void dgemv_(const char* trans, const int* m, const int* n, const double* alpha,
                       const double* a, const int* lda, const double* x, const int* incx,
                       const double* beta, double* y, const int* incy, size_t /*transLength*/) {
  const char t = *trans;
  const bool aNoTrans = t == 'N' || t == 'n';
  const bool aTrans = t == 'T' || t == 't' || t == 'C' || t == 'c';
  // Argument checks of the reference, in its order.
  int info = 0;
  if (!aNoTrans && !aTrans)
    info = 1;
  else if (*m < 0)
    info = 2;
  else if (*n < 0)
    info = 3;
  else if (*lda < std::max(1, *m))
    info = 6;
  else if (*incx == 0)
    info = 8;
  else if (*incy == 0)
    info = 11;
  if (info != 0) {
    reportBadArgument(info);
    return;
  }
  const int M = *m, N = *n;
  const double aAlpha = *alpha, aBeta = *beta;
  if (M == 0 || N == 0 || (aAlpha == 0.0 && aBeta == 1.0)) return;
  const int aLenX = aNoTrans ? N : M, aLenY = aNoTrans ? M : N;
  const int incX = *incx, incY = *incy;
  const long long LDA = *lda;
  // First position of x and y: the last element for a negative increment.
  const long long kx = incX > 0 ? 0 : -static_cast<long long>(aLenX - 1) * incX;
  const long long ky = incY > 0 ? 0 : -static_cast<long long>(aLenY - 1) * incY;
  // y := beta y.
  if (aBeta != 1.0) {
    for (long long i = 0, iy = ky; i < aLenY; i++, iy += incY)
      y[iy] = aBeta == 0.0 ? 0.0 : aBeta * y[iy];
  }
  if (aAlpha == 0.0) return;
  const bool aParallel = static_cast<long long>(M) * N >= kParallelElements;
  if (incX == 1 && incY == 1) {
    if (aNoTrans) {
#pragma omp parallel if (aParallel)
      {
        // Row ranges on even boundaries, so that pairs of rows stay together.
        int aRow0, aRow1;
        threadRange(M, 2, aRow0, aRow1);
        addColumns(aRow0, aRow1, N, aAlpha, a, LDA, x, y);
      }
    } else {
#pragma omp parallel if (aParallel)
      {
        int aCol0, aCol1;
        threadRange(N, 4, aCol0, aCol1);
        dotColumns(aCol0, aCol1, M, aAlpha, a, LDA, x, y);
      }
    }
    return;
  }
  // Other increments: the reference's loops as they stand.
  if (aNoTrans) {
    for (long long j = 0, jx = kx; j < N; j++, jx += incX) {
      const double temp = aAlpha * x[jx];
      for (long long i = 0, iy = ky; i < M; i++, iy += incY) y[iy] = a[j * LDA + i] * temp + y[iy];
    }
  } else {
    for (long long j = 0, jy = ky; j < N; j++, jy += incY) {
      double temp = 0.0;
      for (long long i = 0, ix = kx; i < M; i++, ix += incX) temp = temp + a[j * LDA + i] * x[ix];
      y[jy] = temp * aAlpha + y[jy];
    }
  }
}
