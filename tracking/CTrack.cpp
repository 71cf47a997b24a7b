#include "tracking/CTrack.h"

#include <cmath>
#include <vector>

namespace {

// Counts beyond this are refused as implausible before anything is allocated for them; the
// longest sequence and the largest embedding stay far below it.
constexpr int kMaxRecordCount = 1 << 24;

bool readCount(std::istream& aIn, int& aCount) {
  return static_cast<bool>(aIn >> aCount) && aCount >= 0 && aCount <= kMaxRecordCount;
}

bool readFinite(std::istream& aIn, float& aValue) {
  return static_cast<bool>(aIn >> aValue) && std::isfinite(aValue);
}

}  // namespace

void CTrack::writeToFile(std::ostream& aOut) const {
  aOut << mox << " " << moy << std::endl;
  const int n = static_cast<int>(mx.size());
  aOut << n << std::endl;
  for (int k = 0; k < n; k++) aOut << mx[k] << " " << my[k] << " " << mFlowVar[k] << std::endl;
  aOut << mLabel << " " << mStopped << " " << mScale << " " << mSetupTime << std::endl;
  aOut << mProjection.size() << std::endl;
  for (int i = 0; i < mProjection.size(); i++) aOut << mProjection(i) << " ";
  aOut << std::endl;
  aOut << mNearestNeighbors.size() << std::endl;
  for (int j = 0; j < mNearestNeighbors.size(); j++)
    aOut << mNearestNeighbors(j) << " " << mNearestNeighborsDX(j) << " " << mNearestNeighborsDY(j)
         << " ";
}

bool CTrack::readFromFile(std::istream& aIn) {
  if (!(aIn >> mox >> moy)) return false;
  int n = 0;
  if (!readCount(aIn, n)) return false;
  // Grown entry by entry so that a count the stream cannot deliver allocates nothing for it.
  for (int k = 0; k < n; k++) {
    float x, y, v;
    if (!readFinite(aIn, x) || !readFinite(aIn, y) || !readFinite(aIn, v)) return false;
    mx.push_back(x);
    my.push_back(y);
    mFlowVar.push_back(v);
  }
  if (!(aIn >> mLabel >> mStopped >> mScale >> mSetupTime)) return false;
  int aProjectionSize = 0;
  if (!readCount(aIn, aProjectionSize)) return false;
  std::vector<float> aProjection;
  for (int i = 0; i < aProjectionSize; i++) {
    float p;
    if (!readFinite(aIn, p)) return false;
    aProjection.push_back(p);
  }
  mProjection.setSize(aProjectionSize);
  for (int i = 0; i < aProjectionSize; i++) mProjection(i) = aProjection[i];
  int c = 0;
  if (!readCount(aIn, c) || c > mNearestNeighbors.size()) return false;
  for (int j = 0; j < c; j++) {
    int aIndex;
    float dx, dy;
    if (!(aIn >> aIndex) || !readFinite(aIn, dx) || !readFinite(aIn, dy)) return false;
    mNearestNeighbors(j) = aIndex;
    mNearestNeighborsDX(j) = dx;
    mNearestNeighborsDY(j) = dy;
  }
  return true;
}
