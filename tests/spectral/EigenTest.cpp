#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Random.h"
#include "spectral/ArpackSolver.h"
#include "spectral/CGraph.h"
#include "tests/TestUtil.h"

// ARPACK's own entry, for the check of the starting vectors against the library's choice.
extern "C" void dsaupd_(int* ido, const char* bmat, int* n, const char* which, int* nev,
                        double* tol, double* resid, int* ncv, double* v, int* ldv, int* iparam,
                        int* ipntr, double* workd, double* workl, int* lworkl, int* info,
                        size_t bmatLength, size_t whichLength);

namespace {

void addEdge(CGraph& aGraph, int a, int b, float w) {
  aGraph[static_cast<size_t>(a)].push_back(CEdge(b, w));
  aGraph[static_cast<size_t>(b)].push_back(CEdge(a, w));
}

// Two blocks of aBlock nodes, each node linked to 20 random block mates with weights in
// [0.5, 1.5], and aBridges weak edges (0.01) between the blocks.
CGraph twoBlocks(int aBlock, int aBridges) {
  CRandom aRandom;
  CGraph aGraph(static_cast<size_t>(2 * aBlock));
  for (int b = 0; b < 2; b++)
    for (int i = 0; i < aBlock; i++)
      for (int e = 0; e < 10; e++) {
        int j = aRandom.next() % aBlock;
        if (j == i) continue;
        addEdge(aGraph, b * aBlock + i, b * aBlock + j,
                0.5f + static_cast<float>(aRandom.next() % 1000) * 0.001f);
      }
  for (int e = 0; e < aBridges; e++) {
    const int i = aRandom.next() % aBlock;
    addEdge(aGraph, i, aBlock + aRandom.next() % aBlock, 0.01f);
  }
  return aGraph;
}

// Eigenvalues of a dense symmetric matrix (row-major n x n) by cyclic Jacobi rotations,
// ascending.
std::vector<double> denseEigenvalues(std::vector<double> A, int n) {
  for (int aSweep = 0; aSweep < 50; aSweep++) {
    double aOff = 0;
    for (int p = 0; p < n; p++)
      for (int q = p + 1; q < n; q++) aOff += A[p * n + q] * A[p * n + q];
    if (aOff < 1e-22) break;
    for (int p = 0; p < n; p++)
      for (int q = p + 1; q < n; q++) {
        const double apq = A[p * n + q];
        if (std::fabs(apq) < 1e-300) continue;
        const double theta = (A[q * n + q] - A[p * n + p]) / (2 * apq);
        const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < n; k++) {
          const double akp = A[k * n + p], akq = A[k * n + q];
          A[k * n + p] = c * akp - s * akq;
          A[k * n + q] = s * akp + c * akq;
        }
        for (int k = 0; k < n; k++) {
          const double apk = A[p * n + k], aqk = A[q * n + k];
          A[p * n + k] = c * apk - s * aqk;
          A[q * n + k] = s * apk + c * aqk;
        }
      }
  }
  std::vector<double> aValues(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) aValues[static_cast<size_t>(i)] = A[i * n + i];
  std::sort(aValues.begin(), aValues.end());
  return aValues;
}

// The normalised Laplacian I - D^-1/2 W D^-1/2 with degrees D + 0.001, densely.
std::vector<double> denseLaplacian(const CGraph& aGraph) {
  const int n = static_cast<int>(aGraph.size());
  std::vector<double> invD(static_cast<size_t>(n)), A(static_cast<size_t>(n * n), 0.0);
  for (int i = 0; i < n; i++) {
    double d = 0;
    for (const CEdge& e : aGraph[static_cast<size_t>(i)]) d += std::fabs(e.mWeight);
    invD[static_cast<size_t>(i)] = 1 / std::sqrt(d + 0.001);
  }
  for (int i = 0; i < n; i++) {
    A[static_cast<size_t>(i * n + i)] += 1;
    for (const CEdge& e : aGraph[static_cast<size_t>(i)])
      A[static_cast<size_t>(i * n + e.mNode)] -=
          e.mWeight * invD[static_cast<size_t>(i)] * invD[static_cast<size_t>(e.mNode)];
  }
  return A;
}

}  // namespace

