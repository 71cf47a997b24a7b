// Dense regions of one frame from the labelled trajectories: every superpixel of the frame
// gets a region by a multi-label random walk with priors (Grady 2005) on the superpixel graph.
// The trajectory points in a superpixel vote for their regions; where the flow is known, so
// does the region whose motion (an affine map fitted to its points' steps) explains the
// superpixel's flow; so do the regions' colour models (RegionColours.h), each fading with the
// distance from its region's points in the frame, and a point's vote counts less where
// neither its region's colours nor its motion explain its superpixel; the
// regions of the previous frame, carried along the backward flow, are a weak prior;
// colour-similar neighbours are tied strongly and dissimilar ones weakly, in colour and, where
// the flow is known, in motion, so region borders settle on colour edges and motion
// boundaries. Every superpixel, also one far from any trajectory, ends in some region.
#pragma once

#include <vector>

#include "densify/RegionColours.h"
#include "densify/RegionPoint.h"
#include "densify/Superpixels.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// aRegionOf (resized to the frame) receives the region of every pixel of the frame whose
// superpixels are aSuperpixels. aPoints are the labelled trajectory points of the frame.
// aBackward (two channels, this frame's size, or empty when unknown) is the flow from this
// frame to the previous one, and aPrevious the previous frame's region map (empty: no prior);
// aForward (or empty) the flow from this frame to the next. Both flows are motions of this
// frame's pixels whose differences between neighbouring superpixels weaken their ties.
// aRegions is the number of regions (labels 0 ... aRegions - 1). Without any point and prior
// every pixel gets region 0.
// Evidence beyond the points and flows: the frame itself (3 channels, 0 ... 255) and the
// regions' colour models (RegionColours.h); either empty or null: no colour evidence.
struct CColourEvidence {
  const CTensor<float>* mFrame = nullptr;
  const CRegionColours* mColours = nullptr;
};

void labelFrame(const CSuperpixels& aSuperpixels, const std::vector<CRegionPoint>& aPoints,
                const CMatrix<int>& aPrevious, const CTensor<float>& aBackward,
                const CTensor<float>& aForward, int aRegions, CMatrix<int>& aRegionOf,
                const CColourEvidence& aColour = CColourEvidence());
