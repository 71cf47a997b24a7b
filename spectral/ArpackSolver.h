// Symmetric eigen-solver on a matrix given only by its product with a vector: ARPACK's
// implicitly restarted Lanczos routines dsaupd and dseupd (double precision, reverse
// communication, standard problem A x = lambda x, exact shifts, mode 1).
//
// ARPACK keeps the state of a solve between its reverse-communication calls inside the library
// (in Fortran SAVE variables), so a process can run only one solve at a time: solves of runs
// side by side take turns (solveSymmetric holds a lock of the process for its whole solve).
#pragma once

#include <functional>
#include <string>
#include <vector>

// What the solver did; filled by solveSymmetric.
struct CArpackStats {
  int mInfo = 0;        // info after dsaupd (0 = converged, 1 = restart limit reached, < 0 error)
  int mIerr = 0;        // ierr after dseupd (0 = fine, < 0 error)
  int mConverged = 0;   // number of converged Ritz pairs
  int mIterations = 0;  // implicit restarts taken
  int mProducts = 0;    // matrix-vector products requested
};

// y = A x for vectors of the problem size n.
using CMatVec = std::function<void(const double* x, double* y)>;

// The starting vectors of the solver. Left to itself, ARPACK draws each starting vector from a
// seed it keeps inside the library, which goes on from call to call for the whole process, so
// that a second run in one process would start from other vectors, and find other regions,
// than the first. An object of this class draws the very vectors ARPACK's own generator would
// (LAPACK's dlarnv, uniform on (-1, 1), from ARPACK's first seed 1, 3, 5, 7), continued from
// solve to solve within the object: one object per run gives every run the starting vectors of
// a fresh process.
class CEigenStart {
 public:
  // The next starting vector, n entries, into aVector.
  void draw(int n, double* aVector);

 private:
  int mSeed[4] = {1, 3, 5, 7};
};

// Computes aNev eigenpairs of the symmetric n x n matrix behind aProduct; aWhich is "SA"
// (smallest algebraic) or "LA" (largest algebraic); needs 0 < aNev < aNcv <= n. aTol 0 means
// machine precision. The solve starts from the next vector of aStart. On return aValues holds
// the converged Ritz values in ascending order
// (aStats.mConverged of them, never more than aNev) and aVectors the matching unit Ritz
// vectors as columns of length n (column k starts at k * n). Returns false, with both
// outputs empty, when ARPACK reports an error; aStats then says which.
bool solveSymmetric(int n, const char* aWhich, int aNev, int aNcv, double aTol, int aMaxIterations,
                    const CMatVec& aProduct, CEigenStart& aStart, std::vector<double>& aValues,
                    std::vector<double>& aVectors, CArpackStats& aStats);

// One status line describing a failed or incomplete solve ("" when all aNev pairs converged
// without error), prefixed with aWho.
std::string arpackProblem(const std::string& aWho, int aNev, const CArpackStats& aStats);