TEST(Ncut, FirstEigenvectorSeparatesTwoWeaklyJoinedBlocks) {
  CGraph aGraph = twoBlocks(150, 4);
  CVector<bool> aValid(300, true);
  CMatrix<float> aVecs;
  CVector<float> aVals;
  CArpackStats aStats;
  CEigenStart aStart;
  std::ostringstream aLog;
  ncut(aGraph, aValid, aVecs, aVals, 2, aStart, aLog, &aStats);
  EXPECT_EQ(aStats.mInfo, 0);
  EXPECT_EQ(aStats.mConverged, 100);
  ASSERT_EQ(aVecs.xSize(), 300);
  ASSERT_GE(aVecs.ySize(), 2);
  ASSERT_EQ(aVals.size(), aVecs.ySize());

  const float aSign = aVecs(0, 0) > 0 ? 1.0f : -1.0f;
  for (int i = 0; i < 300; i++)
    EXPECT_GT(aSign * aVecs(i, 0) * (i < 150 ? 1.0f : -1.0f), 0.0f) << i;

  const std::vector<double> aDense = denseEigenvalues(denseLaplacian(aGraph), 300);
  EXPECT_NEAR(aDense[0], 0.0, 1e-4);
  int aBelow = 0;
  for (int k = 1; k < 100; k++)
    if (aDense[static_cast<size_t>(k)] < 0.2) aBelow++;
  EXPECT_EQ(aVals.size(), std::max(aBelow, 2));
  for (int k = 0; k < aVals.size(); k++) {
    const double lambda = 1.0 / (static_cast<double>(aVals(k)) * aVals(k));
    EXPECT_NEAR(lambda, aDense[static_cast<size_t>(k) + 1],
                0.01 * aDense[static_cast<size_t>(k) + 1] + 1e-4)
        << k;
  }
  for (int k = 1; k < aVals.size(); k++) EXPECT_LE(aVals(k), aVals(k - 1));
}

TEST(Ncut, IgnoresNodesOutsideTheMaskAndHandlesSmallProblems) {
  CGraph aGraph = twoBlocks(25, 2);
  // A negative weight raises the degree by its size but enters the product with its sign.
  addEdge(aGraph, 3, 7, -0.3f);
  // Only the first block (25 nodes): fewer than 101 nodes still give an embedding.
  CVector<bool> aValid(50, false);
  for (int i = 0; i < 25; i++) aValid(i) = true;
  CMatrix<float> aVecs;
  CVector<float> aVals;
  CEigenStart aStart;
  std::ostringstream aLog;
  ncut(aGraph, aValid, aVecs, aVals, 2, aStart, aLog);
  EXPECT_EQ(aVecs.xSize(), 25);
  EXPECT_GE(aVecs.ySize(), 2);
  for (int i = 0; i < aVecs.size(); i++) EXPECT_TRUE(std::isfinite(aVecs(i)));

  CGraph aSub(25);
  for (int i = 0; i < 25; i++)
    for (const CEdge& e : aGraph[static_cast<size_t>(i)])
      if (e.mNode < 25) aSub[static_cast<size_t>(i)].push_back(e);
  const std::vector<double> aDense = denseEigenvalues(denseLaplacian(aSub), 25);
  const double lambda = 1.0 / (static_cast<double>(aVals(0)) * aVals(0));
  EXPECT_NEAR(lambda, aDense[1], 0.01 * aDense[1] + 1e-4);

  // Two nodes or none: nothing to embed.
  CVector<bool> aTwo(50, false);
  aTwo(0) = aTwo(1) = true;
  ncut(aGraph, aTwo, aVecs, aVals, 2, aStart, aLog);
  EXPECT_EQ(aVecs.ySize(), 0);
  EXPECT_EQ(aVals.size(), 0);
  CVector<bool> aNone(50, false);
  ncut(aGraph, aNone, aVecs, aVals, 2, aStart, aLog);
  EXPECT_EQ(aVecs.xSize(), 0);
  EXPECT_EQ(aVals.size(), 0);
}

