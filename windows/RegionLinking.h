// One region numbering for a whole video from the region maps of its overlapping windows. The
// windows are linked one after the other: the later window's regions are matched one to one to
// the earlier window's over the frames both hold (the Hungarian method on the pixel counts the
// two regions share there, largest total first), and a matched region takes its partner's number
// when they share at least kMinOverlapShare of the smaller one's pixels in those frames. Every
// other region gets a number of its own. The evidence of all common frames is summed, so a
// region that is missing from some of them (hidden, or between two pieces of a split) keeps its
// number by the frames where both windows see it; one that both windows miss in all of them
// cannot be linked and starts a new number.
#pragma once

#include <vector>

#include "foundation/CMatrix.h"

// Region numbers a region map holds (a PNG pixel): 0 ... kRegionNumbers - 1.
constexpr int kRegionNumbers = 256;
// Least share of the smaller region's pixels in the common frames that a matched pair must
// share to be linked: more than half of one region lies in the other.
constexpr double kMinOverlapShare = 0.5;

// The pixels two consecutive windows' regions share over their common frames.
class CRegionOverlap {
 public:
  CRegionOverlap();
  // Adds one common frame: aEarlier and aLater are the two windows' region maps of it, of the
  // same size, values 0 ... kRegionNumbers - 1.
  void add(const CMatrix<int>& aEarlier, const CMatrix<int>& aLater);
  // Pixels where the earlier window has region a and the later one region b.
  long long common(int a, int b) const { return mCommon[a * kRegionNumbers + b]; }
  // Pixels of region a of the earlier window, of region b of the later one.
  long long earlierPixels(int a) const { return mEarlier[a]; }
  long long laterPixels(int b) const { return mLater[b]; }

 private:
  std::vector<long long> mCommon, mEarlier, mLater;
};

// The numbers of the whole video, handed out window by window.
class CRegionNumbering {
 public:
  // aLimit: how many numbers exist (kRegionNumbers; tests use fewer).
  explicit CRegionNumbering(int aLimit = kRegionNumbers);

  // The numbers of window aWindow's regions, by region: -1 for the regions it does not hold
  // (aPresent false). The first window (aWindow 0) keeps its own region numbers, so a video of
  // one window has exactly its run's regions. A later window is linked to the window before it
  // (aEarlier: that window's numbers, as returned for it) by aOverlap; its regions that stay
  // unlinked get fresh numbers, in the order of their own numbers. Windows come in order.
  std::vector<int> number(int aWindow, const std::vector<bool>& aPresent,
                          const std::vector<int>& aEarlier, const CRegionOverlap& aOverlap);

  // Numbers handed out so far (each counted once, also when it was handed out again).
  int used() const { return mUsed; }
  // Numbers handed out again to a new region after all aLimit had been used.
  int reused() const { return mReused; }

 private:
  // A number for a new region of window aWindow: the lowest never used, or, when all are
  // taken, the one whose region was seen longest ago (not in this window or the one before);
  // the last number when even that fails.
  int fresh(int aWindow);

  int mLimit;
  // Per number: the last window that showed it, -1 while unused.
  std::vector<int> mLastSeen;
  int mUsed = 0, mReused = 0;
};
