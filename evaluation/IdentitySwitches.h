// Whether each object of a video keeps one region number. Per frame, an object's region is the
// one that holds most of its pixels; when that is the background's region (the one that holds
// most of the ground truth's background in that frame) the object is missed there: not told
// apart from the background, which is a failure of the segmentation, not of its numbering. An
// identity switch is a change of an object's region from one frame where it is found to the
// next such frame (frames where it is missed or not seen in between are skipped). A video
// whose regions follow every object has none.
#pragma once

#include <map>
#include <vector>

#include "foundation/CMatrix.h"

// An object is seen in a frame when it covers at least this share of the frame's pixels (an
// object that only peeps in at the border is too small for any segmentation).
constexpr double kSeenShare = 0.005;

struct CObjectIdentity {
  int mFrames = 0;            // frames where the object is seen
  int mMissed = 0;            // of them, frames where its region is the background's
  int mSwitches = 0;          // changes of its region between frames where it is found
  std::vector<int> mRegions;  // its region in each frame where it is found, in frame order
};

class CIdentityCount {
 public:
  // Adds the next frame: aTruth the objects (0 background, 1 ... the objects), aRegions the
  // region numbers (0 ... 255), of the same size.
  void add(const CMatrix<int>& aTruth, const CMatrix<int>& aRegions);
  // Per object label (1 ...): what was counted.
  const std::map<int, CObjectIdentity>& objects() const { return mObjects; }
  // Switches over all objects.
  int switches() const;

 private:
  std::map<int, CObjectIdentity> mObjects;
};