TEST(Ncut, DisconnectedPiecesGiveFiniteWeights) {
  // Three separate blocks: two further eigenvalues at (about) zero.
  CGraph aGraph(120);
  for (int b = 0; b < 3; b++)
    for (int i = 0; i < 40; i++)
      for (int e = 1; e <= 3; e++) addEdge(aGraph, b * 40 + i, b * 40 + (i + e) % 40, 1.0f);
  CVector<bool> aValid(120, true);
  CMatrix<float> aVecs;
  CVector<float> aVals;
  CEigenStart aStart;
  std::ostringstream aLog;
  ncut(aGraph, aValid, aVecs, aVals, 2, aStart, aLog);
  ASSERT_GE(aVals.size(), 2);
  for (int k = 0; k < aVals.size(); k++) {
    EXPECT_TRUE(std::isfinite(aVals(k)));
    EXPECT_LE(aVals(k), 1000.0f);
  }
  // The slow ring modes lie below 0.2 as well: all of them are returned.
  const std::vector<double> aDense = denseEigenvalues(denseLaplacian(aGraph), 120);
  int aBelow = 0;
  for (int k = 1; k < 100; k++)
    if (aDense[static_cast<size_t>(k)] < 0.2) aBelow++;
  EXPECT_GT(aBelow, 2);
  EXPECT_EQ(aVals.size(), aBelow);
  for (int i = 0; i < aVecs.size(); i++) EXPECT_TRUE(std::isfinite(aVecs(i)));
}

TEST(Lanczos, PrincipalVectorOfAPathUpToSign) {
  // Path 0 - 1 - 2 with unit weights: eigenvalue sqrt(2), vector (1/2, 1/sqrt(2), 1/2).
  CGraph aGraph(3);
  addEdge(aGraph, 0, 1, 1.0f);
  addEdge(aGraph, 1, 2, 1.0f);
  CVector<float> X;
  CEigenStart aStart;
  std::ostringstream aLog;
  lanczos(aGraph, X, aStart, aLog);
  ASSERT_EQ(X.size(), 3);
  const float aSign = X(1) > 0 ? 1.0f : -1.0f;
  EXPECT_NEAR(aSign * X(0), 0.5f, 1e-5f);
  EXPECT_NEAR(aSign * X(1), static_cast<float>(1.0 / std::sqrt(2.0)), 1e-5f);
  EXPECT_NEAR(aSign * X(2), 0.5f, 1e-5f);
}

TEST(Lanczos, TinyGraphsNeedNoSolver) {
  CGraph aOne(1);
  CVector<float> X;
  CEigenStart aStart;
  std::ostringstream aLog;
  lanczos(aOne, X, aStart, aLog);
  ASSERT_EQ(X.size(), 1);
  EXPECT_EQ(X(0), 1.0f);
  CGraph aNone;
  lanczos(aNone, X, aStart, aLog);
  EXPECT_EQ(X.size(), 0);
  // Two nodes: the smallest problem the solver takes; vector (1, 1) / sqrt(2).
  CGraph aTwo(2);
  addEdge(aTwo, 0, 1, 2.0f);
  lanczos(aTwo, X, aStart, aLog);
  ASSERT_EQ(X.size(), 2);
  EXPECT_NEAR(std::fabs(X(0)), static_cast<float>(1.0 / std::sqrt(2.0)), 1e-5f);
  EXPECT_NEAR(X(0), X(1), 1e-5f);
}

