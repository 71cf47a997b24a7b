#include "spectral/CGraph.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "spectral/ArpackSolver.h"

namespace {

// Number of eigenpairs the embedding asks for, and its Krylov and restart settings.
constexpr int kNcutEigenvectors = 100;
constexpr double kNcutTolerance = 0.01;
constexpr int kNcutIterationsPerNode = 4;
// Eigenvalues below this count towards the embedding (the float constant, widened).
const double kNcutEigenvalueLimit = static_cast<double>(0.2f);
// Regularisation of the degrees, so that isolated nodes stay finite.
constexpr float kDegreeOffset = 0.001f;
// Smallest eigenvalue turned into a weight. A sub-graph that falls apart has further
// eigenvalues at 0 (ARPACK may even return tiny negative values); 1/sqrt of them is infinite
// or NaN and would poison the k-means. With the solver's tolerance of 0.01 such values cannot
// be told from 0 anyway, so they get the largest weight 1/sqrt(1e-6) = 1000.
constexpr double kSmallestEigenvalue = 1e-6;

constexpr int kLanczosIterationsPerNode = 3;
// Products over at least this many entries (rows and edges; a millisecond or more of work) run
// on the worker threads.
constexpr long long kParallelProduct = 1 << 20;

void logLine(std::ostream& aStatus, const std::string& aLine) {
  if (!aLine.empty()) aStatus << aLine << std::endl;
}

}  // namespace

