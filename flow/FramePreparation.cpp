#include "flow/FramePreparation.h"

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "foundation/CFilter.h"

namespace {

// Pre-smoothing of every frame before any measure is taken.
constexpr float kFrameSigma = 0.8f;

}  // namespace

void prepareFrame(CTensor<float>& aImage, CTensor<float>& aHOG, CMatrix<float>& aEnergy) {
  NFilter::recursiveSmoothX(aImage, kFrameSigma);
  NFilter::recursiveSmoothY(aImage, kFrameSigma);
  float* aData = aImage.data();
  for (int i = 0; i < aImage.size(); i++) {
    if (aData[i] > 255.0f) aData[i] = 255.0f;
    if (aData[i] < 0.0f) aData[i] = 0.0f;
  }
  CMatching::computeHOG(aImage, aHOG);
  hogEnergy(aHOG, aEnergy);
}