TEST(ArpackSolver, RejectedProblemIsReportedNotUsed) {
  // nev must be below ncv: ARPACK refuses, and nothing comes back.
  CMatVec aIdentity = [](const double* x, double* y) {
    for (int i = 0; i < 4; i++) y[i] = x[i];
  };
  std::vector<double> aValues{1.0}, aVectors{1.0};
  CArpackStats aStats;
  CEigenStart aStart;
  EXPECT_FALSE(
      solveSymmetric(4, "SA", 3, 3, 0.0, 100, aIdentity, aStart, aValues, aVectors, aStats));
  EXPECT_LT(aStats.mInfo, 0);
  EXPECT_TRUE(aValues.empty());
  EXPECT_TRUE(aVectors.empty());
  EXPECT_EQ(arpackProblem("N-Cut", 3, aStats),
            "N-Cut: ARPACK dsaupd failed with info = " + std::to_string(aStats.mInfo) + ".");
  CArpackStats aPartial;
  aPartial.mConverged = 7;
  aPartial.mIterations = 40;
  aPartial.mInfo = 1;
  EXPECT_EQ(arpackProblem("N-Cut", 100, aPartial),
            "N-Cut: only 7 of 100 eigenvectors converged after 40 restarts.");
  EXPECT_EQ(arpackProblem("N-Cut", 7, CArpackStats{0, 0, 7, 3, 50}), "");
}

// The run's starting vectors are those ARPACK draws for itself in a fresh process, solve after
// solve: the first vector each solve hands to the product is its starting vector. Three solves
// that leave the choice to ARPACK (info 0) run in a new process of this test program (a forked
// child would continue ARPACK's seed from whatever solves this process ran before, and some let
// ARPACK draw); three solves of solveSymmetric from one CEigenStart must begin with the same
// vectors, bit for bit.
TEST(ArpackSolver, StartingVectorsAreThoseArpackDrawsInAFreshProcess) {
  constexpr int n = 120, nev = 4, ncv = 10, kSolves = 3;
  constexpr const char* kDrawsTo = "QUORVIK_TEST_ARPACK_DRAWS_TO";
  // A path graph's Laplacian.
  auto aPath = [](const double* x, double* y) {
    for (int i = 0; i < n; i++)
      y[i] = (i > 0 && i + 1 < n ? 2.0 : 1.0) * x[i] - (i > 0 ? x[i - 1] : 0.0) -
             (i + 1 < n ? x[i + 1] : 0.0);
  };
  std::vector<double> aArpack(static_cast<size_t>(kSolves * n));
  if (const char* aTarget = std::getenv(kDrawsTo)) {
    // The new process: ARPACK's draws into the file the test names.
    for (int s = 0; s < kSolves; s++) {
      int ido = 0, info = 0, nn = n, aNev = nev, aNcv = ncv, ldv = n, lworkl = ncv * (ncv + 8);
      double tol = 0.0;
      std::vector<double> resid(n), v(n * ncv), workd(3 * n), workl(lworkl);
      int iparam[11] = {1, 0, 3 * n, 0, 0, 0, 1, 0, 0, 0, 0}, ipntr[11] = {0};
      dsaupd_(&ido, "I", &nn, "SA", &aNev, &tol, resid.data(), &aNcv, v.data(), &ldv, iparam, ipntr,
              workd.data(), workl.data(), &lworkl, &info, 1, 2);
      ASSERT_EQ(ido, -1);
      std::copy(&workd[ipntr[0] - 1], &workd[ipntr[0] - 1] + n, &aArpack[s * n]);
    }
    testutil::writeFile(aTarget, std::string(reinterpret_cast<const char*>(aArpack.data()),
                                             aArpack.size() * sizeof(double)));
    return;
  }
  const testutil::TempDir aDir;
  const std::string aDraws = aDir.file("draws");
  char aSelf[4096];
  const ssize_t aLength = readlink("/proc/self/exe", aSelf, sizeof(aSelf) - 1);
  ASSERT_GT(aLength, 0);
  aSelf[aLength] = '\0';
  ASSERT_EQ(testutil::runProgram(
                {"/usr/bin/env", std::string(kDrawsTo) + "=" + aDraws, aSelf,
                 "--gtest_filter=ArpackSolver.StartingVectorsAreThoseArpackDrawsInAFreshProcess"}),
            0);
  const std::string aBytes = testutil::readFile(aDraws);
  ASSERT_EQ(aBytes.size(), aArpack.size() * sizeof(double));
  std::memcpy(aArpack.data(), aBytes.data(), aBytes.size());

  CEigenStart aStart;
  for (int s = 0; s < kSolves; s++) {
    std::vector<double> aFirst;
    const CMatVec aProduct = [&](const double* x, double* y) {
      if (aFirst.empty()) aFirst.assign(x, x + n);
      aPath(x, y);
    };
    std::vector<double> aValues, aVectors;
    CArpackStats aStats;
    ASSERT_TRUE(
        solveSymmetric(n, "SA", nev, ncv, 0.0, 3 * n, aProduct, aStart, aValues, aVectors, aStats));
    ASSERT_EQ(aFirst.size(), static_cast<size_t>(n));
    EXPECT_EQ(std::memcmp(aFirst.data(), &aArpack[s * n], n * sizeof(double)), 0) << s;
  }
}

