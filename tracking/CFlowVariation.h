// Local flow variation: for every pixel, the standard deviation of the flow vector over a
// neighbourhood bounded by motion edges. The tracker accumulates it along every track; the
// affinity graph divides motion differences by it.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// aFlowVar becomes the flow's width x height (the frame size) with the local standard
// deviation of the flow vector aFlow (two channels u, v, in pixels), in pixels. The moments
// u, v, u^2, v^2 are diffused at half resolution with edge-stopping diffusivities from the
// flow itself, so they average strongly inside coherently moving regions and little across
// motion boundaries. A field without pixels or with fewer than two channels gives zeros of
// its size.
void computeLocalFlowVariation(const CTensor<float>& aFlow, CMatrix<float>& aFlowVar);
