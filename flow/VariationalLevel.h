// One level of the variational refinement on planes held by the caller (internal to flow/), so
// that the pyramid can keep its level pictures and work buffers from level to level.
#pragma once

#include "flow/VariationalParameters.h"

// The inputs of a level of X x Y pixels. Planes are X x Y floats, x fastest; a picture's
// channels follow one another.
struct CLevelData {
  int mXSize = 0, mYSize = 0;
  // First picture and the second one warped by the current flow, mChannels planes each.
  int mChannels = 0;
  const float* mFirst = nullptr;
  const float* mWarped = nullptr;
  // Warp validity: 1 where the warped sample was inside the second picture, 0 elsewhere.
  const float* mConfidence = nullptr;
  // Proposed displacements with their confidences, mProposals planes each (may be 0).
  int mProposals = 0;
  const float* mGeoU = nullptr;
  const float* mGeoV = nullptr;
  const float* mGeoC = nullptr;
  // Optional edge map (one plane) or null.
  const float* mEdgeMap = nullptr;
  // True when every channel of the first and of the warped picture equals channel 0 bit for
  // bit (a grey picture as colour); the tensors are then formed from channel 0 alone.
  bool mSameChannels = false;
};

// Reserves this thread's level buffers for levels of up to X x Y pixels, so that a pyramid
// allocates them once instead of at every (larger) level.
void reserveLevels(int aXSize, int aYSize);

// Linearises the model around the flow (aFlowU, aFlowV) and adds the increment found by
// mFixedPointIterations lagged fixed-point iterations of aSORIterations sweeps each, with the
// gradient constancy weighed by aGamma (the level's) and the other weights of aParameters.
void solveLevel(const CLevelData& aLevel, float* aFlowU, float* aFlowV,
                const CVariationalParameters& aParameters, float aGamma, int aSORIterations);
