// The tuning of the variational refinement (internal to flow/), as one record; its initial
// values are those the flow of a frame pair uses.
#pragma once

struct CVariationalParameters {
  float mSigma = 0.0f;            // pre-smoothing of both pictures (none when <= 0)
  float mAlpha = 70.0f;           // smoothness weight; every other term is divided by it
  float mBeta = 400.0f;           // weight of the matching term
  float mGamma = 5.0f;            // weight of the gradient constancy at full resolution
  float mEdgeWeight = 0.0f;       // weight of the edge map in the smoothness weights
  float mEta = 0.95f;             // pyramid reduction factor per level
  int mFixedPointIterations = 3;  // lagged fixed-point iterations per level
  int mSORIterations = 5;         // SOR sweeps per iteration (doubled in the closing passes)
  float mOmega = 1.85f;           // SOR relaxation factor
  float mDelta = 1.0f;            // weight of the brightness constancy
};
