// The pyramid of the variational refinement (internal to flow/): its level sizes, a frame's
// pictures reduced to them, built once per frame so that both directions of a pair share them,
// the reduction of the descriptor proposals to a level, and the refinement over such pyramids.
#pragma once

#include <vector>

#include "flow/VariationalParameters.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Level sizes for an X x Y picture at reduction factor aEta.
class CPyramidPlan {
 public:
  CPyramidPlan(int aXSize, int aYSize, float aEta);
  // The coarsest scale: its smaller side is near 15 pixels; 0 for small pictures.
  int maxScale() const { return mMaxScale; }
  // Width and height at scale aScale >= 0: ceil(side * aEta^aScale), the power and product
  // in double.
  int xSize(int aScale) const;
  int ySize(int aScale) const;
  // A pyramid level (aScale >= 0) of the same size as the next coarser one adds nothing and is
  // left out.
  bool skipped(int aScale) const;

 private:
  int mXSize, mYSize;
  float mEta;
  int mMaxScale;
};

// A picture and its area-averaging reductions (CTensor<float>::downsample) to every level
// above scale 0 that the refinement visits.
class CImagePyramid {
 public:
  CImagePyramid(const CTensor<float>& aImage, float aEta);
  // The picture at scale aScale (0: the picture itself).
  const CTensor<float>& level(int aScale) const;
  float eta() const { return mEta; }
  const CPyramidPlan& plan() const { return mPlan; }
  // True when every channel of the picture equals channel 0 bit for bit (a grey picture as
  // colour); then so do those of every level.
  bool sameChannels() const { return mSameChannels; }

 private:
  float mEta;
  bool mSameChannels;
  CPyramidPlan mPlan;
  CTensor<float> mImage;
  std::vector<CTensor<float>> mLevels;  // index: scale
};

// One proposal of the prior: pixel (mX, mY) of the full-resolution picture.
struct CProposal {
  int mX, mY;
  float mU, mV, mConfidence;
};

// The pixels of proposal channel aChannel whose confidence is > 0, in row order.
std::vector<CProposal> proposalsOf(const CTensor<float>& aGeometricU,
                                   const CTensor<float>& aGeometricV,
                                   const CTensor<float>& aGeometricConfidence, int aChannel);

// The confidence-weighted reduction (CMatrix<float>::downsample with the confidence as
// weight) of the proposals' u, v and confidence from aXSize x aYSize to aNewXSize x aNewYSize,
// into the planes aU, aV, aC of the new size. Pixels without a proposal weigh 0 and add
// nothing, so only the proposals are visited, in the same order. aWeights is scratch space.
void reduceProposals(const std::vector<CProposal>& aProposals, int aXSize, int aYSize,
                     int aNewXSize, int aNewYSize, float* aU, float* aV, float* aC,
                     std::vector<float>& aWeights);

// Samples aSecond (X x Y, aChannels planes) at (x + u, y + v) bilinearly into aWarped, the
// upper and lower pairs blended in float and the two rows in double. Where the sample would
// need pixels outside aSecond (the truncated position outside 0 ... X - 2, 0 ... Y - 2, or not
// finite) the pixel is invalid: aConfidence 0 and aFirst's value; elsewhere aConfidence is 1.
// With aSameChannels (every channel of both pictures equals their channel 0) channel 0 is
// warped and copied.
void warpImage(const float* aFirst, const float* aSecond, int aXSize, int aYSize, int aChannels,
               const float* aU, const float* aV, float* aWarped, float* aConfidence,
               bool aSameChannels = false);

// The dense flow from the first picture to the second, coarse to fine over their pyramids
// (built with aParameters.mEta, the pre-smoothing mSigma, if any, already applied to the
// pictures), the geometric prior (proposed displacements aGeometricU, aGeometricV with their
// confidences, H proposals per pixel) pulling it towards the descriptor matches, with the
// optional edge map aEdgeMap. aFlow becomes the pictures' size.
void warpingGeometricPyramids(const CImagePyramid& aFirst, const CImagePyramid& aSecond,
                              CTensor<float>& aFlow, const CTensor<float>& aGeometricU,
                              const CTensor<float>& aGeometricV,
                              const CTensor<float>& aGeometricConfidence,
                              const CMatrix<float>* aEdgeMap,
                              const CVariationalParameters& aParameters);
