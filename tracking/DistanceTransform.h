// Squared Euclidean distance transform: for every cell the squared distance to the nearest
// cell of interest (input 0; other cells hold a large value, 1e20 by convention), computed as
// the lower envelope of parabolas, linear in the number of cells.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"

// d becomes the 1-D transform of the first n values of f: d(q) = min over p of (q - p)^2 + f(p).
// f must hold at least n values; n <= 0 gives an empty d.
void dt(const CVector<float>& f, CVector<float>& d, int n);

// Replaces aMatrix by its 2-D squared distance transform (columns first, then rows).
void euclideanDistanceTransform(CMatrix<float>& aMatrix);
