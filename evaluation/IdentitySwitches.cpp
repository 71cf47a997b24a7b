#include "evaluation/IdentitySwitches.h"

#include <algorithm>

namespace {

// Region numbers a region map holds.
constexpr int kRegionValues = 256;

// The region holding most of a label's pixels; the lowest number among equals.
int dominant(const std::vector<long long>& aRow) {
  return static_cast<int>(std::max_element(aRow.begin(), aRow.end()) - aRow.begin());
}

}  // namespace

void CIdentityCount::add(const CMatrix<int>& aTruth, const CMatrix<int>& aRegions) {
  // Pixel counts per ground-truth label (0 the background) and region of this frame.
  std::map<int, std::vector<long long>> aCounts;
  const int n = std::min(aTruth.size(), aRegions.size());
  for (int i = 0; i < n; i++) {
    const int aLabel = aTruth[i], r = aRegions[i];
    if (aLabel < 0 || r < 0 || r >= kRegionValues) continue;
    std::vector<long long>& aRow = aCounts[aLabel];
    if (aRow.empty()) aRow.assign(kRegionValues, 0);
    aRow[r]++;
  }
  const int aBackground = aCounts.count(0) ? dominant(aCounts[0]) : -1;
  for (const auto& [aObject, aRow] : aCounts) {
    if (aObject == 0) continue;
    long long aPixels = 0;
    for (long long c : aRow) aPixels += c;
    if (aPixels < kSeenShare * n) continue;
    CObjectIdentity& aIdentity = mObjects[aObject];
    aIdentity.mFrames++;
    const int aRegion = dominant(aRow);
    if (aRegion == aBackground) {
      aIdentity.mMissed++;
      continue;
    }
    if (!aIdentity.mRegions.empty() && aIdentity.mRegions.back() != aRegion) aIdentity.mSwitches++;
    aIdentity.mRegions.push_back(aRegion);
  }
}

int CIdentityCount::switches() const {
  int aSum = 0;
  for (const auto& aEntry : mObjects) aSum += aEntry.second.mSwitches;
  return aSum;
}
