// Preparation of a frame for the flow and the tracker: a light smoothing against noise and
// aliasing, then the orientation histograms and their energy that the descriptor matching uses.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Smooths aImage (any channel count, values 0 ... 255) in place with the recursive Gaussian of
// standard deviation 0.8 pixels along x and then y, clamps it to 0 ... 255, and computes its
// HOG field (CMatching::computeHOG) into aHOG and the HOG energy into aEnergy.
void prepareFrame(CTensor<float>& aImage, CTensor<float>& aHOG, CMatrix<float>& aEnergy);
