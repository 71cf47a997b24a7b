// The dense-regions phase of a run: after the clustering, every processed frame gets a region
// for every pixel, and the regions the run calls moving objects make its mask. A first pass
// over the frames learns the regions' colours under their confident trajectory points
// (RegionColours.h); then per frame the superpixels of the frame are labelled from the
// labelled trajectory points in it, the regions' motions and colours, with the previous
// frame's regions carried along the backward flow as a prior (DenseRegions.h); which regions
// are moving objects is decided per frame from the trajectories (MovingRegions.h). Besides
// the colour models only the current and the previous frame's data are held at any time.
//
// The run and quorvik-regions (which recomputes the regions of a finished result folder) call
// the same function with the same inputs, so both write the same pictures.
#pragma once

#include <string>
#include <vector>

#include "tracking/CTrack.h"

// What the phase reads and where it writes.
struct CDenseInput {
  // File names of the processed frames (colour PPM); frame t (relative) is mFrames[t].
  std::vector<std::string> mFrames;
  // Absolute number of frame 0: the flow cache numbers its pairs absolutely.
  int mFirstFrame = 0;
  // Folder (ending in "/", or empty for the working folder) of the flow cache.
  std::string mFlowDir;
  // Folder (ending in "/", or empty) the pictures are written to.
  std::string mOutputDir;
  // Size every frame must have.
  int mXSize = 0, mYSize = 0;
};

// What the dense regions of a sequence were made from, so that a caller can tell a result judged
// without motion (no accepted flows) from one judged with it.
struct CDenseSummary {
  // Frame pairs whose flows were read from the flow cache.
  int mPairsWithFlows = 0;
};

// Writes "Regions%03d.png", "Mask%03d.png" and "Overlay%03d.png" (RegionPictures.h) for every
// frame t = 0 ... aInput.mFrames.size() - 1 (relative numbers) into aInput.mOutputDir. The
// regions are the trajectory labels of aTracks (labels >= 0; more than 256 distinct labels are
// numbered anew in order of their values, as a PNG pixel holds 0 ... 255; negative labels take
// no part). The backward flow of a pair is read from the flow cache in aInput.mFlowDir when its
// record names exactly the two frames, so a run from a trajectory cache without flows still
// gets its regions (without the prior). Returns false, after one line on standard error, when
// a frame cannot be read or differs in size from aInput.mXSize x aInput.mYSize, or when a
// picture cannot be written.
// aSummary, when given, receives what the regions were made from.
bool computeDenseRegions(const CDenseInput& aInput, const std::vector<CTrack>& aTracks,
                         CDenseSummary* aSummary = nullptr);
