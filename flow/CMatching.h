// CMatching: the per-pixel image measures (orientation histograms, corner measure) and the
// large-displacement flow of a frame pair. (The descriptor matcher and the learning of the
// displacements that occur: MatchingSearch.h.)
#pragma once

#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// One candidate correspondence between the first and the second image.
struct CMatch {
  CMatch() : mox(0), moy(0), mx(0), my(0), mLabel(-1), mStopped(false), mScore(0.0f) {}
  CMatch(int aX, int aY) : CMatch() {
    mox = aX;
    moy = aY;
  }
  int mox, moy;   // point in the first image
  int mx, my;     // matched point in the second image (valid once accepted)
  int mLabel;     // motion group, -1 for none
  bool mStopped;  // the point has no acceptable match
  float mScore;   // distinctiveness of the accepted match; larger is better
};

class CMatching {
 public:
  // HOG of every pixel: X x Y x 15 orientation bins of 24 degrees, pooled over 7 x 7.
  static void computeHOG(const CTensor<float>& aBox, CTensor<float>& aHOG);
  // Smaller eigenvalue of the structure tensor smoothed at integration scale aRho.
  static void computeCorners(const CTensor<float>& aImage, CMatrix<float>& aCorners, float aRho);

  // The window and allowed set seen from the second frame: the bounds negated and exchanged,
  // aAllowedBack admitting d exactly when aAllowed admits -d.
  static void reflectWindow(int rx1, int ry1, int rx2, int ry2, const CMatrix<bool>& aAllowed,
                            int& aBackX1, int& aBackY1, int& aBackX2, int& aBackY2,
                            CMatrix<bool>& aAllowedBack);
  // Forward (first to second) and backward (second to first) dense flow of a frame pair.
  static void hogFlow(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                      const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                      const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                      CTensor<float>& aForward, CTensor<float>& aBackward);
};
