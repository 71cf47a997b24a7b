// The stages of a frame pair's flow one at a time, for the tests: each prepares what the flow
// builds once per frame (descriptor fields, pyramids) and runs the flow's own stage on it.
#pragma once

#include <algorithm>
#include <vector>

#include "flow/CMatching.h"
#include "flow/FlowPyramid.h"
#include "flow/MatchingSearch.h"
#include "flow/VariationalParameters.h"
#include "foundation/CFilter.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

namespace flowtest {

// Matches every record of aPoints with mStopped false over the window rx1 ... rx2, ry1 ... ry2
// restricted to aAllowed (hogMatchingFields on the frames' descriptor fields).
inline void hogMatching(std::vector<CMatch>& aPoints, const CTensor<float>& aImage1,
                        const CTensor<float>& aImage2, const CTensor<float>& aHOG1,
                        const CTensor<float>& aHOG2, const CMatrix<float>& aEnergy1,
                        const CMatrix<float>& aEnergy2, int rx1, int ry1, int rx2, int ry2,
                        const CMatrix<bool>& aAllowed) {
  hogMatchingFields(aPoints, aImage1, aImage2, CHOGField(aHOG1), CHOGField(aHOG2), aEnergy1,
                    aEnergy2, rx1, ry1, rx2, ry2, aAllowed);
}

// The displacements that occur in the pair (findMotionsFields on the descriptor fields).
inline void findMotions(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                        const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                        const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                        const CMatrix<float>& aCorners, float aAverageCornerness, int& rx1,
                        int& ry1, int& rx2, int& ry2, CMatrix<bool>& aAllowed) {
  findMotionsFields(aImage1, aImage2, CHOGField(aHOG1), CHOGField(aHOG2), aEnergy1, aEnergy2,
                    aCorners, aAverageCornerness, rx1, ry1, rx2, ry2, aAllowed);
}

// The dense flow from aFirst to aSecond with the prior: the pictures smoothed with a Gaussian
// of aParameters.mSigma (precision 3) when it is positive, their pyramids, the refinement.
inline void warpingGeometric(CTensor<float> aFirst, CTensor<float> aSecond, CTensor<float>& aFlow,
                             const CTensor<float>& aGeometricU, const CTensor<float>& aGeometricV,
                             const CTensor<float>& aGeometricConfidence,
                             const CMatrix<float>* aEdgeMap,
                             const CVariationalParameters& aParameters) {
  if (aFirst.xSize() <= 0 || aFirst.ySize() <= 0) {
    aFlow.setSize(std::max(aFirst.xSize(), 0), std::max(aFirst.ySize(), 0), 2);
    return;
  }
  if (aParameters.mSigma > 0.0f) {
    const CSmooth<float> aSmooth(aParameters.mSigma, 3.0f);
    for (CTensor<float>* aPicture : {&aFirst, &aSecond}) {
      NFilter::filter(*aPicture, aSmooth, 0, 0);
      NFilter::filter(*aPicture, 0, aSmooth, 0);
    }
  }
  const CImagePyramid aFirstPyramid(aFirst, aParameters.mEta),
      aSecondPyramid(aSecond, aParameters.mEta);
  warpingGeometricPyramids(aFirstPyramid, aSecondPyramid, aFlow, aGeometricU, aGeometricV,
                           aGeometricConfidence, aEdgeMap, aParameters);
}

}  // namespace flowtest
