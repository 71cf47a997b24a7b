// One-to-one assignment of largest total score (the Hungarian method, in the form with row
// and column potentials that finds one augmenting path per row, O(n^3) for n = the larger
// side). Used to match predicted regions to ground-truth objects.
#pragma once

#include <vector>

#include "foundation/CMatrix.h"

// aScore(x, y) is the score of giving column x to row y (any finite values). Returns, per
// row, the column it gets, or -1 when there are more rows than columns and the row is left
// out; no column serves two rows, and the sum of the scores of the pairs is the largest any
// such assignment reaches. Among equally good assignments the result is one of them.
std::vector<int> bestAssignment(const CMatrix<double>& aScore);
