// The flow-driven smoothness weights of the variational refinement on the solver's diagonal
// layout (internal to flow/); COpticFlow::diffusivity computes the same weights by rows.
#pragma once

#include <vector>

#include "flow/FlowSolver.h"

// The smoothness weights of COpticFlow::diffusivity computed on the solver's diagonal layout
// from its base flow and increment (aSystem.mU + mDU, mV + mDV) into aSystem.mGX and mGY,
// which are 0 beyond the last column and row. aEdgeTerm (the edge map's weight times its
// square, in the diagonal layout) is added when given. aChU and aChV are scratch arrays.
void diagonalDiffusivity(CFlowSystem& aSystem, const float* aEdgeTerm, std::vector<float>& aChU,
                         std::vector<float>& aChV);
