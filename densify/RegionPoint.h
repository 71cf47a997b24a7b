// A labelled trajectory point of a frame, as the dense regions use it.
#pragma once

// A trajectory's position, its region (0 ... regions - 1), and its positions in the next and
// the previous frame where the trajectory has them.
struct CRegionPoint {
  float x, y;
  int mRegion;
  bool mHasNext, mHasPrevious;
  float nx, ny, px, py;
};
