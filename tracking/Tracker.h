// Tracker: turns the frames of the run into point trajectories. Grid points are seeded where
// the frame has structure and no live track is near; every live track follows the forward
// flow from frame t to t + 1 and ends where the flow cannot be trusted (forward and backward
// flow disagree, motion boundary, no texture) or where it leaves the picture. The flows of
// every frame pair are cached as ".flo" files in the result folder; one "Tracking%03d.ppm"
// picture per frame shows the tracks.
#pragma once

#include <functional>
#include <ostream>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// Computes the forward (first to second) and backward (second to first) flow of one frame pair
// from the two prepared frames, their HOG fields and HOG energies; CMatching::hogFlow in a run.
// With cores to spare the flows of later pairs are computed ahead on other threads
// (FlowAhead.h), so it may be called from several threads at once.
using CPairFlow = std::function<void(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                                     const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                                     const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                                     CTensor<float>& aForward, CTensor<float>& aBackward)>;
// Draws the flow pictures of the computed pair (t relative); writeFlowPictures into the result
// folder in a run. May be empty; may be called from several threads at once, like the flow.
using CPairFlowPictures =
    std::function<bool(const CTensor<float>& aForward, const CTensor<float>& aBackward, int t)>;

// Empties aTracks and fills it with the trajectories of the relative frames 0 ...
// mSequenceLength - 1 of aSettings. aFirstFrame is frame mInput(mStartFrame) as read
// (unsmoothed); it fixes the frame size, which mXSize and mYSize must hold. Reads the later
// frames from mInput, reads each pair's flows from the flow cache in mResultDir
// (flow/FlowCache.h) when its record names exactly these two frames, or else computes them with
// aComputeFlow, writes both files and their record, draws them with aShowFlow and logs
// "Compute optical flow. Frame" + t to aStatus. Needs mStep >= 1. Returns false, after one line
// on standard error, when a frame cannot be read or differs in size from the first frame, or
// when mStep or the frame size are unusable; aTracks then holds the tracks up to that frame.
bool computeTracks(const CRunSettings& aSettings, const CTensor<float>& aFirstFrame,
                   const CPairFlow& aComputeFlow, const CPairFlowPictures& aShowFlow,
                   std::vector<CTrack>& aTracks, std::ostream& aStatus);

// The steps of one frame pair, exposed for the tests.

// aUnreliable becomes the flow's size with 1 where the forward flow must not be followed: the
// flow leaves the picture (or is not a number), forward and backward flow disagree, the flow
// has a motion boundary, or the corner measure aCorners (mean aCornerAvg) shows too little
// texture for the distance to the border; 0 elsewhere.
void markUnreliable(const CTensor<float>& aForward, const CTensor<float>& aBackward,
                    const CMatrix<float>& aCorners, float aCornerAvg, CMatrix<float>& aUnreliable);
// Grid level of a seed at (ax, ay): the lowest of 1, 2, 4, 8, 16 whose bit is set in
// (ax - 4) | (ay - 4), else 32.
int seedScale(int ax, int ay);
