// The dense-regions phase of a run: after the clustering, every processed frame gets a region
// for every pixel, and the regions the run calls moving objects make its mask. Per frame the
// superpixels of the frame are labelled from the labelled trajectory points in it, with the
// previous frame's regions carried along the backward flow as a prior (DenseRegions.h); which
// regions are moving objects is decided once per run from the trajectories (MovingRegions.h).
// Only the current and the previous frame's data are held at any time.
#pragma once

#include <vector>

#include "tracking/CTrack.h"

// Writes "Regions%03d.png", "Mask%03d.png" and "Overlay%03d.png" (RegionPictures.h) for every
// processed frame t = 0 ... mSequenceLength - 1 (relative numbers). The regions are the
// trajectory labels of aTracks (labels >= 0; more than 256 distinct labels are numbered
// anew in order of their values, as a PNG pixel holds 0 ... 255). Frames come from mInput
// (absolute mStartFrame + t); the backward flow of a pair is read from the flow cache in
// mResultDir when its record names exactly the two frames, so a run from a trajectory cache
// without flows still gets its regions (without the prior). Returns false, after one line on
// standard error, when a frame cannot be read or differs in size from mXSize x mYSize, or
// when a picture cannot be written.
bool computeDenseRegions(const std::vector<CTrack>& aTracks);
