#include "evaluation/Assignment.h"

#include <algorithm>
#include <limits>

std::vector<int> bestAssignment(const CMatrix<double>& aScore) {
  const int aColumns = aScore.xSize(), aRows = aScore.ySize();
  std::vector<int> aResult(static_cast<size_t>(std::max(aRows, 0)), -1);
  if (aRows <= 0 || aColumns <= 0) return aResult;
  // The square problem of side n minimises cost = -score; padding rows and columns cost 0.
  const int n = std::max(aRows, aColumns);
  auto cost = [&](int aRow, int aColumn) {
    return aRow < aRows && aColumn < aColumns ? -aScore(aColumn, aRow) : 0.0;
  };
  const double kInfinity = std::numeric_limits<double>::infinity();
  // Index 0 of the columns is a virtual start column; rows and columns count from 1 here.
  // u, v: potentials of rows and columns; aOwner[j]: row holding column j (0 = none);
  // aWay[j]: previous column on the shortest augmenting path to j.
  std::vector<double> u(n + 1, 0.0), v(n + 1, 0.0), aSlack(n + 1);
  std::vector<int> aOwner(n + 1, 0), aWay(n + 1, 0);
  std::vector<char> aVisited(n + 1);
  for (int i = 1; i <= n; i++) {
    aOwner[0] = i;
    int j0 = 0;
    std::fill(aSlack.begin(), aSlack.end(), kInfinity);
    std::fill(aVisited.begin(), aVisited.end(), 0);
    // Grow the tree of tight edges until it reaches a free column.
    do {
      aVisited[j0] = 1;
      const int i0 = aOwner[j0];
      double aDelta = kInfinity;
      int j1 = 0;
      for (int j = 1; j <= n; j++) {
        if (aVisited[j]) continue;
        const double aReduced = cost(i0 - 1, j - 1) - u[i0] - v[j];
        if (aReduced < aSlack[j]) {
          aSlack[j] = aReduced;
          aWay[j] = j0;
        }
        if (aSlack[j] < aDelta) {
          aDelta = aSlack[j];
          j1 = j;
        }
      }
      for (int j = 0; j <= n; j++) {
        if (aVisited[j]) {
          u[aOwner[j]] += aDelta;
          v[j] -= aDelta;
        } else {
          aSlack[j] -= aDelta;
        }
      }
      j0 = j1;
    } while (aOwner[j0] != 0);
    // Flip the path: every column on it passes to the row before it.
    do {
      const int j1 = aWay[j0];
      aOwner[j0] = aOwner[j1];
      j0 = j1;
    } while (j0 != 0);
  }
  for (int j = 1; j <= n; j++) {
    const int aRow = aOwner[j] - 1, aColumn = j - 1;
    if (aRow < aRows && aColumn < aColumns) aResult[aRow] = aColumn;
  }
  return aResult;
}
