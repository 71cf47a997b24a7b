#include "windows/RegionLinking.h"

#include <algorithm>

#include "evaluation/Assignment.h"

CRegionOverlap::CRegionOverlap()
    : mCommon(static_cast<size_t>(kRegionNumbers) * kRegionNumbers, 0),
      mEarlier(kRegionNumbers, 0),
      mLater(kRegionNumbers, 0) {}

void CRegionOverlap::add(const CMatrix<int>& aEarlier, const CMatrix<int>& aLater) {
  const int n = std::min(aEarlier.size(), aLater.size());
  const int* a = aEarlier.data();
  const int* b = aLater.data();
  for (int i = 0; i < n; i++) {
    mCommon[a[i] * kRegionNumbers + b[i]]++;
    mEarlier[a[i]]++;
    mLater[b[i]]++;
  }
}

CRegionNumbering::CRegionNumbering(int aLimit) : mLimit(aLimit), mLastSeen(aLimit, -1) {}

int CRegionNumbering::fresh(int aWindow) {
  for (int k = 0; k < mLimit; k++)
    if (mLastSeen[k] < 0) {
      mUsed++;
      return k;
    }
  int aOldest = -1;
  for (int k = 0; k < mLimit; k++)
    if (mLastSeen[k] < aWindow - 1 && (aOldest < 0 || mLastSeen[k] < mLastSeen[aOldest]))
      aOldest = k;
  if (aOldest < 0) return mLimit - 1;
  mReused++;
  return aOldest;
}

std::vector<int> CRegionNumbering::number(int aWindow, const std::vector<bool>& aPresent,
                                          const std::vector<int>& aEarlier,
                                          const CRegionOverlap& aOverlap) {
  const int aRegions = static_cast<int>(aPresent.size());
  std::vector<int> aNumber(aRegions, -1);
  if (aWindow == 0) {
    for (int r = 0; r < aRegions && r < mLimit; r++)
      if (aPresent[r]) {
        aNumber[r] = r;
        mLastSeen[r] = 0;
        mUsed++;
      }
  } else {
    // The Hungarian method over the regions both windows show in the common frames: rows the
    // later window's regions, columns the earlier window's, score the shared pixels.
    std::vector<int> aRows, aColumns;
    for (int b = 0; b < aRegions; b++)
      if (aPresent[b] && aOverlap.laterPixels(b) > 0) aRows.push_back(b);
    for (int a = 0; a < static_cast<int>(aEarlier.size()); a++)
      if (aEarlier[a] >= 0 && aOverlap.earlierPixels(a) > 0) aColumns.push_back(a);
    CMatrix<double> aScore(static_cast<int>(aColumns.size()), static_cast<int>(aRows.size()));
    for (size_t y = 0; y < aRows.size(); y++)
      for (size_t x = 0; x < aColumns.size(); x++)
        aScore(static_cast<int>(x), static_cast<int>(y)) =
            static_cast<double>(aOverlap.common(aColumns[x], aRows[y]));
    const std::vector<int> aMatch = bestAssignment(aScore);
    for (size_t y = 0; y < aRows.size(); y++) {
      if (aMatch[y] < 0) continue;
      const int b = aRows[y], a = aColumns[aMatch[y]];
      const long long aSmaller = std::min(aOverlap.earlierPixels(a), aOverlap.laterPixels(b));
      const long long aShared = aOverlap.common(a, b);
      if (aShared > 0 && aShared >= kMinOverlapShare * static_cast<double>(aSmaller))
        aNumber[b] = aEarlier[a];
    }
    for (int b = 0; b < aRegions; b++)
      if (aNumber[b] >= 0) mLastSeen[aNumber[b]] = aWindow;
    for (int b = 0; b < aRegions; b++)
      if (aPresent[b] && aNumber[b] < 0) {
        aNumber[b] = fresh(aWindow);
        mLastSeen[aNumber[b]] = aWindow;
      }
  }
  return aNumber;
}