void ncut(const CGraph& aGraph, const CVector<bool>& aValidNodes, CMatrix<float>& eigVecs,
          CVector<float>& eigVals, int aRegionNo, CEigenStart& aEigenStart, std::ostream& aStatus,
          CArpackStats* aStats) {
  if (aStats != nullptr) *aStats = CArpackStats();
  const int aNodes = std::min(static_cast<int>(aGraph.size()), aValidNodes.size());
  if (aValidNodes.size() != static_cast<int>(aGraph.size()))
    logLine(aStatus, "N-Cut: node mask and graph differ in size; only the common nodes are used.");

  // 1. Compact numbering of the valid nodes.
  CVector<int> aNodeToValidNode(std::max(aNodes, 1), -1);
  std::vector<int> aValidToNode;
  for (int i = 0; i < aNodes; i++)
    if (aValidNodes(i)) {
      aNodeToValidNode(i) = static_cast<int>(aValidToNode.size());
      aValidToNode.push_back(i);
    }
  const int aValidCount = static_cast<int>(aValidToNode.size());
  const int n = aValidCount;

  // The solver needs nev < ncv <= n; with fewer than 3 nodes there is no non-trivial vector.
  if (n < 3) {
    eigVecs.setSize(n, 0);
    eigVals.setSize(0);
    return;
  }
  const int nev = std::min(kNcutEigenvectors, n - 1);
  const int ncv = std::min(2 * nev, n);

  // 2./3. Degrees over valid neighbours and their regularised inverse roots.
  std::vector<int> aStart(static_cast<size_t>(n) + 1, 0);
  std::vector<int> aColumn;
  std::vector<float> aRawWeight;
  CVector<float> D(n, 0.0f);
  for (int i = 0; i < n; i++) {
    for (const CEdge& e : aGraph[static_cast<size_t>(aValidToNode[static_cast<size_t>(i)])]) {
      if (e.mNode < 0 || e.mNode >= aNodes || !aValidNodes(e.mNode)) continue;
      D(i) += std::fabs(e.mWeight);
      aColumn.push_back(aNodeToValidNode(e.mNode));
      aRawWeight.push_back(e.mWeight);
    }
    aStart[static_cast<size_t>(i) + 1] = static_cast<int>(aColumn.size());
  }
  CVector<float> invD(n);
  for (int i = 0; i < n; i++)
    invD(i) = static_cast<float>(1.0 / std::sqrt(static_cast<double>(D(i) + kDegreeOffset)));

  // 4. Coefficients of D^-1/2 W D^-1/2 (single precision), then the solve.
  std::vector<float> aCoeff(aColumn.size());
  for (int i = 0; i < n; i++)
    for (int e = aStart[static_cast<size_t>(i)]; e < aStart[static_cast<size_t>(i) + 1]; e++)
      aCoeff[static_cast<size_t>(e)] =
          aRawWeight[static_cast<size_t>(e)] * invD(i) * invD(aColumn[static_cast<size_t>(e)]);
  const int* start = aStart.data();
  const int* column = aColumn.data();
  const float* coeff = aCoeff.data();
  // Rows are independent, each summed in its own order, so they are shared among the threads.
  const bool aParallel = static_cast<long long>(aColumn.size()) + n >= kParallelProduct;
  CMatVec aProduct = [n, start, column, coeff, aParallel](const double* x, double* y) {
#pragma omp parallel for schedule(static) if (aParallel)
    for (int i = 0; i < n; i++) {
      double acc = x[i];
      for (int e = start[i]; e < start[i + 1]; e++)
        acc -= static_cast<double>(coeff[e]) * x[column[e]];
      y[i] = acc;
    }
  };
  std::vector<double> d, v;
  CArpackStats aLocalStats;
  solveSymmetric(n, "SA", nev, ncv, kNcutTolerance, kNcutIterationsPerNode * n, aProduct,
                 aEigenStart, d, v, aLocalStats);
  if (aStats != nullptr) *aStats = aLocalStats;
  logLine(aStatus, arpackProblem("N-Cut", nev, aLocalStats));

  // 6./7. Non-trivial eigenvalues below the limit, at least aRegionNo, but only converged ones.
  const int aConverged = static_cast<int>(d.size());
  int num = 0;
  for (int k = 1; k < aConverged; k++)
    if (d[static_cast<size_t>(k)] < kNcutEigenvalueLimit) num++;
  int m = std::max(num, aRegionNo);
  m = std::max(0, std::min(m, aConverged - 1));

  // 8./9. Weights and generalised eigenvectors, skipping the trivial pair.
  eigVals.setSize(m);
  for (int k = 0; k < m; k++) {
    double lambda = d[static_cast<size_t>(k) + 1];
    if (!(lambda >= kSmallestEigenvalue)) lambda = kSmallestEigenvalue;
    eigVals(k) = static_cast<float>(1.0 / std::sqrt(lambda));
  }
  eigVecs.setSize(n, m);
  for (int k = 0; k < m; k++) {
    const double* vk = v.data() + static_cast<size_t>(k + 1) * static_cast<size_t>(n);
    for (int i = 0; i < n; i++)
      eigVecs(i, k) = static_cast<float>(static_cast<double>(invD(i)) * vk[i]);
  }
}

void lanczos(const CGraph& aGraph, CVector<float>& X, CEigenStart& aEigenStart,
             std::ostream& aStatus) {
  const int n = static_cast<int>(aGraph.size());
  X.setSize(n);
  // The solver needs at least two nodes; a single node's only eigenvector is (1).
  if (n < 2) {
    if (n == 1) X(0) = 1.0f;
    return;
  }
  const int nev = 1;
  const int ncv = std::min(5 * nev, n);
  CMatVec aProduct = [&aGraph, n](const double* x, double* y) {
    for (int a = 0; a < n; a++) {
      double acc = 0.0;
      for (const CEdge& e : aGraph[static_cast<size_t>(a)])
        if (e.mNode >= 0 && e.mNode < n) acc += e.mWeight * x[e.mNode];
      y[a] = acc;
    }
  };
  std::vector<double> d, v;
  CArpackStats aStats;
  solveSymmetric(n, "LA", nev, ncv, 0.0, kLanczosIterationsPerNode * n, aProduct, aEigenStart, d, v,
                 aStats);
  logLine(aStatus, arpackProblem("Lanczos", nev, aStats));
  if (d.empty()) {
    // No converged vector: a zero vector says "no principal direction" rather than noise.
    X.fill(0.0f);
    return;
  }
  for (int i = 0; i < n; i++) X(i) = static_cast<float>(v[static_cast<size_t>(i)]);
}
