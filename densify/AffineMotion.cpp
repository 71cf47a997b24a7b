#include "densify/AffineMotion.h"

#include <algorithm>
#include <cmath>

namespace {

// Relative size below which the determinant of the normal system counts as 0.
constexpr double kSingular = 1e-9;

double determinant(const double M[3][3]) {
  return M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
         M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
         M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0]);
}

}  // namespace

double CAffineMotion::miss(const CPointStep& s) const {
  double x, y;
  apply(s.x, s.y, x, y);
  return std::sqrt((x - s.nx) * (x - s.nx) + (y - s.ny) * (y - s.ny));
}

bool fitAffineMotion(const std::vector<CPointStep>& aSteps, CAffineMotion& aMotion) {
  if (aSteps.size() < 3) return false;
  // The map falls apart into two 3 x 3 normal systems (x and y of the end) with one matrix;
  // centred coordinates keep it well conditioned.
  double cx = 0.0, cy = 0.0;
  for (const CPointStep& s : aSteps) cx += s.x, cy += s.y;
  cx /= aSteps.size(), cy /= aSteps.size();
  double M[3][3] = {}, bx[3] = {}, by[3] = {};
  for (const CPointStep& s : aSteps) {
    const double v[3] = {s.x - cx, s.y - cy, 1.0};
    for (int i = 0; i < 3; i++) {
      for (int j = 0; j < 3; j++) M[i][j] += v[i] * v[j];
      bx[i] += v[i] * s.nx;
      by[i] += v[i] * s.ny;
    }
  }
  const double det = determinant(M);
  if (!(std::fabs(det) > kSingular * std::max(M[0][0] * M[1][1] * M[2][2], 1.0))) return false;
  // Cramer's rule for both right-hand sides.
  double u[3], w[3];
  for (int c = 0; c < 3; c++) {
    double T[3][3];
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) T[i][j] = j == c ? bx[i] : M[i][j];
    u[c] = determinant(T) / det;
    for (int i = 0; i < 3; i++) T[i][c] = by[i];
    w[c] = determinant(T) / det;
  }
  aMotion.a[0] = u[0], aMotion.a[1] = u[1], aMotion.a[2] = u[2] - u[0] * cx - u[1] * cy;
  aMotion.a[3] = w[0], aMotion.a[4] = w[1], aMotion.a[5] = w[2] - w[0] * cx - w[1] * cy;
  return true;
}