// ARPACK's matrix-vector products go through the program's dgemv; it must give the library's
// results bit for bit, for both forms, every alpha and beta case, odd sizes (the paths that
// take two or four elements at once have remainders), products large enough for the worker
// threads, other increments, and signed zeros and infinities.
TEST(ArpackSolver, DgemvEqualsTheBlasLibraryBitForBit) {
  using CDgemv =
      void (*)(const char*, const int*, const int*, const double*, const double*, const int*,
               const double*, const int*, const double*, double*, const int*, size_t);
  void* aLibrary = dlopen("libblas.so.3", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(aLibrary, nullptr);
  const auto aReference = reinterpret_cast<CDgemv>(dlsym(aLibrary, "dgemv_"));
  const auto aOwn = reinterpret_cast<CDgemv>(dlsym(RTLD_DEFAULT, "dgemv_"));
  ASSERT_NE(aReference, nullptr);
  ASSERT_NE(aOwn, aReference);
  CRandom aRandom;
  auto aValue = [&](int k) {
    switch (k % 23) {
      case 0:
        return 0.0;
      case 1:
        return -0.0;
      case 2:
        return k % 2 ? HUGE_VAL : -HUGE_VAL;
      default:
        return (aRandom.next() % 20001 - 10000) * 1.37e-3;
    }
  };
  int aCases = 0;
  auto aCompare = [&](const char* aTrans, int m, int n, double alpha, double beta, int inc) {
    const int lda = m + 3;
    const int aLenX = aTrans[0] == 'N' ? n : m, aLenY = aTrans[0] == 'N' ? m : n;
    std::vector<double> a(static_cast<size_t>(lda) * n), x(aLenX * 2), y(aLenY * 2);
    for (size_t k = 0; k < a.size(); k++) a[k] = aValue(static_cast<int>(k) + 5);
    for (size_t k = 0; k < x.size(); k++) x[k] = aValue(static_cast<int>(k) + 11);
    for (size_t k = 0; k < y.size(); k++) y[k] = aValue(static_cast<int>(k));
    std::vector<double> yReference = y;
    aReference(aTrans, &m, &n, &alpha, a.data(), &lda, x.data(), &inc, &beta, yReference.data(),
               &inc, 1);
    aOwn(aTrans, &m, &n, &alpha, a.data(), &lda, x.data(), &inc, &beta, y.data(), &inc, 1);
    ASSERT_EQ(std::memcmp(y.data(), yReference.data(), y.size() * sizeof(double)), 0)
        << aTrans << " " << m << " x " << n << " alpha " << alpha << " beta " << beta
        << " increment " << inc;
    aCases++;
  };
  for (const char* aTrans : {"N", "T"})
    for (int m : {1, 7, 300})
      for (int n : {1, 6, 301})
        for (double alpha : {1.0, -1.0, 0.0, 0.37})
          for (double beta : {1.0, 0.0, -0.5})
            for (int inc : {1, 2, -1}) aCompare(aTrans, m, n, alpha, beta, inc);
  // Products large enough for the worker threads.
  for (const char* aTrans : {"N", "T"}) aCompare(aTrans, 1030, 1021, 0.37, -0.5, 1);
  EXPECT_EQ(aCases, 2 * 3 * 3 * 4 * 3 * 3 + 2);
}
