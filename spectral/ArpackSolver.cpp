#include "spectral/ArpackSolver.h"

#include <cstddef>
#include <mutex>
#include <sstream>

// ARPACK's native (Fortran) interface: every argument by address, arrays column-major,
// positions in ipntr 1-based, LOGICAL as a 4-byte int and the lengths of the character
// arguments appended as hidden trailing arguments.
extern "C" {
void dsaupd_(int* ido, const char* bmat, int* n, const char* which, int* nev, double* tol,
             double* resid, int* ncv, double* v, int* ldv, int* iparam, int* ipntr, double* workd,
             double* workl, int* lworkl, int* info, size_t bmatLength, size_t whichLength);
void dseupd_(int* rvec, const char* howmny, int* select, double* d, double* z, int* ldz,
             double* sigma, const char* bmat, int* n, const char* which, int* nev, double* tol,
             double* resid, int* ncv, double* v, int* ldv, int* iparam, int* ipntr, double* workd,
             double* workl, int* lworkl, int* info, size_t howmnyLength, size_t bmatLength,
             size_t whichLength);
// LAPACK's random vector, which ARPACK itself draws its starting vectors with.
void dlarnv_(const int* idist, int* iseed, const int* n, double* x);
}

namespace {

// dlarnv's distribution 2: uniform on (-1, 1), as ARPACK asks for it.
constexpr int kUniformSymmetric = 2;

// The one solve ARPACK can hold at a time in a process.
std::mutex& arpackLock() {
  static std::mutex aLock;
  return aLock;
}

}  // namespace

void CEigenStart::draw(int n, double* aVector) {
  dlarnv_(&kUniformSymmetric, mSeed, &n, aVector);
}

bool solveSymmetric(int n, const char* aWhich, int aNev, int aNcv, double aTol, int aMaxIterations,
                    const CMatVec& aProduct, CEigenStart& aStart, std::vector<double>& aValues,
                    std::vector<double>& aVectors, CArpackStats& aStats) {
  aStats = CArpackStats();
  aValues.clear();
  aVectors.clear();
  const size_t sn = static_cast<size_t>(n);
  int ldv = n;
  int lworkl = aNcv * (aNcv + 8);
  std::vector<double> resid(sn), v(sn * static_cast<size_t>(aNcv)), workd(3 * sn);
  std::vector<double> workl(static_cast<size_t>(lworkl)), d(2 * static_cast<size_t>(aNcv));
  std::vector<int> select(static_cast<size_t>(aNcv));
  int iparam[11] = {0};
  int ipntr[11] = {0};
  iparam[0] = 1;  // exact shifts
  iparam[2] = aMaxIterations;
  iparam[6] = 1;  // mode 1: standard problem
  int ido = 0;
  // The starting vector is ours (info 1), drawn as ARPACK would draw it.
  aStart.draw(n, resid.data());
  int info = 1;
  double tol = aTol;
  const char bmat[] = "I";

  const std::lock_guard<std::mutex> aSolve(arpackLock());
  for (;;) {
    dsaupd_(&ido, bmat, &n, aWhich, &aNev, &tol, resid.data(), &aNcv, v.data(), &ldv, iparam, ipntr,
            workd.data(), workl.data(), &lworkl, &info, 1, 2);
    if (ido != -1 && ido != 1) break;
    aProduct(&workd[static_cast<size_t>(ipntr[0] - 1)], &workd[static_cast<size_t>(ipntr[1] - 1)]);
    aStats.mProducts++;
  }
  aStats.mInfo = info;
  aStats.mIterations = iparam[2];
  if (info < 0) return false;

  // Only converged pairs are worth anything; with info = 1 (restart limit) ARPACK still
  // delivers those.
  int rvec = 1;
  int ierr = 0;
  double sigma = 0.0;
  dseupd_(&rvec, "A", select.data(), d.data(), v.data(), &ldv, &sigma, bmat, &n, aWhich, &aNev,
          &tol, resid.data(), &aNcv, v.data(), &ldv, iparam, ipntr, workd.data(), workl.data(),
          &lworkl, &ierr, 1, 1, 2);
  aStats.mIerr = ierr;
  if (ierr != 0) return false;
  int converged = iparam[4];
  if (converged > aNev) converged = aNev;
  if (converged < 0) converged = 0;
  aStats.mConverged = converged;
  aValues.assign(d.begin(), d.begin() + converged);
  aVectors.assign(v.begin(),
                  v.begin() + static_cast<std::ptrdiff_t>(sn * static_cast<size_t>(converged)));
  return true;
}

std::string arpackProblem(const std::string& aWho, int aNev, const CArpackStats& aStats) {
  std::ostringstream aLine;
  if (aStats.mInfo < 0) {
    aLine << aWho << ": ARPACK dsaupd failed with info = " << aStats.mInfo << ".";
  } else if (aStats.mIerr != 0) {
    aLine << aWho << ": ARPACK dseupd failed with ierr = " << aStats.mIerr << ".";
  } else if (aStats.mConverged < aNev) {
    aLine << aWho << ": only " << aStats.mConverged << " of " << aNev
          << " eigenvectors converged after " << aStats.mIterations << " restarts.";
  }
  return aLine.str();
}
