// The flow-driven smoothness weights of the variational refinement on the solver's diagonal
// layout (internal to flow/).
#pragma once

#include <vector>

#include "flow/FlowSolver.h"

// The smoothness weights between every pixel and its right neighbour (aSystem.mGX) and its
// lower one (mGY), from the solver's base flow and increment (aSystem.mU + mDU, mV + mDV):
// 1 / sqrt(s + 1e-6), s summing over u and v the squared difference across the edge and the
// squared mean of the two central differences along it (mirrored at the borders); 0 beyond the
// last column and row. aEdgeTerm (the edge map's weight times its
// square, in the diagonal layout) is added when given. aChU and aChV are scratch arrays.
void diagonalDiffusivity(CFlowSystem& aSystem, const float* aEdgeTerm, std::vector<float>& aChU,
                         std::vector<float>& aChV);
