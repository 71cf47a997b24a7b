// Reads a trajectory cache file written by quorvik-generate into tracks, for tests that must
// not depend on the tracking module's own reader. Returns false on a malformed file.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tests/TestUtil.h"
#include "tracking/CTrack.h"

namespace testutil {

inline bool readIdealCache(const std::string& aPath, std::vector<CTrack>& aTracks) {
  std::istringstream aIn(readFile(aPath));
  int aCount = 0;
  if (!(aIn >> aCount) || aCount < 0) return false;
  aTracks.assign(aCount, CTrack());
  for (CTrack& t : aTracks) {
    int n = 0, aStopped = 0, aProjection = 0, aNeighbours = 0;
    if (!(aIn >> t.mox >> t.moy >> n)) return false;
    for (int k = 0; k < n; k++) {
      float x, y, v;
      if (!(aIn >> x >> y >> v)) return false;
      t.mx.push_back(x);
      t.my.push_back(y);
      t.mFlowVar.push_back(v);
    }
    if (!(aIn >> t.mLabel >> aStopped >> t.mScale >> t.mSetupTime >> aProjection)) return false;
    t.mStopped = aStopped != 0;
    if (aProjection != 0 || !(aIn >> aNeighbours) || aNeighbours != kTrackNeighborCount)
      return false;
    for (int j = 0; j < aNeighbours; j++)
      if (!(aIn >> t.mNearestNeighbors[j] >> t.mNearestNeighborsDX[j] >> t.mNearestNeighborsDY[j]))
        return false;
  }
  return true;
}

}  // namespace testutil
